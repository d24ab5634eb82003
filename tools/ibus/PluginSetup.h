// The first-use setup of the plug-in (host/Setup.h), reached through a header without the
// platform layer's types, whose TRUE and FALSE would collide with GLib's macros.
#pragma once

#include <string>

namespace veskmath::ibus {

struct TSetupOutcome {
  bool Changed = false;
  std::string Failure;  // empty on success
};

TSetupOutcome SetUpPlugin(const std::string& veskmath);

}  // namespace veskmath::ibus
