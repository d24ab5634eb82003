// Switches, class registration, the class object, the lock-driven end of the process, the
// termination check, and the program's start-up and message loop.
#include "server/ServerModule.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/CodePage.h"
#include "platform/win/ConsoleInput.h"
#include "platform/win/Files.h"
#include "platform/win/Forms.h"
#include "platform/win/Messages.h"
#include "platform/win/Registry.h"
#include "server/FuVeskMathImpl.h"
#include "server/InstallForm.h"

namespace veskmath::server {

namespace {

constexpr const char* kAutomationSwitch = " /Automation";
constexpr win::DWORD kIdleEndMs = 1000;

std::string ClassKey() { return "CLSID\\" + win::GUIDToString(CLSID_FuVeskMath); }

// One registry entry: the key's default value, or a named value.
void WriteEntry(win::TRegistry& reg, const std::string& key, const std::string& name,
                const std::string& value) {
  if (!reg.OpenKey("\\" + key, true)) {
    throw win::ERegistryException(rtl::Format("Failed to create key %s", key.c_str()));
  }
  reg.WriteString(name, value);
  reg.CloseKey();
}

}  // namespace

std::string ClassDescription() { return win::Utf8ToAnsi("VESK数式処理"); }

bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& arg : args) {
    if (arg.size() != name.size() + 1 || (arg[0] != '-' && arg[0] != '/')) continue;
    // "/UnRegserver" is the switch "UNREGSERVER"; "//regserver" or "-regserver=1" is not.
    if (rtl::LowerCase(std::string_view(arg).substr(1)) == rtl::LowerCase(name)) return true;
  }
  return false;
}

TStartMode StartModeOf(const std::vector<std::string>& args) {
  if (FindCmdLineSwitch(args, "REGSERVER")) return TStartMode::RegServer;
  if (FindCmdLineSwitch(args, "UNREGSERVER")) return TStartMode::UnregServer;
  if (FindCmdLineSwitch(args, "AUTOMATION")) return TStartMode::Automation;
  if (FindCmdLineSwitch(args, "EMBEDDING")) return TStartMode::Embedding;
  return TStartMode::Interactive;
}

std::string LocalServerCommandLine(const std::string& exePath) {
  // Without short names, quoting keeps a path with blanks one argument for the runtime's
  // splitter; a plain path is written as it is.
  const bool hasWhiteSpace =
      std::any_of(exePath.begin(), exePath.end(), [](unsigned char c) { return std::isspace(c); });
  const std::string program = hasWhiteSpace || exePath.find('"') != std::string::npos
                                  ? win::QuoteCommandLineArg(exePath)
                                  : exePath;
  return program + kAutomationSwitch;
}

bool RegisterServer(const std::string& exePath) {
  bool complete = true;
  try {
    win::TRegistry reg;
    reg.SetRootKey(win::HKEY_CLASSES_ROOT);
    const std::string classKey = ClassKey();
    const std::string clsid = win::GUIDToString(CLSID_FuVeskMath);
    WriteEntry(reg, classKey, "", ClassDescription());
    WriteEntry(reg, classKey + "\\LocalServer32", "", LocalServerCommandLine(exePath));
    WriteEntry(reg, classKey + "\\LocalServer32", "ThreadingModel", "Apartment");
    WriteEntry(reg, kVeskMathProgID, "", ClassDescription());
    WriteEntry(reg, std::string(kVeskMathProgID) + "\\CLSID", "", clsid);
    WriteEntry(reg, classKey + "\\ProgID", "", kVeskMathProgID);
    WriteEntry(reg, classKey + "\\Version", "",
               rtl::Format("%d.%d", kVeskMathMajorVersion, kVeskMathMinorVersion));
    WriteEntry(reg, classKey + "\\Typelib", "", win::GUIDToString(LIBID_VeskMath));
  } catch (const std::exception&) {
    complete = false;  // not reported: start-up goes on, "/regserver" still ends with 0
  }
  const std::size_t slash = exePath.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? std::string() : exePath.substr(0, slash == 0 ? 1 : slash);
  if (win::FAILED(win::RegisterTypeLib(kVeskMathLibrary, exePath, directory))) complete = false;
  // The bus starts the server by the same command line.
  win::AddKnownTypeLib(kVeskMathLibrary);
  if (!win::RegisterBusService(CLSID_FuVeskMath, LocalServerCommandLine(exePath))) complete = false;
  return complete;
}

