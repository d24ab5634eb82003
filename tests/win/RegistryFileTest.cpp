#include "platform/win/Files.h"
#include "platform/win/RegistryFile.h"
#include "platform/win/TestHooks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ParamName.h"
#include "RegistryTestUtil.h"

using namespace veskmath::win;
using registry_test::InChild;
using registry_test::ReadFile;
using registry_test::ScratchDir;
using registry_test::WriteFile;

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

std::string Expect(const std::string& what, const std::string& got, const std::string& want) {
  return got == want ? "" : what + ": got '" + got + "', want '" + want + "'";
}

// ---- the text form ------------------------------------------------------------------

TEST(RegistryFileText, RoundTripKeepsEveryValueAndItsEscaping) {
  RegistryFile file("");  // unused: the text functions need no file
  RegTree tree;
  auto& vesk = *(tree.localMachine.subkeys["software"] =
                     std::make_unique<RegKeyNode>(RegKeyNode{"SOFTWARE", {}, {}}));
  vesk.values = {{"", RegValue::String("default")},
                 {"Path", RegValue::String(R"(C:\Program Files\a "b" \\x\)")},
                 {"Quote\"Name\\", RegValue::String("")},
                 {"Name", RegValue::String("数式計算")},
                 {"Zero", RegValue::DWord(0)},
                 {"Max", RegValue::DWord(0xFFFFFFFFu)}};
  tree.classesRoot.values = {{"", RegValue::String("root default")}};
  const std::string text = FormatRegistryText(tree);
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CLASSES_ROOT]\n@=\"root default\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "@=\"default\"\n"
            "\"Path\"=\"C:\\\\Program Files\\\\a \\\"b\\\" \\\\\\\\x\\\\\"\n"
            "\"Quote\\\"Name\\\\\"=\"\"\n"
            "\"Name\"=\"数式計算\"\n"
            "\"Zero\"=dword:00000000\n"
            "\"Max\"=dword:ffffffff\n\n");
  const RegTree back = ParseRegistryText(text, "t.reg");
  const RegKeyNode* key = back.localMachine.FindSubkey("software");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->name, "SOFTWARE");
  EXPECT_EQ(key->values, vesk.values);
  EXPECT_EQ(back.classesRoot.values, tree.classesRoot.values);
  EXPECT_EQ(FormatRegistryText(back), text);
}

TEST(RegistryFileText, ReadsHandWrittenVariants) {
  // Byte-order mark, CR LF, comments, blanks, a repeated key and value, short dword digits.
  const RegTree tree = ParseRegistryText(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "; a comment\r\n"
      "\r\n"
      "  [hkey_local_machine\\Soft\\Sub]  \r\n"
      "\"n\"=dword:A\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFT\\sub]\r\n"
      "\"N\"=dword:1F\r\n"
      "\"s\"=\"x]y\"",
      "t.reg");
  const RegKeyNode* soft = tree.localMachine.FindSubkey("SOFT");
  ASSERT_NE(soft, nullptr);
  EXPECT_EQ(soft->name, "Soft");
  const RegKeyNode* sub = soft->FindSubkey("SUB");
  ASSERT_NE(sub, nullptr);
  ASSERT_EQ(sub->values.size(), 2u);
  EXPECT_EQ(sub->values[0].first, "n");  // the later line wins, the first spelling stays
  EXPECT_EQ(sub->values[0].second, RegValue::DWord(0x1F));
  EXPECT_EQ(sub->values[1].second, RegValue::String("x]y"));
  EXPECT_TRUE(ParseRegistryText("", "t.reg").localMachine.subkeys.empty());
}

struct MalformedCase {
  const char* body;  // follows the header line
  int line;
  const char* fault;
};

// Names the case in test listings by its fault, with only letters and digits kept.
void PrintTo(const MalformedCase& c, std::ostream* os) {
  std::string name;
  for (const char* p = c.fault; *p && name.size() < 40; ++p)
    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  *os << name;
}

class RegistryFileMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(RegistryFileMalformed, NamesFileLineAndFault) {
  const MalformedCase& c = GetParam();
  try {
    ParseRegistryText(std::string(kHeader) + "\n" + c.body, "/x/r.reg");
    FAIL() << "accepted: " << c.body;
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(), "Malformed registry file '/x/r.reg' at line " + std::to_string(c.line) +
                               ": " + c.fault);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RegistryFileMalformed,
    testing::Values(
        MalformedCase{"[HKEY_LOCAL_MACHINE\\A]\n\"Name\"=\"cut off", 4,
                      "a text without its closing '\"'"},
        MalformedCase{"[HKEY_LOCAL_MACHINE\\SOFTW", 3, "a [key] line without its closing ']'"},
        MalformedCase{"[HKEY_LOCAL_MACHINE\\A]\n\"P\"=\"C:\\dir\"", 4, "an invalid escape '\\d'"},
        MalformedCase{"[HKEY_CURRENT_USER\\A]", 3, "unknown root key 'HKEY_CURRENT_USER'"},
        MalformedCase{"[HKEY_LOCAL_MACHINE\\A\\\\B]", 3,
                      "an empty key name in 'HKEY_LOCAL_MACHINE\\A\\\\B'"},
        MalformedCase{"[-HKEY_LOCAL_MACHINE\\A]", 3, "key deletion lines '[-...]' are not kept"},
        MalformedCase{"\"N\"=\"v\"", 3, "a value stands before the first [key] line"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=hex:01,02", 4,
                      "the value type 'hex' is not kept (only strings and dword values)"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=dword:123456789", 4,
                      "a dword value with more than 8 digits"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=dword:12g", 4,
                      "a dword value with a non-hexadecimal digit '12g'"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=-", 4,
                      "value deletion lines ('=-') are not kept"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=\"v\" x", 4,
                      "unexpected text after the closing '\"'"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\" \"v\"", 4,
                      "expected '=' after the value name"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\"N\"=", 4, "a value without data"},
        MalformedCase{"[HKEY_CLASSES_ROOT\\A]\n\n\"N\"=\"\xE6\x95\"", 5,
                      "the text is not valid UTF-8"},
        MalformedCase{"garbage", 3, "unexpected text 'garbage'"}),
    veskmath::tests::ReadableParamName());

// Deep keys in their own sections only: their parents get none unless the file gave them one
// (2,000 keys 511 levels deep once took 785 MB to write back), so the text written back is no
// larger than the text read. Beyond the entry limit a store is refused, not built.
TEST(RegistryFileText, DeepOrNumerousKeysStayInProportionToTheText) {
  std::string text = std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\Listed]\n\n";
  std::string deep;
  for (int level = 0; level < 400; ++level) deep += "\\d";
  for (int key = 0; key < 150; ++key) {
    text += veskmath::rtl::Format("[HKEY_LOCAL_MACHINE\\Listed\\k%03d", key) + deep + "]\n\n";
  }
  const std::string formatted = FormatRegistryText(ParseRegistryText(text, "t.reg"));
  EXPECT_EQ(formatted, text);

  std::string many = std::string(kHeader) + "\n[HKEY_CLASSES_ROOT\\A]\n";
  for (std::size_t n = 0; n < kMaxEntries; ++n) many += "\"v" + std::to_string(n) + "\"=\"\"\n";
  try {
    ParseRegistryText(many, "t.reg");
    ADD_FAILURE() << "more than " << kMaxEntries << " entries were read";
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(),
              veskmath::rtl::Format("Malformed registry file 't.reg' at line %zu: more than %zu "
                                    "keys and values (a store of this program holds a few "
                                    "dozen)",
                                    kMaxEntries + 3, kMaxEntries));
  }
}

TEST(RegistryFileText, RejectsAMissingHeader) {
  EXPECT_THROW(ParseRegistryText("[HKEY_CLASSES_ROOT\\A]\n", "r.reg"), ERegistryFileError);
  EXPECT_THROW(ParseRegistryText("REGEDIT4\n", "r.reg"), ERegistryFileError);
}

// ---- the tree operations, through a file -------------------------------------------

class RegistryFileStore : public testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir / "registry.reg";
  RegistryFile file{path};
};

