// vesk: a stand-in for the host conversion framework. It drives one conversion object the
// way the input method does: for each notation it writes VeskYomi (empty) and VeskHyoki,
// reads VeskResult and prints it, then calls VeskStart with its own window and checks that
// the notification message arrived.
//
//   vesk [NOTATION ...]
//
// It works like an installed host: it looks for the plug-in's entry in its list
// (HKEY_LOCAL_MACHINE\SOFTWARE\Orbanel\Vesk\01, 02, ... up to the first gap, the value "ID"),
// creates the object through that ProgID from the local server (which the session bus
// starts when none runs) and talks to it through its dispatch interface. Like any host it
// holds only the class's contract, never the engine.
//
// Texts are UTF-8 on the command line, on standard input and on standard output.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "host/MathSymbols.h"
#include "host/PluginLink.h"
#include "host/Setup.h"
#include "lineinput/LineInput.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/OleTypes.h"
#include "platform/win/Registry.h"

namespace {

namespace rtl = veskmath::rtl;
namespace lineinput = veskmath::lineinput;
namespace win = veskmath::win;
namespace server = veskmath::server;
namespace host = veskmath::host;
using win::FAILED;
using win::SUCCEEDED;

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

constexpr const char* kUsageText =
    "usage: vesk [--] [NOTATION ...]\n"
    "\n"
    "Converts each NOTATION, or without any each line of standard input, the way the input\n"
    "method's conversion framework does: writes it to VeskHyoki (VeskYomi empty), reads\n"
    "VeskResult and prints it on its own line, then calls VeskStart with this program's\n"
    "window and checks that the message 0x0464 arrived. Texts are UTF-8. Definitions (a:=2)\n"
    "are kept in the history file log.txt of the temporary directory ($TMPDIR when set);\n"
    "\"list\" shows them, \"quit\" empties it. Typographic symbols (×, ÷, −, ＾) are given\n"
    "as the ASCII operators. On standard input the line exit ends the run and help says what\n"
    "to type.\n"
    "\n"
    "The plug-in is found in the host's list in the registry ($VESKMATH_REGISTRY when set)\n"
    "and its object comes from the local server, which the D-Bus session bus starts on\n"
    "demand: install it first with `veskmath` (choose Install).\n"
    "\n"
    "  --         the arguments after it are notations, even when they begin with \"--\"\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Exit status: 0 normally, 1 when no plug-in is installed, the object cannot be made or a\n"
    "call of it failed (the line printed for that notation is then empty and the reason goes\n"
    "to standard error), 2 for a usage error or a VESKMATH_ACP that names no usable code page.\n";

constexpr const char* kSessionStart =
    "vesk: one notation per line (1+2=, a:=2, a+1); help for help; exit or Ctrl-D to leave\n";
constexpr const char* kSessionHelp =
    "Type a notation and Enter, as into the input method: 1+2= answers 1+2= 3, sin(pi/6)\n"
    "answers 0.5, a:=2 keeps a definition for later lines. list shows the definitions, quit\n"
    "forgets them all; exit or Ctrl-D leaves.\n";

// What a failure code means for the person at the terminal, and what to do about it;
// empty for codes that say nothing more than their number.
std::string Explain(win::HRESULT hr) {
  if (hr == win::RPC_E_DISCONNECTED) {
    return "the conversion server went away (it ended or was stopped); run vesk again to "
           "start a new one";
  }
  if (hr == win::CO_E_SERVER_STOPPING) return "the conversion server is ending; try again";
  if (hr == win::RPC_E_TIMEOUT) return "the conversion server did not answer in time";
  if (hr == win::RPC_E_SERVERFAULT) return "the conversion server failed while answering";
  if (hr == win::CO_E_SERVER_EXEC_FAILURE) {
    return "the registered server program could not be started: run `veskmath /regserver` "
           "with the veskmath you use now";
  }
  if (hr == win::REGDB_E_CLASSNOTREG) {
    return "the class is not registered: run `veskmath /regserver`";
  }
  if (hr == win::RPC_E_SERVER_UNAVAILABLE) {
    return "the conversion server is reached through the D-Bus session bus, and this login "
           "has none: run vesk inside one, `dbus-run-session -- vesk ...`";
  }
  if (hr == win::E_OUTOFMEMORY) return "out of memory";
  return {};
}

// Describes a failed call: its code, then the error information the object left
// (`description`) and what the code means in words ("vesk: VeskYomi failed (0x80010108):
// the conversion server ...").
void ReportFailureWith(const std::string& what, win::HRESULT hr, const std::string& reason,
                       const std::string& description) {
  std::string words = reason.empty() ? Explain(hr) : reason;
  if (!description.empty()) words = words.empty() ? description : description + "; " + words;
  std::fprintf(stderr, "vesk: %s failed (0x%08X)%s%s\n", what.c_str(), static_cast<unsigned>(hr),
               words.empty() ? "" : ": ", words.c_str());
}

// The same with the error information this thread holds now.
void ReportFailure(const std::string& what, win::HRESULT hr, const std::string& reason = {}) {
  ReportFailureWith(what, hr, reason, host::ErrorDescription());
}

class THost {
 public:
  THost(std::unique_ptr<host::TLink> link, win::HWND window)
      : FLink(std::move(link)), FWindow(window) {}

