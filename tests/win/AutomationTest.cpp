// The automation runtime in one process and across processes. For the latter this test
// program is its own local server: the registered LocalServer32 command line runs it again
// with --automation-test-server, which serves the test counter instead of running tests.
#include "platform/win/Automation.h"
#include "platform/win/TestHooks.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/win/Files.h"
#include "platform/win/Messages.h"
#include "platform/win/RegistryFile.h"
#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "tests/win/AutomationTestCounter.h"

namespace veskmath::win {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

// ---- The server side of this program

bool IsSwitch(const std::string& arg, const char* name) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
  return ::strcasecmp(arg.c_str() + 1, name) == 0;
}

int RunCounterServer(const std::vector<std::string>& args) {
  bool automation = false;
  for (const std::string& a : args) automation = automation || IsSwitch(a, "Automation");
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  if (automation) TestModule::QuitThread() = GetCurrentThreadId();
  AddKnownTypeLib(kCounterLib);
  ComPtr<TClassFactory> factory = MakeComObject<TClassFactory>(
      CreateTestCounter, [](bool lock) { lock ? TestModule::Lock() : TestModule::Unlock(); });
  DWORD cookie = 0;
  if (FAILED(CoRegisterClassObject(CLSID_TestCounter, factory.Get(), CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie))) {
    CoUninitialize();
    return 3;  // another server has the class, or the runtime directory is refused
  }
  factory.Reset();
  MSG msg;
  while (GetMessageA(&msg, 0, 0, 0) > 0) DispatchMessageA(&msg);
  CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

// Runs before the tests are set up: a server run never reaches the test runner.
const int kServerHook = [] {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::size_t start = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == '\0') {
      args.push_back(all.substr(start, i - start));
      start = i + 1;
    }
  }
  if (args.size() >= 2 && args[1] == "--automation-test-server") std::exit(RunCounterServer(args));
  return 0;
}();

// ---- Helpers

// Waits until a process (not necessarily our child) has ended.
bool WaitForExit(pid_t pid, int milliseconds) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, milliseconds);
  ::close(fd);
  return ready > 0;
}

bool IsAlive(pid_t pid) { return !WaitForExit(pid, 0); }

