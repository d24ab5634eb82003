// The add-on's conversion worker: one thread that owns the conversion object of the
// installed plug-in and makes every call on it, so that a server starting, hung or killed
// never holds up the input method's event loop. Requests are queued; an answer is handed to
// the request's own Deliver function on the worker thread (the add-on posts it back to its
// event loop there). No Fcitx5 header is needed here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace veskmath::host {
class TLink;
}

namespace veskmath::fcitx5 {

enum class TProblem {
  None,
  RegistryUnreadable,  // Detail: the registry's message
  NotInstalled,        // the plug-in is not in the host's list
  ClassNotRegistered,  // Detail: the listed ProgID
  ServerFailed,        // the object could not be made: HResult, Detail
  NoAnswer,            // a call waited for its reply in vain
  CallFailed,          // a member failed: HResult, Detail
};

struct TAnswer {
  TProblem Problem = TProblem::None;
  std::string Result;  // VeskResult, UTF-8 (when Problem is None)
  std::int32_t HResult = 0;
  std::string Detail;    // UTF-8; for a failed answer ("?"), why it failed
  bool Started = false;  // VeskStart was called
};

enum class TRequestKind {
  Connect,  // make the object now, so that the first key finds the server running
  Preview,  // read VeskResult only; a later request of the same client replaces a queued one
  Take,     // read VeskResult, then VeskStart unless the answer failed ("?")
  Start,    // VeskStart only: the result shown is the one taken
};

struct TRequest {
  TRequestKind Kind = TRequestKind::Preview;
  std::uint64_t Client = 0;  // whose previews replace each other (an input context)
  std::string Notation;      // UTF-8
  std::function<void(TAnswer)> Deliver;
};

class TConverter {
 public:
  TConverter();
  ~TConverter();  // waits for the call in progress, releases the object
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  void Submit(TRequest request);
  // Drops the client's queued requests that have not started, except reports of a result
  // already taken (Start).
  void Cancel(std::uint64_t client);
  // Releases the object once the queue is empty, unless a request comes first; the server
  // then ends by itself when no other host holds one.
  void Release();
  // How long a call waits for the server before the answer is NoAnswer (3 s unless set).
  void SetCallTimeout(std::chrono::milliseconds timeout);

 private:
  void Run();
  TAnswer Serve(const TRequest& request);

  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<TRequest> FQueue;
  bool FReleaseWanted = false;
  bool FStopping = false;
  std::atomic<std::int64_t> FCallTimeoutMs{3000};
  std::unique_ptr<host::TLink> FLink;  // worker thread only
  std::thread FThread;
};

// What a read of VeskResult does beyond answering: a text with a colon (a definition,
// full-width too) is stored in the history, the command "quit" empties it. Such texts are
// read only when the user asks for the result.
bool HasSideEffects(std::string_view notation);
// "?" or a text echoed with "?" ("1+= ?"): nothing to commit.
bool IsFailedAnswer(std::string_view result);
// The value alone of a result: without the echo of a notation that ends in "=" (full-width
// too), "1+2= 3" -> "3"; other results unchanged.
std::string ValueAlone(std::string_view notation, std::string_view result);

}  // namespace veskmath::fcitx5
