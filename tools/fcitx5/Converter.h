// The add-on's way to the conversion server: the plug-in found in the host's list in the
// registry store, its class's server reached on the session bus through Fcitx5's own
// connection, every call asynchronous on Fcitx5's event loop with a bound on its wait, so
// that a server starting, hung or killed never holds up the input method. Requests are
// queued and run one at a time; an answer is handed to the request's own Deliver function on
// the event loop. There is no thread: destroying the converter cancels what is in flight.
// Only the contract of the class (its identifiers and names) is linked, never the engine.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fcitx::dbus {
class Bus;
class Message;
class Slot;
}  // namespace fcitx::dbus

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
  std::string Detail;
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
  // `bus`: Fcitx5's session-bus connection (its dbus module); null when it has none, and
  // then every request answers ServerFailed.
  explicit TConverter(fcitx::dbus::Bus* bus);
  ~TConverter();  // cancels the call in flight, releases the object
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  void Submit(TRequest request);
  // Drops the client's queued requests that have not started, except reports of a result
  // already taken (Start).
  void Cancel(std::uint64_t client);
  // Releases the object once the queue is empty, unless a request comes first; the server
  // then ends by itself when no other host holds one.
  void Release();
  // How long one call waits for its reply before the request answers NoAnswer (default 3 s).
  void SetCallTimeout(std::chrono::milliseconds timeout);

 private:
  using Then = std::function<void(fcitx::dbus::Message&)>;
  void Next();
  void Connect();
  void Stage();
  void Call(const std::string& destination, const std::string& path, const char* interface,
            const char* member, const std::optional<std::string>& text,
            const std::optional<std::int32_t>& number, Then then);
  bool Failed(fcitx::dbus::Message& reply, bool creating);
  void Finish(TAnswer answer);
  void ReleaseObject();

  fcitx::dbus::Bus* FBus;
  std::deque<TRequest> FQueue;
  std::optional<TRequest> FCurrent;
  TAnswer FAnswer;  // of the current request, as it is filled in
  int FStage = 0;
  int FAttempt = 0;
  std::string FServer;  // the unique name of the server that made our object
  std::string FObject;  // its path; empty: none
  bool FReleaseWanted = false;
  std::chrono::milliseconds FTimeout{3000};
  std::chrono::steady_clock::time_point FCallStart;
  std::unique_ptr<fcitx::dbus::Slot> FPending;
  std::unique_ptr<fcitx::dbus::Slot> FRetired;  // the slot whose callback is running
  std::shared_ptr<bool> FAlive;
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
