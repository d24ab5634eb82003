#include "vocabulary/FunctionEvaluator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "math/NumberText.h"
#include "platform/rtl/PropertyStream.h"
#include "platform/rtl/Streams.h"
#include "vocabulary/CStyleParser.h"

namespace veskmath::qel {
namespace {

// Runs f and answers the message of the rtl::Exception it raises ("" when none), and in
// type the exception's dynamic type.
std::string MessageOf(const std::function<void()>& f, const std::type_info** type = nullptr) {
  try {
    f();
  } catch (const rtl::Exception& e) {
    if (type != nullptr) *type = &typeid(e);
    return e.what();
  }
  return "";
}

// Exposes the hook that swaps the expression object.
class TTestEvaluator : public TQelFunctionEvaluator {
 public:
  using TQelFunctionEvaluator::ReplaceExpressions;
};

TEST(FunctionEvaluator, NewEvaluatorHasDefaults) {
  TQelFunctionEvaluator e;
  EXPECT_EQ(e.ResultFormat(), frfDouble);
  EXPECT_EQ(e.Result(), "");
  EXPECT_EQ(e.GetFormula(), "");
  ASSERT_NE(e.Expressions(), nullptr);
  EXPECT_EQ(e.Expressions()->Count(), 0);
  EXPECT_EQ(e.ClassName(), "TQelFunctionEvaluator");
}

struct FormatCase {
  const char* name;
  TFunctionResultFormat format;
  const char* formula;
  std::string result;
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FunctionEvaluatorFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(FunctionEvaluatorFormat, WritingFormulaEvaluatesInFormat) {
  const FormatCase& c = GetParam();
  TQelFunctionEvaluator e;
  e.SetResultFormat(c.format);
  e.SetFormula(c.formula);
  EXPECT_EQ(e.Result(), c.result);
  EXPECT_EQ(e.GetFormula(), c.formula);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FunctionEvaluatorFormat,
    testing::Values(
        FormatCase{"DoubleSum", frfDouble, "1+2", "3"},
        FormatCase{"DoubleFraction", frfDouble, "1/4", "0.25"},
        // 15 significant digits, the 16th rounding
        FormatCase{"DoubleFifteenDigits", frfDouble, "2/3", "0.666666666666667"},
        FormatCase{"DoubleScientific", frfDouble, "1/100000", "1E-5"},
        // the real part of a complex value
        FormatCase{"DoubleOfComplex", frfDouble, "3+4i", "3"},
        FormatCase{"ComplexSquareOfI", frfComplex, "i*i", Math387::CplxToStr({-1.0, 0.0}, 0)},
        FormatCase{"ComplexBothParts", frfComplex, "(1+2i)*(2-i)", "4+3i"},
        FormatCase{"ComplexOfReal", frfComplex, "1/4", "0.25"},
        FormatCase{"BoolTrue", frfBool, "2>1", "1"}, FormatCase{"BoolFalse", frfBool, "1>2", "0"},
        FormatCase{"HexByte", frfHex, "255", "$FF"}, FormatCase{"HexRounds", frfHex, "15.6", "$10"},
        FormatCase{"HexNegative", frfHex, "-1", "$FFFFFFFFFFFFFFFF"}),
    [](const testing::TestParamInfo<FormatCase>& p) { return p.param.name; });

TEST(FunctionEvaluator, ResultFormatAloneDoesNotReevaluate) {
  TQelFunctionEvaluator e;
  e.SetFormula("255");
  ASSERT_EQ(e.Result(), "255");
  e.SetResultFormat(frfHex);
  EXPECT_EQ(e.Result(), "255");
  // writing the held formula again evaluates it in the new format
  e.SetFormula("255");
  EXPECT_EQ(e.Result(), "$FF");
  EXPECT_EQ(e.Expressions()->Count(), 1);
}

struct FailureCase {
  const char* name;
  TFunctionResultFormat format;
  const char* formula;
  const std::type_info& type;
  std::string message;
  bool compiles;  // an evaluation error: the formula is held and current afterwards
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FunctionEvaluatorFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(FunctionEvaluatorFailure, ErrorPropagatesAndKeepsResult) {
  const FailureCase& c = GetParam();
  TQelFunctionEvaluator e;
  e.SetFormula("7");
  ASSERT_EQ(e.Result(), "7");
  e.SetResultFormat(c.format);
  const std::type_info* raised = nullptr;
  EXPECT_EQ(MessageOf([&] { e.SetFormula(c.formula); }, &raised), c.message);
  ASSERT_NE(raised, nullptr);
  EXPECT_EQ(*raised, c.type) << raised->name();
  EXPECT_EQ(e.Result(), "7");
  EXPECT_EQ(e.GetFormula(), c.compiles ? c.formula : "7");
  EXPECT_EQ(e.Expressions()->Count(), c.compiles ? 2 : 1);
  // the earlier formula still evaluates when written again
  e.SetResultFormat(frfDouble);
  e.SetFormula("7");
  EXPECT_EQ(e.Result(), "7");
  EXPECT_EQ(e.GetFormula(), "7");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FunctionEvaluatorFailure,
    testing::Values(FailureCase{"UnknownFunction", frfDouble, "foo(1)", typeid(EParserException),
                                "foo is an unknown function", false},
                    FailureCase{"MissingOperand", frfDouble, "1+", typeid(EParserException),
                                "Syntax error: function or operand has too few arguments", false},
                    FailureCase{"UnequalBrackets", frfDouble, "(1+2", typeid(EParserException),
                                "Unequal brackets", false},
                    FailureCase{"NotBoolean", frfBool, "1+2", typeid(EParserException),
                                "Expression is not boolean", true},
                    FailureCase{"IntegerDivisionByZero", frfDouble, "5 div 0",
                                typeid(rtl::EDivByZero), "Division by zero", true}),
    [](const testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

TEST(FunctionEvaluator, HeldFormulaBecomesCurrentAgain) {
  TQelFunctionEvaluator e;
  e.SetFormula("1+2");
  e.SetFormula("3*4");
  ASSERT_EQ(e.Result(), "12");
  e.SetFormula("1+2");
  EXPECT_EQ(e.Result(), "3");
  EXPECT_EQ(e.GetFormula(), "1+2");
  EXPECT_EQ(e.Expressions()->Count(), 2);
  EXPECT_EQ(e.Expressions()->GetExpressionIndex(), 0);
}

TEST(FunctionEvaluator, HeldFormulaIsEvaluatedAnew) {
  TQelFunctionEvaluator e;
  double x = 3;
  e.Expressions()->DefineVariable("x", &x);
  e.SetFormula("x*2");
  ASSERT_EQ(e.Result(), "6");
  x = 5;
  e.SetFormula("x*2");
  EXPECT_EQ(e.Result(), "10");
  EXPECT_EQ(e.Expressions()->Count(), 1);
}

TEST(FunctionEvaluator, OldestFormulaDroppedBeyondMaxExpressions) {
  TQelFunctionEvaluator e;
  e.Expressions()->SetMaxExpressions(2);
  for (const char* f : {"1", "2", "3"}) e.SetFormula(f);
  ASSERT_EQ(e.Expressions()->Count(), 2);
  EXPECT_EQ(e.Expressions()->GetString(0), "2");
  EXPECT_EQ(e.Expressions()->GetString(1), "3");
  // the dropped one is compiled anew and again pushes out the oldest
  e.SetFormula("1");
  EXPECT_EQ(e.Result(), "1");
  EXPECT_EQ(e.GetFormula(), "1");
  ASSERT_EQ(e.Expressions()->Count(), 2);
  EXPECT_EQ(e.Expressions()->GetString(0), "3");
  EXPECT_EQ(e.Expressions()->GetString(1), "1");
}

TEST(FunctionEvaluator, EmptyFormulaKeepsResult) {
  TQelFunctionEvaluator e;
  e.SetFormula("1+2");
  e.SetFormula("");
  EXPECT_EQ(e.Result(), "3");
  EXPECT_EQ(e.GetFormula(), "");
  e.SetFormula("1+2");
  EXPECT_EQ(e.GetFormula(), "1+2");
}

TEST(FunctionEvaluator, CurrentIndexOutOfRangeReadsAsNoFormula) {
  TQelFunctionEvaluator e;
  e.SetFormula("1+2");
  e.Expressions()->SetExpressionIndex(5);
  EXPECT_EQ(e.GetFormula(), "");
}

TEST(FunctionEvaluator, MissingExpressionObjectRaises) {
  TTestEvaluator e;
  e.SetFormula("1+2");
  e.ReplaceExpressions(nullptr);
  EXPECT_EQ(e.Expressions(), nullptr);
  for (const std::function<void()>& f : std::vector<std::function<void()>>{
           [&] { (void)e.GetFormula(); }, [&] { e.SetFormula("2"); }}) {
    const std::type_info* raised = nullptr;
    EXPECT_EQ(MessageOf(f, &raised), "FExpressions = nil!");
    ASSERT_NE(raised, nullptr);
    EXPECT_EQ(*raised, typeid(rtl::Exception));
  }
  EXPECT_EQ(e.Result(), "3");
}

TEST(FunctionEvaluator, ReplacedVocabularyIsUsed) {
  TTestEvaluator e;
  e.SetFormula("1+2");
  e.ReplaceExpressions(std::make_unique<TCStyleParser>());
  EXPECT_EQ(e.GetFormula(), "");
  EXPECT_EQ(e.Result(), "3");
  e.SetResultFormat(frfBool);
  e.SetFormula("2 == 2 && 1 != 0");
  EXPECT_EQ(e.Result(), "1");
  e.SetResultFormat(frfDouble);
  e.SetFormula("7 % 4");
  EXPECT_EQ(e.Result(), "3");
}

TEST(FunctionEvaluator, PublishedPropertiesInOrder) {
  TQelFunctionEvaluator e;
  std::vector<std::string> names;
  for (const rtl::TPropInfo* p : rtl::GetPropList(e)) names.push_back(p->Name);
  ASSERT_GE(names.size(), 3u);
  const std::vector<std::string> own(names.end() - 3, names.end());
  EXPECT_EQ(own, (std::vector<std::string>{"Formula", "Result", "ResultFormat"}));
  EXPECT_EQ(rtl::GetPropInfo(e, "resultformat")->Default, frfDouble);
}

TEST(FunctionEvaluator, PropertiesSurviveComponentStream) {
  TQelFunctionEvaluator source;
  source.SetResultFormat(frfHex);
  source.SetFormula("255");
  ASSERT_EQ(source.Result(), "$FF");
  rtl::TMemoryStream stream;
  rtl::WriteComponent(stream, source);
  stream.SetPosition(0);

  TQelFunctionEvaluator copy;
  rtl::ReadComponent(stream, copy);
  EXPECT_EQ(copy.ResultFormat(), frfHex);
  EXPECT_EQ(copy.GetFormula(), "255");
  EXPECT_EQ(copy.Result(), "$FF");
  // the formula was compiled into the copy's own expression object
  copy.SetFormula("255");
  EXPECT_EQ(copy.Result(), "$FF");
  EXPECT_EQ(copy.Expressions()->Count(), 1);
}

TEST(FunctionEvaluator, DefaultFormatIsNotStreamed) {
  TQelFunctionEvaluator source;  // every property at its default
  rtl::TMemoryStream stream;
  rtl::WriteComponent(stream, source);
  stream.SetPosition(0);
  TQelFunctionEvaluator target;
  target.SetResultFormat(frfBool);
  target.SetFormula("1>0");
  rtl::ReadComponent(stream, target);
  EXPECT_EQ(target.ResultFormat(), frfBool);
  EXPECT_EQ(target.Result(), "1");
}

}  // namespace
}  // namespace veskmath::qel
