// The install dialog: layout, note, Install / Uninstall / Close, and its terminal form.
#include "server/InstallForm.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "contract/VeskMathTypes.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/Registry.h"
#include "platform/win/RegistryFile.h"
#include "platform/win/Shell.h"
#include "server/History.h"
#include "server/MathForm.h"

namespace veskmath::server {

namespace {

// The dialog's texts, written here in UTF-8 and shown in the ANSI code page like every
// system text.
constexpr const char* kMsgHostNotFound = "VESKが見つかりません。インストールを中止します。";
constexpr const char* kMsgAlreadyInstalled = "もうインストールされています。";
constexpr const char* kMsgCannotRegister =
    "レジストリに登録できません。\nPowerUser以上の権限が必要です。";
constexpr const char* kMsgInstalled = "インストールが完了しました。\n再起動してください。";
constexpr const char* kMsgWasNotInstalled = "インストールされていなかったようです。";
constexpr const char* kMsgUninstalled = "アンインストールが完了しました。\n再起動してください。";
constexpr const char* kMsgNotInstalled = "インストールされていません。";
constexpr const char* kMsgRegistryError = "レジストリへのアクセスでエラーが発生しました。";

constexpr const char* kPluginName = "数式計算";
constexpr const char* kUnregisterSwitch = "/UnRegserver";

std::string Ansi(std::string_view utf8) { return win::Utf8ToAnsi(utf8); }

void Say(const char* utf8) { win::ShowMessage(Ansi(utf8)); }

// The dialog's own message, then on a line of its own why it came to that (the registry's
// explanation), so the user learns what to do.
void Say(const char* utf8, const std::string& reason) {
  win::ShowMessage(reason.empty() ? Ansi(utf8) : Ansi(utf8) + "\n" + reason);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Nine lines: what the program is, what Install and Uninstall do with the registry, a
// request not to move the program once registered, and whom to ask.
std::vector<std::string> NoteLines(const std::string& exeName) {
  return {
      Ansi("　これは日本語入力VESKのための数式計算プラグインです。"),
      Ansi("このアプリケーション(") + exeName + Ansi(")をレジストリに登録、"),
      Ansi("またはレジストリから削除します。"),
      "",
      Ansi("　レジストリに登録した後は、このプログラムを"),
      Ansi("　別の場所へ移動しないでください。"),
      "",
      Ansi("作者: VeskMath 開発チーム"),
      Ansi("連絡先: 配布物に同梱の README.md をご覧ください。"),
  };
}

void Place(win::TControl& control, const char* name, int left, int top, int width, int height,
           int tabOrder) {
  control.Name = name;
  control.Left = left;
  control.Top = top;
  control.Width = width;
  control.Height = height;
  control.TabOrder = tabOrder;
}

// Install and uninstall read the host's list and then change it in several writes (the key,
// then its values). Two dialogs at once would both take the first free number, or one would
// pass over the other's entry before its "ID" is written and add a second entry of this
// plug-in. They take turns on a lock of the registry file's directory (a lock there leaves
// no file behind); without that directory there is no list to change either. Anyone who may
// open the directory can take that lock, so it is waited for only within the lock timeout.
class TListLock {
 public:
  TListLock() {
    const std::string path = win::RegistryFile::DefaultPath();
    if (path.empty()) return;
    // "/a/registry.reg" -> "/a", "/registry.reg" -> "/", "registry.reg" -> "."
    const std::size_t slash = path.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    FFd.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!FFd.Valid()) return;
    if (const int error = win::LockExclusiveWithin(FFd.Get()); error != 0) {
      throw win::ERegistryFileError(
          error == EWOULDBLOCK
              ? rtl::Format("Cannot lock the folder '%s' of registry file '%s': another process "
                            "has held it for more than %u ms (another install dialog?); try "
                            "again when it has ended",
                            dir.c_str(), path.c_str(), win::LockTimeoutMs())
              : rtl::Format("Cannot lock the folder '%s' of registry file '%s': %s", dir.c_str(),
                            path.c_str(), std::strerror(error)));
    }
  }

 private:
  rtl::UniqueFd FFd;  // closing releases the lock
};

}  // namespace

TInstallForm::TInstallForm(std::string exeName) : FExeName(std::move(exeName)) {
  Caption = "Vesk Math Parser";
  BorderStyle = win::bsDialog;
  ClientWidth = 328;
  ClientHeight = 266;
  Position = win::poScreenCenter;
  Font.Name = TMathForm::kFontName;
  Font.Charset = win::SHIFTJIS_CHARSET;
  Font.Height = -12;
  PixelsPerInch = 96;

  Place(cmdInstall, "cmdInstall", 8, 226, 91, 25, 0);
  cmdInstall.Caption = Ansi("インストール");
  cmdInstall.OnClick = [this] { cmdInstallClick(); };
  Place(cmdUninstall, "cmdUninstall", 112, 224, 97, 25, 1);
  cmdUninstall.Caption = Ansi("アンインストール");
  cmdUninstall.OnClick = [this] { cmdUninstallClick(); };
  Place(Memo1, "Memo1", 8, 8, 313, 209, 2);
  Memo1.Enabled = false;
  Memo1.ReadOnly = true;
  Memo1.BevelInner = win::bvNone;
  Memo1.Lines = NoteLines(FileNameOf(FExeName));
  Place(CancelButton, "CancelButton", 240, 224, 75, 25, 3);
  CancelButton.Caption = Ansi("閉じる");
  CancelButton.OnClick = [this] { CancelButtonClick(); };
}

void TInstallForm::cmdInstallClick() {
  win::TRegistry reg;
  reg.SetRootKey(win::HKEY_LOCAL_MACHINE);
  try {
    const TListLock turn;
    int number = 0;
    std::string entry;
    for (;;) {
      if (!reg.OpenKey(kVeskHostKey, false)) {
        Say(kMsgHostNotFound);
        return;
      }
      entry = HostEntryName(++number);
      // The list ends at the first missing number: "01", "03" -> "02" is the new entry.
      if (!reg.OpenKey(entry, false)) break;  // the host key stays open
      try {
        if (reg.ReadString("ID") == kVeskMathProgID) {
          Say(kMsgAlreadyInstalled);
          return;
        }
      } catch (const win::ERegistryException&) {
        // Another plug-in's entry that cannot be read (an "ID" that is a number) is not ours.
      }
      reg.CloseKey();
    }
    if (!reg.OpenKey(entry, true)) {
      Say(kMsgCannotRegister, reg.LastError());
      return;
    }
    reg.WriteString("Name", Ansi(kPluginName));
    reg.WriteString("ID", kVeskMathProgID);
    reg.WriteInteger("ExecWithoutCompstr", 1);
    reg.CloseKey();
  } catch (const win::ERegistryException& e) {
    Say(kMsgRegistryError, e.Message());
    return;
  }
  // Definitions made before the install are forgotten. A failure here is the application's
  // to report: the entry is written, the history is not empty.
  THistoryFile(HistoryFilePath()).Clear();
  Say(kMsgInstalled);
}

void TInstallForm::cmdUninstallClick() {
  win::TRegistry reg;
  reg.SetRootKey(win::HKEY_LOCAL_MACHINE);
  try {
    const TListLock turn;
    int number = 0;
    for (;;) {
      if (!reg.OpenKey(kVeskHostKey, false)) {
        Say(kMsgWasNotInstalled);
        return;
      }
      const std::string entry = HostEntryName(++number);
      if (!reg.OpenKey(entry, false)) break;
      const std::string id = reg.ReadString("ID");
      reg.CloseKey();
      if (id != kVeskMathProgID) continue;
      // A deletion the registry refuses is an error, not a success: the host would still
      // list the plug-in, so its class stays registered too.
      if (!reg.OpenKey(kVeskHostKey, false) || !reg.DeleteKey(entry)) {
        Say(kMsgRegistryError, reg.LastError());
        return;
      }
      reg.CloseKey();
      // The second process removes the class's entries; whether it could be started is not
      // reported, the host no longer lists the plug-in either way.
      win::ShellExecuteA(Handle(), nullptr, FExeName.c_str(), kUnregisterSwitch, nullptr,
                         win::SW_SHOW);
      Say(kMsgUninstalled);
      return;
    }
  } catch (const win::ERegistryException& e) {
    Say(kMsgRegistryError, e.Message());
    return;
  }
  Say(kMsgNotInstalled);
}

void TInstallForm::CancelButtonClick() { Close(); }

void TInstallForm::Render(std::ostream& out) const {
  const std::string rule(48, '-');
  out << win::AnsiToUtf8(Caption) << '\n' << rule << '\n';
  for (const std::string& line : Memo1.Lines) out << win::AnsiToUtf8(line) << '\n';
  out << rule << '\n';
  // The buttons in tab order, each with what to type for it.
  struct TChoice {
    const win::TButton* button;
    const char* typed;
  };
  std::vector<TChoice> choices = {
      {&cmdInstall, "install, i"}, {&cmdUninstall, "uninstall, u"}, {&CancelButton, "close, c"}};
  std::sort(choices.begin(), choices.end(), [](const TChoice& a, const TChoice& b) {
    return a.button->TabOrder < b.button->TabOrder;
  });
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) out << "  ";
    out << '[' << win::AnsiToUtf8(choices[i].button->Caption) << "] (" << choices[i].typed << ')';
  }
  out << '\n';
  out.flush();
}

bool TInstallForm::Choose(std::string_view line, std::ostream& out) {
  const std::string choice = rtl::LowerCase(rtl::Trim(line));
  if (choice.empty()) return false;
  if (choice == "install" || choice == "i") {
    cmdInstall.Click();
  } else if (choice == "uninstall" || choice == "u") {
    cmdUninstall.Click();
  } else if (choice == "close" || choice == "c") {
    CancelButton.Click();
  } else {
    out << "choose install (i), uninstall (u) or close (c)\n";
    out.flush();
    return false;
  }
  return true;
}

namespace {
TInstallForm* gInstallForm = nullptr;
}

TInstallForm* InstallForm() { return gInstallForm; }
void SetInstallForm(TInstallForm* form) { gInstallForm = form; }

}  // namespace veskmath::server
