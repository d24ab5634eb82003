#include <gtest/gtest.h>

#include "ParamName.h"
#include "ParserTestUtil.h"

namespace veskmath::qel {
namespace {

using testing::DecimalSeparatorScope;
using testing::TestExpression;

struct LexCase {
  const char* text;
  const char* words;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const LexCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class LexerTest : public ::testing::TestWithParam<LexCase> {};

TEST_P(LexerTest, SplitsIntoWords) {
  TestExpression expr;
  EXPECT_EQ(expr.Lex(GetParam().text), GetParam().words) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, LexerTest,
    ::testing::Values(LexCase{"Twice(PI)", "fn:twice punct:( num:pi punct:)"},
                      LexCase{"2x", "num:2 gen:x"}, LexCase{"1e-5", "num:1e-5"},
                      LexCase{"2.5i", "num:2.5i"}, LexCase{"1.5e+3i", "num:1.5e+3i"},
                      LexCase{".5", "num:.5"}, LexCase{"3.14.15", "num:3.14 num:.15"},
                      LexCase{"a<=b", "gen:a op:<= gen:b"}, LexCase{"x:=3", "gen:x op::= num:3"},
                      LexCase{"p!=q", "gen:p gen:!= gen:q"}, LexCase{"u&&v", "gen:u gen:&& gen:v"},
                      LexCase{"u||v", "gen:u gen:|| gen:v"}, LexCase{"a=<b", "gen:a gen:=< gen:b"},
                      LexCase{"a<>b", "gen:a op:<> gen:b"}, LexCase{"5!", "num:5 op:!"},
                      LexCase{"1,5", "num:1 punct:, num:5"}, LexCase{"$1f", "num:31"},
                      LexCase{"$zz", "gen:$zz"}, LexCase{"$FFFFFFFF", "num:-1"},
                      LexCase{"'Hello World'", "str:'hello world'"}, LexCase{"'abc", "str:'abc"},
                      LexCase{"a\tb", "gen:a gen:b"}, LexCase{"  a  +  b  ", "gen:a op:+ gen:b"},
                      LexCase{"A_1 mod _b", "gen:a_1 op:mod gen:_b"},
                      LexCase{"7 DIV 2", "num:7 op:div num:2"}, LexCase{"a?b", "gen:a gen:? gen:b"},
                      LexCase{"x;y", "gen:x gen:; gen:y"}, LexCase{"\x01", ""},
                      LexCase{"\x82\xa0", "gen:\x82 gen:\xa0"}),
    veskmath::tests::ReadableParamName());

TEST(Lexer, StringConstantValueKeepsInnerBlanks) {
  TestExpression expr;
  auto words = expr.ParseString("'Hello  World'");
  ASSERT_EQ(words->Count(), 1);
  EXPECT_EQ(words->Word(0)->GetAsString(), "hello  world");
}

TEST(Lexer, HexLiteralValue) {
  TestExpression expr;
  auto words = expr.ParseString("$1f");
  ASSERT_EQ(words->Count(), 1);
  EXPECT_EQ(*words->Word(0)->AsPointer()->Real, 31.0);
}

TEST(Lexer, OtherHexChar) {
  TestExpression expr;
  expr.HexChar = '#';
  EXPECT_EQ(expr.Lex("#ff+$ff"), "num:255 op:+ gen:$ gen:ff");
}

TEST(Lexer, HexLiteralErrorsPropagate) {
  TestExpression expr;
  EXPECT_THROW(expr.ParseString("$1.5"), rtl::EConvertError);
  EXPECT_THROW(expr.ParseString("$123456789"), rtl::EConvertError);
}

TEST(Lexer, CommaAsDecimalSeparator) {
  DecimalSeparatorScope comma(',');
  TestExpression expr;
  EXPECT_EQ(expr.GetSeparator(), ';');
  EXPECT_EQ(expr.Lex("1,5;2"), "num:1,5 punct:; num:2");
  EXPECT_EQ(expr.Lex("1.5"), "num:1 gen:. num:5");
  expr.Add("sum2(1,5;2)");
  EXPECT_DOUBLE_EQ(expr.Evaluate(), 3.5);
}

TEST(Lexer, GeneratedVariablesAreSharedByLaterExpressions) {
  TestExpression expr;
  auto first = expr.ParseString("x+1");
  auto second = expr.ParseString("2*X");
  EXPECT_EQ(first->Word(0), second->Word(2));
  EXPECT_EQ(expr.FExpressList.Find("x"), first->Word(0));
  const int32_t words = expr.WordsCount();
  expr.ParseString("x");
  EXPECT_EQ(expr.WordsCount(), words);
}

TEST(Lexer, LiteralsBelongToTheConstantsCollection) {
  TestExpression expr;
  const int32_t before = expr.FConstants.Count();
  expr.ParseString("1+'a'+2");
  EXPECT_EQ(expr.FConstants.Count(), before + 3);
}

}  // namespace
}  // namespace veskmath::qel
