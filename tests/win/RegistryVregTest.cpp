// Runs the built vreg program against a scratch registry file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ParamName.h"
#include "RegistryTestUtil.h"

using registry_test::ReadFile;
using registry_test::ScratchDir;
using registry_test::WriteFile;

namespace {

#ifndef VESKMATH_VREG_PATH
#error "the build passes the path of the vreg program (tools/vreg/CMakeLists.txt)"
#endif

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result Vreg(const ScratchDir& dir, const std::string& registry,
            const std::vector<std::string>& args) {
  veskmath::test_support::TChildOptions options;
  options.Env = {"VESKMATH_REGISTRY=" + registry};
  options.Argv0 = "vreg";
  const veskmath::test_support::TChildResult r =
      veskmath::test_support::RunChild(VESKMATH_VREG_PATH, args, dir.Path(), "vreg", "", options);
  return {r.Status, r.Out, r.Err};
}

class VregTool : public testing::Test {
 protected:
  Result Run(const std::vector<std::string>& args) { return Vreg(dir, registry, args); }

  ScratchDir dir;
  std::string registry = dir / "registry.reg";
};

constexpr const char* kDone = "The operation completed successfully.\n";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

TEST_F(VregTool, AddsAndQueriesKeysAndValues) {
  const std::vector<std::vector<std::string>> adds = {
      {"add", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01", "/v", "Name", "/d", "数式計算"},
      {"ADD", "hklm\\software\\orbanel\\vesk\\01", "-V", "Flag", "/t", "reg_dword", "/d", "0x10"},
      {"add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01", "/ve", "/d", "C:\\dir \"q\"",
       "/f"},
      {"add", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01\\Sub\\"},
      {"add", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01", "/v", "Max", "/t", "REG_DWORD", "/d",
       "4294967295"},
  };
  for (const auto& args : adds) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << args[1] << ": " << r.err;
    EXPECT_EQ(r.out, kDone);
  }
  Result r = Run({"query", "HKLM\\software\\orbanel\\vesk\\01"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01\n"
            "    Name    REG_SZ    数式計算\n"
            "    Flag    REG_DWORD    0x10\n"
            "    (Default)    REG_SZ    C:\\dir \"q\"\n"
            "    Max    REG_DWORD    0xffffffff\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01\\Sub\n"
            "\n");
  EXPECT_EQ(r.err, "");
  r = Run({"query", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01", "/v", "name"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01\n"
            "    Name    REG_SZ    数式計算\n\n");
  EXPECT_NE(ReadFile(registry).find("@=\"C:\\\\dir \\\"q\\\"\"\n"), std::string::npos);

  // Replacing a value changes its data and kind.
  EXPECT_EQ(
      Run({"add", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01", "/v", "NAME", "/t", "REG_DWORD", "/d", "7"})
          .status,
      0);
  EXPECT_EQ(Run({"query", "HKLM\\SOFTWARE\\Orbanel\\Vesk\\01", "/v", "Name"}).out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01\n"
            "    Name    REG_DWORD    0x7\n\n");
}

TEST_F(VregTool, DeletesValuesAndWholeKeys) {
  ASSERT_EQ(Run({"add", "HKCR\\CLSID\\{X}\\LocalServer32", "/ve", "/d", "x"}).status, 0);
  ASSERT_EQ(Run({"add", "HKCR\\CLSID\\{X}\\ProgID", "/v", "A", "/d", "y"}).status, 0);
  Result r = Run({"delete", "HKCR\\CLSID\\{X}\\ProgID", "/v", "a"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kDone);
  EXPECT_EQ(Run({"query", "HKCR\\CLSID\\{X}\\ProgID", "/v", "A"}).status, 1);
  EXPECT_EQ(Run({"delete", "HKCR\\clsid\\{x}", "/f"}).status, 0);
  r = Run({"query", "HKCR\\CLSID\\{X}\\LocalServer32"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kNotFound);
  EXPECT_EQ(Run({"query", "HKCR\\CLSID"}).out, "\nHKEY_CLASSES_ROOT\\CLSID\n\n");
}

struct ExitCase {
  std::vector<std::string> args;
  int status;
  const char* err;  // the start of standard error
};

// Names the case in test listings: its arguments, with only letters and digits kept.
void PrintTo(const ExitCase& c, std::ostream* os) {
  std::string name;
  for (const std::string& arg : c.args)
    for (char ch : arg + " ") name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  *os << name;
}

class VregExit : public testing::TestWithParam<ExitCase> {};

TEST_P(VregExit, AnswersWithItsStatus) {
  ScratchDir dir;
  const std::string registry = dir / "registry.reg";
  ASSERT_EQ(Vreg(dir, registry, {"add", "HKLM\\SOFTWARE", "/v", "Here", "/d", "x"}).status, 0);
  const ExitCase& c = GetParam();
  const Result r = Vreg(dir, registry, c.args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.err.substr(0, std::string(c.err).size()), c.err);
  if (c.status != 0) {
    EXPECT_EQ(r.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VregExit,
    testing::Values(
        ExitCase{{"query", "HKLM\\SOFTWARE"}, 0, ""},
        ExitCase{{"query", "HKLM\\Missing"}, 1, kNotFound},
        ExitCase{{"query", "HKLM\\SOFTWARE", "/v", "Missing"}, 1, kNotFound},
        ExitCase{{"delete", "HKLM\\Missing"}, 1, kNotFound},
        ExitCase{{"delete", "HKLM\\SOFTWARE", "/v", "Missing", "/f"}, 1, kNotFound},
        ExitCase{{}, 2, "ERROR: No operation given."},
        ExitCase{{"query"}, 2, "ERROR: No KEY given."},
        ExitCase{{"frob", "HKLM"}, 2, "ERROR: Unknown operation 'frob'."},
        ExitCase{{"query", "HKCU\\X"}, 2, "ERROR: Invalid key name 'HKCU\\X'"},
        ExitCase{{"query", "HKLM\\A\\\\B"}, 2, "ERROR: Invalid key name"},
        ExitCase{{"query", "HKLM\\A", "HKLM\\B"}, 2, "ERROR: Unexpected argument 'HKLM\\B'."},
        ExitCase{{"query", "HKLM\\A", "/d", "x"}, 2, "ERROR: Invalid switch '/d' for query."},
        ExitCase{{"add", "HKLM\\A", "/v"}, 2, "ERROR: Switch /v needs a value."},
        ExitCase{{"add", "HKLM\\A", "/v", "a", "/ve"}, 2, "ERROR: Switch /ve is given twice."},
        ExitCase{{"add", "HKLM\\A", "/t", "REG_BINARY"}, 2, "ERROR: Unsupported type"},
        ExitCase{{"add", "HKLM\\A", "/t", "REG_DWORD", "/d", "4294967296"},
                 2,
                 "ERROR: Invalid REG_DWORD data '4294967296'."},
        ExitCase{{"add", "HKLM\\A", "/t", "REG_DWORD", "/d", "-1"}, 2, "ERROR: Invalid REG_DWORD"},
        ExitCase{{"add", "HKLM\\A", "/v", "N", "/d", "a\nb"}, 2, "ERROR: The registry cannot"},
        ExitCase{{"delete", "HKLM"}, 2, "ERROR: A root key cannot be deleted."},
        ExitCase{{"query", "--version"}, 0, ""}, ExitCase{{"--help"}, 0, ""}),
    veskmath::tests::ReadableParamName());

TEST_F(VregTool, PrintsVersionAndHelp) {
  Result r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("vreg (VeskMath) ", 0), 0u) << r.out;
  r = Run({"/?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("vreg query  KEY [/v NAME | /ve]"), std::string::npos);
  EXPECT_NE(r.out.find("VESKMATH_REGISTRY"), std::string::npos);
}

TEST_F(VregTool, ReportsAFileItCannotUseAndLeavesItAlone) {
  const std::string bad = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\nx\n";
  WriteFile(registry, bad);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"query", "HKLM\\A"},
        std::vector<std::string>{"add", "HKLM\\A", "/v", "N", "/d", "1"},
        std::vector<std::string>{"delete", "HKLM\\A"}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 3) << args[0];
    EXPECT_EQ(r.err,
              "ERROR: Malformed registry file '" + registry + "' at line 4: unexpected text 'x'\n");
  }
  EXPECT_EQ(ReadFile(registry), bad);

  ASSERT_EQ(::unlink(registry.c_str()), 0);
  ASSERT_EQ(::symlink((dir / "target.reg").c_str(), registry.c_str()), 0);
  const Result r = Run({"add", "HKLM\\A"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("is a symbolic link"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "target.reg"));
}

// A file-size limit is an ordinary write error: vreg says so (it once died of SIGXFSZ, exit
// 153), the store keeps its old text and no temporary file is left.
TEST_F(VregTool, FileSizeLimitIsAWriteErrorThatKeepsTheStore) {
  ASSERT_EQ(Run({"add", "HKLM\\SOFTWARE\\Kept", "/v", "Text", "/d", std::string(600, 'x')}).status,
            0);
  const std::string before = ReadFile(registry);
  veskmath::test_support::TChildOptions options;
  options.Env = {"VESKMATH_REGISTRY=" + registry};
  options.FileSizeLimit = 512;
  const veskmath::test_support::TChildResult r = veskmath::test_support::RunChild(
      VESKMATH_VREG_PATH, {"add", "HKLM\\SOFTWARE\\X"}, dir.Path(), "vreg", "", options);
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Err, "ERROR: Cannot write registry file '" + registry +
                       "': write: " + std::strerror(EFBIG) + "\n");
  EXPECT_EQ(ReadFile(registry), before);
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().find("registry.reg.tmp-"), std::string::npos)
        << entry.path();
  }
}

}  // namespace
