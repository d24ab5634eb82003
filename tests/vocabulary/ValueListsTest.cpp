#include "vocabulary/ValueLists.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::qel {
namespace {

using Math387::C_ZERO;

// Every line carries its own block: non-null and not shared with another line.
template <class L>
void ExpectPaired(const L& list) {
  std::set<void*> blocks;
  for (int32_t i = 0; i < list.Count(); ++i) {
    void* block = list.GetObject(i);
    EXPECT_NE(block, nullptr) << "line " << i;
    EXPECT_TRUE(blocks.insert(block).second) << "line " << i << " shares a block";
  }
}

std::vector<std::string> Names(const rtl::TStringList& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

bool Same(const TCplx& a, const TCplx& b) { return a.Re == b.Re && a.Im == b.Im; }

TEST(ValueLists, AddPutAndGet) {
  TRealList reals;
  EXPECT_EQ(reals.Add("x"), 0);
  EXPECT_EQ(reals.GetValue(0), 0.0);
  reals.PutValue(0, 2.5);
  EXPECT_EQ(reals.GetValue(0), 2.5);
  EXPECT_EQ(reals.AddValue("y", -1.25), 1);
  EXPECT_EQ(reals.GetValue(1), -1.25);

  TCplxList cplx;
  const int32_t z = cplx.AddValue("z", TCplx{1, 2});
  EXPECT_TRUE(Same(cplx.GetValue(z), TCplx{1, 2}));
  const int32_t w = cplx.Add("w");
  EXPECT_TRUE(Same(cplx.GetValue(w), C_ZERO));
  cplx.PutValue(w, TCplx{-3, 0.5});
  EXPECT_TRUE(Same(cplx.GetValue(w), TCplx{-3, 0.5}));
  ExpectPaired(cplx);
}

TEST(ValueLists, InsertKeepsValuesWithTheirNames) {
  TRealList list;
  list.AddValue("a", 1);
  list.AddValue("c", 3);
  list.InsertValue(1, "b", 2);
  list.Insert(0, "zero");
  list.Insert(4, "end");  // Count is a valid position
  EXPECT_EQ(Names(list), (std::vector<std::string>{"zero", "a", "b", "c", "end"}));
  const std::vector<double> values = {0, 1, 2, 3, 0};
  for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list.GetValue(i), values[i]);
  list.Exchange(1, 3);
  EXPECT_EQ(list.Get(1), "c");
  EXPECT_EQ(list.GetValue(1), 3);
  list.Delete(2);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"zero", "c", "a", "end"}));
  EXPECT_EQ(list.GetValue(2), 1);
  ExpectPaired(list);
}

TEST(ValueLists, IndexErrorsTouchNoBlock) {
  TRealList list;
  list.AddValue("a", 4);
  struct Case {
    const char* what;
    std::function<void()> call;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"GetValue", [&] { list.GetValue(1); }, "List index out of bounds (1)"},
      {"PutValue", [&] { list.PutValue(-1, 9); }, "List index out of bounds (-1)"},
      {"Delete", [&] { list.Delete(1); }, "List index out of bounds (1)"},
      {"Insert", [&] { list.Insert(2, "x"); }, "List index out of bounds (2)"},
      {"InsertValue", [&] { list.InsertValue(-1, "x", 1); }, "List index out of bounds (-1)"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << " accepted a bad index";
    } catch (const rtl::EStringListError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.what;
    }
  }
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetValue(0), 4);
}

