#include "VeskMathAddon.h"

#include <dbus_public.h>

#include <fcitx-config/iniparser.h>
#include <fcitx-utils/keysym.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonmanager.h>
#include <fcitx/candidatelist.h>
#include <fcitx/event.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/text.h>
#include <fcitx/userinterface.h>

#include <cstdio>
#include <utility>

namespace veskmath::fcitx5 {

namespace {

constexpr char kConfigFile[] = "conf/veskmath.conf";

// The one candidate: the text that Enter commits. Choosing it is the same as Enter.
class ResultCandidate : public fcitx::CandidateWord {
 public:
  ResultCandidate(VeskMathAddon* addon, std::string text)
      : fcitx::CandidateWord(fcitx::Text(std::move(text))), FAddon(addon) {}
  void select(fcitx::InputContext* ic) const override { FAddon->Take(ic); }

 private:
  VeskMathAddon* FAddon;
};

std::string Hex(std::int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string WithDetail(std::string message, const std::string& detail) {
  if (!detail.empty()) message += ": " + detail;
  return message;
}

}  // namespace

VeskMathAddon::VeskMathAddon(fcitx::Instance* instance)
    : FInstance(instance),
      FFactory([this](fcitx::InputContext&) { return new VeskMathState(FNextClient++); }) {
  fcitx::registerDomain(FCITX_GETTEXT_DOMAIN, VESKMATH_LOCALEDIR);
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
  FConverter = std::make_unique<TConverter>(bus);

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
  FConverter.reset();  // cancels the call in flight: nothing is posted after this
  if (FBus) FBus->detachEventLoop();
  FDispatcher.detach();
}

void VeskMathAddon::reloadConfig() { fcitx::readAsIni(FConfig, kConfigFile); }

void VeskMathAddon::setConfig(const fcitx::RawConfig& config) {
  FConfig.load(config, true);
  fcitx::safeSaveAsIni(FConfig, kConfigFile);
}

void VeskMathAddon::Enter(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  state->Restart(true);
  if (FActive++ == 0) {
    // The server starts while the user types the first character.
    Submit(ic, TRequestKind::Connect);
  }
  UpdateUI(ic);
}

void VeskMathAddon::Leave(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  state->Restart(false);
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
  keyEvent.accept();
  if (key.check(FcitxKey_Escape)) {
    Leave(ic);
  } else if (key.check(FcitxKey_Return) || key.check(FcitxKey_KP_Enter)) {
    Take(ic);
  } else if (key.check(FcitxKey_BackSpace)) {
    if (state->Text.empty()) {
      Leave(ic);
      return;
    }
    const std::size_t chars = fcitx::utf8::length(state->Text);
    state->Text.resize(fcitx::utf8::ncharByteLength(state->Text.begin(), chars - 1));
    Edited(ic);
  } else if (const std::uint32_t c = fcitx::Key::keySymToUnicode(key.sym());
             c >= 0x20 && c != 0x7F) {
    state->Text += fcitx::utf8::UCS4ToUTF8(c);
    Edited(ic);
  }
}

void VeskMathAddon::Edited(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  ++state->Generation;
  state->Answered = false;
  state->Taking = false;
  if (!state->Text.empty() && !HasSideEffects(state->Text)) Submit(ic, TRequestKind::Preview);
  UpdateUI(ic);
}

void VeskMathAddon::Take(fcitx::InputContext* ic) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  if (!state->Active || state->Taking) return;
  if (state->Text.empty()) {
    Leave(ic);
    return;
  }
  if (state->Answered && !HasSideEffects(state->Text)) {
    // The result shown is the one taken (a second read could differ: "random").
    if (IsFailedAnswer(state->Result)) return;
    Submit(ic, TRequestKind::Start);
    Commit(ic, state->Result);
    return;
  }
  state->Taking = true;
  Submit(ic, TRequestKind::Take);
  UpdateUI(ic);
}

void VeskMathAddon::Submit(fcitx::InputContext* ic, TRequestKind kind) {
  VeskMathState* state = ic->propertyFor(&FFactory);
  TRequest request;
  request.Kind = kind;
  request.Client = state->Client;
  request.Notation = state->Text;
  request.Deliver = [this, uuid = ic->uuid(), generation = state->Generation,
                     kind](TAnswer answer) {
    FDispatcher.schedule([this, uuid, generation, kind, answer = std::move(answer)]() mutable {
      Answered(uuid, generation, kind, std::move(answer));
    });
  };
  if (FConverter) FConverter->Submit(std::move(request));
}

void VeskMathAddon::Answered(fcitx::ICUUID uuid, std::uint64_t generation, TRequestKind kind,
                             TAnswer answer) {
  fcitx::InputContext* ic = FInstance->inputContextManager().findByUUID(uuid);
  if (ic == nullptr) return;
  VeskMathState* state = ic->propertyFor(&FFactory);
  // An answer for a text that has changed since, or a mode already left, is dropped.
  if (!state->Active || state->Generation != generation) return;
  if (answer.Problem != TProblem::None) {
    state->Notice = Describe(answer);
    state->Taking = false;
    UpdateUI(ic);
    return;
  }
  state->Notice.clear();
  if (kind == TRequestKind::Connect || kind == TRequestKind::Start) {
    UpdateUI(ic);
    return;
  }
  state->Answered = true;
  state->Result = std::move(answer.Result);
  if (kind == TRequestKind::Take && state->Taking) {
    state->Taking = false;
    if (!IsFailedAnswer(state->Result)) {
      Commit(ic, state->Result);
      return;
    }
  }
  UpdateUI(ic);
}

void VeskMathAddon::Commit(fcitx::InputContext* ic, const std::string& result) {
  const VeskMathState* state = ic->propertyFor(&FFactory);
  const std::string text =
      *FConfig.commitForm == CommitForm::Value ? ValueAlone(state->Text, result) : result;
  Leave(ic);
  if (!text.empty()) ic->commitString(text);
}

void VeskMathAddon::UpdateUI(fcitx::InputContext* ic) {
  const VeskMathState* state = ic->propertyFor(&FFactory);
  fcitx::InputPanel& panel = ic->inputPanel();
  panel.reset();
  fcitx::Text preedit(state->Text, fcitx::TextFormatFlag::Underline);
  preedit.setCursor(static_cast<int>(state->Text.size()));
  if (ic->capabilityFlags().test(fcitx::CapabilityFlag::Preedit)) {
    panel.setClientPreedit(preedit);
  } else {
    panel.setPreedit(preedit);
  }
  std::string aux = _("Math: ");
  if (!state->Notice.empty()) {
    aux += state->Notice;
  } else if (state->Text.empty()) {
    aux += _("type an expression (1+2=, sin(pi/6), a:=2), Enter takes the result");
  } else if (state->Taking) {
    aux += _("converting...");
  } else if (HasSideEffects(state->Text)) {
    aux += _("Enter converts");
  } else if (state->Answered && IsFailedAnswer(state->Result)) {
    aux += _("no result: edit the expression");
  }
  panel.setAuxUp(fcitx::Text(aux));
  if (state->Answered) {
    auto candidates = std::make_unique<fcitx::CommonCandidateList>();
    const std::string shown = *FConfig.commitForm == CommitForm::Value
                                  ? ValueAlone(state->Text, state->Result)
                                  : state->Result;
    candidates->append<ResultCandidate>(this, shown);
    candidates->setGlobalCursorIndex(0);
    panel.setCandidateList(std::move(candidates));
  }
  ic->updatePreedit();
  ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
}

std::string VeskMathAddon::Describe(const TAnswer& answer) const {
  switch (answer.Problem) {
    case TProblem::None:
      break;
    case TProblem::RegistryUnreadable:
      return WithDetail(_("cannot read the host's list in the registry"), answer.Detail);
    case TProblem::NotInstalled:
      return _("no conversion plug-in is installed: run `veskmath` and choose Install");
    case TProblem::ClassNotRegistered:
      return _("the plug-in is listed but not registered: run `veskmath /regserver`");
    case TProblem::ServerFailed:
      return WithDetail(std::string(_("the conversion server cannot start")) + " (" +
                            Hex(answer.HResult) + "); " +
                            _("check that `vesk 1+2=` works, then type again"),
                        answer.Detail);
    case TProblem::NoAnswer:
      return _("the conversion server does not answer; the next key tries again");
    case TProblem::CallFailed:
      return WithDetail(std::string(_("the conversion failed")) + " (" + Hex(answer.HResult) +
                            "); " + _("the next key tries again"),
                        answer.Detail);
  }
  return {};
}

fcitx::AddonInstance* VeskMathAddonFactory::create(fcitx::AddonManager* manager) {
  return new VeskMathAddon(manager->instance());
}

}  // namespace veskmath::fcitx5

FCITX_ADDON_FACTORY(veskmath::fcitx5::VeskMathAddonFactory);
