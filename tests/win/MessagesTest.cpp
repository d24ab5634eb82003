#include "platform/win/Messages.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>
#include <filesystem>

#include <cstdlib>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/win/Automation.h"
#include "platform/win/ConsoleInput.h"
#include "platform/win/Files.h"
#include "platform/win/RegistryFile.h"
#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "tests/win/AutomationTestCounter.h"

namespace veskmath::win {
namespace {

// A window of the calling thread for the length of a test.
class TestWindow {
 public:
  explicit TestWindow(WindowProc proc = {}) : FHandle(CreateMessageWindow(std::move(proc))) {}
  ~TestWindow() {
    if (FHandle != 0) DestroyWindow(FHandle);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND Handle() const { return FHandle; }

 private:
  HWND FHandle;
};

// Empties the calling thread's queue so tests do not see each other's leftovers.
void Drain() {
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
  }
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override { Drain(); }
  void TearDown() override { Drain(); }
};

TEST_F(Messages, HandlesArePositive32BitAndCarryTheProcessId) {
  const TestWindow w;
  ASSERT_NE(w.Handle(), 0u);
  EXPECT_GT(static_cast<std::int32_t>(w.Handle()), 0);
  EXPECT_EQ(w.Handle() >> 9, static_cast<DWORD>(::getpid()));
}

TEST_F(Messages, PostedMessagesArriveInOrderWithTheirFields) {
  const TestWindow w;
  ASSERT_TRUE(PostMessageA(w.Handle(), WM_USER + 100, 0, 0));
  ASSERT_TRUE(PostMessageA(w.Handle(), WM_USER + 1, 42, -7));
  MSG m;
  ASSERT_EQ(GetMessageA(&m, 0, 0, 0), 1);
  EXPECT_EQ(m.hwnd, w.Handle());
  EXPECT_EQ(m.message, 0x0464u);
  ASSERT_EQ(GetMessageA(&m, 0, 0, 0), 1);
  EXPECT_EQ(m.message, WM_USER + 1);
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_EQ(m.lParam, -7);
  EXPECT_FALSE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
}

TEST_F(Messages, FiltersByWindowAndRangeButNeverHoldBackQuit) {
  const TestWindow a;
  const TestWindow b;
  PostMessageA(a.Handle(), WM_USER + 1, 1, 0);
  PostMessageA(b.Handle(), WM_USER + 2, 2, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, b.Handle(), 0, 0, PM_NOREMOVE));  // look, leave it
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessageA(&m, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_FALSE(PeekMessageA(&m, b.Handle(), 0, 0, PM_REMOVE));

  PostQuitMessage(3);
  ASSERT_TRUE(PeekMessageA(&m, a.Handle(), WM_USER + 50, WM_USER + 60, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(GetMessageA(&m, 0, WM_USER + 1, WM_USER + 1), 1);  // the older window message
  EXPECT_EQ(GetMessageA(&m, 0, 0, 0), 0);                      // WM_QUIT ends a loop
  EXPECT_EQ(m.wParam, 3u);
}

TEST_F(Messages, RefusedPostsAndCalls) {
  HWND gone = 0;
  {
    const TestWindow w;
    gone = w.Handle();
    PostMessageA(gone, WM_USER, 0, 0);
  }
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, 0, 0, 0, PM_NOREMOVE));  // its queued message went with it
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(gone, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(DestroyWindow(gone));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

  EXPECT_EQ(GetMessageA(nullptr, 0, 0, 0), -1);
  EXPECT_EQ(GetMessageA(&m, gone, 0, 0), -1);  // a filter window must be the thread's own

  EXPECT_FALSE(PostThreadMessageA(0x7FFFFFFF, WM_USER, 0, 0));  // no such thread
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

TEST_F(Messages, AWindowBelongsToTheThreadThatMadeIt) {
  std::promise<HWND> made;
  std::promise<MSG> received;
  std::promise<void> mayEnd;
  std::thread owner([&] {
    const HWND hwnd = CreateMessageWindow();
    made.set_value(hwnd);
    MSG m;
    GetMessageA(&m, 0, 0, 0);  // blocks until the main thread posts
    received.set_value(m);
    mayEnd.get_future().wait();
  });
  const HWND hwnd = made.get_future().get();
  EXPECT_FALSE(DestroyWindow(hwnd));  // not ours
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 100, 5, 6));
  const MSG m = received.get_future().get();
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.wParam, 5u);
  MSG mine;
  EXPECT_FALSE(PeekMessageA(&mine, 0, 0, 0, PM_NOREMOVE));  // nothing came to our queue
  mayEnd.set_value();
  owner.join();
  EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));  // the thread's end took its window
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Messages, QuitPostedByThreadIdEndsTheMainLoop) {
  MSG m;
  PeekMessageA(&m, 0, 0, 0, PM_NOREMOVE);  // the main thread has a queue now
  const DWORD mainThread = GetCurrentThreadId();
  std::thread releaser([mainThread] { PostThreadMessageA(mainThread, WM_QUIT, 0, 0); });
  int loops = 0;
  while (GetMessageA(&m, 0, 0, 0) > 0) ++loops;
  releaser.join();
  EXPECT_EQ(loops, 0);
  EXPECT_EQ(m.message, WM_QUIT);
}

