// Server half of the automation runtime: apartments, class objects on the session bus, and
// the stubs that run each call on the serving thread's message loop and send the reply.
#include <poll.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win/AutomationInternal.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"

namespace veskmath::win {

using automation::BusPtr;

HRESULT TClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  if (!FCreate) return E_UNEXPECTED;
  return FCreate(outer, riid, object);
}

HRESULT TClassFactory::LockServer(BOOL lock) {
  if (FLock) FLock(lock != FALSE);
  return S_OK;
}

namespace {

// ---------------------------------------------------------------------------------------
// State

constexpr UINT kBusMessage = WM_USER + 1;
// Each object keeps at most two texts of kMaxTextBytes: all objects' texts stay under 512 MiB.
constexpr std::size_t kMaxObjectsPerClient = 32;
constexpr std::size_t kMaxObjects = 256;
// How long anyone but the serving thread waits for the bus connection before giving up.
constexpr auto kBusLockTimeout = std::chrono::seconds(2);

struct BusClass;

// One object a client holds: the reference the server keeps for it.
struct BusObject {
  std::uint64_t id = 0;
  std::string owner;  // the client's unique name
  std::shared_ptr<BusClass> cls;
  ComPtr<IDispatch> dispatch;
  std::vector<BusPtr<sd_bus_slot>> slots;  // its members and its Release, while on the bus
};

// A class on the bus: its names, vtables (whose strings live here) and slots.
struct BusClass {
  CLSID clsid;
  automation::TBusNames names;
  ComPtr<IClassFactory> factory;
  std::deque<std::string> strings;
  std::vector<sd_bus_vtable> objectTable;
  std::map<std::string, const TFuncDesc*, std::less<>> members;
  std::map<std::string, std::vector<sd_bus_vtable>> methodTables;
  std::map<std::pair<std::string, std::string>, TClassMethod> methods;
  std::vector<BusPtr<sd_bus_slot>> slots;
  bool nameOwned = false;

  const char* Keep(std::string text) { return strings.emplace_back(std::move(text)).c_str(); }
};

struct Registration {
  DWORD cookie = 0;
  CLSID clsid;
  ComPtr<IClassFactory> factory;
  DWORD threadId = 0;
  std::shared_ptr<BusClass> bus;  // local-server registrations only
};

struct ClassMethod {
  CLSID clsid;
  std::string interfaceName;
  std::string member;
  TClassMethod method;
};

struct State {
  std::mutex mutex;  // registrations, cookies, class methods, and changes to the three below
  std::vector<Registration> registrations;
  std::vector<ClassMethod> classMethods;
  DWORD nextCookie = 1;
  // Also read without the mutex: by the handlers, and to wake the serving thread.
  std::atomic<DWORD> servingThread{0};
  std::atomic<HWND> window{0};
  std::atomic<bool> suspended{false};  // CoSuspendClassObjects: the names are given up

