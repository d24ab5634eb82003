#include "platform/base/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>

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
  long long ms = std::llround((dateTime - std::floor(dateTime)) * kMSecsPerDay);
  if (ms >= 86400000LL) ms = 0;
  const struct {
    std::string_view letters;
    long long value;
  } fields[] = {
      {"hh", ms / 3600000}, {"nn", ms / 60000 % 60}, {"ss", ms / 1000 % 60}, {"zzz", ms % 1000}};
  std::string out;
  for (size_t i = 0; i < picture.size();) {
    bool matched = false;
    for (const auto& f : fields) {
      if (picture.compare(i, f.letters.size(), f.letters) != 0) continue;
      char buf[24];
      std::snprintf(buf, sizeof buf, "%0*lld", static_cast<int>(f.letters.size()), f.value);
      out += buf;
      i += f.letters.size();
      matched = true;
      break;
    }
    if (!matched) out += picture[i++];
  }
  return out;
}

}  // namespace veskmath::base
