// Text forms of numbers: the general and complex forms, the float reader and its
// fallbacks, the complex reader, the field readers and the picture formats.
#include "math/NumberText.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "math/Constants.h"
#include "platform/base/SysBase.h"
#include "tests/math/TestUtil.h"

namespace veskmath::Math387 {
namespace {

// Restores the process-wide decimal separator after tests that change it.
class NumberText : public testing::Test {
 protected:
  void TearDown() override { base::SetDecimalSeparator('.'); }
};

// --- the general form ---------------------------------------------------------------------

struct GeneralRow {
  double x;
  const char* text;
};

TEST_F(NumberText, GeneralForm) {
  const std::vector<GeneralRow> rows = {
      {0.5, "0.5"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {1234.5, "1234.5"},
      {-2, "-2"},
      {100, "100"},
      {0.00015, "0.00015"},
      // thresholds of the fixed form: 0.0001 up to below 1E15
      {0.0001, "0.0001"},
      {1e-5, "1E-5"},
      {0.00001234, "1.234E-5"},
      {-1e-20, "-1E-20"},
      {999999999999999, "999999999999999"},
      {1e15, "1E15"},
      {0.00009999999999999999, "0.0001"},  // rounds up across the lower threshold
      {999999999999999.5, "1E15"},         // and across the upper one
      {123456789012345678.0, "1.23456789012346E17"},
      // 15 digits, the 16th rounding half away from zero on the exact expansion
      {0.1234567890123456, "0.123456789012346"},
      {1.0000000000000002, "1"},
      {100000000000000.5, "100000000000001"},
      {1234567890123445.0, "1.23456789012345E15"},  // exact tie: up, not to even
      {1234567890123455.0, "1.23456789012346E15"},
      {1234567890123.125, "1234567890123.13"},  // exact tie in the fraction
      {-1234567890123.125, "-1234567890123.13"},
      {5e-324, "4.94065645841247E-324"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      // special values
      {0.0, "0"},
      {-0.0, "0"},
      {INF, "INF"},
      {-INF, "-INF"},
      {NaN, "NAN"},
      {-NaN, "NAN"},
  };
  for (const GeneralRow& r : rows) {
    SCOPED_TRACE(testing::Message() << testutil::Describe(r.x));
    EXPECT_EQ(SampleToStr(r.x), r.text);
    EXPECT_EQ(SampleToStr(r.x, 7), r.text);  // Digits has no effect
  }
}

TEST_F(NumberText, SeparatorInOutput) {
  EXPECT_EQ(SampleToStr(1.5, 0, ','), "1,5");
  EXPECT_EQ(SampleToStr(1.5e-7, 0, ','), "1,5E-7");
  base::SetDecimalSeparator(',');
  EXPECT_EQ(SampleToStr(-0.25), "-0,25");
  EXPECT_EQ(CplxToStr(Cplx(1.5, -2.5)), "1,5-2,5i");
}

// The 15 digits against an independent reference: glibc's exact expansion, rounded half
// away from zero by hand. Distinct 15-digit decimals read back to distinct doubles, so
// comparing the values read back compares the digits.
std::string ReferenceDigits(double x) {
  char buf[900];
  std::snprintf(buf, sizeof buf, "%.780e", std::fabs(x));
  std::string digits;
  const char* p = buf;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  int e10 = std::atoi(p + 1);
  const bool up = digits[15] >= '5';
  digits.resize(15);
  if (up) {
    int i = 14;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
    if (i < 0) {
      digits.insert(digits.begin(), '1');
      ++e10;
    } else {
      ++digits[static_cast<size_t>(i)];
    }
  }
  return std::string(x < 0 ? "-" : "") + "0." + digits + "e" + std::to_string(e10 + 1);
}

TEST_F(NumberText, FifteenDigitsMatchAReferenceRounding) {
  std::mt19937_64 random(20240611);
  std::vector<double> values;
  for (int k = 0; k < 20000; ++k) {
    double x;
    do x = std::bit_cast<double>(random());
    while (!std::isfinite(x) || x == 0);
    values.push_back(x);
  }
  // Values with exact ties at the 16th digit: 16-digit integers ending in 5, and short
  // binary fractions.
  for (int k = 0; k < 5000; ++k) {
    values.push_back(
        static_cast<double>((1000000000000000 + random() % 800000000000000) / 10 * 10 + 5));
    values.push_back(static_cast<double>(random() % 10000000000000) + (random() % 8) / 8.0);
  }
  for (const double x : values) {
    const std::string text = SampleToStr(x, 0, '.');
    const std::string reference = ReferenceDigits(x);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), std::strtod(reference.c_str(), nullptr))
        << testutil::Describe(x) << ": " << text << " vs " << reference;
  }
}

// --- the complex form ---------------------------------------------------------------------

struct CplxRow {
  TCplx z;
  const char* text;
};

TEST_F(NumberText, ComplexForm) {
  const std::vector<CplxRow> rows = {
      {{0, 0}, "0"},
      {{-0.0, -0.0}, "0"},
      {{3, 0}, "3"},
      {{1, -0.0}, "1"},
      {{0, 2}, "2i"},
      {{0, -2}, "-2i"},
      {{0, 1}, "i"},
      {{0, -1}, "-i"},
      {{3, 4}, "3+4i"},
      {{3, -4}, "3-4i"},
      {{3, 1}, "3+i"},
      {{3, -1}, "3-i"},
      {{-0.5, 1}, "-0.5+i"},
      {{1, -2.5}, "1-2.5i"},
      {{1.5e-7, 2e20}, "1.5E-7+2E20i"},
      {{INF, -INF}, "INF-INFi"},
      // the NaN rule: a NaN part equals 0, 1 and -1
      {CNAN, "NAN"},
      {{2, NaN}, "2"},
      {{NaN, 2}, "2i"},
      {{NaN, 1}, "i"},
      {{NaN, -1}, "-i"},
  };
  for (const CplxRow& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(CplxToStr(r.z), r.text);
  }
}

// Every output with finite parts reads back to the same value to 15 digits.
TEST_F(NumberText, ComplexOutputReadsBack) {
  std::mt19937_64 random(7);
  auto anyDouble = [&random] {
    double x;
    do x = std::bit_cast<double>(random());
    while (!std::isfinite(x));
    return x;
  };
  auto niceDouble = [&random] {
    const double mantissa = static_cast<double>(random() % 2000001) / 1000.0 - 1000.0;
    return std::ldexp(mantissa, static_cast<int>(random() % 80) - 40);
  };
  std::vector<TCplx> values = {{0, 1},         {0, -1},       {3, 1},       {3, -1},
                               {-1e-5, -1e-5}, {1e15, -1e15}, {DBL_MAX, 1}, {-DBL_MAX, -5e-324}};
  for (int k = 0; k < 10000; ++k) {
    values.push_back({anyDouble(), anyDouble()});
    values.push_back({niceDouble(), niceDouble()});
    values.push_back({0, niceDouble()});
    values.push_back({niceDouble(), 0});
  }
  for (const char separator : {'.', ','}) {
    for (const TCplx& z : values) {
      const std::string text = CplxToStr(z, 0, separator);
      const TCplx back = StrToCplx(text, separator);
      SCOPED_TRACE(testing::Message() << text << " from " << testutil::Describe(z.Re) << ", "
                                      << testutil::Describe(z.Im));
      ASSERT_EQ(SampleToStr(back.Re, 0, separator), SampleToStr(z.Re, 0, separator));
      ASSERT_EQ(SampleToStr(back.Im, 0, separator), SampleToStr(z.Im, 0, separator));
      ASSERT_LE(std::fabs(back.Re - z.Re), 5.1e-15 * std::fabs(z.Re));
      ASSERT_LE(std::fabs(back.Im - z.Im), 5.1e-15 * std::fabs(z.Im));
    }
  }
}

// --- the float reader ---------------------------------------------------------------------

struct ReadRow {
  const char* text;
  bool ok;
  double value;
};

TEST_F(NumberText, ReaderGrammar) {
  const std::vector<ReadRow> rows = {
      {"12", true, 12},
      {" 12 ", true, 12},
      {"   +12", true, 12},
      {"-12", true, -12},
      {"1.5", true, 1.5},
      {".5", true, 0.5},
      {"5.", true, 5},
      {".", true, 0},
      {"-.", true, -0.0},
      {"1E", true, 1},
      {"1e+", true, 1},
      {"1e5", true, 1e5},
      {"1E+5", true, 1e5},
      {"1.5e-3", true, 1.5e-3},
      {"  -1.25E+2  ", true, -125},
      {"0001.2500", true, 1.25},
      {"1E0000000000000000002", true, 100},  // leading zeros keep the exponent below 500
      {"1.7976931348623157E308", true, 1.7976931348623157e308},
      {"-1.79769313486232E308", true, -1.7976931348623157e308},  // printed DBL_MAX reads back
      {"4.9E-324", true, 5e-324},
      {"2E-324", true, 0},  // underflow is no failure
      {"-1E-400", true, -0.0},
      // correctly rounded, however long the text
      {"9007199254740993", true, 9007199254740992.0},  // tie: to even
      {"9007199254740993.0000000001", true, 9007199254740994.0},
      {"0.1000000000000000055511151231257827021181583404541015625", true, 0.1},
      {"2.2250738585072011e-308", true, 2.225073858507201e-308},
      // rejected
      {"", false, 0},
      {" ", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"E5", false, 0},
      {"1 2", false, 0},
      {"1.2.3", false, 0},
      {"12x", false, 0},
      {"x12", false, 0},
      {"1,5", false, 0},  // not with "." as the separator
      {"--1", false, 0},
      {"1E+-5", false, 0},
      {"1E5 0", false, 0},
      {"\t1", false, 0},  // blanks are spaces only
      {"1\n", false, 0},
      {"1E400", false, 0},  // overflow
      {"1.8E308", false, 0},
      {"1.797693134862325E308", false, 0},  // no longer rounds to DBL_MAX's digits
      {"NaN", false, 0},                    // the fallbacks are not the reader's
  };
  for (const ReadRow& r : rows) {
    SCOPED_TRACE(testing::Message() << "\"" << r.text << "\"");
    double value = 12345;
    ASSERT_EQ(TryStrToFloat(r.text, '.', value), r.ok);
    if (r.ok) {
      EXPECT_SAME_DOUBLE(value, r.value);
    }
  }
}

// Exponent digits are read only while the exponent is below 500; a digit left over fails.
TEST_F(NumberText, ExponentReadingStopsAt500) {
  const std::vector<ReadRow> rows = {
      {"1E-500", true, 0},     // 500 read completely: a tiny value
      {"1E-4999", true, 0},    // 499 < 500, so the fourth digit is still read
      {"1E-5000", false, 0},   // stops at 500: the last "0" stays unread
      {"1E-49999", false, 0},  // stops at 4999
      {"0E5000", false, 0},    // whatever the value
      {"1E500", false, 0},     // read completely, but overflows
      {"1E0499", false, 0},   {"1E-0499", true, 0}, {"1E308", true, 1e308},
  };
  for (const ReadRow& r : rows) {
    SCOPED_TRACE(r.text);
    double value = 12345;
    ASSERT_EQ(TryStrToFloat(r.text, '.', value), r.ok);
    if (r.ok) {
      EXPECT_SAME_DOUBLE(value, r.value);
    }
  }
}

// The conversion error's text in the system code page, made with iconv from its UTF-8 form.
std::string NotAFloat(const std::string& text) {
  const std::string utf8 =
      "\u306f\u6d6e\u52d5\u5c0f\u6570\u70b9\u6570\u3067\u306f\u3042\u308a\u307e\u305b\u3093";
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) return {};
  out.resize(out.size() - outLeft);
  return "'" + text + "' " + out;
}

template <typename F>
void ExpectConvertError(F&& f, const std::string& text) {
  const std::string expected = NotAFloat(text);
  if (expected.empty()) GTEST_SKIP() << "no CP932 converter";
  try {
    f();
    ADD_FAILURE() << "no error for " << text;
  } catch (const base::EConvertError& e) {
    EXPECT_EQ(e.Message(), expected);
  }
}

TEST_F(NumberText, StrToValFallbacks) {
  EXPECT_EQ(std::bit_cast<uint64_t>(StrToVal("nan")), 0xFFF8000000000000u);
  EXPECT_EQ(std::bit_cast<uint64_t>(StrToVal("NAN")), 0xFFF8000000000000u);
  EXPECT_EQ(std::bit_cast<uint64_t>(StrToVal("-NaN")), 0x7FF8000000000000u);  // negated
  EXPECT_SAME_DOUBLE(StrToVal("-inf"), -INF);
  EXPECT_SAME_DOUBLE(StrToVal("Infinity"), INF);
  EXPECT_SAME_DOUBLE(StrToVal("x-xINFx"), -INF);  // any "-" anywhere
  EXPECT_SAME_DOUBLE(StrToVal("12"), 12.0);
  EXPECT_SAME_DOUBLE(StrToSample(" 12 "), 12.0);
  EXPECT_SAME_DOUBLE(StrToVal("1E"), 1.0);
  EXPECT_SAME_DOUBLE(StrToVal("."), 0.0);
  // the separator swap
  EXPECT_SAME_DOUBLE(StrToVal("1,5"), 1.5);
  EXPECT_SAME_DOUBLE(StrToVal("1.5", ','), 1.5);
  EXPECT_SAME_DOUBLE(StrToVal("1,5", ','), 1.5);
  EXPECT_SAME_DOUBLE(StrToVal("1.5", ';'), 1.5);  // any separator but "." swaps to "."
  base::SetDecimalSeparator(',');
  EXPECT_SAME_DOUBLE(StrToVal("2,25"), 2.25);
  EXPECT_SAME_DOUBLE(StrToVal("2.25"), 2.25);
  EXPECT_EQ(base::DecimalSeparator(), ',');
}

TEST_F(NumberText, StrToValErrors) {
  ExpectConvertError([] { StrToVal("abc"); }, "abc");
  ExpectConvertError([] { StrToVal("1 2"); }, "1 2");
  ExpectConvertError([] { StrToVal("1,2,3"); }, "1,2,3");
  ExpectConvertError([] { StrToVal("1E400"); }, "1E400");
  ExpectConvertError([] { StrToSample(""); }, "");
  EXPECT_EQ(base::DecimalSeparator(), '.');  // never changed, not even for a moment
}

// The separator fallback reads with an explicit separator, so concurrent readers neither
// see nor disturb each other.
TEST_F(NumberText, ReadingIsThreadSafe) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int k = 0; k < 5000; ++k) {
        if (StrToVal(t % 2 ? "1,5" : "2.5") != (t % 2 ? 1.5 : 2.5)) ++wrong[static_cast<size_t>(t)];
        if (StrToCplx("3,5+4.5i").Im != 4.5) ++wrong[static_cast<size_t>(t)];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
  EXPECT_EQ(base::DecimalSeparator(), '.');
}

