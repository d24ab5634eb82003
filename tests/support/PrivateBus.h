// A session bus of the test's own: a dbus-daemon started with the test's environment (so a
// server it starts sees the test's registry and temporary directory), its service files in
// "<dir>/dbus-1/services" (XDG_DATA_HOME points there), DBUS_SESSION_BUS_ADDRESS set for the
// test and its children. The daemon's log says how many servers it started.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace veskmath::test_support {

class TPrivateBus {
 public:
  // `dir` must exist; the bus's files go under it.
  explicit TPrivateBus(const std::string& dir) : FLog(dir + "/dbus-daemon.log") {
    std::filesystem::create_directories(dir + "/dbus-1/services");
    Save("XDG_DATA_HOME", dir);
    Save("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      const int log = ::open(FLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      ::dup2(log, STDERR_FILENO);
      ::dup2(pipeFds[1], 3);
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--print-address=3", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string address;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') address += c;
    ::close(pipeFds[0]);
    if (!address.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  }
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;
  ~TPrivateBus() {
    for (const pid_t pid : Servers()) ::kill(pid, SIGKILL);
    if (FPid > 0) {
      ::kill(FPid, SIGTERM);
      WaitForExit(FPid, 10);
    }
    for (auto& [name, value] : FSaved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

  bool Running() const { return FPid > 0 && std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr; }

  // How many times the daemon started a program for a name.
  int Activations() const {
    const std::string log = ReadFile(FLog);
    int count = 0;
    for (std::size_t at = 0; (at = log.find("Activating service name=", at)) != std::string::npos;
         ++at) {
      ++count;
    }
    return count;
  }

  // The servers it started whose command name is `name` (all of them for ""), by pid: the
  // daemon's descendants, and (as the daemon detaches what it starts) the orphans this
  // process adopted when it is a subreaper.
  std::vector<pid_t> Servers(const std::string& name = "veskmath") const {
    std::multimap<pid_t, pid_t> children;
    std::map<pid_t, std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = ReadFile(entry.path().string() + "/stat");
      const std::size_t open = stat.find('(');
      const std::size_t close = stat.rfind(')');
      if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size()) {
        continue;
      }
      // "<pid> (<name>) <state> <ppid> ...": a zombie has ended already.
      if (stat[close + 2] == 'Z') continue;
      const pid_t ppid = std::atoi(stat.c_str() + stat.find(' ', close + 2) + 1);
      children.emplace(ppid, std::stoi(pid));
      names[std::stoi(pid)] = stat.substr(open + 1, close - open - 1);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> todo{FPid};
    for (auto [it, end] = children.equal_range(::getpid()); it != end; ++it) {
      if (it->second != FPid && (name.empty() || names[it->second] == name)) {
        found.push_back(it->second);
      }
    }
    while (!todo.empty()) {
      const pid_t parent = todo.back();
      todo.pop_back();
      for (auto [it, end] = children.equal_range(parent); it != end; ++it) {
        todo.push_back(it->second);
        if (name.empty() || names[it->second] == name) found.push_back(it->second);
      }
    }
    return found;
  }

  // Whether a process owns the name on this bus now.
  static bool HasOwner(const std::string& name) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return false;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                           name.c_str()) < 0 ||
        sd_bus_message_read(reply, "b", &owned) < 0) {
      owned = 0;
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return owned != 0;
  }

  // The process that owns the name, or -1.
  static pid_t OwnerPid(const std::string& name) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return -1;
    sd_bus_message* reply = nullptr;
    std::uint32_t pid = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetConnectionUnixProcessID", nullptr, &reply,
                           "s", name.c_str()) < 0 ||
        sd_bus_message_read(reply, "u", &pid) < 0) {
      pid = 0;
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return pid == 0 ? -1 : static_cast<pid_t>(pid);
  }

  pid_t Pid() const { return FPid; }  // the bus daemon's

  // Whether every server has ended within the time.
  bool ServersEnd(double seconds) const {
    return WaitFor([this] { return Servers().empty(); }, seconds);
  }

 private:
  void Save(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::string FLog;
  pid_t FPid = -1;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

}  // namespace veskmath::test_support
