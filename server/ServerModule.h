// The converter program's server side: the command-line switches, the registry entries of
// the class FuVeskMath, the class object and the server's lock count, when the process ends,
// and the start-up that ties them to the install dialog (RunVeskMath, the whole program).
//
//   veskmath                 register silently, serve, show the install dialog
//   veskmath /regserver      register the class and the type library, end (exit code 0)
//   veskmath /unregserver    remove the class's entries, end (exit code 0)
//   veskmath /automation     serve, dialog hidden; end when the last object goes
//   veskmath -embedding      serve, dialog hidden; stay
// Switches begin with "-" or "/" and are compared without regard to case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win/Automation.h"

namespace veskmath::server {

// Class description (the CLSID's and the ProgID's default value) in the ANSI code page.
std::string ClassDescription();

// Whether an argument is "-NAME" or "/NAME", NAME compared without regard to ASCII case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name);

enum class TStartMode {
  RegServer,    // register, then end
  UnregServer,  // unregister, then end
  Automation,   // serve hidden, end with the last lock
  Embedding,    // serve hidden, stay
  Interactive,  // register, serve and show the dialog
};

// "REGSERVER" first, then "UNREGSERVER"; with both "AUTOMATION" and "EMBEDDING" (as when
// the runtime appends "-Embedding" to the registered "/Automation") AUTOMATION holds.
TStartMode StartModeOf(const std::vector<std::string>& args);

// The LocalServer32 command line: the executable's path, quoted when it holds white space
// or quotes, followed by " /Automation":
//   /opt/vesk/veskmath         -> /opt/vesk/veskmath /Automation
//   /opt/vesk math/veskmath    -> "/opt/vesk math/veskmath" /Automation
std::string LocalServerCommandLine(const std::string& exePath);

// Writes the class entries under HKEY_CLASSES_ROOT (in this order: the CLSID's description,
// LocalServer32 with its ThreadingModel, the ProgID's description and CLSID, the CLSID's
// ProgID, Version and Typelib), then registers the type library with the executable as its
// file and the executable's directory as its help directory. Nothing is reported: the answer
// only tells whether everything was written.
bool RegisterServer(const std::string& exePath);
// Deletes CLSID\{CLSID} and the ProgID key with everything under them; the type library
// stays registered. The answer tells whether both keys are gone now.
bool UnregisterServer();

// The class factory of FuVeskMath: its objects hold a server lock while they live, and
// LockServer adds or releases one. No aggregation (CLASS_E_NOAGGREGATION for any outer
// object: the object cannot hand its identity to another).
win::ComPtr<win::IClassFactory> MakeFuVeskMathFactory();

// The program: start-up by the switches, the message loop, the end. Returns the exit code.
int RunVeskMath(const std::vector<std::string>& args);

}  // namespace veskmath::server
