// Typed input delivered through the message loop: a reader thread takes lines from a file
// descriptor (standard input) and posts them to a hidden window of the thread that made the
// TConsoleInput, so that thread waits for the user and serves its other messages (automation
// calls, posted notifications) in one loop, never blocking in a read while others wait.
//
// Lines are handed out one per dispatched message, in the order they were typed, without
// their line break (LF or CR LF); a last line without a break counts. After the last line
// the end handler runs once. A modal prompt (a message box asking Yes/No) takes the next line
// itself with ReadLineModal, which runs a nested message loop meanwhile, as a modal dialog
// does; lines are not handed to the line handler while a modal read is waiting.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <streambuf>
#include <string>
#include <thread>

#include "platform/rtl/UniqueFd.h"
#include "platform/win/Messages.h"

namespace veskmath::win {

class TConsoleInput {
 public:
  using LineHandler = std::function<void(const std::string& line)>;
  using EndHandler = std::function<void()>;

  // Lines longer than this are cut (the rest of the line is dropped).
  static constexpr std::size_t kMaxLineLength = 64 * 1024;

  // Starts reading `fd` (which stays open and the caller's). The handlers run on the calling
  // thread when its message loop dispatches the reader's messages; they may throw, the next
  // line is still delivered later. Throws EOSError when the thread or its window cannot be
  // made.
  TConsoleInput(int fd, LineHandler onLine, EndHandler onEnd);
  TConsoleInput(const TConsoleInput&) = delete;
  TConsoleInput& operator=(const TConsoleInput&) = delete;
  // Stops the reader; lines not yet delivered are dropped.
  ~TConsoleInput();

  // The next line for a modal prompt, dispatching the thread's messages while it waits;
  // nullopt at the end of input, or when WM_QUIT arrives (which is posted again for the outer
  // loop). Only on the thread that made the object.
  std::optional<std::string> ReadLineModal();

  // A stream whose reads are modal reads, for message boxes (SetDialogStreams).
  std::istream& ModalStream() { return FModalStream; }

 private:
  class TModalBuffer : public std::streambuf {
   public:
    explicit TModalBuffer(TConsoleInput& owner) : FOwner(owner) {}

   protected:
    int_type underflow() override;

   private:
    TConsoleInput& FOwner;
    std::string FLine;
  };

  void ReadLoop();
  // Queues a complete line; waits while too many lines are queued. Caller holds FMutex.
  void QueueLine(std::unique_lock<std::mutex>& lock, std::string line);
  void Notify();
  LRESULT WndProc(UINT message);

  int FFd;
  LineHandler FOnLine;
  EndHandler FOnEnd;
  HWND FWindow = 0;
  rtl::UniqueFd FWakeFd;

  std::mutex FMutex;
  std::condition_variable FRoom;  // the queue has room again, or the reader must stop
  std::deque<std::string> FLines;
  bool FEnded = false;  // the reader saw the end of input (or a read error)
  bool FStopping = false;

  // Thread of the owner only.
  int FModalDepth = 0;
  bool FEndReported = false;

  TModalBuffer FModalBuffer{*this};
  std::istream FModalStream{&FModalBuffer};
  std::thread FReader;
};

}  // namespace veskmath::win