  // The connection: used by the serving thread, and by others only to post a window message.
  std::recursive_timed_mutex busMutex;
  sd_bus* bus = nullptr;
  bool busLost = false;
  std::map<std::uint64_t, std::unique_ptr<BusObject>> objects;
  std::uint64_t nextObject = 1;
  // LockServer(TRUE) calls not yet undone, by client and class.
  std::map<std::pair<std::string, BusClass*>, std::pair<std::shared_ptr<BusClass>, int>> locks;
  // The clients holding objects or locks; the bus tells when one leaves.
  std::map<std::string, BusPtr<sd_bus_track>, std::less<>> clients;
  // Output not yet written: the serving thread's loop also waits for room to write.
  std::atomic<bool> wantOut{false};
};

State& S() {
  static State* state = new State;  // objects released during static destruction reach it
  return *state;
}

struct Apartment {
  int count = 0;
  DWORD mode = 0;
};
thread_local Apartment tApartment;

// ---------------------------------------------------------------------------------------
// Objects and clients (serving thread, bus lock held)

template <class Map, class Pick>
std::vector<typename Map::mapped_type> TakeIf(Map& map, const Pick& pick) {
  std::vector<typename Map::mapped_type> taken;
  for (auto it = map.begin(); it != map.end();) {
    if (pick(*it)) {
      taken.push_back(std::move(it->second));
      it = map.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

// Releases what a client held and undoes its locks (every client's for nullopt). The name is
// taken by value: the caller's may be the key of an entry that goes.
void ReleaseClients(State& s, const std::optional<std::string> client) {
  const auto whose = [&client](const std::string& owner) { return !client || owner == *client; };
  std::erase_if(s.clients, [&](const auto& entry) { return whose(entry.first); });
  auto released = TakeIf(s.objects, [&](const auto& entry) { return whose(entry.second->owner); });
  auto unlocks = TakeIf(s.locks, [&](const auto& entry) { return whose(entry.first.first); });
  // The module may decide to end while these go; the maps are consistent by now.
  released.clear();
  for (auto& [cls, count] : unlocks) {
    while (count-- > 0) cls->factory->LockServer(FALSE);
  }
}

int OnClientGone(sd_bus_track* track, void*) {
  State& s = S();
  const auto it = std::ranges::find_if(
      s.clients, [track](const auto& entry) { return entry.second.get() == track; });
  if (it != s.clients.end()) ReleaseClients(s, it->first);
  return 1;
}

// The bus reports when a tracked client leaves, at once if it left before (a client killed
// while the bus was starting us).
void TrackClient(State& s, const std::string& client) {
  if (s.clients.contains(client)) return;
  sd_bus_track* track = nullptr;
  if (sd_bus_track_new(s.bus, &track, OnClientGone, nullptr) < 0) return;
  s.clients.emplace(client, BusPtr<sd_bus_track>(track));
  sd_bus_track_add_name(track, client.c_str());
}

// The description of the calling thread's error information, UTF-8.
std::string ErrorText() {
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) != S_OK || raw == nullptr) return {};
  const ComPtr<IErrorInfo> info = ComPtr<IErrorInfo>::Attach(raw);
  BSTR text;
  info->GetDescription(&text);
  return WideToUtf8(text.View());
}

int Fail(sd_bus_error* error, HRESULT hr, HRESULT scode = S_OK, std::string description = {}) {
  if (description.empty()) description = ErrorText();
  SetErrorInfo(0, nullptr);
  const auto hex = [](HRESULT code) { return rtl::Format("%08X", static_cast<unsigned>(code)); };
  std::string name = automation::kErrorPrefix + hex(hr);
  if (hr == DISP_E_EXCEPTION) name += ".S" + hex(scode);
  if (description.empty()) description = "HRESULT 0x" + hex(hr);
  sd_bus_error_set(error, name.c_str(), description.c_str());
  return -EIO;
}

// An object for `owner`, not yet on the bus nor in the table; a refusal is set in `error`.
int MakeObject(State& s, const std::shared_ptr<BusClass>& cls, const std::string& owner,
               std::unique_ptr<BusObject>& object, sd_bus_error* error) {
  if (s.suspended) return Fail(error, CO_E_SERVER_STOPPING);
  const auto held = std::ranges::count_if(
      s.objects, [&owner](const auto& entry) { return entry.second->owner == owner; });
  if (static_cast<std::size_t>(held) >= kMaxObjectsPerClient || s.objects.size() >= kMaxObjects) {
    return Fail(error, E_OUTOFMEMORY, S_OK,
                "too many objects (a client may hold " + std::to_string(kMaxObjectsPerClient) +
                    ", all clients together " + std::to_string(kMaxObjects) + ")");
  }
  void* raw = nullptr;
  SetErrorInfo(0, nullptr);
  const HRESULT hr = cls->factory->CreateInstance(nullptr, IID_IDispatch, &raw);
  if (FAILED(hr)) return Fail(error, hr);
  object = std::make_unique<BusObject>();
  object->id = s.nextObject++;
  object->owner = owner;
  object->cls = cls;
  object->dispatch = ComPtr<IDispatch>::Attach(static_cast<IDispatch*>(raw));
  return 0;
}

// Serves `table` at `path` while the slot added to `slots` lives; false when sd-bus refuses.
bool AddVtable(sd_bus* bus, std::vector<BusPtr<sd_bus_slot>>& slots, const std::string& path,
               const std::string& itf, const sd_bus_vtable* table, void* userdata) {
  sd_bus_slot* slot = nullptr;
  if (sd_bus_add_object_vtable(bus, &slot, path.c_str(), itf.c_str(), table, userdata) < 0) {
    return false;
  }
  slots.emplace_back(slot);
  return true;
}

int Reply(sd_bus_message* m, const std::function<int(sd_bus_message*)>& append) {
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_return(m, &raw);
  const BusPtr<sd_bus_message> reply(raw);
  if (r >= 0) r = append(raw);
  if (r >= 0) r = sd_bus_send(nullptr, raw, nullptr);
  return r;
}

// Runs one member with its arguments in declaration order; a failure is set in `error` (< 0).
int CallMember(BusObject& object, const TFuncDesc& func, std::vector<VARIANT>& args,
               VARIANT& result, sd_bus_error* error) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID named = DISPID_PROPERTYPUT;
  const bool put = func.kind == TInvokeKind::PropertyPut;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &named : nullptr,
                    static_cast<UINT>(reversed.size()), put ? 1u : 0u};
  EXCEPINFO info;
  UINT argErr = 0;
  SetErrorInfo(0, nullptr);
  HRESULT hr = S_OK;
  try {
    hr = object.dispatch->Invoke(func.dispId, GUID_NULL, 0, static_cast<WORD>(func.kind), &params,
                                 func.Retval() != nullptr ? &result : nullptr, &info, &argErr);
  } catch (...) {
    hr = RPC_E_SERVERFAULT;  // a member that throws must not take the server down
  }
  if (hr == DISP_E_EXCEPTION) {
    return Fail(error, hr, info.scode, WideToUtf8(info.bstrDescription.View()));
  }
  return FAILED(hr) ? Fail(error, hr) : 0;
}