TEST_F(RegistryFileStore, KeysCompareWithoutCaseAndKeepTheirSpelling) {
  EXPECT_FALSE(file.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE"));
  file.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk");
  file.CreateKey(HKEY_LOCAL_MACHINE, "software\\ORBANEL\\vesk\\01");
  EXPECT_TRUE(file.KeyExists(HKEY_LOCAL_MACHINE, "\\software\\orbanel\\VESK\\01\\"));
  EXPECT_FALSE(file.KeyExists(HKEY_CLASSES_ROOT, "SOFTWARE"));
  EXPECT_EQ(*file.CanonicalPath(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORBANEL\\vesk\\01"),
            (std::vector<std::string>{"SOFTWARE", "Orbanel", "Vesk", "01"}));

  ASSERT_TRUE(file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel", "ID", RegValue::String("a")));
  ASSERT_TRUE(file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel", "id", RegValue::DWord(7)));
  const auto values = file.Values(HKEY_LOCAL_MACHINE, "software\\orbanel");
  ASSERT_EQ(values->size(), 1u);
  EXPECT_EQ(values->front().first, "ID");
  EXPECT_EQ(values->front().second, RegValue::DWord(7));
  EXPECT_TRUE(file.DeleteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel", "Id"));
  EXPECT_FALSE(file.DeleteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel", "Id"));
  EXPECT_FALSE(file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\None", "ID", RegValue::DWord(1)));
}

TEST_F(RegistryFileStore, SubkeysListInCaseInsensitiveOrder) {
  for (const char* name : {"b", "C", "a", "02", "10", "01"})
    file.CreateKey(HKEY_CLASSES_ROOT, std::string("K\\") + name);
  EXPECT_EQ(*file.KeyNames(HKEY_CLASSES_ROOT, "k"),
            (std::vector<std::string>{"01", "02", "10", "a", "b", "C"}));
  EXPECT_FALSE(file.KeyNames(HKEY_CLASSES_ROOT, "missing").has_value());
}

TEST_F(RegistryFileStore, DeleteKeyRemovesEverythingBelow) {
  file.CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{X}\\LocalServer32");
  file.CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{X}\\ProgID");
  file.CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{Y}");
  file.SetValue(HKEY_CLASSES_ROOT, "CLSID\\{X}\\LocalServer32", "", RegValue::String("v"));
  EXPECT_TRUE(file.DeleteKey(HKEY_CLASSES_ROOT, "clsid\\{x}"));
  EXPECT_FALSE(file.KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{X}\\LocalServer32"));
  EXPECT_FALSE(file.KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{X}"));
  EXPECT_TRUE(file.KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{Y}"));
  EXPECT_FALSE(file.DeleteKey(HKEY_CLASSES_ROOT, "CLSID\\{X}"));
  EXPECT_FALSE(file.DeleteKey(HKEY_CLASSES_ROOT, ""));  // a root stays
  EXPECT_EQ(ReadFile(path).find("{X}"), std::string::npos);
}

TEST_F(RegistryFileStore, RefusesTextsTheFileCannotHold) {
  file.CreateKey(HKEY_CLASSES_ROOT, "A");
  const std::string before = ReadFile(path);
  for (const std::string& bad :
       {std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3), std::string("\xFF")}) {
    EXPECT_THROW(file.SetValue(HKEY_CLASSES_ROOT, "A", "N", RegValue::String(bad)),
                 ERegistryException);
    EXPECT_THROW(file.SetValue(HKEY_CLASSES_ROOT, "A", bad, RegValue::DWord(1)),
                 ERegistryException);
    EXPECT_THROW(file.CreateKey(HKEY_CLASSES_ROOT, "A\\" + bad), ERegistryException);
  }
  EXPECT_THROW(file.CreateKey(HKEY_CLASSES_ROOT, "A\\\\B"), ERegistryException);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(RegistryFileStore, SeesWhatAnotherWriterStored) {
  RegistryFile other(path);
  EXPECT_FALSE(file.KeyExists(HKEY_LOCAL_MACHINE, "A"));
  other.CreateKey(HKEY_LOCAL_MACHINE, "A");
  other.SetValue(HKEY_LOCAL_MACHINE, "A", "N", RegValue::DWord(1));
  EXPECT_EQ(file.GetValue(HKEY_LOCAL_MACHINE, "A", "N"), RegValue::DWord(1));
  // A hand edit in place, same size, is seen too.
  std::string text = ReadFile(path);
  text.replace(text.find("dword:00000001"), 14, "dword:00000002");
  WriteFile(path, text);
  EXPECT_EQ(file.GetValue(HKEY_LOCAL_MACHINE, "A", "N"), RegValue::DWord(2));
  // And a file removed is an empty registry again.
  ::unlink(path.c_str());
  EXPECT_FALSE(file.KeyExists(HKEY_LOCAL_MACHINE, "A"));
}

TEST_F(RegistryFileStore, MakesOnlyTheUsualPlacesDirectoriesAndKeepsTheFileMode) {
  // A place the user named must exist: a mistyped path makes no directories.
  RegistryFile named(dir / "a/b/registry.reg");
  try {
    named.CreateKey(HKEY_CLASSES_ROOT, "K");
    ADD_FAILURE() << "a key was written under a missing directory";
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(), "Cannot write registry file '" + (dir / "a/b/registry.reg") +
                               "': directory '" + (dir / "a/b") + "' does not exist");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "a"));
  // The usual place under the configuration directory is made when missing.
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> old = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  RegistryFile(dir / "cfg/veskmath/registry.reg").CreateKey(HKEY_CLASSES_ROOT, "K");
  if (old) {
    ::setenv("XDG_CONFIG_HOME", old->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_TRUE(RegistryFile(dir / "cfg/veskmath/registry.reg").KeyExists(HKEY_CLASSES_ROOT, "k"));

  WriteFile(path + ".tmp-Ab3dE9", "left by a writer killed before its rename");
  file.CreateKey(HKEY_CLASSES_ROOT, "K");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  file.CreateKey(HKEY_CLASSES_ROOT, "K2");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // No temporary file is left behind: the directory holds the file and its lock file.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// Keys at the limits round-trip; one level or one byte beyond is refused when written and
// when read, and the file is left as it was.
TEST_F(RegistryFileStore, KeysBeyondTheDepthOrPathLimitAreRefused) {
  auto chain = [](std::size_t levels, const std::string& name) {
    std::string p = name;
    for (std::size_t i = 1; i < levels; ++i) p += "\\" + name;
    return p;
  };
  const std::string deepest = chain(kMaxKeyDepth, "k");
  const std::string longest = std::string(kMaxKeyPathLength - 2, 'n') + "\\m";
  file.CreateKey(HKEY_LOCAL_MACHINE, deepest);
  file.CreateKey(HKEY_LOCAL_MACHINE, longest);
  const std::string text = ReadFile(path);
  EXPECT_TRUE(RegistryFile(path).KeyExists(HKEY_LOCAL_MACHINE, deepest));
  EXPECT_TRUE(RegistryFile(path).KeyExists(HKEY_LOCAL_MACHINE, longest));
  const struct {
    std::string key;
    std::string fault;
  } beyond[] = {
      {deepest + "\\k", "a key 513 levels deep (at most 512)"},
      {chain(100000, "k"), "a key 100000 levels deep (at most 512)"},
      {longest + "m", "a key path of 16384 bytes (at most 16383)"},
  };
  for (const auto& c : beyond) {
    try {
      file.CreateKey(HKEY_LOCAL_MACHINE, c.key);
      ADD_FAILURE() << c.fault;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), "The registry cannot store " + c.fault);
    }
    EXPECT_EQ(ReadFile(path), text);
    WriteFile(dir / "other.reg",
              "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\" + c.key + "]\n");
    try {
      RegistryFile(dir / "other.reg").KeyExists(HKEY_CLASSES_ROOT, "x");
      ADD_FAILURE() << "read: " << c.fault;
    } catch (const ERegistryFileError& e) {
      EXPECT_EQ(e.Message(),
                "Malformed registry file '" + (dir / "other.reg") + "' at line 3: " + c.fault);
    }
  }
}

// Another process holding the lock makes a writer fail after the timeout, not wait for ever;
// the lock file is private.
TEST_F(RegistryFileStore, HeldLockFailsTheWriterInBoundedTime) {
  file.CreateKey(HKEY_CLASSES_ROOT, "K");
  struct stat st;
  ASSERT_EQ(::stat((path + ".lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const int holder = ::open((path + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  SetLockTimeout(200);
  const auto start = std::chrono::steady_clock::now();
  try {
    file.CreateKey(HKEY_CLASSES_ROOT, "K2");
    ADD_FAILURE() << "written while another process held the lock";
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(), "Cannot lock registry file '" + path + "': another process has held '" +
                               path + ".lock' for more than 200 ms; try again when it has ended");
  }
  // It waited its time out for the lock (a writer that never gave up would not be here).
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  ::close(holder);
  SetLockTimeout(kDefaultLockTimeoutMs);
  file.CreateKey(HKEY_CLASSES_ROOT, "K2");
  EXPECT_TRUE(RegistryFile(path).KeyExists(HKEY_CLASSES_ROOT, "K2"));
}

// A store or lock file others may write, or (as root can arrange) another user's, is neither
// read nor written: it could name any program as the server.
TEST_F(RegistryFileStore, ForeignOrSharedStoreIsRefused) {
  file.CreateKey(HKEY_CLASSES_ROOT, "K");
  const std::string text = ReadFile(path);
  const std::string other = ::geteuid() == 0 ? "it belongs to another user (uid 65534)" : "";
  const struct {
    std::string at;
    std::string fault;
    std::function<int(const std::string&)> plant;
  } cases[] = {
      {path, "Registry file '" + path + "' is refused: other users may write it",
       [](const std::string& p) { return ::chmod(p.c_str(), 0666); }},
      {path + ".lock",
       "Cannot lock registry file '" + path + "': '" + path + ".lock' is not a file of this user",
       [](const std::string& p) { return ::chmod(p.c_str(), 0622); }},
      {path, "Registry file '" + path + "' is refused: " + other,
       [](const std::string& p) { return ::geteuid() == 0 ? ::chown(p.c_str(), 65534, 0) : -1; }},
  };
  for (const auto& c : cases) {
    if (c.plant(c.at) != 0) continue;  // another user's file needs root to make
    try {
      RegistryFile reader(path);
      reader.CreateKey(HKEY_CLASSES_ROOT, "K2");
      ADD_FAILURE() << c.fault;
    } catch (const ERegistryFileError& e) {
      EXPECT_EQ(e.Message().substr(0, c.fault.size()), c.fault);
    }
    EXPECT_EQ(ReadFile(path), text);
    ASSERT_EQ(::chmod(c.at.c_str(), 0600), 0);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(c.at.c_str(), 0, 0), 0);
    }
  }
}

TEST_F(RegistryFileStore, ConcurrentWritersLoseNothing) {
  file.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk");
  constexpr int kWriters = 3;
  constexpr int kValues = 12;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<veskmath::test_support::TForkedChild> children;
  for (int w = 0; w < kWriters; ++w) {
    children.emplace_back([&, w] {
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes the gate: all start at once
      RegistryFile writer(path);
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
        if (!writer.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk", name,
                             RegValue::DWord(static_cast<uint32_t>(i))))
          ++failures;
      }
      return failures == 0 ? 0 : 1;
    });
    ASSERT_GT(children.back().Pid(), 0);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (auto& child : children) EXPECT_EQ(child.Wait(60), 0);
  const auto values = RegistryFile(path).Values(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk");
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(values->size(), static_cast<size_t>(kWriters * kValues));
}

TEST(RegistryFileLocation, FollowsTheEnvironment) {
  struct Case {
    const char* registry;  // nullptr: unset
    const char* xdg;
    const char* home;
    const char* want;
  };
  const Case cases[] = {
      {"/a/r.reg", "/x", "/h", "/a/r.reg"},
      {"", "/x", "/h", "/x/veskmath/registry.reg"},
      {nullptr, "/x", "/h", "/x/veskmath/registry.reg"},
      {nullptr, "relative", "/h", "/h/.config/veskmath/registry.reg"},  // XDG wants absolute
      {nullptr, nullptr, "/h", "/h/.config/veskmath/registry.reg"},
  };
  const char* names[] = {"VESKMATH_REGISTRY", "XDG_CONFIG_HOME", "HOME"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i)
    if (const char* v = std::getenv(names[i])) saved[i] = v;
  for (const Case& c : cases) {
    const char* values[] = {c.registry, c.xdg, c.home};
    for (int i = 0; i < 3; ++i) {
      if (values[i]) {
        ::setenv(names[i], values[i], 1);
      } else {
        ::unsetenv(names[i]);
      }
    }
    EXPECT_EQ(RegistryFile::DefaultPath(), c.want);
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
  EXPECT_THROW(RegistryFile("").KeyExists(HKEY_CLASSES_ROOT, "A"), ERegistryFileError);
}

// ---- files that must not be written -------------------------------------------------

TEST_F(RegistryFileStore, MalformedOrTruncatedFileIsReportedAndNeverOverwritten) {
  file.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01");
  file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01", "ID",
                RegValue::String("VeskMath.FuVeskMath"));
  const std::string whole = ReadFile(path);
  // Cut in the middle of the "ID" text, as a full disk or a careless copy would leave it.
  const std::string truncated = whole.substr(0, whole.find("Math.Fu"));
  const int badLine = 1 + static_cast<int>(std::count(truncated.begin(), truncated.end(), '\n'));
  for (const std::string& text : {truncated, std::string("not a registry\n")}) {
    WriteFile(path, text);
    RegistryFile fresh(path);
    try {
      fresh.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE");
      ADD_FAILURE() << "a malformed file was read";
    } catch (const ERegistryFileError& e) {
      const int line = text == truncated ? badLine : 1;
      EXPECT_NE(e.Message().find("Malformed registry file '" + path + "' at line " +
                                 std::to_string(line) + ":"),
                std::string::npos)
          << e.Message();
    }
    EXPECT_THROW(fresh.CreateKey(HKEY_LOCAL_MACHINE, "X"), ERegistryFileError);
    EXPECT_THROW(file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE", "N", RegValue::DWord(1)),
                 ERegistryFileError);
    EXPECT_THROW(file.DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERegistryFileError);
    EXPECT_EQ(ReadFile(path), text);
  }
}

TEST_F(RegistryFileStore, SymbolicLinkIsRefusedForReadingAndWriting) {
  const std::string target = dir / "elsewhere.reg";
  WriteFile(target, std::string(kHeader) + "\n[HKEY_CLASSES_ROOT\\A]\n");
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
  const std::string message = "Registry file '" + path +
                              "' is a symbolic link; it is refused (point VESKMATH_REGISTRY at "
                              "the file itself)";
  try {
    file.KeyExists(HKEY_CLASSES_ROOT, "A");
    ADD_FAILURE() << "read through a symbolic link";
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(), message);
  }
  try {
    file.CreateKey(HKEY_CLASSES_ROOT, "B");
    ADD_FAILURE() << "wrote through a symbolic link";
  } catch (const ERegistryFileError& e) {
    EXPECT_EQ(e.Message(), message);
  }
  EXPECT_EQ(ReadFile(target), std::string(kHeader) + "\n[HKEY_CLASSES_ROOT\\A]\n");
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

struct UnwritableCase {
  const char* name;
  bool lockDirectory;  // else the file itself
};

void PrintTo(const UnwritableCase& c, std::ostream* os) { *os << c.name; }

class RegistryFileUnwritable : public testing::TestWithParam<UnwritableCase> {};

TEST_P(RegistryFileUnwritable, WritesFailWhileReadsWork) {
  const UnwritableCase& c = GetParam();
  SCOPED_TRACE(c.name);
  ScratchDir dir;
  const std::string path = dir / "registry.reg";
  {
    RegistryFile setup(path);
    setup.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01");
    setup.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01", "ID",
                   RegValue::String("Other"));
  }
  std::string fault;
  if (c.lockDirectory) {
    // The file itself stays writable for whoever runs the check (root runs it as nobody).
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    fault = "Cannot write registry file '" + path + "': directory '" + dir.Path() +
            "' is not writable (Permission denied)";
  } else {
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    fault = "Cannot write registry file '" + path + "': Permission denied";
  }
  const std::string before = ReadFile(path);
  const std::string report = InChild(
      [&]() -> std::string {
        RegistryFile file(path);
        const auto id = file.GetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01", "ID");
        if (id != RegValue::String("Other")) return "the value could not be read";
        try {
          file.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\02");
          return "a key was created";
        } catch (const ERegistryFileError& e) {
          if (std::string r = Expect("CreateKey", e.Message(), fault); !r.empty()) return r;
        }
        try {
          file.CheckWritable();
          return "CheckWritable passed";
        } catch (const ERegistryFileError& e) {
          if (std::string r = Expect("CheckWritable", e.Message(), fault); !r.empty()) return r;
        }
        // Even a change that would change nothing is refused.
        try {
          file.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01", "ID",
                        RegValue::String("Other"));
          return "a value was set";
        } catch (const ERegistryFileError&) {
        }
        return "";
      },
      /*dropRights=*/true);
  EXPECT_EQ(report, "");
  EXPECT_EQ(ReadFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(Rights, RegistryFileUnwritable,
                         testing::Values(UnwritableCase{"ReadOnlyFile", false},
                                         UnwritableCase{"ReadOnlyDirectory", true}),
                         veskmath::tests::ReadableParamName());

}  // namespace
