#include "platform/win/Registry.h"
#include "platform/win/TestHooks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ParamName.h"
#include "RegistryTestUtil.h"
#include "platform/win/CodePage.h"

using namespace veskmath::win;
using registry_test::InChild;
using registry_test::ReadFile;
using registry_test::ScratchDir;
using registry_test::WriteFile;

namespace {

constexpr const char* kHostKey = "SOFTWARE\\Orbanel\\Vesk";

class TRegistryTest : public testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir / "registry.reg";
  TRegistry reg{path};
};

TEST_F(TRegistryTest, WritesAHostEntryAsTheInstallDialogDoes) {
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.OpenKey(kHostKey, false));  // no host: nothing is created
  EXPECT_FALSE(reg.KeyExists(kHostKey));
  ASSERT_TRUE(reg.OpenKey(kHostKey, true));
  EXPECT_EQ(RegistryCurrentPath(reg), kHostKey);
  ASSERT_TRUE(reg.OpenKey("01", true));  // relative to the open key
  EXPECT_EQ(RegistryCurrentPath(reg), "SOFTWARE\\Orbanel\\Vesk\\01");
  reg.WriteString("Name", "calc");
  reg.WriteString("ID", "VeskMath.FuVeskMath");
  reg.WriteInteger("ExecWithoutCompstr", 1);
  reg.CloseKey();
  EXPECT_EQ(RegistryCurrentPath(reg), "");

  TRegistry reader(path);
  reader.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reader.OpenKeyReadOnly("\\software\\orbanel\\vesk\\01"));
  EXPECT_EQ(reader.ReadString("id"), "VeskMath.FuVeskMath");
  EXPECT_NE(ReadFile(path).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01]\n"
                                "\"Name\"=\"calc\"\n"
                                "\"ID\"=\"VeskMath.FuVeskMath\"\n"
                                "\"ExecWithoutCompstr\"=dword:00000001\n"),
            std::string::npos);
}

TEST_F(TRegistryTest, StoresSystemTextsAsUtf8) {
  // Shift-JIS: "数式計算" and "ソ", whose trail byte 0x5C is also the key separator.
  const std::string name = "\x90\x94\x8E\xAE\x8C\x76\x8E\x5A";
  const std::string so = "\x83\x5C";
  ASSERT_TRUE(veskmath::win::SetAnsiCodePage("CP932"));  // the default, unless set otherwise
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("Vesk\\" + so + "\\01", true));
  EXPECT_EQ(RegistryCurrentPath(reg), "Vesk\\" + so + "\\01");
  reg.WriteString(name, name);
  EXPECT_NE(ReadFile(path).find("[HKEY_LOCAL_MACHINE\\Vesk\\ソ\\01]\n\"数式計算\"=\"数式計算\"\n"),
            std::string::npos)
      << ReadFile(path);
  TRegistry other(path);
  other.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(other.OpenKey("Vesk", false));
  EXPECT_TRUE(other.KeyExists(so));
  ASSERT_TRUE(other.OpenKey(so + "\\01", false));
  EXPECT_EQ(other.ReadString(name), name);
}

TEST_F(TRegistryTest, ResolvesAbsoluteAndRelativeKeys) {
  reg.SetRootKey(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.CreateKey("CLSID\\{X}\\LocalServer32"));
  ASSERT_TRUE(reg.OpenKey("\\CLSID", false));
  EXPECT_TRUE(reg.KeyExists("{X}\\LocalServer32"));  // relative to CLSID
  EXPECT_FALSE(reg.KeyExists("CLSID\\{X}"));         // would be CLSID\CLSID\{X}
  EXPECT_TRUE(reg.KeyExists("\\CLSID\\{X}"));        // absolute
  ASSERT_TRUE(reg.OpenKey("", false));               // the open key itself
  EXPECT_EQ(RegistryCurrentPath(reg), "CLSID");
  // Changing the root closes the key.
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegistryCurrentPath(reg), "");
  EXPECT_FALSE(reg.KeyExists("CLSID"));
  EXPECT_THROW(reg.SetRootKey(static_cast<HKEY>(0x80000001u)), ERegistryException);
}

TEST_F(TRegistryTest, DeleteKeyRemovesItsSubkeys) {
  reg.SetRootKey(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.OpenKey("VeskMath.FuVeskMath\\CLSID", true));
  reg.WriteString("", "{X}");
  EXPECT_EQ(reg.ReadString(""), "{X}");
  reg.CloseKey();
  EXPECT_TRUE(reg.DeleteKey("VeskMath.FuVeskMath"));
  EXPECT_FALSE(reg.KeyExists("VeskMath.FuVeskMath\\CLSID"));
  EXPECT_FALSE(reg.DeleteKey("VeskMath.FuVeskMath"));
}

