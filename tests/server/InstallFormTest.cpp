// The install dialog inside this process, against a scratch registry: Install and Uninstall
// over host lists with other plug-ins, gaps and no host key, the history, the program the
// dialog starts for "/UnRegserver", and the typed choices.
#include "server/InstallForm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ServerProcessUtil.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/Forms.h"
#include "platform/win/TestHooks.h"

namespace veskmath::server {
namespace {

using testing::ReadFile;
using testing::RegKey;
using testing::TScratch;
using testing::WaitFor;
using testing::WriteFile;
using win::HKEY_LOCAL_MACHINE;

constexpr const char* kOurs = "VeskMath.FuVeskMath";
constexpr const char* kHost = "SOFTWARE\\Orbanel\\Vesk";

struct Entry {
  std::string name;
  std::string id;  // "#5": the number 5 instead of a text
};

struct DialogCase {
  const char* what;
  bool hostKey;
  std::vector<Entry> before;
  std::string message;                       // what the dialog shows (UTF-8)
  std::map<std::string, std::string> after;  // entry name -> "ID"
};

void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.what; }

class InstallFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = win::SetDialogStreams(&in, &out);
    // Stands for the program itself: records how the dialog started it.
    WriteFile(script, "#!/bin/sh\necho \"$@\" >> " + started + "\n");
    ::chmod(script.c_str(), 0755);
    form = std::make_unique<TInstallForm>(script);
  }
  void TearDown() override { win::SetDialogStreams(previous.In, previous.Out); }

  void Seed(bool hostKey, const std::vector<Entry>& entries) {
    win::RegistryFile file(scratch.Registry());
    if (hostKey) file.CreateKey(HKEY_LOCAL_MACHINE, kHost);
    for (const Entry& e : entries) {
      const std::string key = std::string(kHost) + "\\" + e.name;
      file.CreateKey(HKEY_LOCAL_MACHINE, key);
      file.SetValue(HKEY_LOCAL_MACHINE, key, "ID",
                    e.id[0] == '#' ? win::RegValue::DWord(std::stoul(e.id.substr(1)))
                                   : win::RegValue::String(e.id));
    }
  }

  std::map<std::string, std::string> Entries() {
    win::RegistryFile file(scratch.Registry());
    std::map<std::string, std::string> entries;
    for (const std::string& name :
         file.KeyNames(HKEY_LOCAL_MACHINE, kHost).value_or(std::vector<std::string>{})) {
      entries[name] =
          testing::RegText(HKEY_LOCAL_MACHINE, std::string(kHost) + "\\" + name, "ID").value_or("");
    }
    return entries;
  }

  TScratch scratch;
  std::string script = scratch.Root() + "/program.sh";
  std::string started = scratch.Root() + "/started";
  std::istringstream in;
  std::ostringstream out;
  win::TDialogStreams previous{};
  std::unique_ptr<TInstallForm> form;
};

const std::string kInstalled = "インストールが完了しました。\n再起動してください。\n";
const std::string kUninstalled = "アンインストールが完了しました。\n再起動してください。\n";
const std::string kNotInstalled = "インストールされていません。\n";

class InstallCases : public InstallFormTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(InstallCases, WritesTheFirstMissingNumber) {
  const DialogCase& c = GetParam();
  Seed(c.hostKey, c.before);
  WriteFile(scratch.History(), "a:=2\r\n");
  form->cmdInstallClick();
  EXPECT_EQ(out.str(), c.message);
  EXPECT_EQ(Entries(), c.after);
  EXPECT_EQ(RegKey(HKEY_LOCAL_MACHINE, kHost), c.hostKey);
  const bool installed = c.message == kInstalled;
  // A successful install forgets the definitions; a refused one keeps them.
  EXPECT_EQ(ReadFile(scratch.History()), installed ? "" : "a:=2\r\n");
  for (const auto& [name, id] : c.after) {
    const bool isNew = std::none_of(c.before.begin(), c.before.end(),
                                    [&](const Entry& e) { return e.name == name; });
    if (!isNew) continue;
    const std::string key = std::string(kHost) + "\\" + name;
    EXPECT_EQ(testing::RegText(HKEY_LOCAL_MACHINE, key, "Name"), "数式計算");
    EXPECT_EQ(testing::RegText(HKEY_LOCAL_MACHINE, key, "ExecWithoutCompstr"), "1");
  }
}

std::vector<Entry> Others(int count) {
  std::vector<Entry> entries;
  for (int i = 1; i <= count; ++i)
    entries.push_back({HostEntryName(i), "Other" + std::to_string(i)});
  return entries;
}

std::map<std::string, std::string> AsMap(const std::vector<Entry>& entries) {
  std::map<std::string, std::string> map;
  for (const Entry& e : entries) map[e.name] = e.id[0] == '#' ? e.id.substr(1) : e.id;
  return map;
}

std::map<std::string, std::string> With(std::vector<Entry> entries, const Entry& extra) {
  entries.push_back(extra);
  return AsMap(entries);
}

INSTANTIATE_TEST_SUITE_P(
    InstallForm, InstallCases,
    ::testing::Values(
        DialogCase{
            "NoHostKey", false, {}, "VESKが見つかりません。インストールを中止します。\n", {}},
        DialogCase{"EmptyList", true, {}, kInstalled, {{"01", kOurs}}},
        DialogCase{"AfterOthers", true, Others(2), kInstalled, With(Others(2), {"03", kOurs})},
        // "02" missing: the list ends at "01", so ours under "03" is not seen.
        DialogCase{"FillsTheGap",
                   true,
                   {{"01", "A"}, {"03", kOurs}},
                   kInstalled,
                   {{"01", "A"}, {"02", kOurs}, {"03", kOurs}}},
        DialogCase{"AlreadyInstalled",
                   true,
                   {{"01", "A"}, {"02", kOurs}},
                   "もうインストールされています。\n",
                   {{"01", "A"}, {"02", kOurs}}},
        DialogCase{
            "NumberIdIsNotOurs", true, {{"01", "#7"}}, kInstalled, {{"01", "7"}, {"02", kOurs}}},
        DialogCase{"TwoDigitNames", true, Others(9), kInstalled, With(Others(9), {"10", kOurs})}),
    [](const auto& param) { return std::string(param.param.what); });

