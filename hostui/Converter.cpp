#include "Converter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "contract/VeskMathTypes.h"
#include "host/MathSymbols.h"
#include "host/PluginLink.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/CodePage.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::hostui {

namespace {

constexpr std::string_view kFullWidthColon = "\xEF\xBC\x9A";   // U+FF1A
constexpr std::string_view kFullWidthEquals = "\xEF\xBC\x9D";  // U+FF1D

// The class on the session bus (the server's runtime names it after the type library).
constexpr const char* kBusName = "VeskMath.FuVeskMath";
constexpr const char* kClassPath = "/VeskMath/FuVeskMath";
constexpr const char* kFactoryInterface = "VeskMath.ClassFactory";
constexpr const char* kObjectInterface = "VeskMath.IFuVeskMath";
constexpr const char* kLifetimeInterface = "VeskMath.Object";
const std::string kDiagnosticsInterface = std::string("VeskMath.") + server::kDiagnosticsInterface;
constexpr const char* kErrorPrefix = "VeskMath.Error.E";
constexpr std::int32_t kServerStopping = static_cast<std::int32_t>(0x80004028);

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The plug-in in the host's list ("01", "02", ... up to the first missing number) and its
// class's registration, read from the registry store. None when both are there.
TProblem LookUp(std::string& detail) {
  try {
    if (!host::FindPlugin()) return TProblem::NotInstalled;
    win::RegistryFile file(win::RegistryFile::DefaultPath());
    const std::string classKey = "CLSID\\" + win::GUIDToString(server::CLSID_FuVeskMath);
    const auto clsid =
        file.GetValue(win::HKEY_CLASSES_ROOT, std::string(server::kVeskMathProgID) + "\\CLSID", "");
    if (!clsid || !file.KeyExists(win::HKEY_CLASSES_ROOT, classKey + "\\LocalServer32")) {
      detail = server::kVeskMathProgID;
      return TProblem::ClassNotRegistered;
    }
  } catch (const rtl::Exception& e) {
    detail = win::AnsiToUtf8(e.Message());
    return TProblem::RegistryUnreadable;
  }
  return TProblem::None;
}

}  // namespace

bool HasSideEffects(std::string_view notation) {
  // Only the raw text "quit" is the command (not "Quit", "quit=" or the full-width form).
  return notation == "quit" || notation.find(':') != std::string_view::npos ||
         notation.find(kFullWidthColon) != std::string_view::npos;
}

bool IsFailedAnswer(std::string_view result) { return result == "?" || EndsWith(result, " ?"); }

std::string ValueAlone(std::string_view notation, std::string_view result) {
  if (!EndsWith(notation, "=") && !EndsWith(notation, kFullWidthEquals)) {
    return std::string(result);
  }
  // The echo is the notation, one blank, then the value; values hold no blank.
  const std::size_t blank = result.rfind(' ');
  return std::string(blank == std::string_view::npos ? result : result.substr(blank + 1));
}

TConverter::TConverter(std::unique_ptr<TBusTransport> bus)
    : FBus(std::move(bus)), FAlive(std::make_shared<bool>(true)) {}

TConverter::~TConverter() {
  *FAlive = false;
  if (FBus) FBus->CancelCall();  // nothing to wait for
  ReleaseObject();
}

void TConverter::SetCallTimeout(std::chrono::milliseconds timeout) {
  FTimeout = timeout.count() > 0 ? timeout : std::chrono::milliseconds(1);
}

void TConverter::Submit(TRequest request) {
  FReleaseWanted = false;
  // A preview nobody has started yet is stale once the text changed again.
  std::erase_if(FQueue, [&](const TRequest& queued) {
    return queued.Client == request.Client && queued.Kind == TRequestKind::Preview;
  });
  DropReason(request.Client);
  FQueue.push_back(std::move(request));
  Next();
}

void TConverter::Cancel(std::uint64_t client) {
  std::erase_if(FQueue, [&](const TRequest& queued) {
    // A result already taken is still reported to the plug-in.
    return queued.Client == client && queued.Kind != TRequestKind::Start;
  });
  if (DropReason(client)) Next();
}

