#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "ParamName.h"
#include "ParserTestUtil.h"
#include "platform/rtl/Streams.h"

namespace veskmath::qel {
namespace {

using testing::TestExpression;

std::string GeneralMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const EParserException& e) {
    return "EParserException: " + e.Message();
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return "no error";
}

TEST(Expression, FreshObjectHasNoExpression) {
  TestExpression expr;
  EXPECT_EQ(expr.GetExpressionIndex(), -1);
  EXPECT_EQ(expr.ExpressionSize(), 0);
  EXPECT_EQ(GeneralMessage([&] { expr.Evaluate(); }), "No expression found!");
  EXPECT_EQ(GeneralMessage([&] { expr.EvaluateCplx(); }), "No expression found!");
}

TEST(Expression, EvaluationForms) {
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    EXPECT_EQ(expr.Add("1+2"), 0);
    EXPECT_EQ(expr.Evaluate(), 3);
    EXPECT_EQ(expr.EvaluateCplx().Re, 3);
    EXPECT_EQ(expr.EvaluateCplx().Im, 0);
    EXPECT_EQ(expr.EvaluateHex(), "$3");
    EXPECT_EQ(GeneralMessage([&] { expr.EvaluateBool(); }),
              "EParserException: Expression is not boolean");
    expr.Add("(1+2i)*(1-2i)");
    EXPECT_EQ(expr.Evaluate(), 5);
    EXPECT_EQ(expr.EvaluateCplx().Re, 5);
    expr.Add("1<2");
    EXPECT_TRUE(expr.EvaluateBool());
    expr.Add("nan<1");  // a NaN-free true comparison answers 1
    EXPECT_TRUE(expr.EvaluateBool());
  }
}

struct HexCase {
  const char* text;
  const char* hex;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const HexCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class ExpressionHex : public ::testing::TestWithParam<HexCase> {};

TEST_P(ExpressionHex, RoundsToNearestEven) {
  TestExpression expr;
  expr.Add(GetParam().text);
  EXPECT_EQ(expr.EvaluateHex(), GetParam().hex) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ExpressionHex,
    ::testing::Values(HexCase{"255", "$FF"}, HexCase{"0", "$0"}, HexCase{"-1", "$FFFFFFFFFFFFFFFF"},
                      HexCase{"2.5", "$2"}, HexCase{"3.5", "$4"},
                      HexCase{"nan", "$8000000000000000"}, HexCase{"inf", "$8000000000000000"},
                      HexCase{"1e19", "$8000000000000000"}, HexCase{"$7fffffff", "$7FFFFFFF"}),
    veskmath::tests::ReadableParamName());

TEST(Expression, HexCharPrefixesHexResults) {
  TestExpression expr;
  expr.HexChar = '#';
  expr.Add("#10");
  EXPECT_EQ(expr.EvaluateHex(), "#10");
}

TEST(Expression, EmptyTextKeepsThePreviousList) {
  TestExpression expr;
  expr.Add("1+2");
  EXPECT_EQ(expr.Add(""), -1);
  EXPECT_EQ(expr.GetExpressionIndex(), -1);
  EXPECT_EQ(expr.ExpressionSize(), 0);
  EXPECT_EQ(expr.Evaluate(), 3);
  EXPECT_EQ(expr.Count(), 1);
}

TEST(Expression, MaxExpressionsDropsTheOldest) {
  TestExpression expr;
  for (int k = 1; k <= 12; ++k) {
    const int32_t index = expr.Add(std::to_string(k));
    EXPECT_EQ(index, k <= 10 ? k - 1 : 9);
  }
  EXPECT_EQ(expr.Count(), 10);
  EXPECT_EQ(expr.GetString(0), "3");
  EXPECT_EQ(expr.Evaluate(), 12);
  EXPECT_EQ(expr.GetExpressionIndex(), 9);
}

TEST(Expression, MaxExpressionsZeroDropsTheNewExpressionAtOnce) {
  TestExpression expr;
  expr.SetMaxExpressions(0);
  EXPECT_EQ(expr.Add("1"), -1);
  EXPECT_EQ(expr.Count(), 0);
  EXPECT_EQ(expr.GetExpressionIndex(), -1);
  EXPECT_EQ(GeneralMessage([&] { expr.Evaluate(); }), "No expression found!");
  expr.Insert(0, "2");  // dropped too: nothing to move
  EXPECT_EQ(expr.Count(), 0);
}

TEST(Expression, AssignmentSurvivesTheAssigningExpression) {
  // x keeps its value after the expression that computed it is dropped (sanitizer build).
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    expr.Add("x:=2*3+1");
    EXPECT_EQ(expr.Evaluate(), 7);
    for (int k = 0; k < 12; ++k) {
      expr.Add("x+" + std::to_string(k));
      EXPECT_EQ(expr.Evaluate(), 7 + k);
    }
    expr.Clear();
    expr.Add("x");
    EXPECT_EQ(expr.Evaluate(), 7);
    expr.Add("x:=x*2i");
    expr.Evaluate();
    expr.Delete(0);
    expr.Add("x");
    EXPECT_EQ(expr.EvaluateCplx().Im, 14);
  }
}

