#include "SdBus.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace veskmath::ibus {

// The calls sent together, whose replies are answered together. Dropping the slots cancels
// the calls: their replies are never read.
struct TSdBus::TBatch {
  std::vector<sd_bus_slot*> Slots;
  std::vector<hostui::TBusReply> Replies;
  std::size_t Left = 0;
  std::function<void(const std::vector<hostui::TBusReply>&)> Then;
  ~TBatch() {
    for (sd_bus_slot* slot : Slots) sd_bus_slot_unref(slot);
  }
};

namespace {

// The connection as a source of the main loop: it polls the bus's descriptor for what sd-bus
// wants, wakes for sd-bus's own deadline (a call's timeout), and lets sd-bus work.
struct TBusSource {
  GSource Source;
  sd_bus* Bus;
  gpointer Tag;
  int Events;  // what the descriptor is polled for
};

gboolean Prepare(GSource* source, gint* timeout) {
  auto* self = reinterpret_cast<TBusSource*>(source);
  // Only a change is told to GLib: each change wakes the loop once more.
  if (const int events = std::max(sd_bus_get_events(self->Bus), 0); events != self->Events) {
    self->Events = events;
    g_source_modify_unix_fd(source, self->Tag, static_cast<GIOCondition>(events));
  }
  *timeout = -1;
  std::uint64_t until = 0;
  if (sd_bus_get_timeout(self->Bus, &until) > 0 && until != UINT64_MAX) {
    const std::uint64_t now = static_cast<std::uint64_t>(g_get_monotonic_time());
    if (until <= now) return TRUE;
    *timeout = static_cast<gint>((until - now + 999) / 1000);
  }
  return FALSE;
}

gboolean Check(GSource* source) {
  auto* self = reinterpret_cast<TBusSource*>(source);
  if (g_source_query_unix_fd(source, self->Tag) != 0) return TRUE;
  std::uint64_t until = 0;
  return sd_bus_get_timeout(self->Bus, &until) > 0 && until != UINT64_MAX &&
         until <= static_cast<std::uint64_t>(g_get_monotonic_time());
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
  auto* self = reinterpret_cast<TBusSource*>(source);
  // Each reply's handler runs inside; a lost connection answers the calls in flight.
  int r = 0;
  while ((r = sd_bus_process(self->Bus, nullptr)) > 0) {
  }
  // A connection that has gone would report its hang-up for ever: it is watched no more.
  return r < 0 && sd_bus_is_open(self->Bus) <= 0 ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

GSourceFuncs kFuncs = {Prepare, Check, Dispatch, nullptr, nullptr, nullptr};

int Append(sd_bus_message* m, const hostui::TBusCall& call) {
  int r = 0;
  if (call.Text) r = sd_bus_message_append_basic(m, 's', call.Text->c_str());
  if (r >= 0 && call.Number) r = sd_bus_message_append_basic(m, 'i', &*call.Number);
  return r;
}

sd_bus_message* Message(sd_bus* bus, const hostui::TBusCall& call, int& r) {
  sd_bus_message* m = nullptr;
  r = sd_bus_message_new_method_call(bus, &m, call.Destination.c_str(), call.Path.c_str(),
                                     call.Interface.c_str(), call.Member.c_str());
  if (r >= 0) r = Append(m, call);
  return m;
}

struct TPending {
  std::weak_ptr<TSdBus::TBatch> Batch;
  std::size_t Index;
  char Type;
};

void Read(sd_bus_message* m, char type, hostui::TBusReply& reply) {
  if (const char* sender = sd_bus_message_get_sender(m)) reply.Sender = sender;
  if (const sd_bus_error* error = sd_bus_message_get_error(m)) {
    reply.Error = true;
    reply.ErrorName = error->name ? error->name : "";
    reply.ErrorMessage = error->message ? error->message : "";
    return;
  }
  const char* value = nullptr;
  if (type != 0 && sd_bus_message_read_basic(m, type, &value) > 0 && value != nullptr) {
    reply.Value = value;
  }
}

int Replied(sd_bus_message* m, void* data, sd_bus_error*) {
  auto* pending = static_cast<TPending*>(data);
  const std::shared_ptr<TSdBus::TBatch> batch = pending->Batch.lock();
  if (!batch) return 0;
  Read(m, pending->Type, batch->Replies[pending->Index]);
  if (--batch->Left == 0) batch->Then(batch->Replies);
  return 0;
}

void Forget(void* data) { delete static_cast<TPending*>(data); }

}  // namespace

TSdBus::TSdBus() {
  const int r = sd_bus_open_user(&FBus);
  if (r < 0) {
    FWhy = std::string("no D-Bus session bus: ") + std::strerror(-r);
    FBus = nullptr;
    return;
  }
  FSource = g_source_new(&kFuncs, sizeof(TBusSource));
  auto* source = reinterpret_cast<TBusSource*>(FSource);
  source->Bus = FBus;
  source->Tag = g_source_add_unix_fd(FSource, sd_bus_get_fd(FBus), G_IO_IN);
  source->Events = G_IO_IN;
  g_source_attach(FSource, g_main_context_get_thread_default());
}

TSdBus::~TSdBus() {
  CancelCall();
  if (FSource) {
    g_source_destroy(FSource);
    g_source_unref(FSource);
  }
  if (FBus) sd_bus_flush_close_unref(FBus);  // the last Release goes out first
}

void TSdBus::Call(const std::vector<hostui::TBusCall>& calls, std::chrono::milliseconds timeout,
                  std::function<void(const std::vector<hostui::TBusReply>&)> then) {
  auto batch = std::make_shared<TBatch>();
  batch->Replies.resize(calls.size());
  batch->Left = calls.size();
  batch->Then = std::move(then);
  FBatch = batch;
  const std::uint64_t usec = static_cast<std::uint64_t>(timeout.count()) * 1000;
  const bool background =
      std::all_of(calls.begin(), calls.end(), [](const auto& c) { return c.Background; });
  if (!background) {
    Write(batch, calls, usec);
    return;
  }
  // Nothing the user waits for: it keeps out of the way of the candidate just sent (the server
  // and ibus-daemon share the processors), and typing on drops it before it is sent.
  struct TLater {
    TSdBus* Self;
    std::weak_ptr<TBatch> Batch;
    std::vector<hostui::TBusCall> Calls;
    std::uint64_t Usec;
  };
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, kBackgroundDelayMs,
      [](gpointer data) -> gboolean {
        const auto* later = static_cast<TLater*>(data);
        // A batch that is gone was cancelled, and its transport may be too.
        if (const auto b = later->Batch.lock()) later->Self->Write(b, later->Calls, later->Usec);
        return G_SOURCE_REMOVE;
      },
      new TLater{this, batch, calls, usec},
      [](gpointer data) { delete static_cast<TLater*>(data); });
}