TEST_F(Messages, DispatchCallsTheWindowProcedureWhichMayPostAgain) {
  std::vector<UINT> seen;
  const TestWindow w([&seen](HWND hwnd, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    seen.push_back(msg);
    if (msg == WM_USER) PostMessageA(hwnd, WM_USER + 1, wParam + 1, 0);
    return 9;
  });
  PostMessageA(w.Handle(), WM_USER, 1, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(DispatchMessageA(&m), 9);
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  DispatchMessageA(&m);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_USER + 1}));
  m.hwnd = 0;
  EXPECT_EQ(DispatchMessageA(&m), 0);  // thread messages have no procedure
}

TEST_F(Messages, QueueAndHandleLimits) {
  const TestWindow w;
  for (std::size_t i = 0; i < kMaxPostedMessages; ++i) {
    ASSERT_TRUE(PostMessageA(w.Handle(), WM_USER, i, 0));
  }
  EXPECT_FALSE(PostMessageA(w.Handle(), WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
  Drain();

  std::vector<HWND> all;
  for (HWND h = CreateMessageWindow(); h != 0; h = CreateMessageWindow()) all.push_back(h);
  EXPECT_EQ(all.size(), 510u);  // 511 slots, one held by `w`
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  for (const HWND h : all) DestroyWindow(h);
  const TestWindow again;
  EXPECT_NE(again.Handle(), 0u);
}

TEST_F(Messages, WaitMessageTimeout) {
  EXPECT_FALSE(WaitMessageTimeout(20));
  const DWORD self = GetCurrentThreadId();
  std::thread poster([self] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostThreadMessageA(self, WM_USER, 0, 0);
  });
  EXPECT_TRUE(WaitMessageTimeout(10000));
  poster.join();
}

// With a watch the wait is a poll(); a timeout beyond its int milliseconds must still sleep.
TEST_F(Messages, LongWaitWithAWatchSleeps) {
  int idle[2];
  ASSERT_EQ(::pipe(idle), 0);
  const TestWindow w;
  ASSERT_TRUE(WatchDescriptor(w.Handle(), WM_USER + 6, idle[0], []() -> short { return POLLIN; }));
  const DWORD self = GetCurrentThreadId();
  std::thread poster([self] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    PostThreadMessageA(self, WM_USER, 0, 0);
  });
  const std::clock_t cpuBefore = std::clock();
  EXPECT_TRUE(WaitMessageTimeout(0xF0000000u));
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  poster.join();
  EXPECT_LT(cpuMs, 100.0);  // not a busy loop
  for (const int fd : idle) ::close(fd);
}