TEST(Expression, AssignThenUse) {
  TestExpression expr;
  expr.Add("x:=5");
  EXPECT_EQ(expr.Evaluate(), 5);
  expr.Add("x*2");
  EXPECT_EQ(expr.Evaluate(), 10);
  // Equal precedences group from the left: (y:=x):=3 assigns x to y, then 3 to the
  // first assignment's own result.
  expr.Add("y:=x:=3");
  EXPECT_EQ(expr.Evaluate(), 3);
  expr.Add("x+y");
  EXPECT_EQ(expr.Evaluate(), 10);
}

TEST(Expression, BoundVariables) {
  TestExpression expr;
  double y = 4;
  expr.DefineVariable("Y", &y);
  expr.Add("y^2");
  EXPECT_EQ(expr.Evaluate(), 16);
  y = 5;
  EXPECT_EQ(expr.Evaluate(), 25);
  // An assignment of the caller's kind writes the caller's storage; another kind goes to
  // the word's own storage until the caller's kind is assigned again.
  expr.Add("y:=7");
  expr.Evaluate();
  EXPECT_EQ(y, 7);
  expr.Add("y:=2i");
  expr.Evaluate();
  EXPECT_EQ(y, 7);
  expr.Add("y");
  EXPECT_EQ(expr.EvaluateCplx().Im, 2);

  TCplx z{1, 1};
  expr.DefineVariableCplx("z", &z);
  expr.Add("z*z");
  EXPECT_EQ(expr.EvaluateCplx().Im, 2);
  expr.Add("z:=3");
  expr.Evaluate();
  expr.Add("z");
  EXPECT_EQ(expr.EvaluateCplx().Re, 3);
  EXPECT_EQ(z.Re, 1);
}

TEST(Expression, DefineKeepsTheRegisteredWord) {
  TestExpression expr;
  expr.Add("x+1");
  double v = 100;
  expr.DefineVariable("X", &v);  // x is a generated variable already
  expr.Add("x:=1");
  expr.Evaluate();
  EXPECT_EQ(v, 100);
  expr.DefineVariable("pi", &v);
  expr.Add("pi");
  EXPECT_DOUBLE_EQ(expr.Evaluate(), 3.141592653589793);
}

TEST(Expression, UnDefineIsCaseSensitive) {
  TestExpression expr;
  double v = 1;
  expr.DefineVariable("Abc", &v);
  EXPECT_FALSE(expr.UnDefine("Abc"));
  EXPECT_TRUE(expr.UnDefine("abc"));
  EXPECT_FALSE(expr.UnDefine("abc"));
}

TEST(Expression, ReplaceSymbol) {
  TestExpression expr;
  const int32_t words = expr.FExpressList.Count();
  auto* seven = new TDoubleConstant("PI", 7.0);
  EXPECT_TRUE(expr.ReplaceSymbol("Pi", seven));
  EXPECT_EQ(expr.FExpressList.Count(), words);
  expr.Add("pi");
  EXPECT_EQ(expr.Evaluate(), 7);
  // A word whose own name is still taken stays the caller's.
  TDoubleConstant taken("e1", 1.0);
  EXPECT_FALSE(expr.ReplaceSymbol("nosuchname", nullptr));
  auto* other = new TDoubleConstant("ln2", 2.0);
  EXPECT_FALSE(expr.ReplaceSymbol("pi", other));
  delete other;
  EXPECT_EQ(expr.FExpressList.Count(), words - 1);
}

