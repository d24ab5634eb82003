#include "platform/win/ConsoleInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/rtl/ScopeExit.h"
#include "platform/win/WinTypes.h"

namespace veskmath::win {

constexpr UINT kInputReady = WM_USER + 0x300;

TConsoleInput::TConsoleInput(int fd, LineHandler onLine, EndHandler onEnd)
    : FFd(fd), FOnLine(std::move(onLine)), FOnEnd(std::move(onEnd)) {
  FWindow =
      CreateMessageWindow([this](HWND, UINT message, WPARAM, LPARAM) { return WndProc(message); });
  if (FWindow == 0) throw EOSError("Error creating window handle", GetLastError());
  // Nothing more is read while read lines wait, so a script piping thousands of lines is
  // read as fast as they are handed out, not into memory.
  const auto events = [this]() -> short { return FEnded || !FLines.empty() ? 0 : POLLIN; };
  if (!WatchDescriptor(FWindow, kInputReady, FFd, events)) {
    const DWORD error = GetLastError();
    DestroyWindow(FWindow);
    throw EOSError("Cannot watch the input", error);
  }
}

TConsoleInput::~TConsoleInput() {
  DestroyWindow(FWindow);  // ends the watch and drops a message still queued
}

void TConsoleInput::Notify() { PostMessageA(FWindow, kInputReady, 0, 0); }

void TConsoleInput::QueueLine() {
  if (FTyped.ends_with('\r')) FTyped.pop_back();  // "i\r\n" -> "i"
  FLines.push_back(std::exchange(FTyped, {}));
  FOverlong = false;
}

void TConsoleInput::ReadAvailable() {
  pollfd ready{FFd, POLLIN, 0};
  if (FEnded || ::poll(&ready, 1, 0) <= 0) return;  // a read would wait
  char buffer[4096];
  const ssize_t n = ::read(FFd, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  for (ssize_t i = 0; i < n; ++i) {
    if (buffer[i] == '\n') {
      QueueLine();
    } else if (!FOverlong) {
      FTyped.push_back(buffer[i]);
      FOverlong = FTyped.size() >= kMaxLineLength;
    }
  }
  if (n <= 0) {                        // end of input, or an error that ends it
    if (!FTyped.empty()) QueueLine();  // "c" without a line break
    FEnded = true;
  }
}

LRESULT TConsoleInput::WndProc(UINT message) {
  if (message != kInputReady) return 0;
  if (FLines.empty()) ReadAvailable();
  if (FModalDepth > 0) return 0;  // a modal read takes the lines
  if (FLines.empty()) {
    if (FEnded && !FEndReported) {
      FEndReported = true;
      if (FOnEnd) FOnEnd();
    }
    return 0;
  }
  const std::string line = std::move(FLines.front());
  FLines.pop_front();
  // One line per message: the next one is asked for before the handler runs, so a handler
  // that throws or opens a modal prompt does not hold up the lines after it.
  if (!FLines.empty() || FEnded) Notify();
  if (FOnLine) FOnLine(line);
  return 0;
}

std::optional<std::string> TConsoleInput::ReadLineModal() {
  ++FModalDepth;
  const rtl::ScopeExit modal([this] {
    // Lines that arrived meanwhile go to the line handler again once the prompt is done.
    if (--FModalDepth == 0) Notify();
  });
  for (;;) {
    if (!FLines.empty()) {
      std::string line = std::move(FLines.front());
      FLines.pop_front();
      return line;
    }
    if (FEnded) return std::nullopt;
    MSG msg;
    const BOOL got = GetMessageA(&msg, 0, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));  // for the thread's own loop
      return std::nullopt;
    }
    DispatchMessageA(&msg);
  }
}

TConsoleInput::TModalBuffer::int_type TConsoleInput::TModalBuffer::underflow() {
  const std::optional<std::string> line = FOwner.ReadLineModal();
  if (!line) return traits_type::eof();
  FLine = *line + '\n';
  setg(FLine.data(), FLine.data(), FLine.data() + FLine.size());
  return traits_type::to_int_type(*gptr());
}

}  // namespace veskmath::win
