#include "platform/win/StringMapping.h"
#include "platform/win/TestHooks.h"

#include <gtest/gtest.h>

#include "platform/win/CodePage.h"

namespace veskmath::win {
namespace {

// LCMapStringA with LCMAP_HALFWIDTH into a buffer of `capacity` bytes; the mapped text, or
// nothing when the call fails.
std::optional<std::string> MapA(std::string_view src, int capacity) {
  std::string dest(static_cast<std::size_t>(capacity), '\0');
  const int n = LCMapStringA(GetUserDefaultLCID(), LCMAP_HALFWIDTH, src.data(),
                             static_cast<int>(src.size()), dest.data(), capacity);
  if (n == 0) return std::nullopt;
  dest.resize(static_cast<std::size_t>(n));
  return dest;
}

struct MapCase {
  const char* name;
  std::u16string source;
  std::u16string expected;
};

class StringMappingCp932 : public ::testing::TestWithParam<MapCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage("CP932")); }
};

// The source as CP932 bytes through LCMapStringA, read back as UTF-16.
TEST_P(StringMappingCp932, HalfWidth) {
  const MapCase& c = GetParam();
  const std::string bytes = WideToAnsi(c.source);
  const std::optional<std::string> mapped = MapA(bytes, static_cast<int>(bytes.size()));
  ASSERT_TRUE(mapped.has_value());
  EXPECT_EQ(AnsiToWide(*mapped), c.expected);
  EXPECT_LE(mapped->size(), bytes.size());  // never longer in CP932
}