TEST(ValueLists, TextAssignmentStreamsAndFilesGiveEveryLineAZeroBlock) {
  TRealList list;
  list.AddValue("old", 7);
  list.SetText("a\r\nb\nc");  // frees the block of "old"
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "c"}));
  for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list.GetValue(i), 0.0);
  ExpectPaired(list);

  rtl::TMemoryStream stream;
  const std::string text = "p\r\nq\r\n";
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  stream.SetPosition(0);
  list.PutValue(0, 5);
  list.LoadFromStream(stream);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(list.GetValue(0), 0.0);
  ExpectPaired(list);

  const std::string path =
      (std::filesystem::temp_directory_path() / ("valuelists_" + std::to_string(getpid())))
          .string();
  list.SaveToFile(path);
  TCplxList cplx;
  cplx.AddValue("gone", TCplx{1, 1});
  cplx.LoadFromFile(path);
  EXPECT_EQ(Names(cplx), (std::vector<std::string>{"p", "q"}));
  EXPECT_TRUE(Same(cplx.GetValue(1), C_ZERO));
  ExpectPaired(cplx);
  std::remove(path.c_str());
}

TEST(ValueLists, AssignAndAddStrings) {
  // A plain string list's objects are not value blocks: they must be ignored, never freed.
  int foreign = 0;
  rtl::TStringList plain;
  plain.AddObject("u", &foreign);
  plain.AddObject("v", &foreign);
  TRealList list;
  list.AddValue("old", 1);
  list.Assign(plain);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"u", "v"}));
  EXPECT_EQ(list.GetValue(0), 0.0);
  EXPECT_NE(list.GetObject(0), &foreign);
  ExpectPaired(list);

  TRealList source;
  source.AddValue("s", 1.5);
  source.AddValue("t", -2);
  list.Assign(source);  // same kind: values are copied, blocks are not shared
  EXPECT_EQ(Names(list), (std::vector<std::string>{"s", "t"}));
  EXPECT_EQ(list.GetValue(1), -2);
  EXPECT_NE(list.GetObject(0), source.GetObject(0));
  list.PutValue(0, 9);
  EXPECT_EQ(source.GetValue(0), 1.5);

  list.AddStrings(plain);
  list.AddStrings(list);
  EXPECT_EQ(list.Count(), 8);
  ExpectPaired(list);
  list.Assign(list);  // self-assignment changes nothing
  EXPECT_EQ(list.Count(), 8);
}

TEST(ValueLists, SortedListKeepsValuesAndRefusesDuplicatesWithoutLeaks) {
  TRealList list;
  list.AddValue("b", 2);
  list.AddValue("a", 1);
  list.AddValue("c", 3);
  list.SetSorted(true);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(list.GetValue(0), 1);
  EXPECT_EQ(list.GetValue(2), 3);

  // dupIgnore (the default): the refused name adds nothing and the entry keeps its value.
  EXPECT_EQ(list.AddValue("B", 20), 1);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.GetValue(1), 2);
  EXPECT_EQ(list.Add("c"), 2);
  EXPECT_EQ(list.GetValue(2), 3);

  list.SetDuplicates(rtl::dupError);
  EXPECT_THROW(list.AddValue("a", 5), rtl::EStringListError);
  EXPECT_THROW(list.InsertValue(0, "z", 5), rtl::EStringListError);  // sorted: no insert
  EXPECT_EQ(list.Count(), 3);

  list.SetDuplicates(rtl::dupAccept);
  const int32_t second = list.AddValue("a", 10);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.GetValue(second), 10);
  ExpectPaired(list);

  // Text assignment onto a sorted, duplicate-ignoring list.
  list.SetDuplicates(rtl::dupIgnore);
  list.SetText("y\r\nx\r\ny\r\n");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"x", "y"}));
  ExpectPaired(list);
}

TEST(ValueLists, ClearAndDestructionFreeEveryBlock) {
  // Leaks and double frees are caught by the sanitizer build.
  auto* list = new TCplxList;
  for (int i = 0; i < 50; ++i) list->AddValue("v" + std::to_string(i), TCplx{double(i), 1});
  int changes = 0;
  list->OnChange = [&](rtl::TStringList&) { ++changes; };
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(changes, 1);  // one notification for the whole clear
  list->Clear();          // clearing an empty list is harmless
  list->SetText("a\r\nb\r\n");
  delete list;  // frees the two blocks

  TRealList local;
  local.AddValue("kept until scope end", 1);
}

}  // namespace
}  // namespace veskmath::qel