TEST(Expression, CleanUpVariablesAndGeneratedVars) {
  TestExpression expr;
  double v = 0;
  std::string s;
  expr.DefineVariable("v", &v);
  expr.DefineStringVariable("s", &s);
  expr.Add("b+a");
  rtl::TList generated;
  expr.GetGeneratedVars(generated);
  ASSERT_EQ(generated.Count(), 2);
  EXPECT_EQ(static_cast<TExprWord*>(generated.Get(0))->Name(), "a");
  EXPECT_EQ(static_cast<TExprWord*>(generated.Get(1))->Name(), "b");
  const int32_t words = expr.FExpressList.Count();
  expr.Clear();
  expr.CleanUpVariables();
  EXPECT_EQ(expr.FExpressList.Count(), words - 4);
  expr.GetGeneratedVars(generated);
  EXPECT_EQ(generated.Count(), 0);
}

TEST(Expression, ClearKeepsTheDictionary) {
  TestExpression expr;
  expr.Add("q:=4");
  expr.Evaluate();
  const int32_t words = expr.FExpressList.Count();
  expr.Clear();
  EXPECT_EQ(expr.Count(), 0);
  EXPECT_EQ(expr.FConstants.Count(), 0);
  EXPECT_EQ(expr.FExpressList.Count(), words);
  expr.Add("q");
  EXPECT_EQ(expr.Evaluate(), 4);
}

TEST(Expression, InsertDeletePutString) {
  TQelExpression expr;
  expr.Add("1");
  expr.Add("2");
  expr.Add("3");
  expr.PutString(0, "7");
  ASSERT_EQ(expr.Count(), 3);
  EXPECT_EQ(expr.GetString(0), "7");
  EXPECT_EQ(expr.GetString(1), "2");
  EXPECT_EQ(expr.Evaluate(0), 7);
  EXPECT_EQ(expr.Evaluate(2), 3);
  expr.Insert(1, "5");
  EXPECT_EQ(expr.GetExpressionIndex(), 1);
  EXPECT_EQ(expr.Evaluate(), 5);
  EXPECT_EQ(expr.GetString(2), "2");
  expr.Insert(1, "");
  EXPECT_EQ(expr.Count(), 4);
  // Deleting before the current expression makes its successor current.
  expr.SetExpressionIndex(1);
  expr.Delete(0);
  EXPECT_EQ(expr.GetExpressionIndex(), 1);
  EXPECT_EQ(expr.Evaluate(), 2);
  // The current index falls off the end: the last one becomes current.
  expr.SetExpressionIndex(2);
  expr.Delete(2);
  EXPECT_EQ(expr.GetExpressionIndex(), 1);
  EXPECT_THROW(expr.Delete(5), rtl::EStringListError);
  EXPECT_THROW(expr.GetString(5), rtl::EStringListError);
  expr.SetExpressionIndex(7);
  EXPECT_EQ(GeneralMessage([&] { expr.Evaluate(); }), "No expression found!");
  expr.Delete(0);
  expr.Delete(0);
  EXPECT_EQ(expr.GetExpressionIndex(), -1);
}

TEST(Expression, PutStringOnAFullListReplacesOnlyItsLine) {
  TQelExpression expr;
  for (int k = 0; k < 10; ++k) expr.Add(std::to_string(k));
  expr.PutString(5, "50");
  ASSERT_EQ(expr.Count(), 10);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(expr.GetString(k), k == 5 ? "50" : std::to_string(k));
  EXPECT_EQ(expr.Evaluate(), 50);
  expr.PutString(5, "");  // changes nothing
  EXPECT_EQ(expr.Count(), 10);
  EXPECT_EQ(expr.GetString(6), "6");
  expr.PutString(10, "10");  // at the end: appended
  EXPECT_EQ(expr.Count(), 11);
}

