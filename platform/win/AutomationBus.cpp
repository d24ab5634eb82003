// The automation runtime's names on the session bus, its errors there, and the signal that
// carries a window message to another process.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/win/AutomationInternal.h"
#include "platform/win/CodePage.h"

namespace veskmath::win::automation {

namespace {
constexpr const char* kWindowPath = "/VeskMath/Window";
constexpr const char* kWindowInterface = "VeskMath.Window";
}  // namespace

std::optional<TBusNames> BusNamesOf(REFCLSID clsid) {
  const TTypeLibDesc* lib = nullptr;
  const TCoClassDesc* cls = FindKnownCoClass(clsid, &lib);
  if (lib == nullptr || cls == nullptr || cls->defaultInterface == nullptr) return std::nullopt;
  const std::string library(lib->name);
  const std::string classPath = "/" + library + "/" + std::string(cls->name);
  return TBusNames{.name = library + "." + std::string(cls->name),
                   .classPath = classPath,
                   .factory = library + ".ClassFactory",
                   .objectPrefix = classPath + "/",
                   .objectInterface = library + "." + std::string(cls->defaultInterface->name),
                   .lifetime = library + ".Object",
                   .itf = cls->defaultInterface};
}

std::string MemberName(const TFuncDesc& func) {
  const char* prefix = func.kind == TInvokeKind::PropertyGet   ? "Get"
                       : func.kind == TInvokeKind::PropertyPut ? "Set"
                                                               : "";
  return prefix + std::string(func.name);
}

char BusTypeOf(VARTYPE type) {
  return type == VT_BSTR ? 's' : type == VT_I4 ? 'i' : type == VT_BOOL ? 'b' : 0;
}

int ReadVariant(sd_bus_message* m, char type, VARIANT& value) {
  if (type == 's') {
    const char* text = nullptr;
    const int r = sd_bus_message_read_basic(m, 's', &text);
    if (r <= 0) return r;
    if (std::strlen(text) > kMaxTextBytes) return -E2BIG;
    value.vt = VT_BSTR;
    value.bstrVal = BSTR(Utf8ToWide(text));
    return r;
  }
  if (type == 'i') {
    value.vt = VT_I4;
    return sd_bus_message_read_basic(m, 'i', &value.lVal);
  }
  int flag = 0;
  const int r = sd_bus_message_read_basic(m, 'b', &flag);
  value.vt = VT_BOOL;
  value.boolVal = flag != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}

int AppendVariant(sd_bus_message* m, char type, VARIANT& value) {
  const VARTYPE vt = type == 's' ? VT_BSTR : type == 'i' ? VT_I4 : VT_BOOL;
  if (FAILED(VariantChangeType(&value, &value, 0, vt))) return -EINVAL;
  if (type == 's') {
    const std::string text = WideToUtf8(value.bstrVal.View());
    if (text.size() > kMaxTextBytes) return -E2BIG;
    return sd_bus_message_append_basic(m, 's', text.c_str());
  }
  if (type == 'i') return sd_bus_message_append_basic(m, 'i', &value.lVal);
  const int flag = value.boolVal != VARIANT_FALSE ? 1 : 0;
  return sd_bus_message_append_basic(m, 'b', &flag);
}

void SetErrorText(REFCLSID clsid, REFIID iid, const std::string& description) {
  ICreateErrorInfo* raw = nullptr;
  if (FAILED(CreateErrorInfo(&raw)) || raw == nullptr) return;
  const ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
  create->SetGUID(iid);
  // The class's ProgID, as the server's error object says; else its name on the bus.
  if (BSTR progId; SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
    create->SetSource(progId.c_str());
  } else if (const std::optional<TBusNames> names = BusNamesOf(clsid)) {
    create->SetSource(Utf8ToWide(names->name).c_str());
  }
  create->SetDescription(Utf8ToWide(description).c_str());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.Get());
}

sd_bus* OpenSessionBus(std::string& why) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_user(&bus);
  if (r >= 0) return bus;
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  why = std::string("no D-Bus session bus (") +
        (address != nullptr ? std::string("DBUS_SESSION_BUS_ADDRESS=") + address
                            : std::string("DBUS_SESSION_BUS_ADDRESS is not set")) +
        ": " + std::strerror(-r) + ")";
  return nullptr;
}

bool EmitPostOn(sd_bus* bus, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return sd_bus_emit_signal(bus, kWindowPath, kWindowInterface, "Post", "uutx",
                            static_cast<std::uint32_t>(hwnd), static_cast<std::uint32_t>(message),
                            static_cast<std::uint64_t>(wParam),
                            static_cast<std::int64_t>(lParam)) >= 0;
}

bool MatchPostsOn(sd_bus* bus) {
  const auto onPost = [](sd_bus_message* m, void*, sd_bus_error*) {
    std::uint32_t hwnd = 0;
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    if (sd_bus_message_read(m, "uutx", &hwnd, &message, &wParam, &lParam) >= 0) {
      PostToPublishedWindow(hwnd, message, static_cast<WPARAM>(wParam),
                            static_cast<LPARAM>(lParam));
    }
    return 0;
  };
  return sd_bus_match_signal(bus, nullptr, nullptr, kWindowPath, kWindowInterface, "Post", onPost,
                             nullptr) >= 0;
}

}  // namespace veskmath::win::automation
