#include "platform/base/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace veskmath::base {

double Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  // Whole local milliseconds first, then one division: dividing seconds and scaling back
  // loses a second whenever the quotient rounds down.
  const long long localMs =
      duration_cast<milliseconds>(now.time_since_epoch()).count() + local.tm_gmtoff * 1000LL;
  return static_cast<double>(localMs) / kMSecsPerDay + 25569.0;  // 25569: 1970-01-01
}

std::string FormatTime(const std::string& picture, double dateTime) {
  double frac = dateTime - std::floor(dateTime);
  long long msTotal = std::llround(frac * kMSecsPerDay);
  if (msTotal >= 86400000LL) msTotal = 0;
  const long long h = msTotal / 3600000, m = msTotal / 60000 % 60, s = msTotal / 1000 % 60,
                  ms = msTotal % 1000;
  std::string out;
  char buf[24];
  for (size_t i = 0; i < picture.size();) {
    auto field = [&](const char* name, size_t len) { return picture.compare(i, len, name) == 0; };
    if (field("hh", 2)) {
      std::snprintf(buf, sizeof buf, "%02lld", h);
      out += buf;
      i += 2;
    } else if (field("nn", 2)) {
      std::snprintf(buf, sizeof buf, "%02lld", m);
      out += buf;
      i += 2;
    } else if (field("ss", 2)) {
      std::snprintf(buf, sizeof buf, "%02lld", s);
      out += buf;
      i += 2;
    } else if (field("zzz", 3)) {
      std::snprintf(buf, sizeof buf, "%03lld", ms);
      out += buf;
      i += 3;
    } else {
      out += picture[i++];
    }
  }
  return out;
}

}  // namespace veskmath::base
