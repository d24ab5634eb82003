// The steps a host's test is made of, whatever the input-method framework behind it: each
// step is polled by the harness's loop until it answers true. A harness derives from
// THostSteps<itself> and provides Candidate(), Aux() and the record Auxes of every auxiliary
// text shown.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace veskmath::test_support {

using TStep = std::function<bool()>;

template <class Harness>
class THostSteps {
 public:
  TStep Until(std::function<bool()> done) { return done; }
  TStep Do(std::function<void()> action) {
    return [action] {
      action();
      return true;
    };
  }
  TStep Pause(double seconds) {
    auto until = std::make_shared<std::chrono::steady_clock::time_point>();
    return [until, seconds] {
      const auto now = std::chrono::steady_clock::now();
      if (*until == std::chrono::steady_clock::time_point()) {
        *until = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
      }
      return now >= *until;
    };
  }
  TStep UntilCandidate(std::string text) {
    return [this, text] { return Self().Candidate() == text; };
  }
  // An auxiliary text with `part` shown since the step began (the framework's own notice may
  // have replaced it since).
  TStep UntilAux(std::string part) {
    auto from = std::make_shared<std::size_t>(std::string::npos);
    return [this, part, from] {
      Harness& h = Self();
      if (*from == std::string::npos) *from = h.Auxes.size();
      for (std::size_t i = *from; i < h.Auxes.size(); ++i) {
        if (h.Auxes[i].find(part) != std::string::npos) return true;
      }
      return h.Aux().find(part) != std::string::npos;
    };
  }

 private:
  Harness& Self() { return static_cast<Harness&>(*this); }
};

}  // namespace veskmath::test_support
