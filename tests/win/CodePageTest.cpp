#include "platform/win/CodePage.h"
#include "platform/win/TestHooks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace veskmath::win {
namespace {

// Restores the default code page after tests that switch it.
class CodePage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage("CP932")); }
  void TearDown() override { SetAnsiCodePage("CP932"); }
};

struct Cp932Case {
  const char* name;
  std::u16string wide;
  std::string bytes;
};

class CodePageCp932 : public ::testing::TestWithParam<Cp932Case> {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage("CP932")); }
};

// Byte values as the system's own iconv tool writes them.
TEST_P(CodePageCp932, RoundTrip) {
  const Cp932Case& c = GetParam();
  bool usedDefault = true;
  EXPECT_EQ(WideToAnsi(c.wide, &usedDefault), c.bytes);
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(AnsiToWide(c.bytes), c.wide);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageCp932,
    ::testing::Values(Cp932Case{"Kanji", u"数式計算", "\x90\x94\x8E\xAE\x8C\x76\x8E\x5A"},
                      Cp932Case{"FullWidthFontName", u"ＭＳ Ｐゴシック",
                                "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E"},
                      Cp932Case{"HalfWidthKanaIsOneByte", u"ｶﾞ１", "\xB6\xDE\x82\x50"},
                      Cp932Case{"AsciiWithBackslashAndTilde", u"a:=1\\~", "a:=1\\~"},
                      Cp932Case{"TrailByteLooksLikeBackslash", u"ソ表", "\x83\x5C\x95\x5C"},
                      Cp932Case{"Empty", u"", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CodePage, UnmappableCharactersBecomeOneQuestionMarkEach) {
  bool usedDefault = false;
  EXPECT_EQ(WideToAnsi(u"a€b", &usedDefault), "a?b");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(WideToAnsi(u"한글"), "??");
  EXPECT_EQ(WideToAnsi(u"x\U0001F600y"), "x?y");  // a surrogate pair is one character
  EXPECT_EQ(WideToAnsi(std::u16string{u'a', 0xD800, u'b'}), "a?b");   // lone high surrogate
  EXPECT_EQ(WideToAnsi(std::u16string{u'a', 0xDC00}), "a?");          // lone low at the end
  EXPECT_EQ(WideToAnsi(std::u16string{u'数', 0xD800}), "\x90\x94?");  // lone high at the end
}

TEST_F(CodePage, NearbyCharactersFollowTheCodePagesBestFit) {
  // What a Japanese input method sends for minus and the yen sign ends up in CP932.
  EXPECT_EQ(WideToAnsi(u"−"), "\x81\x7C");  // U+2212 -> the full-width minus
  EXPECT_EQ(WideToAnsi(u"¥"), "\\");        // U+00A5 -> 0x5C
}

TEST_F(CodePage, InvalidBytesNeverCrashAndBecomeReplacementCharacters) {
  EXPECT_EQ(AnsiToWide("\x81"), u"\uFFFD");          // lead byte cut off at the end
  EXPECT_EQ(AnsiToWide("a\x81 b"), u"a\uFFFD b");    // blank is no trail byte
  EXPECT_EQ(WideToAnsi(AnsiToWide("1\x81")), "1?");  // and "?" on the way back
  std::string everyByte;
  for (int b = 1; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  const std::u16string wide = AnsiToWide(everyByte);
  EXPECT_GE(wide.size(), 127u);
  EXPECT_EQ(wide.substr(0, 127), std::u16string(everyByte.begin(), everyByte.begin() + 127));
}

TEST_F(CodePage, OtherCodePagesByNameOrNumber) {
  ASSERT_TRUE(SetAnsiCodePage("65001"));
  EXPECT_EQ(AnsiCodePageName(), "UTF-8");
  EXPECT_EQ(AnsiToWide("\xE6\x95\xB0"), u"数");
  EXPECT_EQ(WideToAnsi(u"数"), "\xE6\x95\xB0");
  EXPECT_EQ(WideToAnsi(std::u16string{u'a', 0xD800}), "a?");

  ASSERT_TRUE(SetAnsiCodePage("1252"));
  EXPECT_EQ(AnsiCodePageName(), "CP1252");
  EXPECT_EQ(AnsiToWide("caf\xE9"), u"café");
  EXPECT_EQ(WideToAnsi(u"数€"), "?\x80");

  ASSERT_TRUE(SetAnsiCodePage("932"));
  EXPECT_EQ(AnsiCodePageName(), "CP932");
}

TEST_F(CodePage, UnusableCodePagesAreRefusedAndChangeNothing) {
  EXPECT_FALSE(SetAnsiCodePage("NO-SUCH-CODE-PAGE"));
  EXPECT_FALSE(SetAnsiCodePage("UTF-16"));  // ASCII bytes would not stay ASCII
  EXPECT_FALSE(SetAnsiCodePage(""));
  EXPECT_EQ(AnsiCodePageName(), "CP932");
  EXPECT_EQ(WideToAnsi(u"数"), "\x90\x94");
}

TEST_F(CodePage, EachThreadConvertsWithTheCurrentSetting) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        if (AnsiToWide(WideToAnsi(u"ＭＳ Ｐゴシック数式")) != u"ＭＳ Ｐゴシック数式") ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));

  std::string seenByThread;
  std::thread before([&] { seenByThread = WideToAnsi(u"数"); });  // opens CP932 descriptors
  before.join();
  ASSERT_TRUE(SetAnsiCodePage("UTF-8"));
  std::thread after([&] { seenByThread = WideToAnsi(u"数"); });
  after.join();
  EXPECT_EQ(seenByThread, "\xE6\x95\xB0");
}

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::u16string wide;
};

class CodePageUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(CodePageUtf8, Decodes) { EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide); }

INSTANTIATE_TEST_SUITE_P(
    Table, CodePageUtf8,
    ::testing::Values(Utf8Case{"Ascii", "1+2=", u"1+2="},
                      Utf8Case{"ThreeBytes", "\xEF\xBC\x91", u"１"},
                      Utf8Case{"FourBytesToPair", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      Utf8Case{"Overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                      Utf8Case{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"Truncated", "a\xE3\x81", u"a\uFFFD\uFFFD"},
                      Utf8Case{"StrayContinuation", "\x80x", u"\uFFFDx"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CodePage, Utf8EncodingAndAnsiBridges) {
  EXPECT_EQ(WideToUtf8(u"１\U0001F600"), "\xEF\xBC\x91\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string{0xDC00, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(AnsiToUtf8("\x90\x94\x8E\xAE"), "数式");
  EXPECT_EQ(Utf8ToAnsi("数式"), "\x90\x94\x8E\xAE");
  EXPECT_EQ(Utf8ToAnsi("é"), "?");
}

TEST_F(CodePage, FirstUnrepresentableNamesWhatWouldBecomeAQuestionMark) {
  EXPECT_EQ(FirstUnrepresentable(u"1+2?"), u"");
  EXPECT_EQ(FirstUnrepresentable(u"数式＝１"), u"");
  EXPECT_EQ(FirstUnrepresentable(u"１'é'='è'"), u"é");
  EXPECT_EQ(FirstUnrepresentable(u"１+\U0001D465"), u"\U0001D465");  // the pair, whole
}

// The environment variable is read once, at the first conversion; so it is checked in a
// fresh process. The child test does nothing unless the parent started it.
TEST(CodePageEnvironment, ChildReportsConfiguredCodePage) {
  const char* expected = std::getenv("VESKMATH_TEST_EXPECT_ACP");
  if (expected == nullptr) GTEST_SKIP() << "runs only as a child of the test below";
  EXPECT_EQ(AnsiCodePageName(), expected);
  const char* problem = std::getenv("VESKMATH_TEST_EXPECT_PROBLEM");
  EXPECT_EQ(AnsiCodePageProblem(), problem ? problem : "");
}

TEST(CodePageEnvironment, VariableChoosesTheCodePageAndBadNamesFallBackToCp932WithAReason) {
  const char* child = "CodePageEnvironment.ChildReportsConfiguredCodePage";
  EXPECT_EQ(test_support::RunThisTestInChild(
                child, {"VESKMATH_ACP=UTF-8", "VESKMATH_TEST_EXPECT_ACP=UTF-8"}),
            0);
  EXPECT_EQ(test_support::RunThisTestInChild(
                child, {"VESKMATH_ACP=1252", "VESKMATH_TEST_EXPECT_ACP=CP1252"}),
            0);
  EXPECT_EQ(test_support::RunThisTestInChild(
                child, {"VESKMATH_ACP=KLINGON", "VESKMATH_TEST_EXPECT_ACP=CP932",
                        "VESKMATH_TEST_EXPECT_PROBLEM=VESKMATH_ACP=KLINGON: \"KLINGON\" is not a "
                        "known code page (e.g. CP932, CP1252, UTF-8)"}),
            0);
  EXPECT_EQ(test_support::RunThisTestInChild(
                child, {"VESKMATH_ACP=UTF-16", "VESKMATH_TEST_EXPECT_ACP=CP932",
                        "VESKMATH_TEST_EXPECT_PROBLEM=VESKMATH_ACP=UTF-16: \"UTF-16\" does not "
                        "keep ASCII characters as they are"}),
            0);
  EXPECT_EQ(
      test_support::RunThisTestInChild(child, {"VESKMATH_ACP=", "VESKMATH_TEST_EXPECT_ACP=CP932"}),
      0);
  // The child really checks: a wrong expectation fails it.
  EXPECT_NE(test_support::RunThisTestInChild(
                child, {"VESKMATH_ACP=UTF-8", "VESKMATH_TEST_EXPECT_ACP=CP932"}, nullptr, true),
            0);
}

}  // namespace
}  // namespace veskmath::win