// --- the complex reader -------------------------------------------------------------------

struct SplitRow {
  const char* text;
  double re, im;
};

TEST_F(NumberText, StrToCplxSplits) {
  const std::vector<SplitRow> rows = {
      {"3+4i", 3, 4},
      {"3-i", 3, -1},
      {"3+i", 3, 1},
      {"-i", 0, -1},
      {"+i", 0, 1},
      {"i", 0, 1},
      {"2.5i", 0, 2.5},
      {"5", 5, 0},
      {"1E-5+2E+3i", 0.00001, 2000},
      {"-2.5E-3-1.5E+2i", -0.0025, -150},
      {"2e-3i", 2, -3},     // "-" after a lowercase e splits: "2e" and "-3"
      {"2E-3i", 0, 0.002},  // after "E" it belongs to the exponent
      {"inf", 0, 1},        // the "i" at position 1, empty coefficient
      {"INF", INF, 0},
      {"1+INFi", 1, INF},
      {"x+2i", 0, 2},     // the real part's failure counts as 0
      {" +2i", 0, 2},     // a single blank is an empty real part
      {"3+4iabc", 3, 4},  // text after the first "i" is ignored
      {"1,5+2,5i", 1.5, 2.5},
  };
  for (const SplitRow& r : rows) {
    SCOPED_TRACE(r.text);
    const TCplx z = StrToCplx(r.text);
    EXPECT_SAME_DOUBLE(z.Re, r.re);
    EXPECT_SAME_DOUBLE(z.Im, r.im);
  }
  EXPECT_TRUE(std::isnan(StrToCplx("NAN").Re));
}