bool UnregisterServer() {
  win::AddKnownTypeLib(kVeskMathLibrary);
  const bool serviceGone = win::UnregisterBusService(CLSID_FuVeskMath);
  try {
    win::TRegistry reg;
    reg.SetRootKey(win::HKEY_CLASSES_ROOT);
    reg.DeleteKey("\\" + ClassKey());
    reg.DeleteKey(std::string("\\") + kVeskMathProgID);
    return serviceGone && !reg.KeyExists("\\" + ClassKey()) &&
           !reg.KeyExists(std::string("\\") + kVeskMathProgID);
  } catch (const std::exception&) {
    return false;
  }
}

win::ComPtr<win::IClassFactory> MakeFuVeskMathFactory() {
  auto create = [](win::IUnknown* outer, win::REFIID riid, void** object) -> win::HRESULT {
    if (outer != nullptr) return win::CLASS_E_NOAGGREGATION;
    return CreateFuVeskMath(riid, object);
  };
  auto lock = [](bool take) {
    if (take) {
      LockServer();
    } else {
      UnlockServer();
    }
  };
  win::ComPtr<win::IClassFactory> factory;
  win::MakeComObject<win::TClassFactory>(create, lock).As(factory);
  return factory;
}

// ---------------------------------------------------------------------------------------
// The program

