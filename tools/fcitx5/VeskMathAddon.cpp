#include "VeskMathAddon.h"

#include <dbus_public.h>
#include <dlfcn.h>
#include <libintl.h>
#include <unistd.h>

#include <fcitx-config/iniparser.h>
#include <fcitx-utils/dbus/message.h>
#include <fcitx-utils/keysym.h>
#include <fcitx-utils/log.h>
#include <fcitx-utils/standardpath.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonmanager.h>
#include <fcitx/candidatelist.h>
#include <fcitx/event.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/text.h>
#include <fcitx/userinterface.h>

#include <chrono>
#include <filesystem>
#include <utility>

#include "host/Setup.h"

namespace veskmath::fcitx5 {

namespace {

constexpr char kConfigFile[] = "conf/veskmath.conf";
// Without an answer for this long, the auxiliary text says that the conversion is under way.
constexpr std::uint64_t kSlowMicroseconds = 300'000;

// The folder of this add-on's file.
std::filesystem::path AddonFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&AddonFolder), &info) == 0 || !info.dli_fname) return {};
  return std::filesystem::path(info.dli_fname).parent_path();
}

// The first of the places that exists: installed, the plug-in program and the translations
// lie where the package puts them relative to the add-on; in a build tree, beside it.
std::string Beside(const std::vector<std::filesystem::path>& places) {
  for (const std::filesystem::path& place : places) {
    std::error_code error;
    if (std::filesystem::exists(place, error)) return place.lexically_normal().string();
  }
  return places.empty() ? std::string() : places.front().lexically_normal().string();
}

// The converter's calls on Fcitx5's session-bus connection, on its event loop.
class TFcitxBus final : public hostui::TBusTransport {
 public:
  explicit TFcitxBus(fcitx::dbus::Bus* bus) : FBus(bus) {}
  ~TFcitxBus() override { FPending.clear(); }

  std::string Unavailable() const override {
    return FBus ? std::string() : "Fcitx5 has no D-Bus session bus";
  }
  void Call(const std::vector<hostui::TBusCall>& calls, std::chrono::milliseconds timeout,
            std::function<void(const std::vector<hostui::TBusReply>&)> then) override {
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    auto replies = std::make_shared<std::vector<hostui::TBusReply>>(calls.size());
    auto left = std::make_shared<std::size_t>(calls.size());
    auto done = std::make_shared<decltype(then)>(std::move(then));
    FPending.clear();
    for (std::size_t i = 0; i < calls.size(); ++i) {
      FPending.push_back(Make(calls[i]).callAsync(
          static_cast<std::uint64_t>(usec),
          [this, i, type = calls[i].Reply, replies, left, done](fcitx::dbus::Message& message) {
            hostui::TBusReply& reply = (*replies)[i];
            reply.Sender = message.sender();
            if (message.isError()) {
              reply.Error = true;
              reply.ErrorName = message.errorName();
              reply.ErrorMessage = message.errorMessage();
            } else if (type == 'o') {
              fcitx::dbus::ObjectPath path;
              message >> path;
              reply.Value = path.path();
            } else if (type == 's') {
              message >> reply.Value;
            }
            if (--*left == 0) {
              FRetired = std::move(FPending);  // the slots live while their callback runs
              (*done)(*replies);
            }
            return true;
          }));
    }
  }
  void CancelCall() override { FPending.clear(); }
  void Send(const hostui::TBusCall& call) override { Make(call).send(); }

 private:
  fcitx::dbus::Message Make(const hostui::TBusCall& call) {
    auto message = FBus->createMethodCall(call.Destination.c_str(), call.Path.c_str(),
                                          call.Interface.c_str(), call.Member.c_str());
    if (call.Text) message << *call.Text;
    if (call.Number) message << *call.Number;
    return message;
  }

  fcitx::dbus::Bus* FBus;
  std::vector<std::unique_ptr<fcitx::dbus::Slot>> FPending;
  std::vector<std::unique_ptr<fcitx::dbus::Slot>> FRetired;
};

