#include "GioBus.h"

#include <memory>
#include <utility>

namespace veskmath::ibus {

namespace {

GVariant* Body(const hostui::TBusCall& call) {
  if (call.Text && call.Number) return g_variant_new("(si)", call.Text->c_str(), *call.Number);
  if (call.Text) return g_variant_new("(s)", call.Text->c_str());
  if (call.Number) return g_variant_new("(i)", *call.Number);
  return nullptr;
}

GDBusMessage* Message(const hostui::TBusCall& call) {
  GDBusMessage* message = g_dbus_message_new_method_call(
      call.Destination.c_str(), call.Path.c_str(), call.Interface.c_str(), call.Member.c_str());
  if (GVariant* body = Body(call)) g_dbus_message_set_body(message, body);
  return message;
}

// The calls sent together, whose replies are answered together.
struct TBatch {
  GCancellable* Cancellable;
  std::vector<hostui::TBusReply> Replies;
  std::size_t Left;
  std::function<void(const std::vector<hostui::TBusReply>&)> Then;
  TBatch(GCancellable* cancellable, std::size_t calls,
         std::function<void(const std::vector<hostui::TBusReply>&)> then)
      : Cancellable(cancellable), Replies(calls), Left(calls), Then(std::move(then)) {}
  TBatch(const TBatch&) = delete;
  TBatch& operator=(const TBatch&) = delete;
  ~TBatch() { g_object_unref(Cancellable); }
};

struct TPending {
  std::shared_ptr<TBatch> Batch;
  std::size_t Index;
  char Type;
};

void Replied(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<TPending> pending(static_cast<TPending*>(data));
  TBatch& batch = *pending->Batch;
  GError* error = nullptr;
  GDBusMessage* message =
      g_dbus_connection_send_message_with_reply_finish(G_DBUS_CONNECTION(source), result, &error);
  // Cancelled: the converter that asked has gone or no longer waits.
  if (g_cancellable_is_cancelled(batch.Cancellable)) {
    if (error) g_error_free(error);
    if (message) g_object_unref(message);
    return;
  }
  hostui::TBusReply& reply = batch.Replies[pending->Index];
  if (message == nullptr) {
    reply.Error = true;
    reply.ErrorName = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)
                          ? "org.freedesktop.DBus.Error.NoReply"
                          : "org.freedesktop.DBus.Error.Disconnected";
    reply.ErrorMessage = error ? error->message : "";
  } else {
    if (const char* sender = g_dbus_message_get_sender(message)) reply.Sender = sender;
    GVariant* body = g_dbus_message_get_body(message);
    if (g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_ERROR) {
      reply.Error = true;
      if (const char* name = g_dbus_message_get_error_name(message)) reply.ErrorName = name;
      if (body && g_variant_n_children(body) > 0) {
        GVariant* text = g_variant_get_child_value(body, 0);
        if (g_variant_is_of_type(text, G_VARIANT_TYPE_STRING)) {
          reply.ErrorMessage = g_variant_get_string(text, nullptr);
        }
        g_variant_unref(text);
      }
    } else if (pending->Type != 0 && body && g_variant_n_children(body) > 0) {
      GVariant* value = g_variant_get_child_value(body, 0);
      if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
          g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
        reply.Value = g_variant_get_string(value, nullptr);
      }
      g_variant_unref(value);
    }
    g_object_unref(message);
  }
  if (error) g_error_free(error);
  if (--batch.Left == 0) batch.Then(batch.Replies);
}

}  // namespace

TGioBus::TGioBus() {
  GError* error = nullptr;
  FConnection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (FConnection == nullptr) {
    FWhy = std::string("no D-Bus session bus: ") + (error ? error->message : "");
    if (error) g_error_free(error);
    return;
  }
  // The engine outlives a session bus that goes away; its next call says so.
  g_dbus_connection_set_exit_on_close(FConnection, FALSE);
}

TGioBus::~TGioBus() {
  CancelCall();
  if (FConnection) {
    g_dbus_connection_flush_sync(FConnection, nullptr, nullptr);  // the last Release
    g_object_unref(FConnection);
  }
}

void TGioBus::Call(const std::vector<hostui::TBusCall>& calls, std::chrono::milliseconds timeout,
                   std::function<void(const std::vector<hostui::TBusReply>&)> then) {
  if (FPending) g_object_unref(FPending);
  FPending = g_cancellable_new();
  auto batch = std::make_shared<TBatch>(G_CANCELLABLE(g_object_ref(FPending)), calls.size(),
                                        std::move(then));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    GDBusMessage* message = Message(calls[i]);
    g_dbus_connection_send_message_with_reply(FConnection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                              static_cast<gint>(timeout.count()), nullptr, FPending,
                                              Replied, new TPending{batch, i, calls[i].Reply});
    g_object_unref(message);
  }
}

void TGioBus::CancelCall() {
  if (FPending == nullptr) return;
  g_cancellable_cancel(FPending);
  g_object_unref(FPending);
  FPending = nullptr;
}

void TGioBus::Send(const hostui::TBusCall& call) {
  if (FConnection == nullptr) return;
  GDBusMessage* message = Message(call);
  g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
  g_dbus_connection_send_message(FConnection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                 nullptr);
  g_object_unref(message);
}

}  // namespace veskmath::ibus
