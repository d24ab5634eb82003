#include "platform/win/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace veskmath::win {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (FOld) {
      ::setenv(FName, FOld->c_str(), 1);
    } else {
      ::unsetenv(FName);
    }
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FSandbox = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FSandbox, ignored);
  }
  std::string Path(const char* name) const { return FSandbox + "/" + name; }

  // The message of the refusal, or "" when the directory is accepted.
  static std::string Refusal(const std::string& path, DWORD* code = nullptr) {
    try {
      EnsurePrivateDirectory(path);
      return "";
    } catch (const EOSError& e) {
      if (code) *code = e.ErrorCode();
      return e.Message();
    }
  }
  static unsigned ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  std::string FSandbox;
};

TEST_F(Files, TmpdirIsTakenAsGivenWithASlash) {
  {
    const ScopedEnv env("TMPDIR", "/var/tmp/mine");
    EXPECT_EQ(TempPath(), "/var/tmp/mine/");
  }
  {
    const ScopedEnv env("TMPDIR", "/var/tmp/mine/");
    EXPECT_EQ(TempPath(), "/var/tmp/mine/");
  }
}

TEST_F(Files, WithoutTmpdirAPrivateDirectoryOfTheUser) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    const ScopedEnv env("TMPDIR", value);
    const std::string path = TempPath();
    EXPECT_EQ(path, "/tmp/veskmath-" + std::to_string(::geteuid()) + "/");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
}

TEST_F(Files, PrivateDirectoryIsCreatedWithMode0700WhateverTheUmask) {
  for (const mode_t mask : {mode_t{0}, mode_t{0277}}) {
    const mode_t old = ::umask(mask);
    const std::string dir = Path(mask == 0 ? "open-umask" : "odd-umask");
    const std::string got = EnsurePrivateDirectory(dir);
    ::umask(old);
    EXPECT_EQ(got, dir + "/");
    EXPECT_EQ(ModeOf(dir), 0700u);
    EXPECT_EQ(Refusal(dir + "/"), "");  // and accepted as it is on the next call
  }
}

TEST_F(Files, RefusesDirectoriesOthersCouldReachOrReplace) {
  const std::string good = Path("good");
  ASSERT_EQ(::mkdir(good.c_str(), 0700), 0);

  const std::string link = Path("link");
  ASSERT_EQ(::symlink(good.c_str(), link.c_str()), 0);
  DWORD code = 0;
  EXPECT_EQ(Refusal(link, &code), "Directory \"" + link + "\" refused: it is a symbolic link");
  EXPECT_EQ(code, ERROR_ACCESS_DENIED);

  const std::string file = Path("file");
  std::ofstream(file) << "x";
  EXPECT_EQ(Refusal(file), "Directory \"" + file + "\" refused: it is not a directory");

  const std::string open = Path("open");
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
  EXPECT_EQ(Refusal(open),
            "Directory \"" + open + "\" refused: other users have access to it (mode 0755)");
  EXPECT_EQ(ModeOf(open), 0755u);  // left as it was

  const std::string missingParent = Path("no/such");
  EXPECT_NE(Refusal(missingParent, &code).find("cannot create it"), std::string::npos);
  EXPECT_EQ(code, ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, RefusesADirectoryOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
  const std::string foreign = Path("foreign");
  ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Refusal(foreign), "Directory \"" + foreign + "\" refused: it belongs to another user");
}

// Someone else made our name in the shared directory first: the refusal says which path is
// in the way and what to do.
TEST_F(Files, ForeignPrivateDirectoryIsNamed) {
  const std::string usual = Path("veskmath-") + std::to_string(::geteuid());
  // A link is what any user can plant; root can also hand a real directory to another user.
  ASSERT_EQ(::symlink("/", usual.c_str()), 0);
  try {
    PrivateUserDirectory(FSandbox);
    ADD_FAILURE() << "a directory was accepted";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Message(), "Directory \"" + usual + "\" refused: it is a symbolic link. Remove \"" +
                               usual +
                               "\" (or have its owner remove it), or set TMPDIR to a directory "
                               "of your own");
  }
}

TEST_F(Files, ModuleFileName) {
  const std::string path = ModuleFileName();
  EXPECT_EQ(fs::path(path).filename(), "win_tests");
  EXPECT_TRUE(fs::path(path).is_absolute());
}

}  // namespace
}  // namespace veskmath::win
