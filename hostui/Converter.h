// A host's way to the conversion server: the plug-in found in the host's list in the
// registry store, its class's server reached on the session bus, every call asynchronous on
// the host's event loop with a bound on its wait, so that a server starting, hung or killed
// never holds up the input method. Requests are queued and run one at a time; an answer is
// handed to the request's own Deliver function on the event loop. There is no thread:
// destroying the converter cancels what is in flight. Only the contract of the class (its
// identifiers and names) is linked, never the engine.
//
// The bus itself is the host framework's (Fcitx5's dbus module; for IBus, sd-bus on the engine's
// GLib loop): a host hands in a TBusTransport that makes the calls on its event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veskmath::hostui {

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
  // Called once with the answer; a "?" is handed over at once and then, when the server
  // says why, a second time with the reason in Detail (not when the client's text changes
  // first: a new request, or Cancel, drops the reason on its way).
  std::function<void(TAnswer)> Deliver;
};

// One method call on the session bus: at most one argument of each kind, in this order.
struct TBusCall {
  std::string Destination;
  std::string Path;
  std::string Interface;
  std::string Member;
  std::optional<std::string> Text;
  std::optional<std::int32_t> Number;
  char Reply = 0;  // the type of the one value the reply carries: 's', 'o', or 0 for none
  // Nothing the user waits for: the host may send its own updates first.
  bool Background = false;
};

struct TBusReply {
  bool Error = false;
  std::string ErrorName;  // a D-Bus error name
  std::string ErrorMessage;
  std::string Sender;  // the unique name that answered
  std::string Value;   // the string or object path of the reply
};

// The host framework's session-bus connection, as the converter uses it.
class TBusTransport {
 public:
  virtual ~TBusTransport() = default;
  // Why there is no bus connection; empty when there is one.
  virtual std::string Unavailable() const = 0;
  // Sends the calls at once, in their order (which the bus keeps), and answers `then` with
  // their replies in the same order once all have come, later on the event loop, never from
  // inside Call; a call without a reply within `timeout` answers an error. One batch at a time.
  virtual void Call(const std::vector<TBusCall>& calls, std::chrono::milliseconds timeout,
                    std::function<void(const std::vector<TBusReply>&)> then) = 0;
  // The calls in flight, if any, never answer.
  virtual void CancelCall() = 0;
  // A call whose reply nobody waits for.
  virtual void Send(const TBusCall& call) = 0;
};

class TConverter {
 public:
  // `bus`: the host's connection, kept by the converter.
  explicit TConverter(std::unique_ptr<TBusTransport> bus);
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
  using Then = std::function<void(const TBusReply&)>;
  void Next();
  void Connect();
  void Stage();
  void Call(TBusCall call, Then then);
  void Call(std::vector<TBusCall> calls, std::function<void(const std::vector<TBusReply>&)> then);
  bool Failed(const TBusReply& reply, bool creating);
  void Finish(TAnswer answer);
  void ReleaseObject();
  bool DropReason(std::uint64_t client);

  std::unique_ptr<TBusTransport> FBus;
  std::deque<TRequest> FQueue;
  std::optional<TRequest> FCurrent;
  TAnswer FAnswer;  // of the current request, as it is filled in
  int FStage = 0;
  int FAttempt = 0;
  std::string FServer;    // the unique name of the server that made our object
  std::string FObject;    // its path; empty: none
  bool FYomiSet = false;  // the object's reading was set (it stays as set)
  bool FReleaseWanted = false;
  bool FFetchingReason = false;  // the current request's "?" is delivered, its reason on its way
  std::chrono::milliseconds FTimeout{3000};
  std::chrono::steady_clock::time_point FCallStart;
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

}  // namespace veskmath::hostui