// The one candidate kind: choosing it is the same as Enter on it.
class SessionCandidate : public fcitx::CandidateWord {
 public:
  SessionCandidate(VeskMathAddon* addon, std::string text, std::size_t index)
      : fcitx::CandidateWord(fcitx::Text(std::move(text))), FAddon(addon), FIndex(index) {}
  void select(fcitx::InputContext* ic) const override { FAddon->Choose(ic, FIndex); }

 private:
  VeskMathAddon* FAddon;
  std::size_t FIndex;
};

}  // namespace

TTextDomain::TTextDomain() {
  const std::filesystem::path folder = AddonFolder();
  const std::string locale =
      Beside({folder / VESKMATH_LOCALEDIR_FROM_ADDON, folder / VESKMATH_LOCALE_FROM_BUILT_ADDON});
  fcitx::registerDomain(FCITX_GETTEXT_DOMAIN, locale.c_str());
}

VeskMathAddon::VeskMathAddon(fcitx::Instance* instance)
    : FInstance(instance),
      FFactory([this](fcitx::InputContext&) { return new VeskMathState(FNextClient++); }) {
  FInstance->inputContextManager().registerProperty("veskmathState", &FFactory);
  FDispatcher.attach(&FInstance->eventLoop());
  // The conversion server is reached on the session bus: Fcitx5's own connection (its dbus
  // module), else one of the add-on's own on Fcitx5's event loop.
  fcitx::dbus::Bus* bus = nullptr;
  if (fcitx::AddonInstance* dbus = FInstance->addonManager().addon("dbus", true)) {
    bus = dbus->call<fcitx::IDBusModule::bus>();
  }
  if (bus == nullptr) {
    try {
      FBus = std::make_unique<fcitx::dbus::Bus>(fcitx::dbus::BusType::Session);
      FBus->attachEventLoop(&FInstance->eventLoop());
      bus = FBus.get();
    } catch (const std::exception&) {
      FBus.reset();  // no session bus: every request says so
    }
  }
  FConverter = std::make_unique<TConverter>(std::make_unique<TFcitxBus>(bus));

  // The trigger after the input method, so the mode never takes a key the method uses.
  FHandlers.emplace_back(FInstance->watchEvent(
      fcitx::EventType::InputContextKeyEvent, fcitx::EventWatcherPhase::PostInputMethod,
      [this](fcitx::Event& event) {
        auto& keyEvent = static_cast<fcitx::KeyEvent&>(event);
        if (keyEvent.isRelease() || !keyEvent.key().checkKeyList(*FConfig.triggerKey)) return;
        fcitx::InputContext* ic = keyEvent.inputContext();
        if (ic->propertyFor(&FFactory)->Active) return;
        keyEvent.filterAndAccept();
        Enter(ic);
      }));
  // In math mode every key is ours before the input method sees it.
  FHandlers.emplace_back(FInstance->watchEvent(
      fcitx::EventType::InputContextKeyEvent, fcitx::EventWatcherPhase::PreInputMethod,
      [this](fcitx::Event& event) { OnKey(static_cast<fcitx::KeyEvent&>(event)); }));
  auto leave = [this](fcitx::Event& event) {
    fcitx::InputContext* ic = static_cast<fcitx::InputContextEvent&>(event).inputContext();
    if (ic->propertyFor(&FFactory)->Active) Leave(ic);
  };
  for (const fcitx::EventType type :
       {fcitx::EventType::InputContextFocusOut, fcitx::EventType::InputContextReset,
        fcitx::EventType::InputContextSwitchInputMethod, fcitx::EventType::InputContextDestroyed}) {
    FHandlers.emplace_back(FInstance->watchEvent(type, fcitx::EventWatcherPhase::Default, leave));
  }
  reloadConfig();
}

VeskMathAddon::~VeskMathAddon() {
  if (FSetupThread.joinable()) FSetupThread.join();
  FConverter.reset();  // cancels the call in flight: nothing is posted after this
  if (FBus) FBus->detachEventLoop();
  FDispatcher.detach();
}

void VeskMathAddon::reloadConfig() {
  fcitx::readAsIni(FConfig, kConfigFile);
  // The settings file is there from the start, with the defaults, for editing by hand.
  if (fcitx::StandardPath::global()
          .locate(fcitx::StandardPath::Type::PkgConfig, kConfigFile)
          .empty()) {
    fcitx::safeSaveAsIni(FConfig, kConfigFile);
  }
  ApplyConfig();
}

