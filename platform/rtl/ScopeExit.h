// Runs an action when the scope ends, however it ends, unless Dismiss() was called first:
//   const ScopeExit restore([&] { umask(old); });
#pragma once

#include <utility>

namespace veskmath::rtl {

template <class Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : FAction(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (FActive) FAction();
  }
  void Dismiss() { FActive = false; }

 private:
  Action FAction;
  bool FActive = true;
};

}  // namespace veskmath::rtl