int TextTooLong(sd_bus_error* error) {
  return Fail(error, DISP_E_EXCEPTION, E_INVALIDARG, "text too long");
}

// ---------------------------------------------------------------------------------------
// Handlers

// Only the client that made an object may call it.
int RefuseOthers(sd_bus_message* m, const BusObject& object, sd_bus_error* error) {
  const char* sender = sd_bus_message_get_sender(m);
  if (sender != nullptr && object.owner == sender) return 0;
  return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the object is another client's");
}

int OnMember(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& object = *static_cast<BusObject*>(userdata);
  if (const int r = RefuseOthers(m, object, error); r < 0) return r;
  const auto it = object.cls->members.find(std::string_view(sd_bus_message_get_member(m)));
  if (it == object.cls->members.end()) return Fail(error, DISP_E_MEMBERNOTFOUND);
  const TFuncDesc& func = *it->second;
  std::vector<VARIANT> args;
  for (const TParamDesc& param : func.params) {
    if (!param.IsIn()) continue;
    VARIANT& arg = args.emplace_back();
    const int r = automation::ReadVariant(m, automation::BusTypeOf(param.type), arg);
    if (r == -E2BIG) return TextTooLong(error);
    if (r <= 0) return Fail(error, E_INVALIDARG);
  }
  VARIANT result;
  const std::shared_ptr<BusClass> keep = object.cls;  // the call may release the object
  if (const int r = CallMember(object, func, args, result, error); r < 0) return r;
  const TParamDesc* retval = func.Retval();
  const int r = Reply(m, [&](sd_bus_message* reply) {
    return retval == nullptr
               ? 0
               : automation::AppendVariant(reply, automation::BusTypeOf(retval->type), result);
  });
  if (r == -E2BIG) return TextTooLong(error);
  return r < 0 ? r : 1;
}