namespace {

// The application's standard report of an exception: its message in a box with an OK button.
void ShowException(const std::string& message) {
  std::string text = message;
  if (!text.empty() && text.back() != '.') text += '.';
  win::MessageBoxA(0, text.c_str(), "veskmath", win::MB_OK | win::MB_ICONERROR);
}

// Runs a dispatched message; an exception that escapes a handler is reported and the loop
// goes on, as the component library's application does.
void DispatchReporting(const win::MSG& msg) {
  try {
    win::DispatchMessageA(&msg);
  } catch (const std::exception& e) {
    ShowException(e.what());
  }
}

struct TModule {
  win::DWORD mainThread = 0;
  TStartMode mode = TStartMode::Interactive;
  win::DWORD cookie = 0;
  // The dialog's input ended while objects were alive: end when the last one goes.
  std::atomic<bool> endWhenUnlocked{false};
  std::atomic<win::HWND> mainWindow{0};
};

TModule& Module() {
  static TModule module;
  return module;
}

// What the release of the last lock does.
void OnLastUnlock() {
  TModule& m = Module();
  if (m.mode == TStartMode::Automation) {
    // A client may be asking for an object at this very moment: stop taking new ones first,
    // so that every request from now on is refused (the client then starts the next server)
    // rather than answered by a process about to end under it.
    win::CoSuspendClassObjects();
    if (ServerLockCount() > 0) {
      // Taken again meanwhile (by this process): serve on; the next last release decides.
      win::CoResumeClassObjects();
      return;
    }
    win::PostThreadMessageA(m.mainThread, win::WM_QUIT, 0, 0);
  } else if (m.endWhenUnlocked && m.mainWindow != 0) {
    win::PostMessageA(m.mainWindow, win::WM_CLOSE, 0, 0);  // closes again, now without asking
  }
}

// The termination check: closing the main window while objects live asks first.
void TerminationCheck(win::TForm&, bool& canClose) {
  if (ServerLockCount() <= 0) return;
  const std::string caption = win::Utf8ToAnsi("オートメーションサーバーから警告");
  const std::string text = win::Utf8ToAnsi(
      "作動中の COM オブジェクトがアプリケーション内に残っています。"
      "クライアントアプリケーションから参照している可能性がありますから、"
      "このアプリケーションを直接終了した場合にはクライアント側で問題が生じるかもしれません。"
      "\r\n\r\n終了させてもよろしいですか?");
  canClose = win::MessageBoxA(0, text.c_str(), caption.c_str(),
                              win::MB_YESNO | win::MB_ICONWARNING | win::MB_DEFBUTTON2 |
                                  win::MB_TASKMODAL) == win::IDYES;
}

int Serve(TModule& m) {
  const bool showMainForm = m.mode != TStartMode::Automation && m.mode != TStartMode::Embedding;
  auto form = std::make_unique<TInstallForm>(win::ModuleFileName());
  SetInstallForm(form.get());
  const rtl::ScopeExit forget([] {
    SetInstallForm(nullptr);
    Module().mainWindow = 0;
  });
  m.mainWindow = form->Handle();
  form->OnCloseQuery = TerminationCheck;
  // The main window's close ends the application.
  form->OnClose = [](win::TForm&, win::TCloseAction&) { win::PostQuitMessage(0); };

  std::unique_ptr<win::TConsoleInput> input;
  rtl::ScopeExit restoreStreams([] { win::SetDialogStreams(nullptr, nullptr); });
  if (!showMainForm) restoreStreams.Dismiss();
  if (showMainForm) {
    const bool prompt = ::isatty(STDIN_FILENO) != 0;
    auto showPrompt = [prompt] {
      if (prompt) std::cout << "> " << std::flush;
    };
    form->Show();
    form->Render(std::cout);
    showPrompt();
    TInstallForm* dialog = form.get();
    input = std::make_unique<win::TConsoleInput>(
        STDIN_FILENO,
        [dialog, showPrompt](const std::string& line) {
          const rtl::ScopeExit again(showPrompt);
          dialog->Choose(win::Utf8ToAnsi(line), std::cout);
        },
        [dialog] {
          // The end of input closes the dialog. With objects still alive the question takes
          // its default answer (No); the program then serves until the last one goes.
          Module().endWhenUnlocked = true;
          dialog->Close();
        });
    win::SetDialogStreams(&input->ModalStream(), nullptr);
  }

  win::MSG msg;
  int exitCode = 0;
  for (;;) {
    // A server started for a client that left before it asked for anything (killed while
    // the bus started us) has no lock to release: after a second with no lock and nothing
    // to do it ends as after the last release.
    if (m.mode == TStartMode::Automation && win::WaitMessageTimeout(kIdleEndMs) == win::FALSE) {
      if (ServerLockCount() <= 0) OnLastUnlock();
      continue;
    }
    const win::BOOL got = win::GetMessageA(&msg, 0, 0, 0);
    if (got == 0) {
      exitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    DispatchReporting(msg);
  }
  input.reset();  // no more typed lines
  return exitCode;
}

}  // namespace

int RunVeskMath(const std::vector<std::string>& args) {
  TModule& m = Module();
  win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  const rtl::ScopeExit uninitialize([] { win::CoUninitialize(); });

  int exitCode = 0;
  try {
    m.mainThread = win::GetCurrentThreadId();
    m.mode = StartModeOf(args);
    // Registration reports nothing, not even an executable path it could not learn.
    auto registerSilently = [] {
      try {
        RegisterServer(win::ModuleFileName());
      } catch (const std::exception&) {
      }
    };
    switch (m.mode) {
      case TStartMode::RegServer:
        registerSilently();
        return 0;
      case TStartMode::UnregServer:
        UnregisterServer();
        return 0;
      case TStartMode::Interactive:
        registerSilently();
        break;
      case TStartMode::Automation:
      case TStartMode::Embedding:
        break;
    }
    SetLastUnlockHandler(OnLastUnlock);
    win::AddKnownTypeLib(kVeskMathLibrary);  // the class's names on the bus
    // Hosts show why a notation answers "?" without an engine of their own.
    win::AddClassMethod(CLSID_FuVeskMath, kDiagnosticsInterface, kFailureReasonMember,
                        [](const std::string& notation) {
                          return win::AnsiToUtf8(FailureReason(win::Utf8ToWide(notation)));
                        });
    const win::ComPtr<win::IClassFactory> factory = MakeFuVeskMathFactory();
    const win::HRESULT registered =
        win::CoRegisterClassObject(CLSID_FuVeskMath, factory.Get(), win::CLSCTX_LOCAL_SERVER,
                                   win::REGCLS_MULTIPLEUSE, &m.cookie);
    // A server started for its clients that cannot serve them has nothing to do; the dialog
    // still works while another process serves the class.
    if (win::FAILED(registered) && m.mode != TStartMode::Interactive) {
      SetLastUnlockHandler(nullptr);
      return 1;
    }
    exitCode = Serve(m);
  } catch (const std::exception& e) {
    ShowException(e.what());
    exitCode = 1;
  }
  if (m.cookie != 0) win::CoRevokeClassObject(m.cookie);
  m.cookie = 0;
  SetLastUnlockHandler(nullptr);
  return exitCode;
}

}  // namespace veskmath::server
