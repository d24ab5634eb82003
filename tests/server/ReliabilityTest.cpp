// Faults around the server and its files: a full disk, a history directory that cannot be
// written and a directory planted at the history's name (nothing recorded is lost, the
// definition answers "?"); a server killed in the middle of a call (the client fails in a
// bounded time); a malformed registry (a clear message, the file untouched); two install
// dialogs at the same moment (one entry).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ServerProcessUtil.h"
#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "host/PluginLink.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "server/FuVeskMathImpl.h"

namespace veskmath::server {
namespace {

using testing::ReadFile;
using testing::RegText;
using testing::TChild;
using testing::TScratch;
using testing::WaitFor;
using testing::WriteFile;
using win::HKEY_LOCAL_MACHINE;

constexpr uid_t kNobody = 65534;

struct TRun {
  int Status = -1;  // exit status, -1 for a signal
  std::string Out;
  std::string Err;
};

// Converts each notation with a conversion object of a forked child, as a host does (a line
// per notation, empty when a call failed: the failure's description goes to `<dir>/vesk.err`
// and the status is 1), under `limit` bytes for any file it writes (a full disk) and, when
// `asNobody` and this process is root, as the user nobody. The history's faults are the
// object's own, whichever process serves it.
TRun Convert(const std::vector<std::string>& notations, const std::string& dir, rlim_t limit = 0,
             bool asNobody = false) {
  // Made before the child drops its rights, like a shell's redirections.
  const rtl::UniqueFd out(::open((dir + "/vesk.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  const rtl::UniqueFd err(::open((dir + "/vesk.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  test_support::TForkedChild child(
      [&] {
        ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
        const rlimit bytes{limit, limit};
        if (limit > 0 && ::setrlimit(RLIMIT_FSIZE, &bytes) != 0) return 126;
        win::ComPtr<IFuVeskMath> object;
        if (win::FAILED(CreateFuVeskMath(
                IID_IFuVeskMath, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())))) {
          return 126;
        }
        int status = 0;
        for (const std::string& notation : notations) {
          win::BSTR result;
          win::HRESULT hr = object->Set_VeskHyoki(win::BSTR(win::Utf8ToWide(notation)));
          if (win::SUCCEEDED(hr)) hr = object->Get_VeskResult(&result);
          std::string line = win::SUCCEEDED(hr) ? win::WideToUtf8(result.View()) : "";
          if (win::FAILED(hr)) {
            status = 1;
            const std::string why = host::ErrorDescription() + "\n";
            (void)!::write(err.Get(), why.data(), why.size());
          }
          line += '\n';
          (void)!::write(out.Get(), line.data(), line.size());
        }
        return status;
      },
      asNobody);
  TRun r;
  r.Status = child.Wait(60).value_or(-2);
  r.Out = ReadFile(dir + "/vesk.out");
  r.Err = ReadFile(dir + "/vesk.err");
  return r;
}

// ---- the history file under faults --------------------------------------------------------

class HistoryFaults : public ::testing::Test {
 protected:
  testing::TTempDir dir;
};

TEST_F(HistoryFaults, FullDiskKeepsTheHistoryAndAnswersQuestionMark) {
  // 40 definitions (about 400 bytes): the rewrite needs more than the 256 bytes allowed.
  std::string history;
  for (int i = 0; i < 40; ++i)
    history += "v" + std::to_string(i) + ":=" + std::to_string(i) + "\r\n";
  WriteFile(dir.History(), history);
  const TRun r = Convert({"v39+1", "w:=5", "w:=5=", "v1*2"}, dir.Path(), 256);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "40\n?\nw:=5= ?\n2\n");
  EXPECT_EQ(ReadFile(dir.History()), history);
  // No temporary file is left beside it.
  EXPECT_EQ(testing::DirectoryNames(dir.Path()),
            (std::vector<std::string>{"log.txt", "vesk.err", "vesk.out"}));
  // With room again the same definition is recorded after the old ones.
  EXPECT_EQ(Convert({"w:=5", "w+v39"}, dir.Path()).Out, "5\n44\n");
  EXPECT_EQ(ReadFile(dir.History()), history + "w:=5\r\n");
}

TEST_F(HistoryFaults, UnwritableDirectoryKeepsTheHistoryAndAnswersQuestionMark) {
  const std::string sub = dir.File("ro");
  ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
  const std::string history = sub + "/log.txt";
  WriteFile(history, "a:=2\r\n");
  const bool root = ::geteuid() == 0;
  // Root ignores permissions: the run becomes nobody, who owns the file but not the
  // directory. Otherwise the directory loses its write permission.
  if (root) {
    ASSERT_EQ(::chown(history.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);  // vesk.out and vesk.err are made first
  } else {
    ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
  }
  ::setenv("TMPDIR", sub.c_str(), 1);
  const TRun r = Convert({"a+1", "b:=3", "list", "quit", "a"}, dir.Path(), 0, /*asNobody=*/true);
  ::setenv("TMPDIR", dir.Path().c_str(), 1);
  ::chmod(sub.c_str(), 0755);
  // The replaced file cannot be made beside it: nothing recorded, nothing emptied.
  EXPECT_EQ(r.Out, "3\n?\na:=2 \n\n2\n");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Cannot create file \"" + history + "."), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Permission denied"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadFile(history), "a:=2\r\n");
  EXPECT_EQ(testing::DirectoryNames(sub), std::vector<std::string>{"log.txt"});
}

TEST_F(HistoryFaults, DirectoryAtTheHistorysNameIsLeftAndConversionsGoOn) {
  ASSERT_EQ(::mkdir(dir.History().c_str(), 0700), 0);
  WriteFile(dir.History() + "/inside", "x");
  const TRun r = Convert({"a:=2", "1+2=", "list"}, dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "?\n1+2= 3\n\n");
  EXPECT_EQ(ReadFile(dir.History() + "/inside"), "x");
}

// ---- processes -------------------------------------------------------------------------------

const std::string kEntryKey = "SOFTWARE\\Orbanel\\Vesk";

class ReliabilityProcess : public ::testing::Test {
 protected:
  TRun Run(const std::string& program, const std::vector<std::string>& args,
           const std::string& input = "") {
    TChild child(program, args, scratch.Root(), "run" + std::to_string(runs++));
    child.Type(input);
    child.CloseInput();
    TRun r;
    r.Status = child.Wait(60).value_or(-2);
    r.Out = child.Out();
    r.Err = child.Err();
    return r;
  }
  void Installed() { ASSERT_TRUE(scratch.Install(VESKMATH_VESKMATH_PATH)); }
  // The process that serves the class now, as the bus knows it.
  static pid_t ServerPid() { return test_support::TPrivateBus::OwnerPid("VeskMath.FuVeskMath"); }

  TScratch scratch;
  int runs = 0;
};

// One host creating and releasing objects in quick succession, as an input method does: the
// server ends whenever the last object goes, and no creation or first call may fail.
TEST_F(ReliabilityProcess, HostCreatingObjectsInQuickSuccessionNeverFails) {
  Installed();
  ASSERT_EQ(win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED), win::S_OK);
  win::AddKnownTypeLib(kVeskMathLibrary);
  win::ComPtr<win::IDispatch> previous;
  std::vector<std::string> failures;
  for (int i = 0; i < 200 / testing::kRaceRepeatDivisor; ++i) {
    win::ComPtr<win::IDispatch> object;
    win::HRESULT hr = win::CoCreateInstance(
        CLSID_FuVeskMath, nullptr, win::CLSCTX_LOCAL_SERVER, win::IID_IDispatch,
        reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
    win::UINT count = 1;
    if (win::SUCCEEDED(hr)) hr = object->GetTypeInfoCount(&count);
    if (win::FAILED(hr)) failures.push_back(std::to_string(i) + ": " + std::to_string(hr));
    // Every third object outlives the next creation; the others go at once.
    previous = i % 3 == 0 ? object : nullptr;
  }
  previous = nullptr;
  win::CoUninitialize();
  EXPECT_EQ(failures, std::vector<std::string>{});
}

// Short-lived clients side by side, as an input method creates and drops objects: servers
// start and end under them all the time, and every run must still convert. Without the
// fixes about one run in eight failed.
TEST_F(ReliabilityProcess, ShortClientsSideBySideAllSucceed) {
  Installed();
  constexpr int kLoops = 4;
  constexpr int kRuns = 100 / testing::kRaceRepeatDivisor;
  std::vector<std::vector<std::string>> failures(kLoops);
  std::vector<std::thread> loops;
  for (int c = 0; c < kLoops; ++c) {
    loops.emplace_back([&, c] {
      for (int i = 0; i < kRuns; ++i) {
        // Every tenth run defines a name of its own: none may be lost.
        const bool define = i % 10 == 0;
        const std::string notation =
            define ? "d" + std::to_string(c) + "_" + std::to_string(i) + ":=7" : "1+1";
        TChild vesk(VESKMATH_VESK_PATH, {notation}, scratch.Root(), "l" + std::to_string(c));
        vesk.CloseInput();
        const std::optional<int> status = vesk.Wait(60);
        const std::string out = vesk.Out();
        if (status != 0 || out != (define ? "7\n" : "2\n")) {
          failures[c].push_back(notation + ": status " + std::to_string(status.value_or(-2)) +
                                ", " + out + vesk.Err());
        }
      }
    });
  }
  for (std::thread& t : loops) t.join();
  std::multiset<std::string> expected;
  for (int c = 0; c < kLoops; ++c) {
    for (int i = 0; i < kRuns; i += 10) {
      expected.insert("d" + std::to_string(c) + "_" + std::to_string(i) + ":=7\r\n");
    }
    EXPECT_EQ(failures[c], std::vector<std::string>{}) << "loop " << c;
  }
  std::multiset<std::string> lines;
  const std::string history = ReadFile(scratch.History());
  for (std::size_t at = 0; at < history.size();) {
    const std::size_t end = history.find('\n', at);
    lines.insert(history.substr(at, end - at + 1));
    at = end == std::string::npos ? history.size() : end + 1;
  }
  EXPECT_EQ(lines, expected);
}

TEST_F(ReliabilityProcess, ServerKilledInACallFailsTheClientInBoundedTime) {
  Installed();
  TChild client(VESKMATH_VESK_PATH, {}, scratch.Root(), "client");
  client.Type("a:=4\n");
  ASSERT_TRUE(client.WaitForOutput("4\n"));
  const pid_t server = ServerPid();
  ASSERT_GT(server, 0);
  // Stopped, the server cannot answer: the next request is surely in flight when it dies.
  ASSERT_EQ(::kill(server, SIGSTOP), 0);
  client.Type("a+1\n");
  ::usleep(100 * 1000);
  ASSERT_EQ(::kill(server, SIGKILL), 0);
  ::kill(server, SIGCONT);
  client.CloseInput();
  // Well short of the client's 30 s call timeout, which a hung client would wait out.
  EXPECT_EQ(client.Wait(20), 1) << "the client hung or did not report the failure";
  EXPECT_EQ(client.Out(), "4\n\n");  // the lost call answers an empty line
  // RPC_E_DISCONNECTED, from whichever call of the conversion met the dead server.
  EXPECT_NE(client.Err().find(" failed (0x80010108)"), std::string::npos) << client.Err();
  // The recorded definition survives the server, and a new server uses it.
  EXPECT_EQ(ReadFile(scratch.History()), "a:=4\r\n");
  const TRun again = Run(VESKMATH_VESK_PATH, {"a+1"});
  EXPECT_EQ(again.Out, "5\n") << again.Err;
  EXPECT_TRUE(scratch.Bus().ServersEnd(30));
}

// A text beyond what one message to the server carries is refused by name, not with an
// out-of-memory code, and the session goes on.
TEST_F(ReliabilityProcess, TextTooLongForTheServerIsRefusedClearly) {
  Installed();
  std::string text;
  for (int i = 0; i < 600000; ++i) text += "1+";  // 1.2 MB, beyond the 1 MiB a text may hold
  const TRun r = Run(VESKMATH_VESK_PATH, {}, text + "1\n2+2\n");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "\n4\n");
  EXPECT_EQ(r.Err, "vesk: VeskHyoki failed (0x80020009): text too long\n");
}

TEST_F(ReliabilityProcess, MalformedRegistryIsReportedAndNeverRewritten) {
  Installed();
  const std::string whole = ReadFile(scratch.Registry());
  const std::vector<std::string> broken = {
      whole.substr(0, whole.find(']', whole.find("Orbanel"))),  // cut inside a key's name
      whole + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n\"v\"=dword:xyz\n",
      "not a registry file\n",
  };
  for (const std::string& text : broken) {
    WriteFile(scratch.Registry(), text);
    const TRun vesk = Run(VESKMATH_VESK_PATH, {"1+2"});
    EXPECT_EQ(vesk.Status, 1);
    EXPECT_NE(vesk.Err.find("Malformed registry file '" + scratch.Registry() + "' at line "),
              std::string::npos)
        << vesk.Err;
    const TRun install = Run(VESKMATH_VESKMATH_PATH, {}, "i\n");
    EXPECT_NE(install.Out.find("レジストリへのアクセスでエラーが発生しました。"), std::string::npos)
        << install.Out;
    EXPECT_EQ(ReadFile(scratch.Registry()), text);
  }
}

// Two dialogs told to install at the same moment: the plug-in is listed exactly once, and
// whichever came second says it is there already.
TEST_F(ReliabilityProcess, TwoInstallsAtOnceLeaveOneEntry) {
  const std::string installed = "インストールが完了しました。";
  const std::string already = "もうインストールされています。";
  // Without turns a third of the rounds or so ended with two entries: eight catch it.
  constexpr int kRounds = 8 / testing::kRaceRepeatDivisor;
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::remove(scratch.Registry());
    win::RegistryFile(scratch.Registry()).CreateKey(HKEY_LOCAL_MACHINE, kEntryKey);
    TChild x(VESKMATH_VESKMATH_PATH, {}, scratch.Root(), "x");
    TChild y(VESKMATH_VESKMATH_PATH, {}, scratch.Root(), "y");
    ASSERT_TRUE(x.WaitForOutput("(close, c)\n"));
    ASSERT_TRUE(y.WaitForOutput("(close, c)\n"));
    x.Type("i\n");
    y.Type("i\n");
    x.CloseInput();
    y.CloseInput();
    ASSERT_EQ(x.Wait(60), 0) << x.Err();
    ASSERT_EQ(y.Wait(60), 0) << y.Err();
    while (TScratch::ReapOrphan(0.2, /*kill=*/true)) {
    }
    int ours = 0;
    const std::vector<std::string> names =
        win::RegistryFile(scratch.Registry()).KeyNames(HKEY_LOCAL_MACHINE, kEntryKey).value();
    for (const std::string& name : names) {
      ours += RegText(HKEY_LOCAL_MACHINE, kEntryKey + "\\" + name, "ID") == kVeskMathProgID;
    }
    EXPECT_EQ(ours, 1) << "round " << round;
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kEntryKey + "\\01", "ID"), kVeskMathProgID);
    const std::string both = x.Out() + y.Out();
    EXPECT_NE(both.find(installed), std::string::npos) << both;
    EXPECT_NE(both.find(already), std::string::npos) << round;
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace veskmath::server