int OnRelease(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& object = *static_cast<BusObject*>(userdata);
  if (const int r = RefuseOthers(m, object, error); r < 0) return r;
  std::unique_ptr<BusObject> released = std::move(S().objects.extract(object.id).mapped());
  const int r = sd_bus_reply_method_return(m, "");
  released.reset();  // may end the server: the reply goes first
  return r;
}

const sd_bus_vtable kLifetimeTable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Release", "", "", OnRelease, 0), SD_BUS_VTABLE_END};

std::vector<std::shared_ptr<BusClass>> BusClasses(State& s) {
  const std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<std::shared_ptr<BusClass>> classes;
  for (const Registration& r : s.registrations) {
    if (r.bus) classes.push_back(r.bus);
  }
  return classes;
}

std::shared_ptr<BusClass> ClassOf(void* userdata) {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = std::ranges::find(s.registrations, userdata,
                                    [](const Registration& r) -> void* { return r.bus.get(); });
  return it != s.registrations.end() ? it->bus : nullptr;
}

int OnCreateInstance(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  State& s = S();
  const std::shared_ptr<BusClass> cls = ClassOf(userdata);
  if (!cls) return Fail(error, CO_E_SERVER_STOPPING);
  const std::string sender = sd_bus_message_get_sender(m);
  std::unique_ptr<BusObject> object;
  if (const int r = MakeObject(s, cls, sender, object, error); r < 0) return r;
  // The object's own path, with its members and Release (introspection lists it there).
  const std::string path = cls->names.objectPrefix + std::to_string(object->id);
  if (!AddVtable(s.bus, object->slots, path, cls->names.objectInterface, cls->objectTable.data(),
                 object.get()) ||
      !AddVtable(s.bus, object->slots, path, cls->names.lifetime, kLifetimeTable, object.get())) {
    return Fail(error, E_OUTOFMEMORY);
  }
  s.objects.emplace(object->id, std::move(object));
  TrackClient(s, sender);
  return sd_bus_reply_method_return(m, "o", path.c_str());
}

int OnClassMethod(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  const std::shared_ptr<BusClass> cls = ClassOf(userdata);
  if (!cls) return Fail(error, CO_E_SERVER_STOPPING);
  const auto it = cls->methods.find(std::make_pair(std::string(sd_bus_message_get_interface(m)),
                                                   std::string(sd_bus_message_get_member(m))));
  if (it == cls->methods.end()) return Fail(error, DISP_E_MEMBERNOTFOUND);
  const char* argument = nullptr;
  if (sd_bus_message_read(m, "s", &argument) < 0) return Fail(error, E_INVALIDARG);
  if (std::strlen(argument) > automation::kMaxTextBytes) return TextTooLong(error);
  std::string answer;
  try {
    answer = it->second(argument);
  } catch (const std::exception& e) {
    return Fail(error, RPC_E_SERVERFAULT, S_OK, e.what());
  }
  if (answer.size() > automation::kMaxTextBytes) return TextTooLong(error);
  return sd_bus_reply_method_return(m, "s", answer.c_str());
}

