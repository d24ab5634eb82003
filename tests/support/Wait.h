// Waiting on a condition with a deadline, for tests that watch another thread or process:
// the test goes on as soon as the condition holds, and fails only when it never does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace veskmath::testing {

// Polls `done` every 10 ms until it holds or `seconds` pass; answers whether it held.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 15) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace veskmath::testing