// A "?" already shown waits for nothing: the reason on its way for the client's old text is
// not awaited when the text changes (typing "1+2" passes through "1+", which fails).
bool TConverter::DropReason(std::uint64_t client) {
  if (!FFetchingReason || !FCurrent || FCurrent->Client != client) return false;
  FBus->CancelCall();
  FFetchingReason = false;
  FCurrent.reset();
  return true;
}

void TConverter::Release() {
  FReleaseWanted = true;
  Next();
}

// Starts the next request when none runs; with none left, a wanted release happens.
void TConverter::Next() {
  if (FCurrent) return;
  if (FQueue.empty()) {
    if (FReleaseWanted) {
      FReleaseWanted = false;
      ReleaseObject();
    }
    return;
  }
  FCurrent = std::move(FQueue.front());
  FQueue.pop_front();
  FAnswer = TAnswer{};
  FAttempt = 0;
  FStage = 0;
  if (FObject.empty()) {
    Connect();
  } else {
    Stage();
  }
}

void TConverter::Finish(TAnswer answer) {
  TRequest done = std::move(*FCurrent);
  FCurrent.reset();
  if (done.Deliver) done.Deliver(std::move(answer));
  Next();
}

void TConverter::ReleaseObject() {
  if (FObject.empty() || FBus == nullptr) return;
  // No answer is awaited: a host that leaves the bus releases anyway.
  FBus->Send({FServer, FObject, kLifetimeInterface, "Release", std::nullopt, std::nullopt, 0});
  FObject.clear();
  FServer.clear();
}

void TConverter::Call(TBusCall call, Then then) {
  Call(std::vector<TBusCall>{std::move(call)},
       [then](const std::vector<TBusReply>& replies) { then(replies.front()); });
}

void TConverter::Call(std::vector<TBusCall> calls,
                      std::function<void(const std::vector<TBusReply>&)> then) {
  FCallStart = std::chrono::steady_clock::now();
  FBus->Call(calls, FTimeout, [alive = FAlive, then](const std::vector<TBusReply>& replies) {
    if (*alive) then(replies);
  });
}

// Whether a reply failed; if so the request is answered or tried again.
bool TConverter::Failed(const TBusReply& reply, bool creating) {
  if (!reply.Error) return false;
  const std::string& name = reply.ErrorName;
  const std::string& message = reply.ErrorMessage;
  const bool late = std::chrono::steady_clock::now() - FCallStart >= FTimeout;
  TAnswer answer;
  answer.Detail = message;
  if (name.rfind(kErrorPrefix, 0) == 0) {
    answer.HResult = static_cast<std::int32_t>(
        std::strtoul(name.c_str() + std::strlen(kErrorPrefix), nullptr, 16));
    // A server that is ending refuses new objects: the next one is asked.
    if (creating && answer.HResult == kServerStopping && FAttempt++ < 20) {
      Connect();
      return true;
    }
    answer.Problem = creating ? TProblem::ServerFailed : TProblem::CallFailed;
  } else if (late) {
    answer.Problem = TProblem::NoAnswer;  // a hung server: the next key tries again
    answer.Detail.clear();
  } else if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
             name.rfind("org.freedesktop.DBus.Error.Spawn.", 0) == 0) {
    answer.Problem = TProblem::ServerFailed;  // no service file, or it cannot start
  } else if (FAttempt++ == 0) {
    // The server has gone (killed, or ended between two keys): a new one is worth one try.
    FObject.clear();
    FServer.clear();
    FStage = 0;
    Connect();
    return true;
  } else {
    answer.Problem = creating ? TProblem::ServerFailed : TProblem::CallFailed;
  }
  FObject.clear();  // an object in an unknown state is not used again
  FServer.clear();
  Finish(std::move(answer));
  return true;
}