int OnLockServer(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  State& s = S();
  const std::shared_ptr<BusClass> cls = ClassOf(userdata);
  int lock = 0;
  if (sd_bus_message_read(m, "b", &lock) < 0) return Fail(error, E_INVALIDARG);
  const std::string sender = sd_bus_message_get_sender(m);
  const auto key = std::make_pair(sender, static_cast<BusClass*>(userdata));
  if (lock != 0) {
    if (!cls || s.suspended) return Fail(error, CO_E_SERVER_STOPPING);
    auto& [locked, count] = s.locks[key];
    locked = cls;
    ++count;
    cls->factory->LockServer(TRUE);
    TrackClient(s, sender);
    return sd_bus_reply_method_return(m, "");
  }
  // An unlock this client never locked would free another's lock. Undoing one works while
  // suspended too: it may be what lets the process end.
  const auto it = s.locks.find(key);
  if (it == s.locks.end()) return Fail(error, E_UNEXPECTED);
  const std::shared_ptr<BusClass> owner = it->second.first;
  if (--it->second.second == 0) s.locks.erase(it);
  const int r = sd_bus_reply_method_return(m, "");
  owner->factory->LockServer(FALSE);
  return r;
}

// Run (Automation.h, BUS); a member without an answer answers "".
int OnRun(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  State& s = S();
  const std::shared_ptr<BusClass> cls = ClassOf(userdata);
  if (!cls) return Fail(error, CO_E_SERVER_STOPPING);
  std::vector<std::pair<std::string, std::string>> steps;
  if (sd_bus_message_enter_container(m, 'a', "(ss)") < 0) return Fail(error, E_INVALIDARG);
  const char* member = nullptr;
  const char* argument = nullptr;
  int r = 0;
  while ((r = sd_bus_message_read(m, "(ss)", &member, &argument)) > 0) {
    if (std::strlen(argument) > automation::kMaxTextBytes) return TextTooLong(error);
    steps.emplace_back(member, argument);
  }
  if (r < 0) return Fail(error, E_INVALIDARG);
  std::unique_ptr<BusObject> object;
  if ((r = MakeObject(s, cls, sd_bus_message_get_sender(m), object, error)) < 0) return r;
  std::vector<std::string> answers;
  for (auto& [name, text] : steps) {
    const auto it = cls->members.find(name);
    if (it == cls->members.end()) {
      return Fail(error, DISP_E_MEMBERNOTFOUND, S_OK, "no member " + name);
    }
    const TFuncDesc& func = *it->second;
    std::vector<VARIANT> args;
    if (func.InCount() > 1) return Fail(error, DISP_E_BADPARAMCOUNT);
    if (func.InCount() == 1) {
      VARIANT& arg = args.emplace_back();
      arg.vt = VT_BSTR;
      arg.bstrVal = BSTR(Utf8ToWide(text));
    }
    VARIANT result;
    if (const int failed = CallMember(*object, func, args, result, error); failed < 0)
      return failed;
    if (func.Retval() != nullptr && FAILED(VariantChangeType(&result, &result, 0, VT_BSTR))) {
      return Fail(error, DISP_E_TYPEMISMATCH);
    }
    answers.push_back(func.Retval() != nullptr ? WideToUtf8(result.bstrVal.View()) : "");
  }
  std::vector<char*> strv;
  for (std::string& answer : answers) strv.push_back(answer.data());
  strv.push_back(nullptr);
  r = Reply(
      m, [&strv](sd_bus_message* reply) { return sd_bus_message_append_strv(reply, strv.data()); });
  object.reset();  // may end the server: the reply went first
  return r < 0 ? r : 1;
}

// ---------------------------------------------------------------------------------------
// Vtables

const sd_bus_vtable kFactoryTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("CreateInstance", "", , "o", SD_BUS_PARAM(object), OnCreateInstance,
                             0),
    SD_BUS_METHOD_WITH_NAMES("LockServer", "b", SD_BUS_PARAM(lock), "", , OnLockServer, 0),
    SD_BUS_METHOD_WITH_NAMES("Run", "a(ss)", SD_BUS_PARAM(steps), "as", SD_BUS_PARAM(answers),
                             OnRun, 0),
    SD_BUS_VTABLE_END};

