// veskmath: the converter program. Started without a switch it registers its class, serves
// conversion objects and shows the install dialog on the terminal; the automation runtime
// starts it with "/Automation -Embedding" when a host asks for an object and none is served.
// See server/ServerModule.h for the switches.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/CodePage.h"
#include "server/ServerModule.h"

namespace {

constexpr const char* kUsage =
    "usage: veskmath [/regserver | /unregserver | /automation | /embedding]\n"
    "       veskmath --help | --version\n"
    "\n"
    "The conversion plug-in: the local automation server of VeskMath.FuVeskMath and the\n"
    "dialog that adds the plug-in to the host's list in the registry or removes it.\n"
    "Switches begin with / or - and are compared without regard to case.\n"
    "\n"
    "  /regserver    register the class and the type library, then exit\n"
    "  /unregserver  remove the class's registry entries, then exit\n"
    "  /automation   serve hidden; exit when the last object is released\n"
    "  /embedding    serve hidden; keep running after the last object is released\n"
    "  (no switch)   register, serve, and show the install dialog: type install (i),\n"
    "                uninstall (u) or close (c), one choice per line\n"
    "\n"
    "The registry file is $VESKMATH_REGISTRY (default ~/.config/veskmath/registry.reg),\n"
    "the history file log.txt lives in $TMPDIR (default /tmp/veskmath-<uid>/).\n"
    "\n"
    "Exit status: 0, also when registration fails (it is never reported); 1 when the\n"
    "program cannot start or a hidden server cannot serve its class.\n";

// The switches the start-up knows, with "/" or "-" and in any case.
bool IsKnownSwitch(const std::string& arg) {
  for (const std::string_view name : {"REGSERVER", "UNREGSERVER", "AUTOMATION", "EMBEDDING"}) {
    if (veskmath::server::FindCmdLineSwitch({arg}, name)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Asking for help must not register anything, so these two are answered before the
  // switches (which treat any other argument as no switch at all).
  for (const std::string& arg : args) {
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("veskmath (VeskMath) %s\n", VESKMATH_VERSION);
      return 0;
    }
  }
  if (const std::string problem = veskmath::win::AnsiCodePageProblem(); !problem.empty()) {
    std::fprintf(stderr, "veskmath: %s\n", problem.c_str());
    return 1;
  }
  // Anything else is no switch at all: the start-up goes on as the known switches (or their
  // absence: register and show the dialog) say, but a typing error such as "/regsever"
  // should not pass unnoticed.
  bool anyKnown = false;
  for (const std::string& arg : args) anyKnown = anyKnown || IsKnownSwitch(arg);
  for (const std::string& arg : args) {
    if (!IsKnownSwitch(arg)) {
      std::fprintf(stderr,
                   "veskmath: \"%s\" is not understood (the switches are /regserver, "
                   "/unregserver, /automation and /embedding); %s\n",
                   arg.c_str(), anyKnown ? "it is ignored" : "starting without a switch");
    }
  }
  return veskmath::server::RunVeskMath(args);
}