TEST(Expression, InsertIntoAFullListGoesInFrontOfItsLine) {
  TQelExpression expr;
  for (int k = 0; k < 10; ++k) expr.Add(std::to_string(k));
  expr.Insert(5, "x");  // 0 is dropped; x stands before 5
  ASSERT_EQ(expr.Count(), 10);
  EXPECT_EQ(expr.GetString(0), "1");
  EXPECT_EQ(expr.GetString(4), "x");
  EXPECT_EQ(expr.GetString(5), "5");
  EXPECT_EQ(expr.GetExpressionIndex(), 4);
  expr.Insert(10, "y");  // at the end
  EXPECT_EQ(expr.GetString(9), "y");
}

TEST(Expression, IndexedEvaluationForms) {
  TQelExpression expr;
  expr.Add("255");
  expr.Add("2<1");
  expr.Add("1+i");
  EXPECT_EQ(expr.EvaluateHex(0), "$FF");
  EXPECT_FALSE(expr.EvaluateBool(1));
  EXPECT_EQ(expr.EvaluateCplx(2).Im, 1);
  EXPECT_EQ(expr.Evaluate(2), 1);
}

TEST(Expression, StreamRoundTrip) {
  rtl::TMemoryStream stream;
  {
    TQelExpression expr;
    expr.Add("a");
    expr.Add("b+1");
    expr.SaveToStream(stream);
  }
  ASSERT_EQ(stream.Size(), 12);
  const uint8_t* bytes = stream.Memory();
  EXPECT_EQ(bytes[0], 8);
  EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
  EXPECT_EQ(std::memcmp(bytes + 4, "a\r\nb+1\r\n", 8), 0);

  TQelExpression loaded;
  loaded.Add("old");
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.GetString(1), "b+1");
  EXPECT_TRUE(std::isnan(loaded.Evaluate(1)));
  EXPECT_EQ(loaded.UpdateCount(), 0);
}

TEST(Expression, StreamLoadStopsAtTheFirstBadLine) {
  rtl::TMemoryStream stream;
  const std::string text = "1\r\n\r\n2\r\n(3\r\n4\r\n";
  const uint32_t n = static_cast<uint32_t>(text.size());
  stream.WriteBuffer(&n, 4);
  stream.WriteBuffer(text.data(), static_cast<int32_t>(n));
  stream.SetPosition(0);
  TQelExpression expr;
  EXPECT_THROW(expr.LoadFromStream(stream), EParserException);
  EXPECT_EQ(expr.Count(), 2);
  EXPECT_EQ(expr.UpdateCount(), 0);
}

std::string Repeat(const std::string& part, int times) {
  std::string text;
  for (int k = 0; k < times; ++k) text += part;
  return text;
}

// The phases after the checker recurse once per tree level, and a tree is as deep as its text
// has words: beyond kMaxExpressionWords a text is refused. "sin(" 20000 deep and a sum of
// 250000 ones used to run the stack out (and took seconds to build).
TEST(Expression, OverlongTextIsRefused) {
  static_assert(kMaxExpressionWords == 10000);
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    expr.Add("-" + Repeat("1+", 4999) + "1");  // exactly 10000 words
    EXPECT_EQ(expr.Evaluate(), 4998);
    expr.Add(Repeat("-(", 500) + "1" + Repeat(")", 500));
    EXPECT_EQ(expr.Evaluate(), 1);
    for (const std::string& text :
         {"-" + Repeat("1+", 5000) + "1", Repeat("sin(", 20000) + "1" + Repeat(")", 20000)}) {
      EXPECT_EQ(GeneralMessage([&] { expr.Add(text); }),
                "EParserException: Syntax error: expression too long");
    }
    EXPECT_EQ(expr.Count(), 2);
  }
}

// The limit stops the lexer itself: the names past it are never registered.
TEST(Expression, OverlongTextStopsAtTheLimit) {
  std::string text = "n0";
  for (int k = 1; k < 200000; ++k) text += "+n" + std::to_string(k);
  TestExpression expr;
  const int32_t before = expr.FExpressList.Count();
  EXPECT_EQ(GeneralMessage([&] { expr.Add(text); }),
            "EParserException: Syntax error: expression too long");
  EXPECT_LE(expr.FExpressList.Count() - before, kMaxExpressionWords / 2 + 1);
}