// The members' and class methods' vtables; their strings live in the class.
void BuildTables(BusClass& c) {
  c.objectTable = {SD_BUS_VTABLE_START(0)};
  for (const TFuncDesc& func : c.names.itf->funcs) {
    std::string signature;
    std::string names;
    bool supported = true;
    const auto add = [&](std::string& to, const TParamDesc& param) {
      const char type = automation::BusTypeOf(param.type);
      supported = supported && type != 0;
      to += type;
      names += param.name.empty() ? std::string_view("value") : param.name;
      names += '\0';
    };
    for (const TParamDesc& param : func.params) {
      if (param.IsIn()) add(signature, param);
    }
    std::string result;
    if (const TParamDesc* retval = func.Retval()) add(result, *retval);
    if (!supported) continue;  // a member whose types do not cross the bus is not offered
    const char* member = c.Keep(automation::MemberName(func));
    c.members.emplace(member, &func);
    c.objectTable.push_back(SD_BUS_METHOD_WITH_NAMES(member, c.Keep(signature), c.Keep(names),
                                                     c.Keep(result), , OnMember, 0));
  }
  c.objectTable.push_back(SD_BUS_VTABLE_END);
  const std::string library = c.names.name.substr(0, c.names.name.find('.'));
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  for (const ClassMethod& m : s.classMethods) {
    if (m.clsid != c.clsid) continue;
    const std::string itf = library + "." + m.interfaceName;
    std::vector<sd_bus_vtable>& table = c.methodTables[itf];
    if (table.empty()) table.push_back(SD_BUS_VTABLE_START(0));
    table.push_back(SD_BUS_METHOD_WITH_NAMES(c.Keep(m.member), "s", SD_BUS_PARAM(argument), "s",
                                             SD_BUS_PARAM(answer), OnClassMethod, 0));
    c.methods.emplace(std::make_pair(itf, m.member), m.method);
  }
  for (auto& [itf, table] : c.methodTables) table.push_back(SD_BUS_VTABLE_END);
}

// Serves the class object; the objects are served as they are made, the name is taken last.
HRESULT PublishClass(State& s, BusClass& c) {
  BuildTables(c);
  if (!AddVtable(s.bus, c.slots, c.names.classPath, c.names.factory, kFactoryTable, &c)) {
    return E_OUTOFMEMORY;
  }
  for (const auto& [itf, table] : c.methodTables) {
    if (!AddVtable(s.bus, c.slots, c.names.classPath, itf, table.data(), &c)) return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Takes the class's name: CO_E_OBJISREG when another process has it.
HRESULT TakeName(State& s, BusClass& c) {
  const int r = sd_bus_request_name(s.bus, c.names.name.c_str(), 0);
  if (r == -EEXIST) return CO_E_OBJISREG;
  if (r < 0) return E_ACCESSDENIED;
  c.nameOwned = true;
  return S_OK;
}

void GiveUpName(State& s, BusClass& c) {
  if (!c.nameOwned || s.bus == nullptr) return;
  c.nameOwned = false;
  sd_bus_release_name(s.bus, c.names.name.c_str());
  sd_bus_flush(s.bus);
}

void Unpublish(State& s, BusClass& c) {
  GiveUpName(s, c);
  c.slots.clear();
}

// Opens the bus and has the serving loop watch it (kBusMessage to `window`); bus lock held.
HRESULT ConnectLocked(State& s, HWND window, std::string& why) {
  if (s.bus != nullptr) return s.busLost ? RPC_E_SERVER_UNAVAILABLE : S_OK;
  s.bus = automation::OpenSessionBus(why);
  if (s.bus == nullptr) return RPC_E_SERVER_UNAVAILABLE;
  WatchDescriptor(window, kBusMessage, sd_bus_get_fd(s.bus), [&s]() -> short {
    // A lost connection reports its hang-up for ever: it is not watched.
    return s.busLost ? 0 : static_cast<short>(POLLIN | (s.wantOut ? POLLOUT : 0));
  });
  return S_OK;
}

// The serving thread's turn: every message that has arrived is handled, one at a time.
void OnBusReady(State& s) {
  const std::lock_guard<std::recursive_timed_mutex> lock(s.busMutex);
  if (s.bus == nullptr || s.busLost) return;
  int r = 0;
  while ((r = sd_bus_process(s.bus, nullptr)) > 0) {
  }
  if (r >= 0) {
    s.wantOut = (sd_bus_get_events(s.bus) & POLLOUT) != 0;
    return;
  }
  // Without the bus nobody can reach the objects: as if every client had left.
  s.busLost = true;
  ReleaseClients(s, std::nullopt);
}

// A call outside the serving thread's turn may have read messages off the socket that no poll
// will announce, or left output to write: the serving thread is told anyway.
void ScheduleProcessing(State& s) { PostMessageA(s.window, kBusMessage, 0, 0); }

LRESULT ServingWindowProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == kBusMessage) OnBusReady(S());
  return 0;
}

