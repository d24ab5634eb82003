// What others on the machine cannot do through the automation runtime: have shell syntax in a
// registered command line run, slip their own socket in where a class's socket belongs, or
// widen the modes of the runtime directory and socket through a loose umask, or have the
// registry written through a link they planted.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/win/Automation.h"
#include "platform/win/RegistryFile.h"
#include "platform/win/TestHooks.h"

namespace veskmath::win {
namespace {

// A class of this test alone; nothing serves it unless a test does.
constexpr CLSID kClsid = {
    0x5d1c7a20, 0x41e3, 0x4c0b, {0x9a, 0x55, 0x13, 0x2e, 0x7f, 0x60, 0x0d, 0x3b}};

class Security : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-security-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FDir = pattern;
    FRuntime = FDir + "/run";
    ASSERT_EQ(::mkdir(FRuntime.c_str(), 0700), 0);
    Save("VESKMATH_REGISTRY", FDir + "/registry.reg");
    Save("XDG_RUNTIME_DIR", FRuntime);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    FActivation = GetActivationTimeout();
    SetActivationTimeout(2000);
  }
  void TearDown() override {
    CoUninitialize();
    SetActivationTimeout(FActivation);
    for (auto& [name, value] : FSaved) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::filesystem::remove_all(FDir);
  }

  void Register(const std::string& commandLine) {
    RegistryFile file(RegistryFile::DefaultPath());
    const std::string key = "CLSID\\" + GUIDToString(kClsid) + "\\LocalServer32";
    file.CreateKey(HKEY_CLASSES_ROOT, key);
    file.SetValue(HKEY_CLASSES_ROOT, key, "", RegValue::String(commandLine));
  }
  static HRESULT Create() {
    ComPtr<IDispatch> object;
    return CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
  }
  void Save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::string FDir;
  std::string FRuntime;
  DWORD FActivation = 0;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(Security, ShellSyntaxInTheCommandLineIsNeverRun) {
  const std::string mark = FDir + "/ran";
  const std::vector<std::string> lines = {
      "/bin/true; touch " + mark,
      "/bin/true ; touch " + mark,
      "/bin/true && touch " + mark,
      "/bin/true | touch " + mark,
      "/bin/true `touch " + mark + "`",
      "/bin/true $(touch " + mark + ")",
      "\"/bin/true $(touch " + mark + ")\"",
      "/bin/true\ttouch " + mark,
  };
  for (const std::string& line : lines) {
    Register(line);
    EXPECT_EQ(Create(), CO_E_SERVER_EXEC_FAILURE) << line;
    EXPECT_FALSE(std::filesystem::exists(mark)) << "a shell ran: " << line;
  }
}

// Binds a listening socket at `path`; answers its descriptor.
int Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_F(Security, AnotherUsersSocketIsNeitherUsedNorReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a socket away";
  Register("/bin/true");
  const std::string path = ClassSocketPath(kClsid);
  const int planted = Listen(path);
  ASSERT_GE(planted, 0);
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Create(), E_ACCESSDENIED);  // not connected to

  ComPtr<IClassFactory> factory =
      MakeClassFactory([](IUnknown*, REFIID, void**) { return E_NOTIMPL; }, [](bool) {});
  DWORD cookie = 0;
  EXPECT_EQ(CoRegisterClassObject(kClsid, factory.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            E_ACCESSDENIED);
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);  // still there, still the other user's
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_uid, 65534u);
  ::close(planted);
}

TEST_F(Security, LooseUmaskLeavesTheRuntimeDirectoryAndSocketPrivate) {
  std::filesystem::remove_all(FRuntime + "/veskmath");
  const mode_t old = ::umask(0);
  ComPtr<IClassFactory> factory =
      MakeClassFactory([](IUnknown*, REFIID, void**) { return E_NOTIMPL; }, [](bool) {});
  DWORD cookie = 0;
  const HRESULT hr = CoRegisterClassObject(kClsid, factory.Get(), CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie);
  ::umask(old);
  ASSERT_EQ(hr, S_OK);
  struct stat st {};
  ASSERT_EQ(::lstat(ClassSocketPath(kClsid).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::lstat((FRuntime + "/veskmath").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

// A link that someone else left at the registry file's name or at its lock file's name is not
// written through: the change fails, the link's target stays as it was or is never made.
TEST_F(Security, RegistryIsNotWrittenThroughAPlantedLink) {
  const std::string registry = FDir + "/registry.reg";
  const std::string victim = FDir + "/victim";
  for (const std::string& at : {registry, registry + ".lock"}) {
    for (const bool dangling : {false, true}) {
      std::filesystem::remove(victim);
      if (!dangling) {
        std::ofstream(victim) << "keep";
      }
      ASSERT_EQ(::symlink(victim.c_str(), at.c_str()), 0);
      if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(at.c_str(), 65534, 65534), 0);
      }
      RegistryFile file(registry);
      EXPECT_THROW(file.CreateKey(HKEY_CLASSES_ROOT, "Planted"), ERegistryFileError) << at;
      if (dangling) {
        EXPECT_FALSE(std::filesystem::exists(victim)) << at;
      } else {
        std::ifstream in(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep") << at;
      }
      ASSERT_EQ(::unlink(at.c_str()), 0);
    }
  }
}

}  // namespace
}  // namespace veskmath::win