TEST_F(NumberText, StrToCplxErrorsOfTheImaginaryPartPropagate) {
  ExpectConvertError([] { StrToCplx("3+xi"); }, "+x");
  ExpectConvertError([] { StrToCplx("xi"); }, "x");
  ExpectConvertError([] { StrToCplx("abc"); }, "abc");
}

// --- delimited fields ---------------------------------------------------------------------

TEST_F(NumberText, OffsetPos) {
  EXPECT_EQ(OffsetPos("ab", "xxab", 3), 3);
  EXPECT_EQ(OffsetPos("ab", "xxab", 1), 3);
  EXPECT_EQ(OffsetPos("ab", "xxab", 4), 0);
  EXPECT_EQ(OffsetPos("ab", "xxab", 9), 0);
  EXPECT_EQ(OffsetPos("AB", "xxab", 1), 0);  // case-sensitive
  EXPECT_EQ(OffsetPos("a", "aaa", 2), 2);
  EXPECT_EQ(OffsetPos("abc", "ab", 1), 0);
  EXPECT_EQ(OffsetPos("", "abc", 4), 4);
  EXPECT_EQ(OffsetPos("", "abc", 5), 0);
  for (const int32_t offset : {0, -3}) {
    try {
      OffsetPos("ab", "xxab", offset);
      ADD_FAILURE() << "no error for offset " << offset;
    } catch (const base::Exception& e) {
      EXPECT_EQ(e.Message(), "Offset < 1");
    }
  }
}

