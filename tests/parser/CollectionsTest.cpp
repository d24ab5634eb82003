#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ParserTestUtil.h"

namespace veskmath::qel {
namespace {

using testing::TestExpression;

// Counts its destructions, to check who frees what.
struct Tracked : TObject {
  explicit Tracked(int& deaths) : FDeaths(deaths) {}
  ~Tracked() override { ++FDeaths; }
  int& FDeaths;
};

TEST(Collections, OwnershipByClass) {
  int deaths = 0;
  {
    TOCollection owner(4);
    owner.Add(new Tracked(deaths));
    owner.Add(nullptr);
    owner.Add(new Tracked(deaths));
    void* third = new Tracked(deaths);
    owner.Add(third);
    owner.DoFree(third);
    EXPECT_EQ(deaths, 1);
    owner.AtFree(0);
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(owner.Count(), 2);
  }
  EXPECT_EQ(deaths, 3);

  Tracked kept(deaths);
  {
    TNoOwnerCollection borrower(2);
    borrower.Add(&kept);
    borrower.FreeAll();
    EXPECT_EQ(borrower.Count(), 0);
    borrower.Add(&kept);
  }
  EXPECT_EQ(deaths, 3);
  EXPECT_THROW(TOCollection(1).AtFree(0), rtl::EListError);
}

// Sorted by the integer each item points at.
class IntCollection : public TSortedCollection {
 public:
  using TSortedCollection::TSortedCollection;
  int32_t Compare(const void* a, const void* b) const override {
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
  }
  ~IntCollection() override { SetCount(0); }  // items live on the test's stack
};

TEST(Collections, SearchAnswersHitOrInsertionPoint) {
  IntCollection sorted(4);
  int32_t index = -1;
  const int five = 5;
  EXPECT_FALSE(sorted.Search(&five, index));
  EXPECT_EQ(index, 0);
  int values[] = {1, 3, 5, 7, 9};
  for (int& v : values) EXPECT_TRUE(sorted.Add(&v));
  const int probes[] = {0, 1, 4, 5, 9, 10};
  const int32_t where[] = {0, 0, 2, 2, 4, 5};
  const bool hit[] = {false, true, false, true, true, false};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(sorted.Search(&probes[k], index), hit[k]) << probes[k];
    EXPECT_EQ(index, where[k]) << probes[k];
  }
  int another5 = 5;
  EXPECT_FALSE(sorted.Add(&another5));
  EXPECT_EQ(sorted.Count(), 5);
  EXPECT_EQ(sorted.IndexOf(&another5), 2);  // by key without duplicates
}

TEST(Collections, DuplicatesGoInFrontAndIndexOfUsesIdentity) {
  IntCollection sorted(4);
  sorted.Duplicates = true;
  int a = 2, b = 2, c = 2, low = 1;
  sorted.Add(&low);
  sorted.Add(&a);
  sorted.Add(&b);
  sorted.Add(&c);
  EXPECT_EQ(sorted.Get(1), &c);
  EXPECT_EQ(sorted.Get(2), &b);
  EXPECT_EQ(sorted.Get(3), &a);
  int32_t index;
  EXPECT_TRUE(sorted.Search(&a, index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(sorted.IndexOf(&a), 3);
  int stranger = 2;
  EXPECT_EQ(sorted.IndexOf(&stranger), -1);
}

TEST(Collections, BareSortedCollectionHasNoOrder) {
  TSortedCollection bare(1);
  int x = 1;
  bare.Insert(0, &x);
  int32_t index;
  EXPECT_THROW(bare.Search(&x, index), rtl::EAbstractError);
  bare.SetCount(0);
}

TEST(Collections, ExpressListFoldsCase) {
  TExpressList list(4);
  auto* sin = new TFunction("Sin", nullptr, 1);
  EXPECT_TRUE(list.Add(sin));
  EXPECT_EQ(list.Find("SIN"), sin);
  auto* again = new TFunction("sIN", nullptr, 1);
  EXPECT_FALSE(list.Add(again));
  delete again;
  EXPECT_LT(list.Compare("zz", "_x"), 0);  // "_" (95) after "Z" (90)
  EXPECT_EQ(list.Compare("abc", "ABC"), 0);
  EXPECT_GT(list.Compare("abd", "ABC"), 0);
  EXPECT_LT(list.Compare("ab", "abc"), 0);

  auto* replacement = new TFunction("SIN", nullptr, 2);
  EXPECT_TRUE(list.AddReplace(replacement));
  EXPECT_EQ(list.Find("sin"), replacement);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(sin->GetNFunctionArg(), 1);  // out of the list, still alive
  delete sin;
}

TEST(Collections, StrCollectionOwnsItsStringsInCaseSensitiveOrder) {
  TStrCollection strings(4);
  for (const char* text : {"beta", "alpha", "Alpha", "_x"}) EXPECT_TRUE(strings.Add(NewStr(text)));
  char* again = NewStr("beta");
  EXPECT_FALSE(strings.Add(again));
  StrDispose(again);
  std::vector<std::string> order;
  for (int32_t i = 0; i < strings.Count(); ++i)
    order.emplace_back(static_cast<char*>(strings.Get(i)));
  EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "_x", "alpha", "beta"}));
  int32_t index;
  EXPECT_FALSE(strings.Search("ALPHA", index));
  strings.AtFree(3);  // the rest go with the collection (a leak fails the sanitizer build)
  EXPECT_EQ(strings.Count(), 3);
}

TEST(Collections, VariableTypeValuesAreFixed) {
  // Streams and callers hold these as bytes.
  EXPECT_EQ((std::vector<int>{vtDouble, vtBoolean, vtString, vtLeftBracket, vtRightBracket, vtComma,
                              vtCplx}),
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

// The words of a text, for the scans below.
std::unique_ptr<TExprCollection> Words(TestExpression& expr, const char* text) {
  return expr.ParseString(text);
}

TEST(Collections, EraseExtraBrackets) {
  TestExpression expr;
  struct Case {
    const char* text;
    int32_t left;
  };
  for (const Case& c : {Case{"((x))", 1}, Case{"(a)*(b)", 7}, Case{"((a+b))", 3},
                        Case{"((a)+(b))", 7}, Case{"(a", 2}, Case{"x", 1}}) {
    auto words = Words(expr, c.text);
    words->EraseExtraBrackets();
    EXPECT_EQ(words->Count(), c.left) << c.text;
  }
}

TEST(Collections, NextOperSkipsBracketedWords) {
  TestExpression expr;
  auto words = Words(expr, "twice(x+y)*2");
  EXPECT_EQ(words->NextOper(0), 0);
  EXPECT_EQ(words->NextOper(1), 6);
  EXPECT_EQ(words->NextOper(7), 8);
}

TEST(Collections, BracketCountCheck) {
  TestExpression expr;
  EXPECT_NO_THROW(Words(expr, ")a(")->Check());
  try {
    Words(expr, "(a")->Check();
    FAIL();
  } catch (const EParserException& e) {
    EXPECT_EQ(e.Message(), "Unequal brackets");
  }
}

}  // namespace
}  // namespace veskmath::qel
