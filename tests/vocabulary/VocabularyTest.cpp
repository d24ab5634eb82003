// The built-in dictionary is made in one block in a precomputed order; these tests hold it to
// what registering the words one by one gives, and free its words every way the object can.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <typeinfo>
#include <vector>

#include "parser/ParserTestUtil.h"
#include "vocabulary/CStyleParser.h"

namespace veskmath::qel {
namespace {

// Registers one word of its own before the vocabulary, so the vocabulary goes in one by one.
class OneByOne : public TQelExpression {
 public:
  OneByOne() : TQelExpression(TNoFill{}) { FillExpressList(); }

 protected:
  void FillExpressList() override {
    static double own = 0;
    DefineVariable("zz_own", &own);
    DefineVariable("PI", &own);  // takes the name first: the constant is refused
    TQelExpression::FillExpressList();
  }
};

std::string Describe(TExprWord* w) {
  std::string text = std::string(typeid(*w).name()) + " " + w->Name() + " " +
                     std::to_string(w->GetNFunctionArg()) + " " + std::to_string(w->GetOperPrec()) +
                     " " + std::to_string(w->GetIsOper()) + " " + std::to_string(w->GetVarType()) +
                     " " + std::to_string(w->GetCanVary());
  if (const TValueRef* v = w->AsPointer(); v != nullptr && w->GetIsVariable())
    text += " " + std::to_string(v->IsCplx) + " " +
            (v->IsCplx ? std::to_string(v->Cplx->Re) + "," + std::to_string(v->Cplx->Im)
                       : std::to_string(*v->Real));
  return text;
}

TEST(Vocabulary, OneBlockEqualsOneByOne) {
  TQelExpression fast;
  OneByOne slow;
  const auto describeAll = [](const TQelExpression& expr) {
    std::vector<std::string> words;
    for (int32_t i = 0; i < expr.WordsCount(); ++i) {
      TExprWord* w = expr.Word(i);
      if (w->Name() != "zz_own" && w->Name() != "pi") words.push_back(Describe(w));
    }
    return words;
  };
  EXPECT_EQ(fast.WordsCount(), 121);
  EXPECT_EQ(slow.WordsCount(), 122);
  EXPECT_EQ(describeAll(fast), describeAll(slow));
  slow.Add("pi");  // the name taken first keeps its word
  EXPECT_EQ(slow.Evaluate(), 0.0);
}

// Built-in words freed one at a time by each operation that frees, then the rest with the
// object; under the sanitizer a word freed the wrong way (or twice) fails the run.
TEST(Vocabulary, EveryBuiltinCanBeFreed) {
  std::vector<std::string> names;
  {
    TQelExpression expr;
    for (int32_t i = 0; i < expr.WordsCount(); ++i) names.push_back(expr.Word(i)->Name());
  }
  for (const std::string& name : names) {
    {
      TQelExpression expr;
      EXPECT_TRUE(expr.UnDefine(name)) << name;
      EXPECT_EQ(expr.WordsCount(), 120);
    }
    {
      TQelExpression expr;
      double v = 7;
      EXPECT_TRUE(expr.ReplaceSymbol(name, new TDoubleVariable(name, &v))) << name;
      if (std::isalpha(static_cast<unsigned char>(name[0]))) {  // a name the lexer reads
        expr.Add(name);
        EXPECT_EQ(expr.Evaluate(), 7.0) << name;
      }
      expr.CleanUpVariables();  // frees the heap word that took the block word's place
      EXPECT_EQ(expr.WordsCount(), 120);
    }
  }
  TCStyleParser cstyle;  // ten block words replaced by heap words at construction
  cstyle.Add("fact(5) == 120 && !0");
  EXPECT_EQ(cstyle.Evaluate(), 1.0);
}

TEST(Vocabulary, SeparatorFollowsTheDecimalSeparator) {
  for (const bool comma : {false, true}) {
    testing::DecimalSeparatorScope scope(comma ? ',' : '.');
    testing::TestExpression expr;
    const char* separator = comma ? ";" : ",";
    ASSERT_NE(expr.FExpressList.Find(separator), nullptr) << separator;
    EXPECT_EQ(expr.FExpressList.Find(comma ? "," : ";"), nullptr);
    expr.Add(comma ? "max(2,5;2)" : "max(2.5,2)");
    EXPECT_EQ(expr.Evaluate(), 2.5);
  }
}

}  // namespace
}  // namespace veskmath::qel