TEST_F(NumberText, ExtractSampleSkipsDelimiterRuns) {
  int32_t pos = 1;
  EXPECT_SAME_DOUBLE(ExtractSample("1;;2", pos, ";"), 1.0);
  EXPECT_EQ(pos, 3);
  EXPECT_SAME_DOUBLE(ExtractSample("1;;2", pos, ";"), 2.0);
  EXPECT_EQ(pos, 5);
  EXPECT_SAME_DOUBLE(ExtractSample("1;;2", pos, ";"), 0.0);
  EXPECT_EQ(pos, 5);

  // A longer delimiter is skipped whole, so its runs give no broken fields.
  pos = 1;
  EXPECT_SAME_DOUBLE(ExtractSample("1abab2", pos, "ab"), 1.0);
  EXPECT_SAME_DOUBLE(ExtractSample("1abab2", pos, "ab"), 2.0);
  EXPECT_EQ(pos, 7);

  // An empty delimiter finds no field (and must not loop for ever).
  pos = 1;
  EXPECT_SAME_DOUBLE(ExtractSample("12", pos, ""), 0.0);
  EXPECT_EQ(pos, 3);

  pos = 0;
  try {
    ExtractSample("1;2", pos, ";");
    ADD_FAILURE() << "no error for pos 0";
  } catch (const base::Exception& e) {
    EXPECT_EQ(e.Message(), "Offset < 1");
  }
  pos = 1;
  EXPECT_THROW(ExtractSample("x;2", pos, ";"), base::EConvertError);
}

