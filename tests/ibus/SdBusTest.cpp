// The engine's bus transport on a private session bus: a call is answered on the GLib loop,
// the loop sleeps while nothing happens, and a bus that goes away answers the next call with an
// error and leaves nothing to spin on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "../server/ServerTestUtil.h"
#include "../support/PrivateBus.h"
#include "tools/ibus/SdBus.h"

namespace veskmath::ibus {
namespace {

double CpuSeconds() {
  rusage use{};
  ::getrusage(RUSAGE_SELF, &use);
  return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
         static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Runs the default main loop for `ms` milliseconds.
void Spin(guint ms) {
  bool done = false;
  g_timeout_add(
      ms, [](gpointer d) -> gboolean { return *static_cast<bool*>(d) = true, FALSE; }, &done);
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

std::vector<hostui::TBusReply> CallGetId(TSdBus& bus) {
  std::vector<hostui::TBusReply> replies;
  bus.Call({{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
             std::nullopt, std::nullopt, 's'}},
           std::chrono::milliseconds(3000),
           [&](const std::vector<hostui::TBusReply>& r) { replies = r; });
  for (int i = 0; i < 300 && replies.empty(); ++i) Spin(10);
  return replies;
}

TEST(SdBus, AnswersOnTheLoopSleepsWhenIdleAndSurvivesTheBus) {
  server::testing::TTempDir dir;
  test_support::TPrivateBus session(dir.Path());
  TSdBus bus;
  ASSERT_EQ(bus.Unavailable(), "");
  std::vector<hostui::TBusReply> replies = CallGetId(bus);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(replies[0].Error) << replies[0].ErrorMessage;
  EXPECT_EQ(replies[0].Value.size(), 32u);  // the bus's id, 32 hexadecimal digits

  for (const char* when : {"with the bus", "after the bus went away"}) {
    const double before = CpuSeconds();
    Spin(500);
    EXPECT_LT(CpuSeconds() - before, 0.2) << "the loop was busy " << when;
    ::kill(session.Pid(), SIGKILL);
    Spin(100);
  }
  EXPECT_EQ(bus.Unavailable(), "the D-Bus session bus went away");
  replies = CallGetId(bus);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(replies[0].Error);
}

}  // namespace
}  // namespace veskmath::ibus
