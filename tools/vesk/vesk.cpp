// vesk: a stand-in for the host conversion framework. It drives one conversion object the
// way the input method does: for each notation it writes VeskYomi (empty) and VeskHyoki,
// reads VeskResult and prints it, then calls VeskStart with its own window and checks that
// the notification message arrived.
//
//   vesk [--inproc] [NOTATION ...]
//
// Texts are UTF-8 on the command line, on standard input and on standard output.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/OleTypes.h"
#include "server/FuVeskMathImpl.h"
#include "server/VeskMathTypes.h"

namespace {

namespace win = veskmath::win;
namespace server = veskmath::server;
using win::FAILED;
using win::SUCCEEDED;

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

constexpr const char* kUsageText =
    "usage: vesk [--inproc] [--] [NOTATION ...]\n"
    "\n"
    "Converts each NOTATION, or without any each line of standard input, the way the input\n"
    "method's conversion framework does: writes it to VeskHyoki (VeskYomi empty), reads\n"
    "VeskResult and prints it on its own line, then calls VeskStart with this program's\n"
    "window and checks that the message 0x0464 arrived. Texts are UTF-8. Definitions (a:=2)\n"
    "are kept in the history file log.txt of the temporary directory ($TMPDIR when set);\n"
    "\"list\" shows them, \"quit\" empties it.\n"
    "\n"
    "  --inproc   use the conversion object inside this process (the only mode)\n"
    "  --         the arguments after it are notations, even when they begin with \"--\"\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "Exit status: 0 normally, 1 when a call of the object failed (the line printed for that\n"
    "notation is then empty and the reason goes to standard error), 2 for a usage error.\n";

// Describes a failed call with the error information the object left.
void ReportFailure(const char* member, win::HRESULT hr) {
  std::string description;
  win::ComPtr<win::IErrorInfo> info;
  if (win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == win::S_OK && info) {
    win::BSTR text;
    if (SUCCEEDED(info->GetDescription(&text))) description = win::WideToUtf8(text.View());
  }
  std::fprintf(stderr, "vesk: %s failed (0x%08X)%s%s\n", member, static_cast<unsigned>(hr),
               description.empty() ? "" : ": ", description.c_str());
}

class THost {
 public:
  explicit THost(win::ComPtr<server::IFuVeskMath> object, win::HWND window)
      : FObject(std::move(object)), FWindow(window) {}

  // Converts one notation and prints the result line. False when a call failed.
  bool Convert(std::string_view notation) {
    win::HRESULT hr = FObject->Set_VeskYomi(win::BSTR(u""));
    if (FAILED(hr)) return Fail("VeskYomi", hr);
    hr = FObject->Set_VeskHyoki(win::BSTR(win::Utf8ToWide(notation)));
    if (FAILED(hr)) return Fail("VeskHyoki", hr);
    win::BSTR result;
    hr = FObject->Get_VeskResult(&result);
    if (FAILED(hr)) return Fail("VeskResult", hr);
    Print(win::WideToUtf8(result.View()));
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
    const win::HRESULT hr = FObject->VeskStart(static_cast<std::int32_t>(FWindow));
    if (FAILED(hr)) {
      ReportFailure("VeskStart", hr);
      return false;
    }
    win::MSG msg;
    const win::UINT message = server::kVeskStartMessage;
    // An object in another process posts through its socket: allow it a moment.
    const bool arrived = win::PeekMessageA(&msg, FWindow, message, message, win::PM_REMOVE) ||
                         (win::WaitMessageTimeout(2000) &&
                          win::PeekMessageA(&msg, FWindow, message, message, win::PM_REMOVE));
    if (!arrived) {
      std::fprintf(stderr, "vesk: VeskStart did not post the message 0x%04X\n", message);
      return false;
    }
    return true;
  }

  win::ComPtr<server::IFuVeskMath> FObject;
  win::HWND FWindow;
};

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
        std::printf("vesk %s\n", VESKMATH_VERSION);
        return kOk;
      } else if (arg == "--inproc") {
        // The in-process object is the only mode.
      } else {
        std::fprintf(stderr, "vesk: unknown option %s\n\n%s", argv[i], kUsageText);
        return kUsage;
      }
    } else {
      notations.emplace_back(arg);
    }
  }

  const win::HWND window = win::CreateMessageWindow();
  if (window == 0) {
    std::fprintf(stderr, "vesk: cannot make a window (error %u)\n",
                 static_cast<unsigned>(win::GetLastError()));
    return kFailed;
  }
  win::ComPtr<server::IFuVeskMath> object;
  const win::HRESULT created = server::CreateFuVeskMath(
      server::IID_IFuVeskMath, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
  if (FAILED(created)) {
    ReportFailure("creating the conversion object", created);
    return kFailed;
  }
  THost host(object, window);

  bool allOk = true;
  if (!notations.empty()) {
    for (const std::string& notation : notations) allOk = host.Convert(notation) && allOk;
  } else {
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    std::string line;
    for (;;) {
      if (interactive) {
        std::fputs("vesk> ", stdout);
        std::fflush(stdout);
      }
      if (!std::getline(std::cin, line)) break;
      if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF input
      allOk = host.Convert(line) && allOk;
    }
    if (interactive) std::fputc('\n', stdout);
  }
  object.Reset();
  win::DestroyWindow(window);
  return allOk ? kOk : kFailed;
}