void SetEnv(const char* name, const std::string& value, std::optional<std::string>& saved) {
  if (const char* old = std::getenv(name)) saved = old;
  ::setenv(name, value.c_str(), 1);
}
void RestoreEnv(const char* name, const std::optional<std::string>& saved) {
  if (saved) {
    ::setenv(name, saved->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

void WriteDefault(const std::string& key, const std::string& text) {
  RegistryFile file(RegistryFile::DefaultPath());
  file.CreateKey(HKEY_CLASSES_ROOT, key);
  file.SetValue(HKEY_CLASSES_ROOT, key, "", RegValue::String(text));
}

const std::string kClassKey = "CLSID\\" + GUIDToString(CLSID_TestCounter);

// A private registry file and session bus per test, the class registered (LocalServer32 and
// the bus's service file) with a command line that names this program through a path with a
// blank in it.
class AutomationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-automation-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FDir = pattern;
    FRuntime = FDir + "/run";
    ASSERT_EQ(::mkdir(FRuntime.c_str(), 0700), 0);
    SetEnv("VESKMATH_REGISTRY", FDir + "/registry.reg", FSavedRegistry);
    SetEnv("XDG_RUNTIME_DIR", FRuntime, FSavedRuntime);
    FBus = std::make_unique<test_support::TPrivateBus>(FDir);
    ASSERT_TRUE(FBus->Running());
    AddKnownTypeLib(kCounterLib);
    const std::string binDir = FDir + "/bin dir";
    ASSERT_EQ(::mkdir(binDir.c_str(), 0700), 0);
    FServerPath = binDir + "/counter server";
    ASSERT_EQ(::symlink(ModuleFileName().c_str(), FServerPath.c_str()), 0);
    RegisterClass(QuoteCommandLineArg(FServerPath) + " --automation-test-server /Automation");
    WriteDefault(std::string(kTestCounterProgID) + "\\CLSID", GUIDToString(CLSID_TestCounter));
    WriteDefault(kClassKey + "\\ProgID", kTestCounterProgID);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    FSavedActivation = GetActivationTimeout();
    FSavedCall = GetCallTimeout();
    SetActivationTimeout(20000);  // the sanitizer build starts slowly
    SetCallTimeout(20000);
  }

  void TearDown() override {
    CoUninitialize();
    SetActivationTimeout(FSavedActivation);
    SetCallTimeout(FSavedCall);
    for (const pid_t pid : FServers) {
      if (IsAlive(pid)) ::kill(pid, SIGKILL);
    }
    FBus.reset();
    RestoreEnv("VESKMATH_REGISTRY", FSavedRegistry);
    RestoreEnv("XDG_RUNTIME_DIR", FSavedRuntime);
    std::filesystem::remove_all(FDir);
  }

  void RegisterClass(const std::string& commandLine) {
    WriteDefault(kClassKey, "Test counter");
    WriteDefault(kClassKey + "\\LocalServer32", commandLine);
    ASSERT_TRUE(RegisterBusService(CLSID_TestCounter, commandLine));
  }

  HRESULT Create(ComPtr<IDispatch>& object) {
    return CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
  }

  // The pid of the server behind an object; remembered so that TearDown can end it.
  pid_t ServerOf(IDispatch* object) {
    std::int32_t pid = -1;
    EXPECT_EQ(GetInt(object, DISPID_ProcessId, pid), S_OK);
    if (pid > 0) FServers.push_back(pid);
    return pid;
  }

  std::string FDir;
  std::string FRuntime;
  std::unique_ptr<test_support::TPrivateBus> FBus;
  std::string FServerPath;
  std::vector<pid_t> FServers;
  std::optional<std::string> FSavedRegistry;
  std::optional<std::string> FSavedRuntime;
  DWORD FSavedActivation = 0;
  DWORD FSavedCall = 0;
};

// A connection of the test's own to the session bus (null when there is none).
using BusConnection = std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)>;
BusConnection OpenBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) bus = nullptr;
  return BusConnection(bus, &sd_bus_flush_close_unref);
}

// LockServer on the class object, sent as a foreign client sends it: the server counts locks
// per connection. "" on success, else the D-Bus error's name.
std::string LockServer(sd_bus* bus, bool lock) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int r = sd_bus_call_method(bus, "CounterLib.TestCounter", "/CounterLib/TestCounter",
                                   "CounterLib.ClassFactory", "LockServer", &error, nullptr, "b",
                                   lock ? 1 : 0);
  const std::string name = r >= 0 ? "" : error.name != nullptr ? error.name : "(no error name)";
  sd_bus_error_free(&error);
  return name;
}

// A client in a child process: creates an object (and, with `lock`, locks the server on a
// connection of its own), writes the server's pid to `out` and waits to be killed.
test_support::TForkedChild StartClientChild(int& out, bool lock) {
  int fds[2];
  if (::pipe(fds) != 0) return test_support::TForkedChild([] { return 1; });
  test_support::TForkedChild child([&]() -> int {
    ::close(fds[0]);
    std::int32_t pid = -1;
    ComPtr<IDispatch> object;
    if (SUCCEEDED(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())))) {
      GetInt(object.Get(), DISPID_ProcessId, pid);
      if (lock) {
        BusConnection bus = OpenBus();
        if (!bus || !LockServer(bus.get(), true).empty()) pid = -1;
        bus.release();  // kept, like the object, until the process is killed
      }
      object.Detach();
    }
    [[maybe_unused]] const ssize_t n = ::write(fds[1], &pid, sizeof pid);
    for (;;) ::pause();
  });
  ::close(fds[1]);
  out = fds[0];
  return child;
}

std::int32_t ReadPid(int fd) {
  std::int32_t pid = -1;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 30000) <= 0 || ::read(fd, &pid, sizeof pid) != sizeof pid) pid = -1;
  ::close(fd);
  return pid;
}

// ---- In one process

