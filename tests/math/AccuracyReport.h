// Worst-error bookkeeping of the accuracy tests: collects, per function, the largest relative
// error (and for real results the ulp distance) against the reference values, and prints one
// line per function at the end of the test; the figures also go to the test's XML properties.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "math/Complex.h"

namespace veskmath::testutil {

class AccuracyReport {
 public:
  explicit AccuracyReport(std::string title) : FTitle(std::move(title)) {}

  // Relative error |got - ref| / |ref|; absolute where ref is 0, and 0 or infinity where ref
  // is not finite (equal or not).
  static double RelativeError(double got, double ref) {
    if (!std::isfinite(ref) || !std::isfinite(got)) {
      const bool same = got == ref || (std::isnan(got) && std::isnan(ref));
      return same ? 0.0 : INFINITY;
    }
    const long double diff = fabsl(static_cast<long double>(got) - ref);
    return static_cast<double>(ref == 0.0 ? diff : diff / fabsl(static_cast<long double>(ref)));
  }

  void Add(const std::string& fn, double got, double ref, int64_t ulps, double x, double y) {
    Worst& w = FWorst[fn];
    const double rel = RelativeError(got, ref);
    if (++w.count == 1 || rel > w.rel || (rel == w.rel && ulps > w.ulps)) {
      w.rel = rel;
      w.ulps = ulps;
      w.x = x;
      w.y = y;
    }
  }

  // Normwise relative error |got - ref| / |ref| of a complex result, or |got - ref| / scale
  // when a scale is given (for sums that cancel: the size of their terms); answers it.
  double AddComplex(const std::string& fn, const Math387::TCplx& got, const Math387::TCplx& ref,
                    double x, double y, double scale = 0) {
    const long double dr = static_cast<long double>(got.Re) - ref.Re;
    const long double di = static_cast<long double>(got.Im) - ref.Im;
    const long double n = scale > 0 ? scale : hypotl(ref.Re, ref.Im);
    double rel = static_cast<double>(n == 0 ? hypotl(dr, di) : hypotl(dr, di) / n);
    if (std::isnan(rel)) rel = INFINITY;
    Worst& w = FWorst[fn];
    if (++w.count == 1 || rel > w.rel) {
      w.rel = rel;
      w.ulps = -1;
      w.x = x;
      w.y = y;
    }
    return rel;
  }

  void Print() const {
    std::printf("[ accuracy ] %s: worst relative error per function\n", FTitle.c_str());
    for (const auto& [fn, w] : FWorst) {
      char line[160];
      if (w.ulps >= 0)
        std::snprintf(line, sizeof line, "%-10s %9.2e (%lld ulp) at (%.17g, %.17g), %d cases",
                      fn.c_str(), w.rel, static_cast<long long>(w.ulps), w.x, w.y, w.count);
      else
        std::snprintf(line, sizeof line, "%-10s %9.2e at (%.17g, %.17g), %d cases", fn.c_str(),
                      w.rel, w.x, w.y, w.count);
      std::printf("[ accuracy ]   %s\n", line);
      char value[32];
      std::snprintf(value, sizeof value, "%.3g", w.rel);
      ::testing::Test::RecordProperty("worst_rel_" + fn, value);
    }
  }

 private:
  struct Worst {
    double rel = 0;
    int64_t ulps = 0;
    double x = 0, y = 0;
    int count = 0;
  };
  std::string FTitle;
  std::map<std::string, Worst> FWorst;
};

}  // namespace veskmath::testutil
