// The reader thread, the hidden window that hands out lines, and the modal read.
#include "platform/win/ConsoleInput.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/rtl/ScopeExit.h"
#include "platform/win/WinTypes.h"

namespace veskmath::win {

namespace {

constexpr UINT kLinesArrived = WM_USER + 0x300;
constexpr std::size_t kMaxQueuedLines = 256;

}  // namespace

TConsoleInput::TConsoleInput(int fd, LineHandler onLine, EndHandler onEnd)
    : FFd(fd), FOnLine(std::move(onLine)), FOnEnd(std::move(onEnd)) {
  FWindow =
      CreateMessageWindow([this](HWND, UINT message, WPARAM, LPARAM) { return WndProc(message); });
  if (FWindow == 0) throw EOSError("Error creating window handle", GetLastError());
  FWakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!FWakeFd.Valid()) {
    const DWORD error = static_cast<DWORD>(errno);
    DestroyWindow(FWindow);
    throw EOSError("Cannot watch the input", error);
  }
  FReader = std::thread([this] { ReadLoop(); });
}

TConsoleInput::~TConsoleInput() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
  }
  FRoom.notify_all();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(FWakeFd.Get(), &one, sizeof one);
  if (FReader.joinable()) FReader.join();
  FWakeFd.Reset();
  DestroyWindow(FWindow);  // drops a notification still queued
}

void TConsoleInput::Notify() { PostMessageA(FWindow, kLinesArrived, 0, 0); }

void TConsoleInput::QueueLine(std::unique_lock<std::mutex>& lock, std::string line) {
  // A script piping thousands of lines waits here instead of filling memory; the lines
  // already queued are announced first, or nobody would ever make room.
  if (FLines.size() >= kMaxQueuedLines) {
    lock.unlock();
    Notify();
    lock.lock();
  }
  FRoom.wait(lock, [this] { return FStopping || FLines.size() < kMaxQueuedLines; });
  if (FStopping) return;
  if (!line.empty() && line.back() == '\r') line.pop_back();  // "i\r\n" -> "i"
  FLines.push_back(std::move(line));
}

void TConsoleInput::ReadLoop() {
  std::string partial;
  bool overlong = false;  // the rest of an overlong line is being dropped
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FWakeFd.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return;  // stopping
    const ssize_t n = ::read(FFd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // end of input, or an error that ends it
    std::unique_lock<std::mutex> lock(FMutex);
    bool queued = false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        QueueLine(lock, std::move(partial));
        if (FStopping) return;
        partial.clear();
        overlong = false;
        queued = true;
      } else if (!overlong) {
        partial.push_back(buffer[i]);
        overlong = partial.size() >= kMaxLineLength;
      }
    }
    lock.unlock();
    if (queued) Notify();
  }
  std::unique_lock<std::mutex> lock(FMutex);
  if (!partial.empty()) QueueLine(lock, std::move(partial));  // "c" without a line break
  FEnded = true;
  lock.unlock();
  Notify();
}

LRESULT TConsoleInput::WndProc(UINT message) {
  if (message != kLinesArrived || FModalDepth > 0) return 0;  // a modal read takes them
  std::optional<std::string> line;
  bool more = false;
  bool end = false;
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (!FLines.empty()) {
      line = std::move(FLines.front());
      FLines.pop_front();
      more = !FLines.empty() || (FEnded && !FEndReported);
    } else if (FEnded && !FEndReported) {
      FEndReported = true;
      end = true;
    }
  }
  FRoom.notify_all();
  // One line per message: the next one is asked for before the handler runs, so a handler
  // that throws or opens a modal prompt does not hold up the lines after it.
  if (more) Notify();
  if (line && FOnLine) FOnLine(*line);
  if (end && FOnEnd) FOnEnd();
  return 0;
}

std::optional<std::string> TConsoleInput::ReadLineModal() {
  ++FModalDepth;
  const rtl::ScopeExit modal([this] {
    // Lines that arrived meanwhile go to the line handler again once the prompt is done.
    if (--FModalDepth == 0) Notify();
  });
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      if (!FLines.empty()) {
        std::string line = std::move(FLines.front());
        FLines.pop_front();
        FRoom.notify_all();
        return line;
      }
      if (FEnded) return std::nullopt;
    }
    MSG msg;
    const BOOL got = GetMessageA(&msg, 0, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns the thread
      return std::nullopt;
    }
    if (got < 0) return std::nullopt;
    DispatchMessageA(&msg);
  }
}

TConsoleInput::TModalBuffer::int_type TConsoleInput::TModalBuffer::underflow() {
  if (gptr() != nullptr && gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const std::optional<std::string> line = FOwner.ReadLineModal();
  if (!line) return traits_type::eof();
  FLine = *line + '\n';
  setg(FLine.data(), FLine.data(), FLine.data() + FLine.size());
  return traits_type::to_int_type(*gptr());
}

}  // namespace veskmath::win
