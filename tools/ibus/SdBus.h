// The converter's calls to the conversion server on the session bus through sd-bus, driven
// by the engine's GLib main loop: a call is written at once from the loop's thread and its
// reply is read there when the connection's descriptor wakes the loop, so no thread stands
// between a key and the server. Asynchronous, each call with its timeout, cancellable.
#pragma once

#include <glib.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostui/Converter.h"

namespace veskmath::ibus {

class TSdBus final : public hostui::TBusTransport {
 public:
  // Connects to the session bus now (once, at the engine's start, never on a key) and
  // attaches the connection to the thread-default main context.
  TSdBus();
  ~TSdBus() override;
  TSdBus(const TSdBus&) = delete;
  TSdBus& operator=(const TSdBus&) = delete;

  std::string Unavailable() const override;
  void Call(const std::vector<hostui::TBusCall>& calls, std::chrono::milliseconds timeout,
            std::function<void(const std::vector<hostui::TBusReply>&)> then) override;
  void CancelCall() override;
  void Send(const hostui::TBusCall& call) override;

  struct TBatch;
  // How long a background call (TBusCall::Background) waits before it is sent.
  static constexpr guint kBackgroundDelayMs = 20;

 private:
  void Write(const std::shared_ptr<TBatch>& batch, const std::vector<hostui::TBusCall>& calls,
             std::uint64_t usec);

  sd_bus* FBus = nullptr;
  GSource* FSource = nullptr;
  std::string FWhy;                // why there is no connection
  std::shared_ptr<TBatch> FBatch;  // the calls in flight
};

}  // namespace veskmath::ibus
