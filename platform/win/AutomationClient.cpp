// Client half of the automation runtime: registry look-ups, command lines, service files,
// the process's connection to the session bus, and the proxies that stand for remote objects.
#include <pwd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "platform/win/AutomationInternal.h"
#include "platform/win/CodePage.h"
#include "platform/win/RegistryFile.h"
#include "platform/win/TestHooks.h"

namespace veskmath::win {

using automation::BusPtr;
using automation::Clock;

namespace {

std::atomic<DWORD> gActivationTimeout{10000};
std::atomic<DWORD> gCallTimeout{30000};

std::optional<std::string> ReadDefault(const std::string& key) {
  try {
    RegistryFile file(RegistryFile::DefaultPath());
    const std::optional<RegValue> value = file.GetValue(HKEY_CLASSES_ROOT, key, "");
    if (!value || value->kind != RegValue::Kind::String) return std::nullopt;
    return value->text;
  } catch (const rtl::Exception&) {
    return std::nullopt;  // an unreadable registry registers nothing
  }
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GUIDToString(clsid); }

std::string BusServiceFilePath(REFCLSID clsid) {
  const std::optional<automation::TBusNames> names = automation::BusNamesOf(clsid);
  if (!names) return {};
  const std::string file = "/dbus-1/services/" + names->name + ".service";
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return data + file;
  }
  if (const passwd* user = ::getpwuid(::geteuid());
      user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
    return user->pw_dir + ("/.local/share" + file);
  }
  return {};
}

// A call's reply, or why there is none (FromBusError).
struct TBusReply {
  HRESULT hr = S_OK;
  HRESULT scode = S_OK;
  std::string description;
  std::string name;         // the D-Bus error's name
  bool fromServer = false;  // one of ours: the server ran the call and it failed
  BusPtr<sd_bus_message> message;
};

TBusReply Failure(HRESULT hr, std::string description) {
  TBusReply out;
  out.hr = hr;
  out.description = std::move(description);
  return out;
}

TBusReply FromBusError(const sd_bus_error* error, int errnoValue) {
  TBusReply out = Failure(E_FAIL, {});
  const char* name = error != nullptr && error->name != nullptr ? error->name : "";
  out.description = error != nullptr && error->message != nullptr ? error->message : "";
  out.name = name;
  const std::size_t prefix = std::strlen(automation::kErrorPrefix);
  if (std::strncmp(name, automation::kErrorPrefix, prefix) == 0) {
    out.fromServer = true;
    char* end = nullptr;
    out.hr = static_cast<HRESULT>(std::strtoul(name + prefix, &end, 16));
    if (end != nullptr && std::strncmp(end, ".S", 2) == 0) {
      out.scode = static_cast<HRESULT>(std::strtoul(end + 2, nullptr, 16));
    }
    return out;
  }
  if (errnoValue == ETIMEDOUT || sd_bus_error_has_name(error, SD_BUS_ERROR_TIMEOUT)) {
    out.hr = RPC_E_TIMEOUT;
  } else if (sd_bus_error_has_names(error, SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                    SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_DISCONNECTED,
                                    SD_BUS_ERROR_UNKNOWN_OBJECT) ||
             errnoValue == ENOTCONN || errnoValue == ECONNRESET) {
    // The server has gone, or the object with it.
    out.hr = RPC_E_DISCONNECTED;
  } else if (sd_bus_error_has_name(error, SD_BUS_ERROR_ACCESS_DENIED)) {
    out.hr = E_ACCESSDENIED;
  } else if (sd_bus_error_has_name(error, SD_BUS_ERROR_INVALID_ARGS)) {
    out.hr = E_INVALIDARG;
  }
  if (out.description.empty()) out.description = std::strerror(errnoValue);
  return out;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

Clock::time_point Deadline(DWORD milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Settings, paths and registry look-ups

void SetActivationTimeout(DWORD milliseconds) {
  gActivationTimeout = milliseconds == 0 ? 1 : milliseconds;
}
DWORD GetActivationTimeout() { return gActivationTimeout; }
void SetCallTimeout(DWORD milliseconds) { gCallTimeout = milliseconds == 0 ? 1 : milliseconds; }
DWORD GetCallTimeout() { return gCallTimeout; }

HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (progId == nullptr || *progId == u'\0') return CO_E_CLASSSTRING;
  const std::string name = WideToUtf8(progId);
  if (!SplitKeyPath(name) || name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
  const std::optional<std::string> text = ReadDefault(name + "\\CLSID");
  const std::optional<GUID> parsed = text ? ParseGUID(std::string_view(*text)) : std::nullopt;
  if (!parsed) return CO_E_CLASSSTRING;
  *clsid = *parsed;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, BSTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  progId->Reset();
  const std::optional<std::string> text = ReadDefault(ClassKey(clsid) + "\\ProgID");
  if (!text || text->empty()) return REGDB_E_CLASSNOTREG;
  *progId = BSTR(Utf8ToWide(*text));
  return S_OK;
}

std::string QuoteCommandLineArg(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(argument);
  }
  // A quote inside becomes \"; backslashes before a quote or the closing quote are doubled.
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line) {
  if (line.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
    return std::nullopt;
  }
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inArgument) args.push_back(std::exchange(current, {}));
      inArgument = false;
      continue;
    }
    inArgument = true;
    if (c == '"') {
      quoted = !quoted;
    } else if (c != '\\') {
      current.push_back(c);
    } else {
      const std::size_t n = std::min(line.find_first_not_of('\\', i), line.size()) - i;
      i += n - 1;  // on the last backslash
      const bool beforeQuote = i + 1 < line.size() && line[i + 1] == '"';
      current.append(beforeQuote ? n / 2 : n, '\\');
      if (beforeQuote && n % 2 == 1) current.push_back(line[++i]);
    }
  }
  if (quoted) return std::nullopt;  // "\"/opt/a b" -> refused: the quote never closes
  if (inArgument) args.push_back(std::move(current));
  return args;
}