TEST_F(NumberText, ExtractCplxReadsComplexFields) {
  const std::string text = ",1+i,2i,,-3,";
  int32_t pos = 1;
  std::vector<TCplx> got;
  for (int k = 0; k < 4; ++k) got.push_back(ExtractCplx(text, pos, ","));
  EXPECT_EQ(pos, static_cast<int32_t>(text.size()) + 1);
  const std::vector<TCplx> want = {{1, 1}, {0, 2}, {-3, 0}, C_ZERO};
  for (size_t k = 0; k < want.size(); ++k) {
    EXPECT_SAME_DOUBLE(got[k].Re, want[k].Re) << k;
    EXPECT_SAME_DOUBLE(got[k].Im, want[k].Im) << k;
  }
}

// --- picture formats ----------------------------------------------------------------------

struct PictureRow {
  const char* format;
  double x;
  const char* text;
};

TEST_F(NumberText, PictureFormats) {
  const std::vector<PictureRow> rows = {
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0", 999, "999"},
      {"#,##0", 1000, "1,000"},
      {"#,##0", 1e9, "1,000,000,000"},
      {"0.###", 2.5, "2.5"},
      {"0.##", 2, "2"},
      {"0.00", 2, "2.00"},
      {"00000", 12, "00012"},
      {"0", 12345, "12345"},
      {"#", 0, ""},
      {"#.##", 0.5, ".5"},
      {".00", 12.345, "12.35"},
      {"0.0", 1e20, "100000000000000000000.0"},
      {"0.0.0", 1.25, "1.25"},  // the second point is ignored
      // rounding half away from zero on the exact expansion
      {"0.00", 0.125, "0.13"},
      {"0.00", -0.125, "-0.13"},
      {"0.00", 1.005, "1.00"},   // 1.00499999999999989...
      {"0.00", -0.001, "0.00"},  // rounds to zero: no sign
      // scientific
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E+00", 0.000123, "1.23E-04"},
      {"0.00E-00", 12345, "1.23E04"},
      {"0.00e-0", 0.000123, "1.23e-4"},
      {"0.0E+0", 0, "0.0E+0"},
      {"00.0E+0", 12345, "12.3E+3"},
      {"0.00E+00", 9.999, "1.00E+01"},
      // sections
      {"0.0;(0.0);'zero'", 2, "2.0"},
      {"0.0;(0.0);'zero'", -2, "(2.0)"},
      {"0.0;(0.0);'zero'", 0, "zero"},
      {"0.0;(0.0);'zero'", -0.01, "zero"},
      {"0.0;(0.0)", -0.01, "0.0"},
      {"0;'neg'", -5, "neg"},
      {"0;;'none'", -5, "-5"},
      // literals
      {"'$'#,##0", -1234, "-$1,234"},
      {"\"x=\"0.0", 1.25, "x=1.3"},
      {"0 'a;b'", 5, "5 a;b"},  // ";" inside quotes is text
      {"0 'abc", 5, "5 abc"},   // unterminated quote
      {"0.0 kg", 2.25, "2.3 kg"},
      // special values and the empty picture
      {"0.00", NaN, "NAN"},
      {"0.00", INF, "INF"},
      {"0.00", -INF, "-INF"},
      {"", 1.5, "1.5"},
  };
  for (const PictureRow& r : rows) {
    SCOPED_TRACE(testing::Message() << "\"" << r.format << "\" " << r.x);
    EXPECT_EQ(FormatSample(r.format, r.x), r.text);
    EXPECT_EQ(FormatSample(r.x, r.format), r.text);
  }
}