struct FailureCase {
  const char* name;
  std::function<void(TRegistry&)> action;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class TRegistryFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(TRegistryFailure, RaisesTheLibraryMessage) {
  ScratchDir dir;
  TRegistry reg(dir / "registry.reg");
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteString("Text", "t");
  reg.WriteInteger("Num", -5);
  try {
    GetParam().action(reg);
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TRegistryFailure,
    testing::Values(FailureCase{"TextFromInteger", [](TRegistry& r) { r.ReadString("Num"); },
                                "Invalid data type for 'Num'"},
                    FailureCase{"WriteWithoutKey",
                                [](TRegistry& r) {
                                  r.CloseKey();
                                  r.WriteString("ID", "x");
                                },
                                "Failed to set data for 'ID'"},
                    FailureCase{"WriteReadOnly",
                                [](TRegistry& r) {
                                  r.OpenKeyReadOnly("\\K");
                                  r.WriteInteger("ID", 1);
                                },
                                "Failed to set data for 'ID'"},
                    FailureCase{"WriteLineBreak", [](TRegistry& r) { r.WriteString("ID", "a\nb"); },
                                "Failed to set data for 'ID': The registry cannot store this text: "
                                "it holds a line break, a NUL or invalid UTF-8"},
                    FailureCase{"WriteDeletedKey",
                                [](TRegistry& r) {
                                  TRegistry other(r.FileName());
                                  other.SetRootKey(HKEY_LOCAL_MACHINE);
                                  other.DeleteKey("K");
                                  r.WriteString("ID", "x");
                                },
                                "Failed to set data for 'ID'"},
                    FailureCase{"CreateEmptyName", [](TRegistry& r) { r.CreateKey("A\\\\B"); },
                                "Failed to create key A\\\\B"}),
    veskmath::tests::ReadableParamName());

TEST_F(TRegistryTest, MissingTextReadsEmptyAndNoOpenKeyReadsNothing) {
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("K", true));
  EXPECT_EQ(reg.ReadString("None"), "");
  reg.CloseKey();
  EXPECT_EQ(reg.ReadString("None"), "");
}

TEST_F(TRegistryTest, MalformedFileRaisesItsOwnExplanation) {
  WriteFile(path, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A\n");
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  for (const auto& action : std::vector<std::function<void()>>{
           [&] { reg.KeyExists("A"); }, [&] { reg.OpenKey("A", false); },
           [&] { reg.OpenKey("B", true); }, [&] { reg.DeleteKey("A"); }}) {
    try {
      action();
      ADD_FAILURE() << "a malformed file was used";
    } catch (const ERegistryFileError& e) {
      EXPECT_EQ(e.Message(), "Malformed registry file '" + path +
                                 "' at line 3: a [key] line without its closing ']'");
    }
  }
  EXPECT_EQ(ReadFile(path), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A\n");
}

// Without the right to write, OpenKey(..., true) answers false: the install dialog's cue for
// "PowerUser" rights. Reading goes on.
TEST_F(TRegistryTest, UnwritableFileRefusesOpeningForWriting) {
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Orbanel\\Vesk\\01", true));
  reg.WriteString("ID", "Other");
  reg.CloseKey();
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  const std::string before = ReadFile(path);
  const std::string report = InChild(
      [&]() -> std::string {
        TRegistry r(path);
        r.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!r.OpenKey(kHostKey, false)) return "cannot open the host key for reading";
        if (!r.OpenKey("01", false) || r.ReadString("ID") != "Other") return "cannot read";
        if (r.OpenKey("\\SOFTWARE\\Orbanel\\Vesk\\02", true)) return "created a key";
        if (r.OpenKey("\\SOFTWARE\\Orbanel\\Vesk\\01", true)) return "opened for writing";
        if (RegistryCurrentPath(r) != "SOFTWARE\\Orbanel\\Vesk\\01") return "lost the open key";
        try {
          r.WriteString("ID", "Mine");
          return "wrote a value";
        } catch (const ERegistryException& e) {
          // The library's message, then the file's explanation.
          const std::string why =
              "Cannot write registry file '" + path + "': " + std::strerror(EACCES);
          if (e.Message() != "Failed to set data for 'ID': " + why)
            return "message: " + e.Message();
        }
        try {
          r.CreateKey("X");
          return "CreateKey succeeded";
        } catch (const ERegistryException& e) {
          if (e.Message().rfind("Failed to create key X: Cannot write registry file '", 0) != 0) {
            return "message: " + e.Message();
          }
        }
        if (r.DeleteKey("\\SOFTWARE")) return "deleted a key";
        return "";
      },
      /*dropRights=*/true);
  EXPECT_EQ(report, "");
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