TEST(Expression, StreamLengthBeyondTheStreamIsRefused) {
  for (const uint32_t n : {0xFFFFFFFFu, 100u, 0x80000000u}) {
    rtl::TMemoryStream stream;
    stream.WriteBuffer(&n, 4);
    stream.WriteBuffer("1\r\n", 3);
    stream.SetPosition(0);
    TQelExpression expr;
    expr.Add("5");
    EXPECT_EQ(GeneralMessage([&] { expr.LoadFromStream(stream); }),
              "EParserException: Invalid expression text length in stream");
    EXPECT_EQ(expr.Count(), 1);
    EXPECT_EQ(expr.UpdateCount(), 0);
  }
}

TEST(Expression, AssignedStringListLinesAreCompiled) {
  TQelExpression source;
  source.Add("2*3");
  TQelExpression copy;
  copy.Assign(source);  // the lines are compiled again, the lists are not shared
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.Evaluate(), 6);
  source.Clear();  // the copy's lists are its own
  EXPECT_EQ(copy.Evaluate(0), 6);
}

// The list operations that could let a line's object stray from its text are not offered.
template <class E>
constexpr bool kCanPutObject = requires(E& e) {
  e.PutObject(0, nullptr);
};
template <class E>
constexpr bool kCanSetSorted = requires(E& e) {
  e.SetSorted(true);
};
static_assert(!std::is_convertible_v<TQelExpression*, rtl::TStringList*>);
static_assert(!kCanPutObject<TQelExpression> && !kCanSetSorted<TQelExpression>);
static_assert(kCanPutObject<rtl::TStringList>);  // the checks can tell

