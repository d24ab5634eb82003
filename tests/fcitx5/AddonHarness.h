// A real Fcitx5 instance inside this process, with Fcitx5's test front end, test input
// method and test user interface, and the add-on loaded from the build tree; a scratch
// registry store, temporary and runtime directory in which the plug-in is registered and
// installed as `veskmath /regserver` and Install leave it. Shared by the add-on's tests and
// its latency benchmark.
//
//   THarness h;  h.Install();
//   h.Run({h.Press("Control+Alt+M"), h.Type("1+2="), h.Press("Return"), h.Until([&] {
//     return h.Commits.size() == 1; })});
#pragma once

#include <fcitx-utils/event.h>
#include <fcitx-utils/eventdispatcher.h>
#include <fcitx-utils/key.h>
#include <fcitx-utils/testing.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonmanager.h>
#include <fcitx/candidatelist.h>
#include <fcitx/event.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/instance.h>
#include <testfrontend_public.h>
#include <testim_public.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "../server/ServerProcessUtil.h"
#include "../support/HostSteps.h"
#include "contract/VeskMathTypes.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::fcitx5::testing {

// One step of a run: true when done; a step answering false is asked again a moment later.
using test_support::TStep;

class THarness : public test_support::THostSteps<THarness> {
 public:
  THarness() {
    fcitx::setupTestingEnvironment(VESKMATH_FCITX5_BUILD_DIR, {VESKMATH_FCITX5_BUILD_DIR},
                                   {VESKMATH_FCITX5_BUILD_DIR});
    char arg0[] = "veskmath-fcitx5-test";
    char arg1[] = "--disable=all";
    char arg2[] = "--enable=testim,testfrontend,testui,veskmath";
    char* argv[] = {arg0, arg1, arg2};
    FInstance = std::make_unique<fcitx::Instance>(3, argv);
    FInstance->addonManager().registerDefaultLoader(nullptr);
  }
  ~THarness() { FInstance.reset(); }

  // The plug-in registered and in the host's list; false when registering failed.
  bool Install() { return FScratch.Install(VESKMATH_VESKMATH_PATH); }

  // Runs the steps in order on the event loop; false when they did not all finish within
  // `seconds` (the run stops there).
  bool Run(std::vector<TStep> steps, double seconds = 30) {
    std::size_t next = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    auto tick = FInstance->eventLoop().addTimeEvent(
        // An accuracy of 0 would let the loop coalesce ticks up to a quarter second.
        CLOCK_MONOTONIC, fcitx::now(CLOCK_MONOTONIC) + 1000, 1,
        [&](fcitx::EventSourceTime* source, std::uint64_t) {
          if (!FFrontend) Start();
          while (next < steps.size() && steps[next]()) ++next;
          if (next == steps.size() || std::chrono::steady_clock::now() > deadline) {
            FInstance->exit();
          } else {
            source->setNextInterval(1000);
            source->setOneShot();
          }
          return true;
        });
    FInstance->exec();
    return next == steps.size();
  }

  // Steps.
  TStep Press(std::string key) {
    return [this, key] {
      Send(fcitx::Key(key));
      return true;
    };
  }
  TStep Type(std::string text) {
    return [this, text] {
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = fcitx::utf8::ncharByteLength(text.begin() + at, 1);
        const std::uint32_t c = fcitx::utf8::getChar(text.begin() + at, text.end());
        Send(fcitx::Key(fcitx::Key::keySymFromUnicode(c)));
        at += length;
      }
      return true;
    };
  }

  // What the input context shows now.
  std::string Candidate() {
    const auto list = Ic()->inputPanel().candidateList();
    return list && list->size() > 0 ? list->candidate(0).text().toString() : std::string();
  }
  std::string Aux() { return Ic()->inputPanel().auxUp().toString(); }
  std::vector<std::string> Candidates() {
    std::vector<std::string> out;
    if (const auto list = Ic()->inputPanel().candidateList()) {
      for (int i = 0; i < list->size(); ++i) out.push_back(list->candidate(i).text().toString());
    }
    return out;
  }
  int PreeditCursor() {
    const fcitx::InputPanel& panel = Ic()->inputPanel();
    return panel.clientPreedit().empty() ? panel.preedit().cursor()
                                         : panel.clientPreedit().cursor();
  }
  std::string Preedit() {
    const fcitx::InputPanel& panel = Ic()->inputPanel();
    return panel.clientPreedit().toString() + panel.preedit().toString();
  }

  fcitx::Instance& Instance() { return *FInstance; }
  fcitx::InputContext* Ic() { return FInstance->inputContextManager().findByUUID(FUuid); }
  fcitx::AddonInstance* Addon() { return FInstance->addonManager().addon("veskmath"); }
  const server::testing::TScratch& Scratch() const { return FScratch; }

  void Send(const fcitx::Key& key) {
    FFrontend->call<fcitx::ITestFrontend::keyEvent>(FUuid, key, false);
    FFrontend->call<fcitx::ITestFrontend::keyEvent>(FUuid, key, true);
  }

  std::vector<std::string> Commits;  // every text committed to the application
  std::vector<std::string> ImKeys;   // every key press the input method received
  std::vector<std::string> Auxes;    // every auxiliary text shown

 private:
  void Start() {
    FFrontend = FInstance->addonManager().addon("testfrontend");
    FInstance->addonManager().addon("testim")->call<fcitx::ITestIM::setHandler>(
        [this](const fcitx::InputMethodEntry&, fcitx::KeyEvent& event) {
          if (!event.isRelease()) ImKeys.push_back(event.key().toString());
        });
    FCommitWatch = FInstance->watchEvent(
        fcitx::EventType::InputContextCommitString, fcitx::EventWatcherPhase::Default,
        [this](fcitx::Event& event) {
          Commits.push_back(static_cast<fcitx::CommitStringEvent&>(event).text());
        });
    // Every auxiliary text shown: Fcitx5's own input-method notice may replace one before
    // the next step looks.
    FUiWatch = FInstance->watchEvent(fcitx::EventType::InputContextUpdateUI,
                                     fcitx::EventWatcherPhase::Default,
                                     [this](fcitx::Event&) { Auxes.push_back(Aux()); });
    FUuid = FFrontend->call<fcitx::ITestFrontend::createInputContext>("testapp");
    Ic()->focusIn();
  }

  server::testing::TScratch FScratch;  // first: the environment the instance inherits
  std::unique_ptr<fcitx::Instance> FInstance;
  fcitx::AddonInstance* FFrontend = nullptr;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> FCommitWatch;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> FUiWatch;
  fcitx::ICUUID FUuid{};
};

}  // namespace veskmath::fcitx5::testing