// Ends serving: called by the serving thread's last CoUninitialize.
void StopServing(State& s) {
  std::vector<Registration> registrations;
  HWND window = 0;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    registrations.swap(s.registrations);
    window = s.window.exchange(0);
    s.servingThread = 0;
    s.suspended = false;
  }
  const std::lock_guard<std::recursive_timed_mutex> lock(s.busMutex);
  for (Registration& r : registrations) {
    if (r.bus) Unpublish(s, *r.bus);
  }
  ReleaseClients(s, std::nullopt);
  registrations.clear();
  if (s.bus != nullptr) s.bus = sd_bus_flush_close_unref(s.bus);
  s.busLost = false;
  if (window != 0) DestroyWindow(window);  // and with it the watch on the closed connection
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public API

namespace automation {

bool ApartmentInitialized() { return tApartment.count > 0; }

ComPtr<IClassFactory> FindLocalClassObject(REFCLSID clsid) {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = std::ranges::find(s.registrations, clsid, &Registration::clsid);
  return it != s.registrations.end() ? it->factory : nullptr;
}

std::optional<bool> EmitPostThroughServer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  std::unique_lock<std::recursive_timed_mutex> lock(s.busMutex, std::defer_lock);
  if (!lock.try_lock_for(kBusLockTimeout)) return false;
  if (s.bus == nullptr || s.busLost) return std::nullopt;
  const bool sent = EmitPostOn(s.bus, hwnd, message, wParam, lParam);
  if (sent && (sd_bus_get_events(s.bus) & POLLOUT) != 0) {
    s.wantOut = true;
    ScheduleProcessing(s);
  }
  return sent;
}

}  // namespace automation

