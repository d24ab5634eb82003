#include "platform/rtl/StringList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {
namespace {

std::vector<std::string> Lines(const TStringList& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

struct TextCase {
  const char* name;
  std::string text;
  std::vector<std::string> lines;
};

class StringListSetText : public ::testing::TestWithParam<TextCase> {};

TEST_P(StringListSetText, SplitsLines) {
  TStringList list;
  list.Add("stale");  // SetText must replace, not append
  list.SetText(GetParam().text);
  EXPECT_EQ(Lines(list), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Breaks, StringListSetText,
    ::testing::Values(TextCase{"Empty", "", {}}, TextCase{"NoBreak", "abc", {"abc"}},
                      TextCase{"FinalCrLf", "a\r\nb\r\n", {"a", "b"}},
                      TextCase{"FinalLineWithoutBreak", "a\r\nb", {"a", "b"}},
                      TextCase{"LfOnly", "a\nb\n", {"a", "b"}},
                      TextCase{"CrOnly", "a\rb\r", {"a", "b"}},
                      TextCase{"LfCrIsTwoBreaks", "a\n\rb", {"a", "", "b"}},
                      TextCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
                      TextCase{"EmptyLines", "\r\n\r\nx", {"", "", "x"}},
                      TextCase{"LoneBreak", "\n", {""}},
                      TextCase{"NulEndsText", std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
                      TextCase{"LeadingNul", std::string("\0abc", 4), {}},
                      TextCase{"KeepsBlanks", "  x \t\r\n", {"  x \t"}}),
    [](const ::testing::TestParamInfo<TextCase>& c) { return std::string(c.param.name); });

TEST(StringList, GetTextEndsEveryLineWithCrLf) {
  TStringList list;
  EXPECT_EQ(list.GetText(), "");
  list.Add("a");
  list.Add("");
  list.Add("b");
  EXPECT_EQ(list.GetText(), "a\r\n\r\nb\r\n");
}

// Records every line that enters through the virtual Add and every removal.
class RecordingList : public TStringList {
 public:
  std::vector<std::string> added;
  int clears = 0;
  int32_t Add(const std::string& s) override {
    added.push_back(s);
    return TStringList::Add(s + "!");
  }
  void Clear() override {
    ++clears;
    TStringList::Clear();
  }
};

TEST(StringList, TextAssignmentAndLoadingGoThroughVirtualAdd) {
  RecordingList list;
  list.SetText("x\r\ny\nz");
  EXPECT_EQ(list.added, (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(list.clears, 1);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"x!", "y!", "z!"}));

  TMemoryStream stream;
  const std::string text = "skipped\r\np\r\nq\r\n";
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  stream.SetPosition(9);  // loading reads from the position on
  list.added.clear();
  list.LoadFromStream(stream);
  EXPECT_EQ(list.added, (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(list.clears, 2);

  const std::string path =
      (std::filesystem::temp_directory_path() / ("sl_virtual_" + std::to_string(getpid())))
          .string();
  TStringList source;
  source.SetText("f1\r\nf2\r\n");
  source.SaveToFile(path);
  list.added.clear();
  list.LoadFromFile(path);
  EXPECT_EQ(list.added, (std::vector<std::string>{"f1", "f2"}));
  std::remove(path.c_str());
}

TEST(StringList, SaveAndLoadFileRoundTrip) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("sl_round_" + std::to_string(getpid()))).string();
  TStringList out;
  out.Add("a:=2");
  out.Add("");
  out.Add("b:=3");
  out.SaveToFile(path);
  EXPECT_EQ(std::filesystem::file_size(path), 14u);
  TStringList in;
  in.LoadFromFile(path);
  EXPECT_EQ(Lines(in), Lines(out));
  // An empty list saves a file of 0 bytes (replacing the previous contents).
  TStringList empty;
  empty.SaveToFile(path);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  std::remove(path.c_str());
  EXPECT_THROW(in.LoadFromFile(path), EFOpenError);
}

TEST(StringList, IndexErrors) {
  TStringList list;
  list.Add("a");
  auto expectIndexError = [](auto&& call, const std::string& message) {
    try {
      call();
      ADD_FAILURE() << "no error for " << message;
    } catch (const EStringListError& e) {
      EXPECT_EQ(e.Message(), message);
    }
  };
  expectIndexError([&] { list.Get(1); }, "List index out of bounds (1)");
  expectIndexError([&] { list.Get(-1); }, "List index out of bounds (-1)");
  expectIndexError([&] { list.Put(5, "x"); }, "List index out of bounds (5)");
  expectIndexError([&] { list.GetObject(1); }, "List index out of bounds (1)");
  expectIndexError([&] { list.Delete(1); }, "List index out of bounds (1)");
  expectIndexError([&] { list.Insert(2, "x"); }, "List index out of bounds (2)");
  expectIndexError([&] { list.Exchange(0, 3); }, "List index out of bounds (3)");
  list.Insert(1, "end");  // Count itself is a valid insertion point
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "end"}));
}

