// Typed input delivered through the message loop: the loop of the thread that makes a
// TConsoleInput watches the descriptor, so the thread waits for the user and serves its other
// messages (automation calls, notifications) in one loop, never blocking in a read.
//
// Lines are handed out one per dispatched message, in order, without their LF or CR LF; a last
// line without a break counts, and the end handler then runs once. A modal prompt takes the
// next line itself with ReadLineModal, which runs a nested message loop meanwhile; the line
// handler gets no lines while a modal read waits.
#pragma once

#include <deque>
#include <functional>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>

#include "platform/win/Messages.h"

namespace veskmath::win {

class TConsoleInput {
 public:
  using LineHandler = std::function<void(const std::string& line)>;
  using EndHandler = std::function<void()>;

  // Lines longer than this are cut (the rest of the line is dropped).
  static constexpr std::size_t kMaxLineLength = 64 * 1024;

  // `fd` stays the caller's. The handlers run from the calling thread's loop; one that throws
  // does not stop later lines. Throws EOSError when the window or the watch cannot be made.
  TConsoleInput(int fd, LineHandler onLine, EndHandler onEnd);
  TConsoleInput(const TConsoleInput&) = delete;
  TConsoleInput& operator=(const TConsoleInput&) = delete;
  // Stops watching; lines not yet delivered are dropped.
  ~TConsoleInput();

  // Dispatches the thread's messages while it waits; nullopt at the end of input or on WM_QUIT
  // (posted again for the outer loop). Only on the thread that made the object.
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

  // Reads what has arrived, if anything (never waiting), and splits it into lines.
  void ReadAvailable();
  void QueueLine();  // the typed line, without its CR
  void Notify();
  LRESULT WndProc(UINT message);

  int FFd;
  LineHandler FOnLine;
  EndHandler FOnEnd;
  HWND FWindow = 0;

  std::deque<std::string> FLines;  // read, not yet handed out
  std::string FTyped;              // the line being typed
  bool FOverlong = false;          // the rest of an overlong line is being dropped
  bool FEnded = false;             // the end of input (or a read error) was seen
  bool FEndReported = false;
  int FModalDepth = 0;

  TModalBuffer FModalBuffer{*this};
  std::istream FModalStream{&FModalBuffer};
};

}  // namespace veskmath::win
