// What the hosts' key-to-candidate benchmarks share: milliseconds of a duration, percentiles of
// a run, and the line that reports the keys with a running server.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace veskmath::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The value at fraction `p` of the sorted values (nearest rank); `values` must not be empty.
inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const std::size_t at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

inline void PrintRunningServer(const std::vector<double>& latencies) {
  std::printf("running server, %zu keys: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
              latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.99),
              *std::max_element(latencies.begin(), latencies.end()));
}

}  // namespace veskmath::bench