  // Converts one notation and prints the result line. False when a call failed.
  bool Convert(std::string_view notation) {
    win::HRESULT hr = FLink->PutYomi(win::BSTR(u""));
    if (FAILED(hr)) return Fail("VeskYomi", hr);
    hr = FLink->PutHyoki(win::BSTR(win::Utf8ToWide(host::AsciiOperators(notation))));
    if (FAILED(hr)) return Fail("VeskHyoki", hr);
    win::BSTR result;
    hr = FLink->GetResult(&result);
    if (FAILED(hr)) return Fail("VeskResult", hr);
    const std::string text = win::WideToUtf8(result.View());
    Print(text);
    if (text == "?" || text.ends_with(" ?")) {
      // Why, in the server's words.
      if (const std::string reason = host::ExplainFailure(notation); !reason.empty())
        std::fprintf(stderr, "vesk: %s: %s\n", std::string(notation).c_str(), reason.c_str());
    }
    return Notify();
  }

 private:
  bool Fail(const char* member, win::HRESULT hr) {
    ReportFailure(member, hr);
    Print("");  // keeps one output line per notation
    return false;
  }

  void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  // VeskStart with this program's window; the object posts 0x0464 to it.
  bool Notify() {
    const win::HRESULT hr = FLink->Start(static_cast<std::int32_t>(FWindow));
    if (FAILED(hr)) {
      ReportFailure("VeskStart", hr);
      return false;
    }
    win::MSG msg;
    const win::UINT message = server::kVeskStartMessage;
    // The server posts through the session bus: allow it a moment.
    const bool arrived = win::PeekMessageA(&msg, FWindow, message, message, win::PM_REMOVE) ||
                         (win::WaitMessageTimeout(2000) &&
                          win::PeekMessageA(&msg, FWindow, message, message, win::PM_REMOVE));
    if (!arrived) {
      std::fprintf(stderr, "vesk: VeskStart did not post the message 0x%04X\n", message);
      return false;
    }
    return true;
  }