TEST(AutomationInProcess, RegisteredClassIsCreatedDirectly) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  const ComPtr<TClassFactory> factory =
      MakeComObject<TClassFactory>(CreateTestCounter, [](bool) {});
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory.Get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  DWORD again = 0;
  EXPECT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory.Get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &again),
            CO_E_OBJISREG);

  ComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IDispatch,
                             reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())),
            S_OK);
  std::int32_t value = 0;
  EXPECT_EQ(CallAdd(object.Get(), 5, value), S_OK);
  EXPECT_EQ(value, 5);
  std::int32_t pid = 0;
  EXPECT_EQ(GetInt(object.Get(), DISPID_ProcessId, pid), S_OK);
  EXPECT_EQ(pid, ::getpid());  // no proxy in between

  // The outer object may only ask for IUnknown.
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, object.Get(), CLSCTX_ALL, IID_IDispatch, &raw),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(raw, nullptr);

  ComPtr<IDispatch> inproc;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(inproc.ReleaseAndGetAddressOf())),
            S_OK);

  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &raw),
            REGDB_E_CLASSNOTREG);
  CoUninitialize();
}

TEST(AutomationInProcess, ApartmentRulesAreKept) {
  // A thread that never entered an apartment may not activate or register.
  std::thread([] {
    void* raw = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IDispatch, &raw),
              CO_E_NOTINITIALIZED);
    const ComPtr<TClassFactory> factory =
        MakeComObject<TClassFactory>(CreateTestCounter, [](bool) {});
    DWORD cookie = 0;
    EXPECT_EQ(CoRegisterClassObject(CLSID_TestCounter, factory.Get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              CO_E_NOTINITIALIZED);
    // Nesting counts; the other kind of apartment is refused.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
  }).join();
}

// ---- Across processes