class UninstallCases : public InstallFormTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(UninstallCases, RemovesOnlyOurEntryAndStartsTheProgram) {
  const DialogCase& c = GetParam();
  Seed(c.hostKey, c.before);
  WriteFile(scratch.History(), "a:=2\r\n");
  form->cmdUninstallClick();
  EXPECT_EQ(out.str(), c.message);
  EXPECT_EQ(Entries(), c.after);
  EXPECT_EQ(ReadFile(scratch.History()), "a:=2\r\n");  // uninstall keeps the definitions
  if (c.message == kUninstalled) {
    EXPECT_TRUE(WaitFor([&] { return ReadFile(started) == "/UnRegserver\n"; }))
        << ReadFile(started);
  } else {
    EXPECT_FALSE(WaitFor([&] { return testing::Exists(started); }, 0.2));  // nothing started
  }
}

INSTANTIATE_TEST_SUITE_P(
    InstallForm, UninstallCases,
    ::testing::Values(
        DialogCase{"NoHostKey", false, {}, "インストールされていなかったようです。\n", {}},
        DialogCase{"EmptyList", true, {}, kNotInstalled, {}},
        DialogCase{"BetweenOthers",
                   true,
                   {{"01", "A"}, {"02", kOurs}, {"03", "B"}},
                   kUninstalled,
                   {{"01", "A"}, {"03", "B"}}},
        DialogCase{"BeyondAGap",
                   true,
                   {{"01", "A"}, {"03", kOurs}},
                   kNotInstalled,
                   {{"01", "A"}, {"03", kOurs}}}),
    [](const auto& param) { return std::string(param.param.what); });

TEST_F(InstallFormTest, UninstallLeavesAGapThatTheNextInstallFills) {
  Seed(true, {{"01", "A"}, {"02", kOurs}, {"03", "B"}});
  form->cmdInstallClick();
  form->cmdUninstallClick();
  form->cmdInstallClick();
  EXPECT_EQ(out.str(), "もうインストールされています。\n" + kUninstalled + kInstalled);
  EXPECT_EQ(Entries(),
            (std::map<std::string, std::string>{{"01", "A"}, {"02", kOurs}, {"03", "B"}}));
}

// A registry that cannot be used, and a list lock held by someone else past the lock
// timeout: the access error, and on the next line why.
TEST_F(InstallFormTest, UnusableRegistryIsAnAccessErrorWithItsReason) {
  const std::string error = "レジストリへのアクセスでエラーが発生しました。\n";
  WriteFile(scratch.Registry(), "not a registry file\n");
  const std::string malformed = "Malformed registry file '" + scratch.Registry() +
                                "' at line 1: expected the header line 'Windows Registry Editor "
                                "Version 5.00'\n";
  form->cmdInstallClick();
  form->cmdUninstallClick();
  EXPECT_EQ(out.str(), error + malformed + error + malformed);
  EXPECT_EQ(ReadFile(scratch.Registry()), "not a registry file\n");

  out.str("");
  ASSERT_EQ(::unlink(scratch.Registry().c_str()), 0);
  Seed(true, {});
  const rtl::UniqueFd folder(::open(scratch.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_EQ(::flock(folder.Get(), LOCK_EX), 0);
  win::SetLockTimeout(50);
  form->cmdInstallClick();
  win::SetLockTimeout(win::kDefaultLockTimeoutMs);
  EXPECT_EQ(out.str(), error + "Cannot lock the folder '" + scratch.Root() +
                           "' of registry file '" + scratch.Registry() +
                           "': another process has held it for more than 50 ms (another install "
                           "dialog?); try again when it has ended\n");
  EXPECT_EQ(Entries(), (std::map<std::string, std::string>{}));
}

TEST_F(InstallFormTest, TerminalShowsTheNoteAndTakesTypedChoices) {
  form->Render(out);
  const std::string shown = out.str();
  EXPECT_EQ(shown.rfind("Vesk Math Parser\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("\n　これは"), std::string::npos);
  EXPECT_NE(shown.find("(program.sh)"), std::string::npos);  // the executable's file name
  EXPECT_NE(shown.find("[インストール] (install, i)  [アンインストール] (uninstall, u)  "
                       "[閉じる] (close, c)\n"),
            std::string::npos);
  EXPECT_EQ(form->Memo1.Lines.size(), 9u);
  EXPECT_FALSE(form->Memo1.Enabled);

  std::string clicked;
  form->cmdInstall.OnClick = [&] { clicked += "I"; };
  form->cmdUninstall.OnClick = [&] { clicked += "U"; };
  form->CancelButton.OnClick = [&] { clicked += "C"; };
  out.str("");
  const std::vector<std::string> lines = {"i",       " INSTALL ", "u", "Uninstall", "c",
                                          "close\r", "",          "x", "ii"};
  for (const std::string& line : lines) form->Choose(line, out);
  EXPECT_EQ(clicked, "IIUUCC");
  EXPECT_EQ(out.str(),
            "choose install (i), uninstall (u) or close (c)\n"
            "choose install (i), uninstall (u) or close (c)\n");
}

}  // namespace
}  // namespace veskmath::server