// Typed lines through the thread's loop, beside another watched descriptor; the line handler
// is called at most once per message and a modal read takes the next line itself.
TEST_F(Messages, ConsoleInputHandsOutLinesThroughTheLoop) {
  int input[2];
  int other[2];
  ASSERT_EQ(::pipe(input), 0);
  ASSERT_EQ(::pipe(other), 0);
  ASSERT_EQ(::write(other[1], "!", 1), 1);
  bool otherSeen = false;
  const TestWindow w([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    otherSeen = otherSeen || msg == WM_USER + 5;
    return 0;
  });
  ASSERT_TRUE(WatchDescriptor(w.Handle(), WM_USER + 5, other[0],
                              [&]() -> short { return otherSeen ? 0 : POLLIN; }));

  const std::string overlong(TConsoleInput::kMaxLineLength + 10, 'x');
  std::thread typist([&] {  // more than a pipe holds: it is read while it is written
    const std::string typed = "a\r\nb\n\n" + overlong + "\r\nlast";
    EXPECT_EQ(::write(input[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ::close(input[1]);
  });
  std::vector<std::string> lines;
  int calls = 0;
  int ends = 0;
  TConsoleInput* console = nullptr;
  TConsoleInput reader(
      input[0],
      [&](const std::string& line) {
        ++calls;
        lines.push_back(line);
        if (line == "a") lines.push_back("modal " + console->ReadLineModal().value_or("-"));
      },
      [&] {
        ++ends;
        PostQuitMessage(0);
      });
  console = &reader;
  MSG m;
  while (WaitMessageTimeout(10000) && GetMessageA(&m, 0, 0, 0) > 0) {
    calls = 0;
    DispatchMessageA(&m);
    EXPECT_LE(calls, 1);
  }
  typist.join();
  EXPECT_EQ(lines,
            (std::vector<std::string>{"a", "modal b", "",
                                      overlong.substr(0, TConsoleInput::kMaxLineLength), "last"}));
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(otherSeen);
  for (const int fd : {input[0], other[0], other[1]}) ::close(fd);
}

// ---- Across processes

// Child side: posts to the handles the parent passed. Does nothing when run on its own.
TEST(MessagesRemote, ChildPosts) {
  const char* published = std::getenv("VESKMATH_TEST_POST_TO");
  const char* hidden = std::getenv("VESKMATH_TEST_POST_HIDDEN");
  if (published == nullptr || hidden == nullptr) GTEST_SKIP() << "runs as a child only";
  // The signal goes out either way; the receiver decides.
  EXPECT_TRUE(PostMessageA(static_cast<HWND>(std::stoul(hidden)), WM_USER + 1, 1, 1));
  EXPECT_TRUE(PostMessageA(static_cast<HWND>(std::stoul(published)), WM_USER + 100, 7, -3));
}

TEST(MessagesRemote, PublishedWindowReceivesFromAnotherProcess) {
  Drain();
  char pattern[] = "/tmp/vm-messages-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const test_support::TPrivateBus bus(pattern);
  ASSERT_TRUE(bus.Running());
  const TestWindow target;
  const TestWindow hidden;
  ASSERT_TRUE(PublishWindow(target.Handle())) << GetLastError();
  pid_t child = 0;
  ASSERT_EQ(test_support::RunThisTestInChild(
                "MessagesRemote.ChildPosts",
                {"VESKMATH_TEST_POST_TO=" + std::to_string(target.Handle()),
                 "VESKMATH_TEST_POST_HIDDEN=" + std::to_string(hidden.Handle())},
                &child),
            0);
  // The posts are read off the connection after a call: one that fails at once (no service
  // file starts the registered class) does.
  const char* registry = std::getenv("VESKMATH_REGISTRY");
  const std::optional<std::string> saved =
      registry != nullptr ? std::optional<std::string>(registry) : std::nullopt;
  ::setenv("VESKMATH_REGISTRY", (std::string(pattern) + "/registry.reg").c_str(), 1);
  const std::string key = "CLSID\\" + GUIDToString(testing::CLSID_TestCounter) + "\\LocalServer32";
  RegistryFile file(RegistryFile::DefaultPath());
  file.CreateKey(HKEY_CLASSES_ROOT, key);
  ASSERT_TRUE(file.SetValue(HKEY_CLASSES_ROOT, key, "", RegValue::String("none")));
  AddKnownTypeLib(testing::kCounterLib);
  MSG m;
  std::string answer;
  const bool arrived = test_support::WaitFor([&] {
    EXPECT_NE(CallClassMethod(testing::CLSID_TestCounter, "Counter", "Ping", "", answer), S_OK);
    return PeekMessageA(&m, 0, 0, 0, PM_NOREMOVE) != FALSE;
  });
  if (saved) {
    ::setenv("VESKMATH_REGISTRY", saved->c_str(), 1);
  } else {
    ::unsetenv("VESKMATH_REGISTRY");
  }
  ASSERT_TRUE(arrived);
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, target.Handle());  // the unpublished window's message was dropped
  EXPECT_EQ(m.message, WM_USER + 100);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(m.lParam, -3);
  EXPECT_FALSE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace veskmath::win