bool RegisterBusService(REFCLSID clsid, const std::string& commandLine) {
  const std::filesystem::path file = BusServiceFilePath(clsid);  // "<dir>/<name>.service"
  if (file.empty() || commandLine.find_first_of("\r\n") != std::string::npos) return false;
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  // Written beside and renamed into place: the bus never reads half a file.
  const std::string temporary = file.string() + ".tmp-" + std::to_string(::getpid());
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out << "[D-BUS Service]\nName=" << file.stem().string() << "\nExec=" << commandLine << "\n";
  out.close();  // a failed write or close leaves `out` failed
  if (out) std::filesystem::rename(temporary, file, error);
  if (out && !error) return true;
  std::filesystem::remove(temporary, error);
  return false;
}

bool UnregisterBusService(REFCLSID clsid) {
  const std::string path = BusServiceFilePath(clsid);
  if (path.empty()) return false;
  std::error_code error;
  std::filesystem::remove(path, error);
  return !std::filesystem::exists(path, error);
}

namespace {

// The process's client connection: one, opened on first use, one call at a time.
struct ClientBus {
  std::timed_mutex mutex;
  sd_bus* bus = nullptr;
  pid_t pid = 0;
  std::string address;  // DBUS_SESSION_BUS_ADDRESS when it was opened
  bool listening = false;
};

ClientBus& C() {
  static ClientBus* bus = new ClientBus;  // proxies may be released during static destruction
  return *bus;
}

// This process's connection, its lock held: `bus` is null when the lock could not be had by
// the deadline (`lock` does not own it) or there is no session bus (`why` says why).
struct LockedBus {
  std::unique_lock<std::timed_mutex> lock;
  sd_bus* bus = nullptr;
  std::string why;
};

// A forked child opens a connection of its own.
LockedBus LockBus(Clock::time_point deadline) {
  ClientBus& c = C();
  LockedBus locked{std::unique_lock<std::timed_mutex>(c.mutex, std::defer_lock), nullptr, {}};
  if (!locked.lock.try_lock_until(deadline)) return locked;
  if (c.pid != ::getpid()) c.bus = nullptr;  // the parent's: neither used nor closed here
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (c.bus != nullptr && (sd_bus_is_open(c.bus) <= 0 || c.address != (address ? address : ""))) {
    c.bus = sd_bus_flush_close_unref(c.bus);  // the bus went away: try a new connection
  }
  if (c.bus == nullptr) {
    c.listening = false;  // a new connection has no match yet
    c.bus = automation::OpenSessionBus(locked.why);
    c.pid = ::getpid();
    c.address = address ? address : "";
  }
  locked.bus = c.bus;
  return locked;
}

// Release, window messages: never wait long for the connection.
LockedBus LockBusBriefly() { return LockBus(Clock::now() + std::chrono::seconds(2)); }

using Appender = std::function<int(sd_bus_message*)>;

TBusReply CallBus(const std::string& destination, const std::string& path,
                  const std::string& interface, const std::string& member,
                  Clock::time_point deadline, const Appender& append = {}) {
  const LockedBus locked = LockBus(deadline);
  if (!locked.lock.owns_lock()) {
    return Failure(RPC_E_TIMEOUT, "another call of this process did not end in time");
  }
  if (locked.bus == nullptr) return Failure(RPC_E_SERVER_UNAVAILABLE, locked.why);
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_call(locked.bus, &raw, destination.c_str(), path.c_str(),
                                         interface.c_str(), member.c_str());
  const BusPtr<sd_bus_message> call(raw);
  if (r >= 0 && append) r = append(call.get());
  if (r < 0) return Failure(r == -EINVAL ? E_INVALIDARG : E_OUTOFMEMORY, std::strerror(-r));
  const auto wait = std::max(1, MillisecondsLeft(deadline));
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* answer = nullptr;
  r = sd_bus_call(locked.bus, call.get(), static_cast<std::uint64_t>(wait) * 1000, &error, &answer);
  TBusReply reply = r < 0 ? FromBusError(&error, -r) : TBusReply{};
  reply.message.reset(answer);
  // "No reply" is both the bus's word for a server that left in the call and ours for a
  // wait that ran out: the clock tells them apart.
  if (r < 0 && (reply.name == SD_BUS_ERROR_NO_REPLY || reply.hr == RPC_E_TIMEOUT)) {
    reply.hr = MillisecondsLeft(deadline) > 0 ? RPC_E_DISCONNECTED : RPC_E_TIMEOUT;
  }
  sd_bus_error_free(&error);
  // Window messages that came in meanwhile (Messages.h) are delivered now.
  while (sd_bus_process(locked.bus, nullptr) > 0) {
  }
  return reply;
}

// Sets the error information; a member's own failure answers its code (DispInvoke wraps it).
HRESULT Report(const TBusReply& failure, REFCLSID clsid, REFIID iid) {
  automation::SetErrorText(clsid, iid, failure.description);
  if (failure.fromServer && failure.hr == DISP_E_EXCEPTION) return failure.scode;
  return failure.hr;
}

// ---------------------------------------------------------------------------------------
// Proxies

// Stands for one reference the server holds for this client: the remote object `FPath`.
class TDispatchProxy final : public TComObject<IDispatch> {
 public:
  TDispatchProxy(std::string owner, std::string path, CLSID clsid, automation::TBusNames names)
      : FOwner(std::move(owner)), FPath(std::move(path)), FClsid(clsid), FNames(std::move(names)) {}
  // Release is best effort and never waits long: a client that leaves the bus releases
  // everything anyway. Without a callback, the call goes out flagged as wanting no reply.
  ~TDispatchProxy() override {
    const LockedBus locked = LockBusBriefly();
    if (locked.bus == nullptr) return;
    sd_bus_call_method_async(locked.bus, nullptr, FOwner.c_str(), FPath.c_str(),
                             FNames.lifetime.c_str(), "Release", nullptr, nullptr, "");
  }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;  // the description is this process's own
    return S_OK;
  }

