// What the server and client halves of the automation runtime share.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/win/Automation.h"
#include "platform/win/Messages.h"

namespace veskmath::win::automation {

using Clock = std::chrono::steady_clock;

// sd-bus objects that drop their reference when the pointer goes.
struct BusUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
  void operator()(sd_bus_track* track) const { sd_bus_track_unref(track); }
};
template <class T>
using BusPtr = std::unique_ptr<T, BusUnref>;

bool ApartmentInitialized();

// The class object this process registered for `clsid`, or null.
ComPtr<IClassFactory> FindLocalClassObject(REFCLSID clsid);

// A class's names on the bus, from its type-library description.
struct TBusNames {
  std::string name;             // VeskMath.FuVeskMath, the well-known name: library.coclass
  std::string classPath;        // /VeskMath/FuVeskMath, the class object
  std::string factory;          // VeskMath.ClassFactory: CreateInstance, LockServer, Run
  std::string objectPrefix;     // /VeskMath/FuVeskMath/, then an object's number
  std::string objectInterface;  // VeskMath.IFuVeskMath: the members (see MemberName)
  std::string lifetime;         // VeskMath.Object: Release
  const TInterfaceDesc* itf = nullptr;
};
// nullopt when this process knows no description of the class (AddKnownTypeLib).
std::optional<TBusNames> BusNamesOf(REFCLSID clsid);

// "Get" or "Set" before a property's name; a method's own name.
std::string MemberName(const TFuncDesc& func);
// 's' (BSTR), 'i' (I4), 'b' (BOOL); 0 for a type that does not cross the bus.
char BusTypeOf(VARTYPE type);

// Texts longer than this (UTF-8 bytes) are refused on the way in: "text too long".
inline constexpr std::size_t kMaxTextBytes = 1u << 20;
// How a failed HRESULT's D-Bus error name begins (Automation.h, BUS).
inline constexpr const char* kErrorPrefix = "VeskMath.Error.E";

// Appending coerces the VARIANT to the bus type first (-EINVAL when it does not convert).
// Both answer -E2BIG for a text over kMaxTextBytes, else what sd-bus answers.
int ReadVariant(sd_bus_message* m, char type, VARIANT& value);
int AppendVariant(sd_bus_message* m, char type, VARIANT& value);

// Sets the calling thread's error information (source: the class's ProgID).
void SetErrorText(REFCLSID clsid, REFIID iid, const std::string& description);

// nullptr with the reason in `why` when there is no session bus.
sd_bus* OpenSessionBus(std::string& why);

// ---------------------------------------------------------------------------------------
// Window messages between processes (Messages.h): the broadcast signal "VeskMath.Window.Post",
// sent on the server connection when this process serves, else on the client one.

bool EmitPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
bool ListenForPosts();
// Posts to a published window of this process (Messages.cpp); FALSE for any other handle.
BOOL PostToPublishedWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Sends the signal on a connection the caller holds (the server's), false on failure.
bool EmitPostOn(sd_bus* bus, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Has `bus` hand the signals to PostToPublishedWindow, false on failure.
bool MatchPostsOn(sd_bus* bus);
// The server connection's emitter, when this process serves (AutomationServer.cpp).
std::optional<bool> EmitPostThroughServer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace veskmath::win::automation
