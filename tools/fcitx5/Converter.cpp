#include "Converter.h"

#include <utility>

#include "host/MathSymbols.h"
#include "host/PluginLink.h"
#include "host/Setup.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"

namespace veskmath::fcitx5 {

namespace {

constexpr std::string_view kFullWidthColon = "\xEF\xBC\x9A";   // U+FF1A
constexpr std::string_view kFullWidthEquals = "\xEF\xBC\x9D";  // U+FF1D

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The server has gone (killed, or ended between two keys): a new one is worth one try.
bool ServerGone(win::HRESULT hr) {
  return hr == win::RPC_E_DISCONNECTED || hr == win::CO_E_SERVER_STOPPING;
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

TConverter::TConverter() : FThread([this] { Run(); }) {}

TConverter::~TConverter() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
    FQueue.clear();
  }
  FWake.notify_one();
  FThread.join();
}

void TConverter::Submit(TRequest request) {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FReleaseWanted = false;
    // A preview nobody has started yet is stale once the text changed again.
    std::erase_if(FQueue, [&](const TRequest& queued) {
      return queued.Client == request.Client && queued.Kind == TRequestKind::Preview;
    });
    FQueue.push_back(std::move(request));
  }
  FWake.notify_one();
}

void TConverter::Cancel(std::uint64_t client) {
  const std::lock_guard<std::mutex> lock(FMutex);
  std::erase_if(FQueue, [&](const TRequest& queued) {
    // A result already taken is still reported to the plug-in.
    return queued.Client == client && queued.Kind != TRequestKind::Start;
  });
}

void TConverter::Release() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FReleaseWanted = true;
  }
  FWake.notify_one();
}

void TConverter::SetCallTimeout(std::chrono::milliseconds timeout) {
  FCallTimeoutMs = timeout.count();
}

void TConverter::Run() {
  win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    FWake.wait(lock, [this] { return FStopping || !FQueue.empty() || FReleaseWanted; });
    if (FStopping) break;
    if (FQueue.empty()) {
      FReleaseWanted = false;
      lock.unlock();
      FLink.reset();
      lock.lock();
      continue;
    }
    TRequest request = std::move(FQueue.front());
    FQueue.pop_front();
    lock.unlock();
    TAnswer answer = Serve(request);
    if (request.Deliver) request.Deliver(std::move(answer));
    lock.lock();
  }
  lock.unlock();
  FLink.reset();
  win::CoUninitialize();
}

TAnswer TConverter::Serve(const TRequest& request) {
  // A hung server is given up after this long; the next key tries again.
  win::SetCallTimeout(static_cast<win::DWORD>(FCallTimeoutMs.load()));
  TAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!FLink) {
      host::TConnectResult found = host::ConnectToPlugin();
      // A server that was ending as we asked may refuse or drop us: ask once more.
      if (!found.Link && found.Failure == host::TConnectFailure::CreateFailed && attempt == 0 &&
          found.HResult != win::RPC_E_TIMEOUT) {
        continue;
      }
      if (!found.Link) {
        switch (found.Failure) {
          case host::TConnectFailure::RegistryUnreadable:
            answer.Problem = TProblem::RegistryUnreadable;
            break;
          case host::TConnectFailure::NotInstalled:
            answer.Problem = TProblem::NotInstalled;
            break;
          case host::TConnectFailure::ClassNotRegistered:
            answer.Problem = TProblem::ClassNotRegistered;
            break;
          default:
            // A server that hangs before handing out the object is one that does not answer.
            answer.Problem =
                found.HResult == win::RPC_E_TIMEOUT ? TProblem::NoAnswer : TProblem::ServerFailed;
            break;
        }
        answer.HResult = static_cast<std::int32_t>(found.HResult);
        answer.Detail = std::move(found.Detail);
        return answer;
      }
      FLink = std::move(found.Link);
    }
    if (request.Kind == TRequestKind::Connect) return answer;
    win::HRESULT hr = win::S_OK;
    std::string result;
    bool started = false;
    if (request.Kind != TRequestKind::Start) {
      hr = FLink->PutYomi(win::BSTR(u""));
      if (win::SUCCEEDED(hr)) {
        hr = FLink->PutHyoki(win::BSTR(win::Utf8ToWide(host::AsciiOperators(request.Notation))));
      }
      win::BSTR text;
      if (win::SUCCEEDED(hr)) hr = FLink->GetResult(&text);
      if (win::SUCCEEDED(hr)) result = win::WideToUtf8(text.View());
    }
    const bool take = request.Kind == TRequestKind::Start ||
                      (request.Kind == TRequestKind::Take && !IsFailedAnswer(result));
    if (win::SUCCEEDED(hr) && take) {
      // The host has no window of its own to be told through.
      hr = FLink->Start(0);
      started = win::SUCCEEDED(hr);
    }
    if (win::SUCCEEDED(hr)) {
      if (IsFailedAnswer(result)) answer.Detail = host::ExplainFailure(request.Notation);
      answer.Result = std::move(result);
      answer.Started = started;
      return answer;
    }
    const std::string detail = host::ErrorDescription();
    FLink.reset();  // a connection in an unknown state is not used again
    if (ServerGone(hr) && attempt == 0) continue;
    answer.Problem = hr == win::RPC_E_TIMEOUT ? TProblem::NoAnswer : TProblem::CallFailed;
    answer.HResult = static_cast<std::int32_t>(hr);
    // Without the server's words, what the same evaluation says here (a history it cannot
    // read, say).
    answer.Detail = detail.empty() && answer.Problem == TProblem::CallFailed
                        ? host::ExplainFailure(request.Notation)
                        : detail;
    return answer;
  }
  return answer;
}

}  // namespace veskmath::fcitx5