  HRESULT GetIDsOfNames(REFIID riid, const char16_t* const* names, UINT nameCount, LCID,
                        DISPID* dispIds) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(*FNames.itf, names, nameCount, dispIds);
  }

  HRESULT Invoke(DISPID dispId, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    SetErrorInfo(0, nullptr);
    HRESULT transport = S_OK;
    const auto call = [&](const TFuncDesc& func, std::span<VARIANT> args,
                          VARIANT* value) -> HRESULT {
      for (const TParamDesc& param : func.params) {
        if (automation::BusTypeOf(param.type) == 0) return DISP_E_BADVARTYPE;
      }
      for (const VARIANT& arg : args) {
        if (arg.vt == VT_BSTR &&
            WideToUtf8(arg.bstrVal.View()).size() > automation::kMaxTextBytes) {
          automation::SetErrorText(FClsid, FNames.itf->iid, "text too long");
          return E_INVALIDARG;
        }
      }
      // The arguments already have their declared types (DispInvoke coerced them).
      const Appender append = [&](sd_bus_message* m) {
        int r = 0;
        for (VARIANT& arg : args) {
          if (r >= 0) r = automation::AppendVariant(m, automation::BusTypeOf(arg.vt), arg);
        }
        return r;
      };
      const TBusReply reply = CallBus(FOwner, FPath, FNames.objectInterface,
                                      automation::MemberName(func), Deadline(gCallTimeout), append);
      if (FAILED(reply.hr)) {
        // Only a member's exception becomes DISP_E_EXCEPTION; other codes come back as they are.
        if (!reply.fromServer || reply.hr != DISP_E_EXCEPTION) transport = reply.hr;
        return Report(reply, FClsid, FNames.itf->iid);
      }
      const TParamDesc* retval = func.Retval();
      if (retval == nullptr) return S_OK;
      const int r =
          automation::ReadVariant(reply.message.get(), automation::BusTypeOf(retval->type), *value);
      if (r <= 0) transport = RPC_E_INVALID_DATA;
      return r > 0 ? S_OK : RPC_E_INVALID_DATA;
    };
    const HRESULT hr =
        DispInvoke(*FNames.itf, call, dispId, riid, flags, params, result, excepInfo, argErr);
    if (FAILED(transport)) {
      // The call did not reach the member, or the server refused it: that code.
      if (excepInfo != nullptr) *excepInfo = EXCEPINFO{};
      return transport;
    }
    return hr;
  }

 private:
  std::string FOwner;  // the unique name of the server that made the object
  std::string FPath;
  CLSID FClsid;
  automation::TBusNames FNames;
};