INSTANTIATE_TEST_SUITE_P(
    Table, StringMappingCp932,
    ::testing::Values(
        MapCase{"DigitsAndOperators", u"１＋２＝", u"1+2="},
        MapCase{"LettersAndBrackets", u"ｓｉｎ（ｐｉ／６）", u"sin(pi/6)"},
        MapCase{"IdeographicSpace", u"１　２", u"1 2"},
        MapCase{"VoicedKanaSplit", u"ガギグゲゴ", u"ｶﾞｷﾞｸﾞｹﾞｺﾞ"},
        MapCase{"SemiVoicedKanaSplit", u"パピプペポ", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ"}, MapCase{"Vu", u"ヴ", u"ｳﾞ"},
        MapCase{"SmallKana", u"ァィゥェォッャュョ", u"ｧｨｩｪｫｯｬｭｮ"},
        MapCase{"WaWoN", u"ワヲン", u"ﾜｦﾝ"},
        MapCase{"Punctuation", u"ー。「」、・゛゜", u"ｰ｡｢｣､･ﾞﾟ"},
        MapCase{"MinusAsCp932Has", u"−１", u"-1"},  // CP932 stores U+2212 as U+FF0D
        MapCase{"WaveDash", u"～", u"~"}, MapCase{"YenBecomesBackslashByte", u"￥", u"\\"},
        MapCase{"Quotes", u"’”", u"'\""},
        MapCase{"KeptWhenNoNarrowForm", u"ひらがな数式ヵヶヮ", u"ひらがな数式ヵヶヮ"},
        MapCase{"KeptWhenCodePageLacksNarrowForm", u"￣x", u"￣x"},  // "¯" has no CP932 byte
        MapCase{"AlreadyHalfWidth", u"1+2=ｶﾞ", u"1+2=ｶﾞ"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(StringMapping, WideTableCoversFullWidthAsciiAndEveryKatakana) {
  for (char16_t c = 0xFF01; c <= 0xFF5E; ++c) {
    EXPECT_EQ(MapToHalfWidth(std::u16string(1, c)), std::u16string(1, char16_t(c - 0xFEE0)));
  }
  // Every katakana with a narrow form lands in the half-width block, with at most one mark.
  int unmapped = 0;
  for (char16_t c = 0x30A1; c <= 0x30FA; ++c) {
    const std::u16string m = MapToHalfWidth(std::u16string(1, c));
    if (m == std::u16string(1, c)) {
      ++unmapped;
      continue;
    }
    ASSERT_GE(m.size(), 1u);
    EXPECT_TRUE(m[0] >= 0xFF66 && m[0] <= 0xFF9D) << int(c);
    if (m.size() == 2) {
      EXPECT_TRUE(m[1] == 0xFF9E || m[1] == 0xFF9F) << int(c);
    }
  }
  EXPECT_EQ(unmapped, 7);  // ヮヰヱヵヶヸヹ
  // The table's alignment at its far end: ヺ is ヲ with a voiced mark.
  EXPECT_EQ(MapToHalfWidth(u"ヺヷ"), u"ｦﾞﾜﾞ");
  EXPECT_EQ(MapToHalfWidth(u"カ\u3099ハ\u309A"), u"ｶﾞﾊﾟ");  // combining marks
  EXPECT_EQ(MapToHalfWidth(u"−￥￠"), u"-¥¢");
  EXPECT_EQ(MapToHalfWidth(u"\U0001F600"), u"\U0001F600");  // surrogates pass
}

class StringMappingCalls : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage("CP932")); }
  void TearDown() override { SetAnsiCodePage("CP932"); }
};

TEST_F(StringMappingCalls, LengthRulesLikeTheOperatingSystem) {
  const std::string full = "\x82\x50\x81\x7B\x82\x51";  // "１＋２"
  // destLen 0 asks for the length and writes nothing.
  char untouched[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(LCMapStringA(GetUserDefaultLCID(), LCMAP_HALFWIDTH, full.data(), 6, untouched, 0), 3);
  EXPECT_EQ(untouched[0], 'x');
  EXPECT_EQ(MapA(full, 3), "1+2");  // exactly enough
  SetLastError(0);
  EXPECT_EQ(MapA(full, 2), std::nullopt);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  // -1: null-terminated; the terminator is mapped and counted.
  char dest[8] = {};
  EXPECT_EQ(LCMapStringA(GetUserDefaultLCID(), LCMAP_HALFWIDTH, full.c_str(), -1, dest, 8), 4);
  EXPECT_STREQ(dest, "1+2");

  // Voiced kana: longer in characters, equal in bytes.
  EXPECT_EQ(MapA("\x83\x4B", 2), "\xB6\xDE");  // "ガ" -> "ｶﾞ"

  // In place, as a caller may pass the same buffer.
  std::string inPlace = full;
  EXPECT_EQ(
      LCMapStringA(GetUserDefaultLCID(), LCMAP_HALFWIDTH, inPlace.data(), 6, inPlace.data(), 6), 3);
  EXPECT_EQ(inPlace.substr(0, 3), "1+2");
}

TEST_F(StringMappingCalls, RefusedCalls) {
  char dest[8];
  struct Refusal {
    const char* src;
    int srcLen;
    char* dest;
    int destLen;
    DWORD flags;
    DWORD error;
  } const refusals[] = {
      {nullptr, 3, dest, 8, LCMAP_HALFWIDTH, ERROR_INVALID_PARAMETER},
      {"abc", 0, dest, 8, LCMAP_HALFWIDTH, ERROR_INVALID_PARAMETER},  // empty source
      {"abc", -2, dest, 8, LCMAP_HALFWIDTH, ERROR_INVALID_PARAMETER},
      {"abc", 3, dest, -1, LCMAP_HALFWIDTH, ERROR_INVALID_PARAMETER},
      {"abc", 3, nullptr, 8, LCMAP_HALFWIDTH, ERROR_INVALID_PARAMETER},
      {"abc", 3, dest, 8, 0x00800000, ERROR_INVALID_FLAGS},  // full-width: not offered
  };
  for (const Refusal& r : refusals) {
    SetLastError(0);
    EXPECT_EQ(LCMapStringA(GetUserDefaultLCID(), r.flags, r.src, r.srcLen, r.dest, r.destLen), 0);
    EXPECT_EQ(GetLastError(), r.error) << r.srcLen << " " << r.destLen;
  }
  EXPECT_EQ(GetUserDefaultLCID(), 1041u);
}

TEST_F(StringMappingCalls, OtherCodePagesMapTheirOwnBytes) {
  ASSERT_TRUE(SetAnsiCodePage("UTF-8"));
  EXPECT_EQ(MapA("１＋ａ", 9), "1+a");     // 9 bytes -> 3
  EXPECT_EQ(MapA("−２", 6), "-2");         // U+2212 arrives as itself in UTF-8
  EXPECT_EQ(MapA("ガ", 3), std::nullopt);  // grows to 6 bytes: does not fit
  EXPECT_EQ(MapA("ガ", 6), "ｶﾞ");
  EXPECT_EQ(MapA("￣", 3), "¯");  // UTF-8 can write the narrow form
}

}  // namespace
}  // namespace veskmath::win