TEST_F(AutomationFixture, ClientCallsTheServerWhichEndsAfterTheLastRelease) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"AutomationTest.Counter", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestCounter);
  EXPECT_EQ(CLSIDFromProgID(u"AutomationTest.Missing", &clsid), CO_E_CLASSSTRING);
  BSTR progId(u"stale");
  EXPECT_EQ(ProgIDFromCLSID(LIBID_TestCounter, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(progId.IsNull());
  ASSERT_EQ(ProgIDFromCLSID(CLSID_TestCounter, &progId), S_OK);
  EXPECT_EQ(progId.View(), u"AutomationTest.Counter");

  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  const pid_t server = ServerOf(object.Get());
  ASSERT_GT(server, 0);
  EXPECT_NE(server, ::getpid());

  std::int32_t value = 0;
  EXPECT_EQ(PutInt(object.Get(), DISPID_Count, 40), S_OK);
  EXPECT_EQ(GetInt(object.Get(), DISPID_Count, value), S_OK);
  EXPECT_EQ(value, 40);
  EXPECT_EQ(CallAdd(object.Get(), 2, value), S_OK);
  EXPECT_EQ(value, 42);

  // Names are answered by the description this process knows.
  const char16_t* names[] = {u"add", u"AMOUNT"};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(object->GetIDsOfNames(GUID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], DISPID_Add);
  EXPECT_EQ(ids[1], 0);
  const char16_t* unknown[] = {u"Nope"};
  EXPECT_EQ(object->GetIDsOfNames(GUID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);

  // Error information crosses with the failure.
  EXCEPINFO e;
  EXPECT_EQ(CallFail(object.Get(), u"数式 failed", &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, E_FAIL);
  EXPECT_EQ(e.bstrDescription, BSTR(u"数式 failed"));
  EXPECT_EQ(e.bstrSource, BSTR(u"AutomationTest.Counter"));
  EXPECT_EQ(TakeErrorDescription(), "数式 failed");
  // A call that succeeds leaves no stale error object behind.
  EXPECT_EQ(GetInt(object.Get(), DISPID_Count, value), S_OK);
  EXPECT_EQ(TakeErrorDescription(), "(none)");
  // A member that throws fails the call, not the server.
  EXPECT_EQ(CallFail(object.Get(), u"throw", nullptr), RPC_E_SERVERFAULT);
  EXPECT_EQ(GetInt(object.Get(), DISPID_Count, value), S_OK);
  EXPECT_EQ(value, 42);
  // Bad calls are refused by the server's dispatch with their own codes.
  EXPECT_EQ(PutInt(object.Get(), DISPID_ProcessId, 1), DISP_E_MEMBERNOTFOUND);

  object.Reset();
  EXPECT_TRUE(WaitForExit(server, 10000)) << "the /Automation server did not end";
}

// Started by hand (our child, so its exit status can be read), the server is found running,
// serves, and ends cleanly: exit status 0, which under the sanitizers also means no leak.
TEST_F(AutomationFixture, RunningServerIsUsedAndEndsCleanly) {
  const std::string exe = ModuleFileName();
  test_support::TChild server(exe, {"--automation-test-server", "/Automation"}, FDir, "server");
  ASSERT_GT(server.Pid(), 0);
  ASSERT_TRUE(test_support::WaitFor(
      [] { return test_support::TPrivateBus::HasOwner("CounterLib.TestCounter"); }, 20));
  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  EXPECT_EQ(ServerOf(object.Get()), server.Pid());
  EXPECT_EQ(FBus->Activations(), 0);  // the bus started nothing
  object.Reset();
  EXPECT_EQ(server.Wait(30), 0) << server.Err();
}

TEST_F(AutomationFixture, TwoClientsShareOneServerWithTheirOwnObjects) {
  ComPtr<IDispatch> first;
  ComPtr<IDispatch> second;
  ASSERT_EQ(Create(first), S_OK);
  ASSERT_EQ(Create(second), S_OK);
  const pid_t server = ServerOf(first.Get());
  EXPECT_EQ(ServerOf(second.Get()), server);
  std::int32_t value = 0;
  EXPECT_EQ(CallAdd(first.Get(), 3, value), S_OK);
  EXPECT_EQ(CallAdd(second.Get(), 10, value), S_OK);
  EXPECT_EQ(value, 10);

  // Two client processes at once, while the first objects still keep the server.
  int out1 = -1;
  int out2 = -1;
  auto c1 = StartClientChild(out1, false);
  auto c2 = StartClientChild(out2, false);
  EXPECT_EQ(ReadPid(out1), server);
  EXPECT_EQ(ReadPid(out2), server);
  c1.Kill();
  c2.Kill();

  // Releasing one object keeps the other.
  first.Reset();
  EXPECT_EQ(GetInt(second.Get(), DISPID_Count, value), S_OK);
  EXPECT_EQ(value, 10);
  EXPECT_TRUE(IsAlive(server));
  second.Reset();
  EXPECT_TRUE(WaitForExit(server, 10000));
}

TEST_F(AutomationFixture, ClientsStartingTogetherGetOneServer) {
  int out1 = -1;
  int out2 = -1;
  auto c1 = StartClientChild(out1, false);
  auto c2 = StartClientChild(out2, false);
  const std::int32_t s1 = ReadPid(out1);
  const std::int32_t s2 = ReadPid(out2);
  ASSERT_GT(s1, 0);
  FServers.push_back(s1);
  EXPECT_EQ(s2, s1);
  c1.Kill();
  c2.Kill();
  EXPECT_TRUE(WaitForExit(s1, 10000)) << "dead clients' objects kept the server";
}

TEST_F(AutomationFixture, KilledClientsObjectsAndLocksAreReleased) {
  ComPtr<IDispatch> mine;
  ASSERT_EQ(Create(mine), S_OK);
  const pid_t server = ServerOf(mine.Get());
  int out = -1;
  auto child = StartClientChild(out, /*lock=*/true);
  ASSERT_EQ(ReadPid(out), server);
  mine.Reset();  // only the child's object and lock keep the server now
  EXPECT_FALSE(WaitForExit(server, 200)) << "ended while the child still held its object";
  child.Kill();
  EXPECT_TRUE(WaitForExit(server, 10000)) << "the killed client's object or lock was kept";
}

TEST_F(AutomationFixture, LockServerKeepsTheServerUntilUnlocked) {
  const BusConnection bus = OpenBus();
  ASSERT_TRUE(bus);
  EXPECT_EQ(LockServer(bus.get(), false), "VeskMath.Error.E8000FFFF");  // E_UNEXPECTED: not ours
  ASSERT_EQ(LockServer(bus.get(), true), "");
  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  void* raw = nullptr;
  EXPECT_EQ(
      CoCreateInstance(CLSID_TestCounter, object.Get(), CLSCTX_LOCAL_SERVER, IID_IDispatch, &raw),
      CLASS_E_NOAGGREGATION);
  const pid_t server = ServerOf(object.Get());
  object.Reset();
  EXPECT_FALSE(WaitForExit(server, 300)) << "ended while locked";
  EXPECT_EQ(LockServer(bus.get(), false), "");
  EXPECT_TRUE(WaitForExit(server, 10000));
}

TEST_F(AutomationFixture, EmbeddingServerStaysAfterTheLastRelease) {
  RegisterClass(QuoteCommandLineArg(FServerPath) + " --automation-test-server");
  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  const pid_t server = ServerOf(object.Get());
  object.Reset();
  EXPECT_FALSE(WaitForExit(server, 300));
  ASSERT_EQ(Create(object), S_OK);
  EXPECT_EQ(ServerOf(object.Get()), server);  // the running server is used again
}

TEST_F(AutomationFixture, DeadServerFailsCallsAtOnce) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  const pid_t server = ServerOf(object.Get());
  ::kill(server, SIGKILL);
  ASSERT_TRUE(WaitForExit(server, 10000));
  // A call that waited for the dead server would end in RPC_E_TIMEOUT instead.
  std::int32_t value = 0;
  EXPECT_EQ(GetInt(object.Get(), DISPID_Count, value), RPC_E_DISCONNECTED);
  EXPECT_EQ(CallAdd(object.Get(), 1, value), RPC_E_DISCONNECTED);
  object.Reset();  // releasing a proxy of a dead server is quiet
}

TEST_F(AutomationFixture, HungServerTimesOut) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(Create(object), S_OK);
  const pid_t server = ServerOf(object.Get());
  ASSERT_EQ(::kill(server, SIGSTOP), 0);
  SetCallTimeout(300);
  std::int32_t value = 0;
  EXPECT_EQ(GetInt(object.Get(), DISPID_Count, value), RPC_E_TIMEOUT);
  // Later calls fail at once or time out again; they never hang.
  EXPECT_NE(GetInt(object.Get(), DISPID_Count, value), S_OK);
  ::kill(server, SIGKILL);
  ::kill(server, SIGCONT);
}

struct ActivationFailure {
  const char* what;
  const char* commandLine;  // nullptr: no LocalServer32 entry
  HRESULT hr;
};

TEST_F(AutomationFixture, ServersThatDoNotComeUpFailActivationInTime) {
  const std::vector<ActivationFailure> cases = {
      {"no LocalServer32", nullptr, REGDB_E_CLASSNOTREG},
      {"missing program", "/nonexistent/server /Automation", CO_E_SERVER_EXEC_FAILURE},
      {"relative path", "bin/server /Automation", CO_E_SERVER_EXEC_FAILURE},
      {"unterminated quote", "\"/bin/true /Automation", CO_E_SERVER_EXEC_FAILURE},
      {"empty", "", CO_E_SERVER_EXEC_FAILURE},
      {"ends at once", "/bin/true", CO_E_SERVER_EXEC_FAILURE},
      {"never registers", "/bin/sleep 10", CO_E_SERVER_EXEC_FAILURE},
  };
  SetActivationTimeout(500);
  for (const ActivationFailure& c : cases) {
    RegistryFile(RegistryFile::DefaultPath()).DeleteKey(HKEY_CLASSES_ROOT, kClassKey);
    if (c.commandLine) RegisterClass(c.commandLine);
    const Clock::time_point start = Clock::now();
    ComPtr<IDispatch> object;
    EXPECT_EQ(Create(object), c.hr) << c.what;
    EXPECT_FALSE(object) << c.what;
    // The 500 ms timeout, not the 10 s the program would take to end.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8)) << c.what;
  }
}

}  // namespace
}  // namespace veskmath::win