TEST_F(NumberText, PictureUsesTheDecimalSeparator) {
  base::SetDecimalSeparator(',');
  EXPECT_EQ(FormatSample("#,##0.00", 1234.5), "1.234,50");
  EXPECT_EQ(FormatSample("0.0E+0", 1234.5), "1,2E+3");
}

TEST_F(NumberText, FormatCplx) {
  const char* re = "0.0";
  const char* im = "+0.0'i';-0.0'i'";
  EXPECT_EQ(FormatCplx(Cplx(1, -2), re, im), "1.0-2.0i");
  EXPECT_EQ(FormatCplx(Cplx(1, 2), re, im), "1.0+2.0i");
  EXPECT_EQ(FormatCplx(Cplx(0, 2), re, im), "+2.0i");
  EXPECT_EQ(FormatCplx(Cplx(3, 0), re, im), "3.0");
  EXPECT_EQ(FormatCplx(Cplx(3, NaN), re, im), "3.0");  // a NaN part equals 0
  EXPECT_EQ(FormatCplx(C_ZERO, re, im), "0.0");
  EXPECT_EQ(FormatCplx(Cplx(1, 2), "", im), "1+2i");
  EXPECT_EQ(FormatCplx(Cplx(1, 2), re, ""), "1+2i");
}

}  // namespace
}  // namespace veskmath::Math387
