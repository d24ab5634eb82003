// The Fcitx5 add-on: a host of the conversion plug-in on top of whichever input method is
// active. The trigger key enters math mode; the typed text is the preedit and its result the
// candidate, refreshed after every change; Enter (or choosing the candidate) commits the
// result and tells the plug-in it was taken, Escape leaves committing nothing. Every call on
// the conversion object runs on the converter's thread; answers come back through the event
// loop and are dropped when the text has changed since.
#pragma once

#include <fcitx-config/configuration.h>
#include <fcitx-config/enum.h>
#include <fcitx-config/option.h>
#include <fcitx-utils/dbus/bus.h>
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
#include <string>
#include <vector>

#include "Converter.h"

namespace veskmath::fcitx5 {

enum class CommitForm { Result, Value };
FCITX_CONFIG_ENUM_NAME_WITH_I18N(CommitForm, N_("Result as returned"), N_("Value alone"));

FCITX_CONFIGURATION(VeskMathConfig, fcitx::KeyListOption triggerKey{this,
                                                                    "TriggerKey",
                                                                    _("Trigger Key"),
                                                                    {fcitx::Key("Control+Alt+M")},
                                                                    fcitx::KeyListConstrain()};
                    fcitx::OptionWithAnnotation<CommitForm, CommitFormI18NAnnotation> commitForm{
                        this, "CommitForm", _("Commit"), CommitForm::Result};);

class VeskMathAddon;

// Math mode of one input context.
class VeskMathState : public fcitx::InputContextProperty {
 public:
  explicit VeskMathState(std::uint64_t client) : Client(client) {}

  const std::uint64_t Client;  // names this context's requests to the converter
  bool Active = false;
  std::string Text;              // the notation typed so far, UTF-8
  std::uint64_t Generation = 0;  // counts changes of Text: answers for older ones are stale
  bool Answered = false;         // Result belongs to Text
  std::string Result;
  bool Taking = false;  // Enter was pressed; the answer commits
  std::string Notice;   // the auxiliary text's message, when something is wrong

  // Entering or leaving math mode: an empty text, and any answer still on its way is stale.
  void Restart(bool active) {
    Active = active;
    Text.clear();
    Answered = false;
    Taking = false;
    Notice.clear();
    ++Generation;
  }
};

class VeskMathAddon : public fcitx::AddonInstance {
 public:
  explicit VeskMathAddon(fcitx::Instance* instance);
  ~VeskMathAddon() override;

  void reloadConfig() override;
  const fcitx::Configuration* getConfig() const override { return &FConfig; }
  void setConfig(const fcitx::RawConfig& config) override;

  // Takes the result shown (Enter, or the candidate chosen).
  void Take(fcitx::InputContext* ic);

 private:
  void Enter(fcitx::InputContext* ic);
  void Leave(fcitx::InputContext* ic);
  void OnKey(fcitx::KeyEvent& keyEvent);
  void Edited(fcitx::InputContext* ic);
  void Submit(fcitx::InputContext* ic, TRequestKind kind);
  void Answered(fcitx::ICUUID uuid, std::uint64_t generation, TRequestKind kind, TAnswer answer);
  void Commit(fcitx::InputContext* ic, const std::string& result);
  void UpdateUI(fcitx::InputContext* ic);
  std::string Describe(const TAnswer& answer) const;

  fcitx::Instance* FInstance;
  VeskMathConfig FConfig;
  std::uint64_t FNextClient = 1;
  fcitx::FactoryFor<VeskMathState> FFactory;
  int FActive = 0;  // input contexts in math mode; none: the object is released
  std::vector<std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>>> FHandlers;
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