// A server that is ending refuses (CO_E_SERVER_STOPPING) or leaves without answering: the
// next one (the bus starts it) is asked, within the deadline.
HRESULT CreateRemote(REFCLSID clsid, const automation::TBusNames& names, IUnknown* outer,
                     REFIID riid, void** object, Clock::time_point deadline) {
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
  SetErrorInfo(0, nullptr);
  for (;;) {
    TBusReply reply =
        CallBus(names.name, names.classPath, names.factory, "CreateInstance", deadline);
    if (SUCCEEDED(reply.hr)) {
      const char* path = nullptr;
      const char* owner = sd_bus_message_get_sender(reply.message.get());
      if (sd_bus_message_read(reply.message.get(), "o", &path) <= 0 || owner == nullptr) {
        return RPC_E_INVALID_DATA;
      }
      // On failure the proxy goes at once, and with it the server's reference.
      return MakeComObject<TDispatchProxy>(owner, path, clsid, names)->QueryInterface(riid, object);
    }
    const bool again = reply.hr == CO_E_SERVER_STOPPING || reply.name == SD_BUS_ERROR_NO_REPLY ||
                       reply.name == SD_BUS_ERROR_NAME_HAS_NO_OWNER;
    if (again && MillisecondsLeft(deadline) > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (!reply.fromServer && reply.hr != RPC_E_SERVER_UNAVAILABLE) {
      // No service file, a program that cannot start, ends early or does not answer in time.
      if (reply.name == SD_BUS_ERROR_SERVICE_UNKNOWN) {
        reply.description =
            "no D-Bus service file starts " + names.name + " (" + reply.description + ")";
      } else if (reply.hr == RPC_E_TIMEOUT) {
        reply.description = "the server did not answer within the activation timeout";
      }
      reply.hr = CO_E_SERVER_EXEC_FAILURE;
    }
    return Report(reply, clsid, IID_IClassFactory);
  }
}

// The names of a class reached through its local server, before anything is sent: nullopt
// (REGDB_E_CLASSNOTREG) without CLSCTX_LOCAL_SERVER, a LocalServer32 entry or a description.
std::optional<automation::TBusNames> RemoteClass(REFCLSID clsid, DWORD clsContext) {
  if ((clsContext & CLSCTX_LOCAL_SERVER) == 0) return std::nullopt;
  if (!ReadDefault(ClassKey(clsid) + "\\LocalServer32")) return std::nullopt;
  return automation::BusNamesOf(clsid);
}

}  // namespace

namespace automation {

bool EmitPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const std::optional<bool> sent = EmitPostThroughServer(hwnd, message, wParam, lParam)) {
    return *sent;
  }
  const LockedBus locked = LockBusBriefly();
  return locked.bus != nullptr && EmitPostOn(locked.bus, hwnd, message, wParam, lParam) &&
         sd_bus_flush(locked.bus) >= 0;
}

bool ListenForPosts() {
  const LockedBus locked = LockBusBriefly();
  if (locked.bus == nullptr) return false;
  ClientBus& c = C();
  if (!c.listening) c.listening = MatchPostsOn(locked.bus);
  return c.listening;
}

}  // namespace automation

HRESULT CallClassMethod(REFCLSID clsid, const std::string& interfaceName, const std::string& member,
                        const std::string& argument, std::string& answer) {
  const std::optional<automation::TBusNames> names = RemoteClass(clsid, CLSCTX_LOCAL_SERVER);
  if (!names) return REGDB_E_CLASSNOTREG;
  const std::string library = names->name.substr(0, names->name.find('.'));
  const TBusReply reply = CallBus(names->name, names->classPath, library + "." + interfaceName,
                                  member, Deadline(gCallTimeout), [&argument](sd_bus_message* m) {
                                    return sd_bus_message_append_basic(m, 's', argument.c_str());
                                  });
  if (FAILED(reply.hr)) return Report(reply, clsid, IID_IClassFactory);
  const char* text = nullptr;
  if (sd_bus_message_read(reply.message.get(), "s", &text) <= 0) return RPC_E_INVALID_DATA;
  answer = text;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!automation::ApartmentInitialized()) return CO_E_NOTINITIALIZED;
  if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) != 0) {
    if (const ComPtr<IClassFactory> local = automation::FindLocalClassObject(clsid)) {
      return local->CreateInstance(outer, riid, object);
    }
  }
  const std::optional<automation::TBusNames> names = RemoteClass(clsid, clsContext);
  if (!names) return REGDB_E_CLASSNOTREG;
  return CreateRemote(clsid, *names, outer, riid, object, Deadline(gActivationTimeout));
}

}  // namespace veskmath::win