void TSdBus::Write(const std::shared_ptr<TBatch>& batch, const std::vector<hostui::TBusCall>& calls,
                   std::uint64_t usec) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    int r = 0;
    sd_bus_message* m = Message(FBus, calls[i], r);
    sd_bus_slot* slot = nullptr;
    if (r >= 0) {
      auto* pending = new TPending{batch, i, calls[i].Reply};
      r = sd_bus_call_async(FBus, &slot, m, Replied, pending, usec);
      if (r >= 0) {
        sd_bus_slot_set_destroy_callback(slot, Forget);
        batch->Slots.push_back(slot);
      } else {
        delete pending;
      }
    }
    sd_bus_message_unref(m);
    if (r < 0) {
      // Never answered from inside Call: the failure comes on the loop like a reply.
      hostui::TBusReply& reply = batch->Replies[i];
      reply.Error = true;
      reply.ErrorName = "org.freedesktop.DBus.Error.Disconnected";
      reply.ErrorMessage = std::strerror(-r);
      g_idle_add_full(
          G_PRIORITY_DEFAULT,
          [](gpointer data) -> gboolean {
            const auto b = static_cast<std::weak_ptr<TBatch>*>(data)->lock();
            if (b && --b->Left == 0) b->Then(b->Replies);
            return G_SOURCE_REMOVE;
          },
          new std::weak_ptr<TBatch>(batch),
          [](gpointer data) { delete static_cast<std::weak_ptr<TBatch>*>(data); });
    }
  }
}

std::string TSdBus::Unavailable() const {
  if (FBus != nullptr && sd_bus_is_open(FBus) <= 0) return "the D-Bus session bus went away";
  return FWhy;
}

void TSdBus::CancelCall() { FBatch.reset(); }

void TSdBus::Send(const hostui::TBusCall& call) {
  if (FBus == nullptr) return;
  int r = 0;
  sd_bus_message* m = Message(FBus, call, r);
  if (r >= 0 && sd_bus_message_set_expect_reply(m, 0) >= 0) sd_bus_send(FBus, m, nullptr);
  sd_bus_message_unref(m);
}

}  // namespace veskmath::ibus