void TConverter::Connect() {
  TAnswer answer;
  if (const std::string why = FBus ? FBus->Unavailable() : "no D-Bus session bus"; !why.empty()) {
    answer.Problem = TProblem::ServerFailed;
    answer.Detail = why;
    Finish(std::move(answer));
    return;
  }
  answer.Problem = LookUp(answer.Detail);
  if (answer.Problem != TProblem::None) {
    Finish(std::move(answer));
    return;
  }
  Call({kBusName, kClassPath, kFactoryInterface, "CreateInstance", std::nullopt, std::nullopt, 'o'},
       [this](const TBusReply& reply) {
         if (Failed(reply, /*creating=*/true)) return;
         FServer = reply.Sender;
         FObject = reply.Value;
         FYomiSet = false;
         if (FCurrent->Kind == TRequestKind::Connect) {
           Finish(TAnswer{});
         } else {
           Stage();
         }
       });
}

// The calls of a request, one stage per reply: Yomi (once an object), Hyoki with Result,
// then Start.
void TConverter::Stage() {
  const TRequest& request = *FCurrent;
  if (request.Kind == TRequestKind::Connect) {
    Finish(TAnswer{});
    return;
  }
  if (request.Kind == TRequestKind::Start && FStage < 3) FStage = 3;
  // The reading is always empty: an object is told so once, which saves a round trip a key.
  if (FStage == 0 && FYomiSet) FStage = 1;
  auto next = [this](const TBusReply& reply) {
    if (Failed(reply, /*creating=*/false)) return;
    if (FStage == 0) FYomiSet = true;
    if (FStage == 3) FAnswer.Started = true;
    ++FStage;
    Stage();
  };
  switch (FStage) {
    case 0:
      Call({FServer, FObject, kObjectInterface, "SetVeskYomi", std::string(), std::nullopt, 0},
           next);
      return;
    case 1:
    case 2:
      // The text and the read of its result go out together: one round trip a key, not two.
      // A failed text stops there (the result read after it would be the last text's).
      Call({{FServer, FObject, kObjectInterface, "SetVeskHyoki",
             host::AsciiOperators(request.Notation), std::nullopt, 0},
            {FServer, FObject, kObjectInterface, "GetVeskResult", std::nullopt, std::nullopt, 's'}},
           [this](const std::vector<TBusReply>& replies) {
             FStage = 1;
             if (Failed(replies[0], /*creating=*/false)) return;
             FStage = 2;
             if (Failed(replies[1], /*creating=*/false)) return;
             FAnswer.Result = replies[1].Value;
             FStage = 3;
             Stage();
           });
      return;
    case 3:
      if (request.Kind == TRequestKind::Start ||
          (request.Kind == TRequestKind::Take && !IsFailedAnswer(FAnswer.Result))) {
        // The host has no window of its own to be told through.
        Call({FServer, FObject, kObjectInterface, "VeskStart", std::nullopt, 0, 0}, next);
        return;
      }
      if (IsFailedAnswer(FAnswer.Result)) {
        // The "?" is shown at once; why, in the server's words, follows in a second delivery
        // (without them the answer stands as it is).
        const std::string notation = host::AsciiOperators(request.Notation);
        if (FCurrent->Deliver) FCurrent->Deliver(FAnswer);
        const std::uint64_t client = FCurrent->Client;
        if (std::any_of(FQueue.begin(), FQueue.end(),
                        [client](const TRequest& queued) { return queued.Client == client; })) {
          FCurrent.reset();  // the text changed meanwhile: its reason would be stale
          Next();
          return;
        }
        FFetchingReason = true;
        Call({FServer, kClassPath, kDiagnosticsInterface, server::kFailureReasonMember, notation,
              std::nullopt, 's', /*Background=*/true},
             [this](const TBusReply& reply) {
               FFetchingReason = false;
               if (reply.Error || reply.Value.empty()) {
                 FCurrent.reset();  // the first delivery said all there is
                 Next();
                 return;
               }
               FAnswer.Detail = reply.Value;
               Finish(std::move(FAnswer));
             });
        return;
      }
      break;
    default:
      break;
  }
  Finish(std::move(FAnswer));
}

}  // namespace veskmath::hostui