  std::unique_ptr<host::TLink> FLink;
  win::HWND FWindow;
};

// When the server could not be started because its registered program is gone (a build
// tree moved or deleted), says so with the path; otherwise empty.
std::string MissingServerReason(const win::CLSID& clsid, win::HRESULT hr) {
  if (hr != win::CO_E_SERVER_EXEC_FAILURE) return {};
  const std::string program = host::RegisteredServerProgram(clsid);
  if (program.empty() || ::access(program.c_str(), X_OK) == 0) return {};
  return "the registered server " + program +
         " no longer exists (moved or deleted?): run `veskmath /regserver` with the veskmath "
         "you use now";
}

// The object from the local server of the installed plug-in; nullptr after a report.
std::unique_ptr<host::TLink> ConnectToPlugin() {
  if (const std::optional<std::string> failure = host::EnsureHostKey()) {
    std::fprintf(stderr, "vesk: cannot make the host's key: %s\n", failure->c_str());
  }
  host::TConnectResult found = host::ConnectToPlugin();
  switch (found.Failure) {
    case host::TConnectFailure::None:
      break;
    case host::TConnectFailure::RegistryUnreadable:
      std::fprintf(stderr, "vesk: cannot read the host's list: %s\n", found.Detail.c_str());
      break;
    case host::TConnectFailure::NotInstalled:
      std::fputs("vesk: no conversion plug-in is installed: run `veskmath` and choose Install\n",
                 stderr);
      break;
    case host::TConnectFailure::ClassNotRegistered:
      std::fprintf(stderr,
                   "vesk: the plug-in %s is listed but its class is not registered: run "
                   "`veskmath /regserver`\n",
                   found.Detail.c_str());
      break;
    case host::TConnectFailure::CreateFailed:
      ReportFailureWith("creating the conversion object", found.HResult,
                        MissingServerReason(found.Clsid, found.HResult), found.Detail);
      break;
  }
  return std::move(found.Link);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> notations;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // "-1+2" is a notation: only "--" arguments are options.
    if (!optionsDone && arg.size() > 1 && arg.substr(0, 2) == "--") {
      if (arg == "--") {
        optionsDone = true;
      } else if (arg == "--help") {
        std::fputs(kUsageText, stdout);
        return kOk;
      } else if (arg == "--version") {
        std::printf("vesk (VeskMath) %s\n", VESKMATH_VERSION);
        return kOk;
      } else {
        std::fprintf(stderr, "vesk: unknown option %s\n\n%s", argv[i], kUsageText);
        return kUsage;
      }
    } else {
      notations.emplace_back(arg);
    }
  }

  if (const std::string problem = win::AnsiCodePageProblem(); !problem.empty()) {
    std::fprintf(stderr, "vesk: %s\n", problem.c_str());
    return kUsage;
  }

  win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  const rtl::ScopeExit uninitialize([] { win::CoUninitialize(); });
  // Member names are resolved here, without asking the server.
  win::AddKnownTypeLib(server::kVeskMathLibrary);

  const win::HWND window = win::CreateMessageWindow();
  if (window == 0) {
    std::fprintf(stderr, "vesk: cannot make a window (error %u)\n",
                 static_cast<unsigned>(win::GetLastError()));
    return kFailed;
  }
  // An object in another process reaches the window through the session bus.
  if (!win::PublishWindow(window)) {
    std::fprintf(stderr, "vesk: cannot publish the window (error %u)\n",
                 static_cast<unsigned>(win::GetLastError()));
    return kFailed;
  }
  std::unique_ptr<host::TLink> link = ConnectToPlugin();
  if (!link) return kFailed;
  THost host(std::move(link), window);

  bool allOk = true;
  if (!notations.empty()) {
    for (const std::string& notation : notations) allOk = host.Convert(notation) && allOk;
  } else {
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    if (interactive) std::fputs(kSessionStart, stderr);
    std::string line;
    // A prompt, line editing and the session's history at a terminal; plain lines otherwise.
    // "exit" ends the lines and "help" says what to type; "quit" is the plug-in's command.
    bool left = false;
    while (lineinput::ReadLine(interactive ? "vesk> " : "", line)) {
      const lineinput::TSessionWord word = lineinput::SessionWord(line, false);
      left = word == lineinput::TSessionWord::Leave;
      if (left) break;
      if (word == lineinput::TSessionWord::Help) {
        std::fputs(kSessionHelp, stdout);
        std::fflush(stdout);
        continue;
      }
      allOk = host.Convert(line) && allOk;
    }
    if (interactive && !left) std::fputc('\n', stdout);
  }
  win::DestroyWindow(window);
  return allOk ? kOk : kFailed;
}
