// What others on the machine cannot do: have the registry written through a link they
// planted.
#include <gtest/gtest.h>
#include <sys/stat.h>
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
