// Helpers of the tests that run veskmath and vesk as processes: a scratch environment (its
// own registry file, temporary directory and runtime directory, named by the environment
// that children inherit), children with a standard input the test writes to, bounded waits,
// and collecting the servers that the automation runtime starts detached.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../support/PrivateBus.h"
#include "ServerTestUtil.h"
#include "contract/VeskMathTypes.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::server::testing {

// Loops that exist to catch races between processes run a quarter as often under the
// sanitizers, where every process costs several times more to start; the optimised build runs
// them in full.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kRaceRepeatDivisor = 4;
#else
inline constexpr int kRaceRepeatDivisor = 1;
#endif

// A scratch directory named by VESKMATH_REGISTRY, TMPDIR and XDG_RUNTIME_DIR for the length
// of a test, with a session bus of its own started in that environment (Bus()); this process
// adopts the orphans of its children, so ReapOrphan can see them end.
class TScratch {
 public:
  TScratch() {
    char pattern[] = "/tmp/veskmath-e2e-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) FRoot = pattern;
    ::chmod(FRoot.c_str(), 0755);  // reachable by a child that drops its rights
    std::filesystem::create_directories(FRoot + "/tmp");
    std::filesystem::create_directories(FRoot + "/run");
    ::chmod((FRoot + "/run").c_str(), 0700);
    Set("VESKMATH_REGISTRY", Registry());
    Set("TMPDIR", FRoot + "/tmp");
    Set("XDG_RUNTIME_DIR", FRoot + "/run");
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    FBus = std::make_unique<test_support::TPrivateBus>(FRoot);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  ~TScratch() {
    FBus.reset();
    // A server a failed test left behind is ended; nothing here outlives the test, not even
    // one that takes its time to die (the next test of this process would take it for its own).
    while (ReapOrphan(30, /*kill=*/true)) {
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    for (auto& [name, value] : FSaved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    std::error_code ignored;
    std::filesystem::permissions(FRoot, std::filesystem::perms::all, ignored);
    std::filesystem::remove_all(FRoot, ignored);
  }

  const std::string& Root() const { return FRoot; }
  std::string Registry() const { return FRoot + "/registry.reg"; }
  std::string History() const { return FRoot + "/tmp/log.txt"; }
  const test_support::TPrivateBus& Bus() const { return *FBus; }
  // Registers the class with `program`'s own /regserver, in this environment, and lists the
  // plug-in first in the host's list, as an installed host finds it. False when registering
  // failed.
  bool Install(const std::string& program) const {
    TChild child(program, {"/regserver"}, FRoot, "regserver");
    child.CloseInput();
    if (child.Wait(60) != 0) return false;
    win::RegistryFile file(Registry());
    const std::string entry = std::string(kVeskHostKey) + "\\" + HostEntryName(1);
    file.CreateKey(win::HKEY_LOCAL_MACHINE, entry);
    file.SetValue(win::HKEY_LOCAL_MACHINE, entry, "ID", win::RegValue::String(kVeskMathProgID));
    return true;
  }
  // Whether a process serves the class on the bus now.
  static bool Serving() { return test_support::TPrivateBus::HasOwner("VeskMath.FuVeskMath"); }

  // Waits for a child this process adopted to end (or kills it first); answers its exit
  // status, -1 for a signal, nullopt when none ended in time.
  static std::optional<int> ReapOrphan(double seconds, bool kill = false) {
    std::optional<int> status;
    WaitFor(
        [&] {
          int raw = 0;
          const pid_t pid = ::waitpid(-1, &raw, WNOHANG);
          if (pid <= 0) {
            if (kill && pid == 0) KillOwnChildren();
            return pid < 0;  // ECHILD: nobody left to wait for
          }
          status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
          return true;
        },
        seconds);
    return status;
  }

 private:
  // Ends this process's own children by their ids (from /proc), never by name.
  static void KillOwnChildren() {
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = ReadFile(entry.path().string() + "/stat");
      const std::size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      // "<pid> (<name>) <state> <ppid> ..."
      std::size_t at = close + 2;
      at = stat.find(' ', at);
      if (at == std::string::npos) continue;
      const std::string ppid = stat.substr(at + 1, stat.find(' ', at + 1) - at - 1);
      if (ppid == self) ::kill(std::stoi(pid), SIGKILL);
    }
  }

  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::string FRoot;
  std::unique_ptr<test_support::TPrivateBus> FBus;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// A value of the scratch registry (UTF-8), or nullopt.
inline std::optional<std::string> RegText(win::HKEY root, const std::string& key,
                                          const std::string& name = "") {
  win::RegistryFile file(win::RegistryFile::DefaultPath());
  const std::optional<win::RegValue> value = file.GetValue(root, key, name);
  if (!value) return std::nullopt;
  return value->kind == win::RegValue::Kind::String ? value->text : std::to_string(value->number);
}

inline bool RegKey(win::HKEY root, const std::string& key) {
  return win::RegistryFile(win::RegistryFile::DefaultPath()).KeyExists(root, key);
}

}  // namespace veskmath::server::testing