// Every list operation keeps text, compiled list and current index together: each text
// evaluates as itself, and so does the current expression.
TEST(Expression, ListOperationsKeepTextAndCompiledListTogether) {
  struct Case {
    const char* name;
    std::function<void(TQelExpression&)> op;
    const char* texts;  // the lines afterwards, joined by blanks
  };
  rtl::TStringList plain;
  plain.Add("5");
  plain.Add("6");
  const std::vector<Case> cases = {
      {"Put", [](TQelExpression& e) { e.Put(0, "7"); }, "7 20 30"},
      {"PutString", [](TQelExpression& e) { e.PutString(1, "8"); }, "10 8 30"},
      {"Exchange", [](TQelExpression& e) { e.Exchange(0, 1); }, "20 10 30"},
      {"Sort", [](TQelExpression& e) { e.Exchange(0, 2), e.Sort(); }, "10 20 30"},
      {"Assign", [&](TQelExpression& e) { e.Assign(plain); }, "5 6"},
      {"AssignExpression",
       [](TQelExpression& e) {
         TQelExpression other;
         other.Add("40");
         e.Assign(other);
       },
       "40"},
      {"AddStrings", [&](TQelExpression& e) { e.AddStrings(plain); }, "10 20 30 5 6"},
      {"AddStringsOfItself", [](TQelExpression& e) { e.AddStrings(e); }, "10 20 30 10 20 30"},
      {"SetText", [](TQelExpression& e) { e.SetText("1\r\n2\n"); }, "1 2"},
      {"LoadFromStream",
       [](TQelExpression& e) {
         TQelExpression other;
         other.Add("3");
         other.Add("4");
         rtl::TMemoryStream stream;
         other.SaveToStream(stream);
         stream.SetPosition(0);
         e.LoadFromStream(stream);
       },
       "3 4"},
      {"Insert", [](TQelExpression& e) { e.Insert(0, "9"); }, "9 10 20 30"},
      {"InsertObject", [](TQelExpression& e) { e.InsertObject(3, "9", &e); }, "10 20 30 9"},
      {"AddObject", [](TQelExpression& e) { e.AddObject("9", &e); }, "10 20 30 9"},
      {"Delete", [](TQelExpression& e) { e.Delete(0); }, "20 30"},
      {"Clear", [](TQelExpression& e) { e.Clear(); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TQelExpression expr;
    expr.Add("10");
    expr.Add("20");
    expr.Add("30");
    expr.SetExpressionIndex(1);
    c.op(expr);
    std::string texts;
    for (int32_t i = 0; i < expr.Count(); ++i) texts += (i > 0 ? " " : "") + expr.GetString(i);
    EXPECT_EQ(texts, c.texts);
    const int32_t current = expr.GetExpressionIndex();
    if (current >= 0 && current < expr.Count()) {
      EXPECT_EQ(expr.Evaluate(), std::stod(expr.GetString(current)));
    }
    for (int32_t i = 0; i < expr.Count(); ++i)
      EXPECT_EQ(expr.Evaluate(i), std::stod(expr.GetString(i))) << "line " << i;
  }
}

// Everything a compile makes goes with its expression: many Adds end with the words of ten.
TEST(Expression, DroppedExpressionsTakeTheirWordsWithThem) {
  for (const bool optimize : {false, true}) {
    TQelExpression expr;
    expr.Optimize = optimize;
    expr.Add("x:=1");  // the generated variable stays in the dictionary
    auto addMany = [&](int n) {
      for (int k = 0; k < n; ++k) expr.Add(k % 2 ? "2*3+x+'a'<'b'" : "sin(1.5)+4i*x+7");
    };
    addMany(10);
    const int64_t ten = TExprWord::LiveCount();
    addMany(2000);
    EXPECT_EQ(TExprWord::LiveCount(), ten);
    expr.Put(3, "1+2+3");
    expr.Delete(0);
    EXPECT_THROW(expr.Add("1+2+"), EParserException);  // a failed compile's words go too
    expr.Add("5");
    EXPECT_LT(TExprWord::LiveCount(), ten);
    const int64_t before = TExprWord::LiveCount();
    expr.Clear();
    EXPECT_LT(TExprWord::LiveCount(), before);
  }
  const int64_t outside = TExprWord::LiveCount();
  {
    TQelExpression expr;
    for (int k = 0; k < 50; ++k) expr.Add("1+2*x");
  }
  EXPECT_EQ(TExprWord::LiveCount(), outside);
}

// The built-in words are made once per process: a new object makes none of them, and a
// named constant assigned in one object keeps its value in the others.
TEST(Expression, BuiltinWordsAreSharedButConstantsStayPerObject) {
  TQelExpression first;
  const int64_t live = TExprWord::LiveCount();
  TQelExpression second;
  EXPECT_EQ(TExprWord::LiveCount(), live);
  EXPECT_EQ(second.WordsCount(), first.WordsCount());
  first.Add("pi:=3");
  first.Evaluate();
  first.Add("pi");
  EXPECT_EQ(first.Evaluate(), 3);
  second.Add("2*pi");
  EXPECT_EQ(second.Evaluate(), 2 * Math387::PI);
  for (int32_t k = 0; k < second.WordsCount(); ++k) {  // written through Word: this object's
    if (second.Word(k)->Name() == "pi") *second.Word(k)->AsPointer()->Real = 4;
  }
  TQelExpression third;
  third.Add("pi");
  EXPECT_EQ(third.Evaluate(), Math387::PI);
}

// The engine asks a word, not its routine, whether it has a form for a fixed exponent.
TEST(Expression, FixedExponentFormIsTakenFromTheWord) {
  static auto answer = [](PExpressionRec rec) { vocab::SetReal(rec, 42); };
  auto word = std::make_unique<TFunction>("pw", ops::Power, 2, true, 20);
  word->SetFixedExponentForm([](double e) -> TDoubleFunc { return e == 3 ? +answer : nullptr; });
  TQelExpression expr;
  expr.DefineWord(std::move(word));
  expr.Add("2 pw 3");
  EXPECT_EQ(expr.Evaluate(), 42);
  expr.Add("2 pw 4");
  EXPECT_EQ(expr.Evaluate(), 16);
}

TEST(Expression, WordsInNameOrder) {
  TestExpression expr;
  for (int32_t k = 1; k < expr.FExpressList.Count(); ++k) {
    EXPECT_LE(
        expr.FExpressList.Compare(expr.Word(k - 1)->Name().c_str(), expr.Word(k)->Name().c_str()),
        0);
  }
}

TEST(Expression, DerivedVocabularyIsFilledByItsOwnOverride) {
  class Custom : public TQelExpression {
   public:
    Custom() : TQelExpression(TNoFill{}) { FillExpressList(); }

   protected:
    void FillExpressList() override {
      TQelExpression::FillExpressList();
      ReplaceSymbol("pi", new TDoubleConstant("pi", 3.0));
    }
  };
  Custom expr;
  expr.Add("pi");
  EXPECT_EQ(expr.Evaluate(), 3);
}

}  // namespace
}  // namespace veskmath::qel
