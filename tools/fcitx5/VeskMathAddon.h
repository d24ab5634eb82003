// The Fcitx5 add-on: a host of the conversion plug-in on top of whichever input method is
// active. The trigger key enters math mode; what each key then does is TMathSession's (shared
// with any other host); this layer maps Fcitx5's keys to it, shows its preedit, auxiliary text
// and candidates, carries out its requests on the converter (asynchronous calls on Fcitx5's
// event loop through its own D-Bus connection) and logs each distinct failure once.
// At the first trigger of a session the plug-in installed beside the add-on is registered
// and listed for this user when that is missing, as an installed framework does.
#pragma once

#include <fcitx-config/configuration.h>
#include <fcitx-config/enum.h>
#include <fcitx-config/option.h>
#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/event.h>
#include <fcitx-utils/eventdispatcher.h>
#include <fcitx-utils/handlertable.h>
#include <fcitx-utils/i18n.h>
#include <fcitx-utils/key.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addoninstance.h>
#include <fcitx/inputcontextproperty.h>
#include <fcitx/instance.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostui/Converter.h"
#include "hostui/MathSession.h"

namespace veskmath::fcitx5 {

using hostui::TAnswer;
using hostui::TConverter;
using hostui::TKey;
using hostui::TMathSession;
using hostui::TProblem;
using hostui::TRequest;
using hostui::TRequestKind;
using hostui::TStep;
using hostui::TValueForm;

// Binds the add-on's text domain before anything of it is translated (the configuration's
// option names are translated as they are made).
struct TTextDomain {
  TTextDomain();
};

enum class CommitForm { Result, Value };
FCITX_CONFIG_ENUM_NAME_WITH_I18N(CommitForm, N_("Result as returned"), N_("Value alone"));

FCITX_CONFIGURATION(
    VeskMathConfig, fcitx::KeyListOption triggerKey{this,
                                                    "TriggerKey",
                                                    _("Trigger Key"),
                                                    {fcitx::Key("Control+Alt+M")},
                                                    fcitx::KeyListConstrain()};
    fcitx::OptionWithAnnotation<CommitForm, CommitFormI18NAnnotation> commitForm{
        this, "CommitForm", _("Commit"), CommitForm::Result};
    fcitx::Option<int, fcitx::IntConstrain> timeout{this, "Timeout",
                                                    _("Seconds to wait for the conversion server"),
                                                    3, fcitx::IntConstrain(1, 30)};);

class VeskMathAddon;

// Math mode of one input context.
class VeskMathState : public fcitx::InputContextProperty {
 public:
  explicit VeskMathState(std::uint64_t client) : Client(client) {}

  const std::uint64_t Client;  // names this context's requests to the converter
  bool Active = false;
  TMathSession Session;
  std::unique_ptr<fcitx::EventSourceTime> SlowTimer;  // "converting..." after a moment
};

class VeskMathAddon : public fcitx::AddonInstance {
 public:
  explicit VeskMathAddon(fcitx::Instance* instance);
  ~VeskMathAddon() override;

  void reloadConfig() override;
  const fcitx::Configuration* getConfig() const override { return &FConfig; }
  void setConfig(const fcitx::RawConfig& config) override;

  // The candidate `index` was chosen.
  void Choose(fcitx::InputContext* ic, std::size_t index);

 private:
  void Enter(fcitx::InputContext* ic);
  void Leave(fcitx::InputContext* ic);
  void OnKey(fcitx::KeyEvent& keyEvent);
  void Carry(fcitx::InputContext* ic, const TStep& step);
  void Submit(fcitx::InputContext* ic, TRequestKind kind);
  void Answered(fcitx::ICUUID uuid, std::uint64_t generation, TRequestKind kind, TAnswer answer);
  void UpdateUI(fcitx::InputContext* ic);
  void Log(const std::string& problem);
  void ApplyConfig();
  void SetUp();

  fcitx::Instance* FInstance;
  TTextDomain FDomain;  // before the configuration
  VeskMathConfig FConfig;
  std::uint64_t FNextClient = 1;
  fcitx::FactoryFor<VeskMathState> FFactory;
  int FActive = 0;  // input contexts in math mode; none: the object is released
  std::vector<std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>>> FHandlers;
  std::set<std::string> FLogged;  // failures already in Fcitx5's log
  // The first trigger registers the plug-in where needed; requests wait for it.
  enum class TSetup { NotStarted, Running, Done } FSetup = TSetup::NotStarted;
  std::vector<TRequest> FHeld;
  std::thread FSetupThread;
  fcitx::EventDispatcher FDispatcher;
  std::unique_ptr<fcitx::dbus::Bus> FBus;  // when Fcitx5 has no dbus module of its own
  // Last: destroyed first, so no answer is posted to a dispatcher that has gone.
  std::unique_ptr<TConverter> FConverter;
};

class VeskMathAddonFactory : public fcitx::AddonFactory {
 public:
  fcitx::AddonInstance* create(fcitx::AddonManager* manager) override;
};

}  // namespace veskmath::fcitx5