TEST(StringList, SortedInsertionAndDuplicates) {
  TStringList list;
  list.SetSorted(true);
  for (const char* s : {"pear", "Apple", "fig", "apple"}) list.Add(s);
  // Case-insensitive by default: "apple" is a duplicate of "Apple" and is ignored.
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"Apple", "fig", "pear"}));
  EXPECT_EQ(list.Add("FIG"), 1);  // dupIgnore answers the existing index
  EXPECT_EQ(list.IndexOf("PEAR"), 2);
  EXPECT_EQ(list.IndexOf("plum"), -1);
  int32_t index = -1;
  EXPECT_FALSE(list.Find("grape", index));
  EXPECT_EQ(index, 2);

  list.SetDuplicates(dupError);
  try {
    list.Add("pear");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "String list does not allow duplicates");
  }
  EXPECT_EQ(list.Count(), 3);

  list.SetDuplicates(dupAccept);
  list.Add("fig");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"Apple", "fig", "fig", "pear"}));
  EXPECT_TRUE(list.Find("fig", index));
  EXPECT_EQ(index, 1);

  try {
    list.Insert(0, "zzz");
    ADD_FAILURE() << "insert into sorted list accepted";
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "Operation not allowed on sorted list");
  }
  EXPECT_THROW(list.Put(0, "x"), EStringListError);
}

TEST(StringList, CaseSensitiveSortingAndSearch) {
  TStringList list;
  list.SetCaseSensitive(true);
  list.SetText("b\r\nB\r\na\r\n");
  EXPECT_EQ(list.IndexOf("A"), -1);
  list.SetSorted(true);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"B", "a", "b"}));
  list.SetCaseSensitive(false);  // re-sorts; stable for the equal "B"/"b"
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "B", "b"}));
  EXPECT_EQ(list.IndexOf("A"), 0);
}

TEST(StringList, ObjectsTravelWithTheirLines) {
  int x = 1, y = 2, z = 3;
  TStringList list;
  list.AddObject("c", &z);
  list.AddObject("a", &x);
  list.InsertObject(1, "b", &y);
  list.SetSorted(true);
  EXPECT_EQ(list.GetObject(0), &x);
  EXPECT_EQ(list.GetObject(1), &y);
  EXPECT_EQ(list.GetObject(2), &z);
  list.SetSorted(false);
  list.Exchange(0, 2);
  EXPECT_EQ(list.Get(0), "c");
  EXPECT_EQ(list.GetObject(0), &z);
  EXPECT_EQ(list.GetObject(2), &x);

  TStringList copy;
  copy.Add("old");
  copy.Assign(list);
  EXPECT_EQ(Lines(copy), Lines(list));
  EXPECT_EQ(copy.GetObject(2), &x);
  copy.AddStrings(copy);  // adding a list to itself doubles it
  EXPECT_EQ(copy.Count(), 6);
}

TEST(StringList, ChangeNotificationsOutsideUpdateBrackets) {
  TStringList list;
  int changes = 0, changing = 0;
  list.OnChange = [&](TStringList&) { ++changes; };
  list.OnChanging = [&](TStringList&) { ++changing; };
  list.Add("a");
  list.Delete(0);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(changing, 2);
  list.SetText("1\r\n2\r\n3\r\n");  // one bracket: one pair of notifications
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(changing, 3);
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("x");
  list.EndUpdate();
  EXPECT_EQ(list.UpdateCount(), 1);
  EXPECT_EQ(changes, 3);
  list.EndUpdate();
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(list.UpdateCount(), 0);
}

// A subclass whose Add refuses a line: the update bracket of SetText must still close.
class RefusingList : public TStringList {
 public:
  int32_t Add(const std::string& s) override {
    if (s == "bad") throw Exception("refused " + s);
    return TStringList::Add(s);
  }
};

TEST(StringList, FailingAddStopsTextAssignmentAndClosesBracket) {
  RefusingList list;
  EXPECT_THROW(list.SetText("ok\r\nbad\r\nlater\r\n"), Exception);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"ok"}));
  EXPECT_EQ(list.UpdateCount(), 0);
}

}  // namespace
}  // namespace veskmath::rtl
