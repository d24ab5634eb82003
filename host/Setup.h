// What an installed host framework does for its plug-ins on its own: make its key, and
// register and list the plug-in that is installed beside it when that has not been done (a
// new user of the machine) or the registration names a program that is gone. It uses the
// plug-in program's own switch (/regserver) and dialog (Install), so the entries are exactly
// the ones a person would make; nothing is changed for a user whose plug-in is working.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/OleTypes.h"

namespace veskmath::host {

struct TSetupResult {
  bool Changed = false;  // something was registered or installed
  std::string Failure;   // what could not be done, UTF-8; empty on success
};

// `veskmath`: the plug-in program to register (its full path). Call it from a thread that may
// wait: it runs that program and waits for the registry store.
TSetupResult EnsurePluginInstalled(const std::string& veskmath);

// The program that the class registration starts ("/usr/bin/veskmath"); empty when the class
// is not registered.
std::string RegisteredServerProgram();
std::string RegisteredServerProgram(const win::CLSID& clsid);

}  // namespace veskmath::host