void VeskMathAddon::setConfig(const fcitx::RawConfig& config) {
  FConfig.load(config, true);
  fcitx::safeSaveAsIni(FConfig, kConfigFile);
  ApplyConfig();
}

void VeskMathAddon::ApplyConfig() {
  if (FConverter) FConverter->SetCallTimeout(std::chrono::seconds(*FConfig.timeout));
}

void VeskMathAddon::SetUp() {
  FSetup = TSetup::Running;
  const std::filesystem::path folder = AddonFolder();
  // Installed, or in a build tree (the add-on in tools/fcitx5, the programs in bin).
  const std::string program = Beside({folder / VESKMATH_PROGRAM_FROM_ADDON / "veskmath",
                                      folder / ".." / ".." / "bin" / "veskmath"});
  FSetupThread = std::thread([this, program] {
    host::TSetupResult result = host::EnsurePluginInstalled(program);
    FDispatcher.schedule([this, result = std::move(result)] {
      FSetupThread.join();
      FSetup = TSetup::Done;
      if (!result.Failure.empty()) {
        Log("setting up the plug-in: " + result.Failure);
      } else if (result.Changed) {
        FCITX_INFO() << "VeskMath: the conversion plug-in was registered for this user";
      }
      for (TRequest& request : FHeld) FConverter->Submit(std::move(request));
      FHeld.clear();
    });
  });
}

void VeskMathAddon::Enter(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  state->Active = true;
  state->Session.Restart();
  state->Session.SetValueForm(*FConfig.commitForm == CommitForm::Value ? TValueForm::Value
                                                                       : TValueForm::Result);
  if (FSetup == TSetup::NotStarted) SetUp();
  if (FActive++ == 0) {
    // The server starts while the user types the first character.
    Submit(ic, TRequestKind::Connect);
  }
  UpdateUI(ic);
}

void VeskMathAddon::Leave(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  state->Active = false;
  state->Session.Restart();
  state->SlowTimer.reset();
  ic->inputPanel().reset();
  ic->updatePreedit();
  ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
  if (FConverter) {
    FConverter->Cancel(state->Client);
    if (--FActive == 0) FConverter->Release();
  }
}

void VeskMathAddon::OnKey(fcitx::KeyEvent& keyEvent) {
  fcitx::InputContext* ic = keyEvent.inputContext();
  VeskMathState* state = ic->propertyFor(&FFactory);
  if (!state->Active) return;
  keyEvent.filter();  // nobody else handles a key of math mode
  if (keyEvent.isRelease()) return;
  const fcitx::Key& key = keyEvent.key();
  if (key.checkKeyList(*FConfig.triggerKey)) {
    keyEvent.accept();
    Leave(ic);
    return;
  }
  // Shortcuts with Control, Alt or Super go to the application.
  if (key.isModifier() || key.hasModifier()) return;
  static const std::pair<FcitxKeySym, TKey> kKeys[] = {
      {FcitxKey_Escape, TKey::Escape},  {FcitxKey_Return, TKey::Enter},
      {FcitxKey_KP_Enter, TKey::Enter}, {FcitxKey_BackSpace, TKey::BackSpace},
      {FcitxKey_Delete, TKey::Delete},  {FcitxKey_KP_Delete, TKey::Delete},
      {FcitxKey_Left, TKey::Left},      {FcitxKey_KP_Left, TKey::Left},
      {FcitxKey_Right, TKey::Right},    {FcitxKey_KP_Right, TKey::Right},
      {FcitxKey_Home, TKey::Home},      {FcitxKey_KP_Home, TKey::Home},
      {FcitxKey_End, TKey::End},        {FcitxKey_KP_End, TKey::End},
  };
  keyEvent.accept();
  for (const auto& [sym, action] : kKeys) {
    if (key.check(sym)) {
      Carry(ic, state->Session.Key(action));
      return;
    }
  }
  if (const std::uint32_t c = fcitx::Key::keySymToUnicode(key.sym()); c >= 0x20 && c != 0x7F) {
    Carry(ic, state->Session.Key(TKey::Character, c));
  }
}

