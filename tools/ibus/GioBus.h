// The converter's calls to the conversion server on the session bus through GDBus, on the
// engine's GLib main loop: asynchronous, each with its timeout, cancellable.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "hostui/Converter.h"

namespace veskmath::ibus {

class TGioBus final : public hostui::TBusTransport {
 public:
  // Connects to the session bus now (once, at the engine's start, never on a key).
  TGioBus();
  ~TGioBus() override;
  TGioBus(const TGioBus&) = delete;
  TGioBus& operator=(const TGioBus&) = delete;

  std::string Unavailable() const override { return FWhy; }
  void Call(const std::vector<hostui::TBusCall>& calls, std::chrono::milliseconds timeout,
            std::function<void(const std::vector<hostui::TBusReply>&)> then) override;
  void CancelCall() override;
  void Send(const hostui::TBusCall& call) override;

 private:
  GDBusConnection* FConnection = nullptr;
  std::string FWhy;                  // why there is no connection
  GCancellable* FPending = nullptr;  // of the calls in flight
};

}  // namespace veskmath::ibus