HRESULT CoInitializeEx(void* /*reserved*/, DWORD coInit) {
  if (coInit != COINIT_APARTMENTTHREADED && coInit != COINIT_MULTITHREADED) return E_INVALIDARG;
  Apartment& a = tApartment;
  if (a.count > 0) {
    if (a.mode != coInit) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  a.count = 1;
  a.mode = coInit;
  return S_OK;
}

void CoUninitialize() {
  Apartment& a = tApartment;
  if (a.count == 0 || --a.count > 0) return;
  State& s = S();
  if (s.servingThread == GetCurrentThreadId()) {
    StopServing(s);
  } else {
    // In-process registrations of this thread end with its apartment.
    std::vector<ComPtr<IClassFactory>> factories;
    const std::lock_guard<std::mutex> lock(s.mutex);
    std::erase_if(s.registrations, [&](Registration& r) {
      if (r.threadId != GetCurrentThreadId() || r.bus) return false;
      factories.push_back(std::move(r.factory));
      return true;
    });
  }
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie) {
  if (cookie == nullptr || factory == nullptr) return E_POINTER;
  *cookie = 0;
  if (flags != REGCLS_MULTIPLEUSE) return E_INVALIDARG;
  if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) == 0) return E_INVALIDARG;
  if (!automation::ApartmentInitialized()) return CO_E_NOTINITIALIZED;
  const bool local = (clsContext & CLSCTX_LOCAL_SERVER) != 0;
  if (local && tApartment.mode != COINIT_APARTMENTTHREADED) return RPC_E_CHANGED_MODE;

  Registration r;
  r.clsid = clsid;
  r.threadId = GetCurrentThreadId();
  if (FAILED(ComPtr<IUnknown>(factory).As(r.factory))) return E_NOINTERFACE;

  State& s = S();
  HWND window = 0;  // the serving thread's, which carries the bus's news to its message loop
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (std::ranges::find(s.registrations, clsid, &Registration::clsid) != s.registrations.end()) {
      return CO_E_OBJISREG;
    }
    if (local && s.servingThread != 0 && s.servingThread != GetCurrentThreadId()) {
      return RPC_E_WRONG_THREAD;
    }
    window = s.window;
  }
  if (local) {
    std::optional<automation::TBusNames> names = automation::BusNamesOf(clsid);
    if (!names) return REGDB_E_CLASSNOTREG;  // no description: no names on the bus
    r.bus = std::make_shared<BusClass>();
    r.bus->clsid = clsid;
    r.bus->names = std::move(*names);
    r.bus->factory = r.factory;
    if (window == 0) {
      window = CreateMessageWindow(ServingWindowProc);
      if (window == 0) return E_OUTOFMEMORY;
      const std::lock_guard<std::mutex> lock(s.mutex);
      s.window = window;
      s.servingThread = GetCurrentThreadId();
    }
    const std::lock_guard<std::recursive_timed_mutex> busLock(s.busMutex);
    std::string why;
    HRESULT hr = ConnectLocked(s, window, why);
    if (FAILED(hr)) {
      automation::SetErrorText(clsid, IID_IClassFactory, why);
      return hr;
    }
    hr = PublishClass(s, *r.bus);
    if (SUCCEEDED(hr) && !s.suspended) hr = TakeName(s, *r.bus);
    if (FAILED(hr)) {
      Unpublish(s, *r.bus);
      return hr;
    }
  }
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    r.cookie = s.nextCookie++;
    *cookie = r.cookie;
    s.registrations.push_back(std::move(r));
  }
  if (local) ScheduleProcessing(s);
  return S_OK;
}

void AddClassMethod(REFCLSID clsid, std::string interfaceName, std::string member,
                    TClassMethod method) {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  s.classMethods.push_back({clsid, std::move(interfaceName), std::move(member), std::move(method)});
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  State& s = S();
  Registration revoked;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = std::ranges::find(s.registrations, cookie, &Registration::cookie);
    if (it == s.registrations.end()) return E_INVALIDARG;
    revoked = std::move(*it);
    s.registrations.erase(it);
  }
  if (revoked.bus) {
    const std::lock_guard<std::recursive_timed_mutex> lock(s.busMutex);
    Unpublish(s, *revoked.bus);
  }
  return S_OK;
}

HRESULT CoSuspendClassObjects() {
  State& s = S();
  if (s.suspended.exchange(true)) return S_FALSE;
  const std::vector<std::shared_ptr<BusClass>> classes = BusClasses(s);
  const std::lock_guard<std::recursive_timed_mutex> lock(s.busMutex);
  for (const auto& c : classes) GiveUpName(s, *c);
  return S_OK;
}

HRESULT CoResumeClassObjects() {
  State& s = S();
  if (!s.suspended) return S_FALSE;
  const std::vector<std::shared_ptr<BusClass>> classes = BusClasses(s);
  const std::lock_guard<std::recursive_timed_mutex> lock(s.busMutex);
  for (const auto& c : classes) {
    const HRESULT hr = TakeName(s, *c);
    if (FAILED(hr)) {
      for (const auto& other : classes) GiveUpName(s, *other);
      return hr;
    }
  }
  s.suspended = false;
  ScheduleProcessing(s);
  return S_OK;
}

}  // namespace veskmath::win