void VeskMathAddon::Choose(fcitx::InputContext* ic, std::size_t index) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  if (state->Active) Carry(ic, state->Session.Choose(index));
}

// Does what the session asked for after a key, an answer or a choice.
void VeskMathAddon::Carry(fcitx::InputContext* ic, const TStep& step) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  if (step.Submit) Submit(ic, step.Kind);
  if (step.Started) {
    state->SlowTimer = FInstance->eventLoop().addTimeEvent(
        CLOCK_MONOTONIC, fcitx::now(CLOCK_MONOTONIC) + kSlowMicroseconds, 10'000,
        [this, uuid = ic->uuid(), generation = state->Session.Generation()](fcitx::EventSourceTime*,
                                                                            std::uint64_t) {
          if (fcitx::InputContext* slow = FInstance->inputContextManager().findByUUID(uuid)) {
            if (slow->propertyFor(&FFactory)->Session.Slow(generation)) UpdateUI(slow);
          }
          return true;
        });
  }
  if (step.Leave) {
    const std::string text = step.Commit;
    Leave(ic);
    if (!text.empty()) ic->commitString(text);
    return;
  }
  UpdateUI(ic);
}

void VeskMathAddon::Submit(fcitx::InputContext* ic, TRequestKind kind) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  TRequest request;
  request.Kind = kind;
  request.Client = state->Client;
  request.Notation = state->Session.Notation();
  request.Deliver = [this, uuid = ic->uuid(), generation = state->Session.Generation(),
                     kind](TAnswer answer) {
    FDispatcher.schedule([this, uuid, generation, kind, answer = std::move(answer)]() mutable {
      Answered(uuid, generation, kind, std::move(answer));
    });
  };
  if (FSetup != TSetup::Done) {
    FHeld.push_back(std::move(request));
  } else if (FConverter) {
    FConverter->Submit(std::move(request));
  }
}

void VeskMathAddon::Answered(fcitx::ICUUID uuid, std::uint64_t generation, TRequestKind kind,
                             TAnswer answer) {
  fcitx::InputContext* ic = FInstance->inputContextManager().findByUUID(uuid);
  if (ic == nullptr) return;
  VeskMathState* state = ic->propertyFor(&FFactory);
  if (!state->Active) return;
  const TStep step = state->Session.Answer(generation, kind, answer);
  if (answer.Problem != TProblem::None) {
    // The aux text's words, and the whole detail that it may have shortened.
    Log(state->Session.Problem() + (answer.Detail.empty() ? "" : " [" + answer.Detail + "]"));
  }
  Carry(ic, step);
}

void VeskMathAddon::Log(const std::string& problem) {
  if (FLogged.insert(problem).second) FCITX_WARN() << "VeskMath: " << problem;
}

void VeskMathAddon::UpdateUI(fcitx::InputContext* ic) {
  const VeskMathState* state = ic->propertyFor(&FFactory);
  const TMathSession& session = state->Session;
  fcitx::InputPanel& panel = ic->inputPanel();
  panel.reset();
  fcitx::Text preedit(session.Notation(), fcitx::TextFormatFlag::Underline);
  preedit.setCursor(static_cast<int>(session.CursorByte()));
  if (ic->capabilityFlags().test(fcitx::CapabilityFlag::Preedit)) {
    panel.setClientPreedit(preedit);
  } else {
    panel.setPreedit(preedit);
  }
  panel.setAuxUp(fcitx::Text(session.Aux()));
  if (!session.Candidates().empty()) {
    auto candidates = std::make_unique<fcitx::CommonCandidateList>();
    for (std::size_t i = 0; i < session.Candidates().size(); ++i) {
      candidates->append<SessionCandidate>(this, session.Candidates()[i], i);
    }
    candidates->setGlobalCursorIndex(0);
    panel.setCandidateList(std::move(candidates));
  }
  ic->updatePreedit();
  ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
}

fcitx::AddonInstance* VeskMathAddonFactory::create(fcitx::AddonManager* manager) {
  return new VeskMathAddon(manager->instance());
}

}  // namespace veskmath::fcitx5

FCITX_ADDON_FACTORY(veskmath::fcitx5::VeskMathAddonFactory);
