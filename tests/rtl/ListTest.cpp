#include "platform/rtl/List.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {
namespace {

// Logs the notifications a subclass receives.
class LoggingList : public TList {
 public:
  std::vector<std::pair<void*, TListNotification>> log;
  ~LoggingList() override { Clear(); }

 protected:
  void Notify(void* item, TListNotification action) override { log.emplace_back(item, action); }
};

TEST(List, IndexErrorsCarryTheIndex) {
  TList list;
  int a = 0;
  list.Add(&a);
  struct Case {
    const char* what;
    std::function<void()> call;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"Get", [&] { list.Get(1); }, "List index out of bounds (1)"},
      {"Put", [&] { list.Put(-1, nullptr); }, "List index out of bounds (-1)"},
      {"Delete", [&] { list.Delete(3); }, "List index out of bounds (3)"},
      {"Insert", [&] { list.Insert(2, nullptr); }, "List index out of bounds (2)"},
      {"Exchange", [&] { list.Exchange(0, 1); }, "List index out of bounds (1)"},
      {"SetCount", [&] { list.SetCount(-2); }, "List count out of bounds (-2)"},
      {"SetCapacity", [&] { list.SetCapacity(0); }, "List capacity out of bounds (0)"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << " accepted a bad index";
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.what;
    }
  }
  EXPECT_EQ(list.Count(), 1);
}

TEST(List, NotificationsForNonNilItems) {
  int a = 0, b = 0, c = 0;
  LoggingList list;
  list.Add(&a);
  list.Add(nullptr);  // nil items are never notified
  list.Insert(0, &b);
  list.Put(1, &c);  // replaces a: deleted, then added
  EXPECT_EQ(list.Extract(&b), &b);
  EXPECT_EQ(list.Extract(&a), nullptr);
  EXPECT_EQ(list.Remove(&c), 0);
  using N = TListNotification;
  const std::vector<std::pair<void*, N>> expected = {
      {&a, N::lnAdded}, {&b, N::lnAdded},     {&a, N::lnDeleted},
      {&c, N::lnAdded}, {&b, N::lnExtracted}, {&c, N::lnDeleted},
  };
  EXPECT_EQ(list.log, expected);
  EXPECT_EQ(list.Count(), 1);  // the nil item remains
}

TEST(List, ClearDeletesFromTheLast) {
  int a = 0, b = 0;
  LoggingList list;
  list.Add(&a);
  list.Add(&b);
  list.Clear();
  ASSERT_EQ(list.log.size(), 4u);
  EXPECT_EQ(list.log[2].first, &b);
  EXPECT_EQ(list.log[3].first, &a);
  EXPECT_EQ(list.Count(), 0);
}

TEST(List, ExchangeAndCount) {
  int v[4] = {};
  TList list;
  for (int& x : v) list.Add(&x);
  list.Exchange(0, 3);
  EXPECT_EQ(list.Get(0), &v[3]);
  EXPECT_EQ(list.Get(3), &v[0]);
  list.SetCount(6);
  EXPECT_EQ(list.Get(5), nullptr);
  list.Put(1, nullptr);
  EXPECT_EQ(list.IndexOfPointer(&v[0]), 3);
  EXPECT_EQ(list.IndexOfPointer(&v[1]), -1);
}

}  // namespace
}  // namespace veskmath::rtl
