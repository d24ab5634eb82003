#include "VeskMathEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "PluginSetup.h"
#include "SdBus.h"
#include "hostui/Converter.h"
#include "hostui/MathSession.h"

namespace veskmath::ibus {

namespace {

using hostui::TAnswer;
using hostui::TKey;
using hostui::TRequest;
using hostui::TRequestKind;
using hostui::TStep;

constexpr const char* kEngineName = "veskmath";
// Without an answer for this long, the auxiliary text says that the conversion is under way.
constexpr guint kSlowMilliseconds = 300;

struct TEngineState;

// What the engines of the process share.
struct TShared {
  IBusBus* Bus = nullptr;
  std::string Program;   // the plug-in program to register at first use
  std::string Previous;  // the engine active before this one; empty: none known
  std::unique_ptr<hostui::TConverter> Converter;
  std::map<std::uint64_t, TEngineState*> Engines;  // by client: answers find theirs
  std::uint64_t NextClient = 1;
  int Active = 0;  // engines in math mode; none: the object is released
  std::set<std::string> Logged;
  // The first use registers the plug-in where needed; requests wait for it.
  enum class TSetup { NotStarted, Running, Done } Setup = TSetup::NotStarted;
  std::vector<TRequest> Held;
  std::thread SetupThread;
  hostui::TValueForm Form = hostui::TValueForm::Result;  // the setting commit_form
};

TShared* Shared = nullptr;

struct TEngineState {
  IBusEngine* Engine = nullptr;
  std::uint64_t Client = 0;
  bool Active = false;
  hostui::TMathSession Session;
  guint SlowTimer = 0;
  // What the application was last sent: only changes go through ibus-daemon again.
  struct TShown {
    std::string Preedit;
    std::size_t Cursor = 0;
    std::string Aux;
    std::vector<std::string> Candidates;
  };
  std::optional<TShown> Shown;  // none: unknown (after focus or hiding), everything is sent
};

struct VeskMathEngine {
  IBusEngine Parent;
  TEngineState* State;
};

struct VeskMathEngineClass {
  IBusEngineClass Parent;
};

IBusEngineClass* ParentClass = nullptr;

TEngineState* StateOf(IBusEngine* engine) {
  return reinterpret_cast<VeskMathEngine*>(engine)->State;
}

void Log(const std::string& problem) {
  if (Shared->Logged.insert(problem).second) g_warning("VeskMath: %s", problem.c_str());
}

// `answerComing`: a request is on its way, whose answer updates the auxiliary text anyway;
// until then it stays as it was, so that nothing but the preedit goes ahead of the candidate.
void UpdateUI(TEngineState* state, bool answerComing = false) {
  IBusEngine* engine = state->Engine;
  const hostui::TMathSession& session = state->Session;
  const std::optional<TEngineState::TShown>& shown = state->Shown;
  const TEngineState::TShown now{session.Notation(), session.CursorByte(),
                                 answerComing && shown ? shown->Aux : session.Aux(),
                                 session.Candidates()};
  const std::optional<TEngineState::TShown> before = std::exchange(state->Shown, now);
  const std::string& text = now.Preedit;
  if (!before || before->Preedit != text || before->Cursor != now.Cursor) {
    IBusText* preedit = ibus_text_new_from_string(text.c_str());
    const glong length = g_utf8_strlen(text.c_str(), -1);
    ibus_text_append_attribute(preedit, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0,
                               static_cast<guint>(length));
    const glong cursor = g_utf8_strlen(text.c_str(), static_cast<gssize>(now.Cursor));
    ibus_engine_update_preedit_text_with_mode(engine, preedit, static_cast<guint>(cursor),
                                              !text.empty(), IBUS_ENGINE_PREEDIT_CLEAR);
  }
  // The candidates before the auxiliary text: the result is what the user waits for, and
  // each update queues behind the one before it on its way through ibus-daemon.
  if (!before || before->Candidates != now.Candidates) {
    if (now.Candidates.empty()) {
      ibus_engine_hide_lookup_table(engine);
    } else {
      IBusLookupTable* table = ibus_lookup_table_new(9, 0, TRUE, FALSE);
      for (const std::string& candidate : now.Candidates) {
        ibus_lookup_table_append_candidate(table, ibus_text_new_from_string(candidate.c_str()));
      }
      ibus_engine_update_lookup_table(engine, table, TRUE);
    }
  }
  if (!before || before->Aux != now.Aux) {
    ibus_engine_update_auxiliary_text(engine, ibus_text_new_from_string(now.Aux.c_str()), TRUE);
  }
}

void HideUI(TEngineState* state) {
  state->Shown.reset();
  ibus_engine_hide_preedit_text(state->Engine);
  ibus_engine_hide_auxiliary_text(state->Engine);
  ibus_engine_hide_lookup_table(state->Engine);
}

void StopSlowTimer(TEngineState* state) {
  if (state->SlowTimer != 0) g_source_remove(state->SlowTimer);
  state->SlowTimer = 0;
}

void Answered(std::uint64_t client, std::uint64_t generation, TRequestKind kind, TAnswer answer);

void Submit(TEngineState* state, TRequestKind kind) {
  TRequest request;
  request.Kind = kind;
  request.Client = state->Client;
  request.Notation = state->Session.Notation();
  request.Deliver = [client = state->Client, generation = state->Session.Generation(), kind](
                        TAnswer answer) { Answered(client, generation, kind, std::move(answer)); };
  if (Shared->Setup != TShared::TSetup::Done) {
    Shared->Held.push_back(std::move(request));
  } else {
    Shared->Converter->Submit(std::move(request));
  }
}

void SetUp() {
  Shared->Setup = TShared::TSetup::Running;
  Shared->SetupThread = std::thread([program = Shared->Program] {
    auto* result = new TSetupOutcome(SetUpPlugin(program));
    g_idle_add(
        [](gpointer data) -> gboolean {
          std::unique_ptr<TSetupOutcome> done(static_cast<TSetupOutcome*>(data));
          if (Shared == nullptr) return G_SOURCE_REMOVE;
          Shared->SetupThread.join();
          Shared->Setup = TShared::TSetup::Done;
          if (!done->Failure.empty()) {
            Log("setting up the plug-in: " + done->Failure);
          } else if (done->Changed) {
            g_message("VeskMath: the conversion plug-in was registered for this user");
          }
          for (TRequest& request : Shared->Held) Shared->Converter->Submit(std::move(request));
          Shared->Held.clear();
          return G_SOURCE_REMOVE;
        },
        result);
  });
}

// Math mode begins: the engine was switched to.
void Enter(TEngineState* state) {
  if (state->Active) return;
  state->Active = true;
  state->Session.Restart();
  state->Session.SetValueForm(Shared->Form);
  if (Shared->Setup == TShared::TSetup::NotStarted) SetUp();
  // The server starts while the user types the first character.
  if (Shared->Active++ == 0) Submit(state, TRequestKind::Connect);
  UpdateUI(state);
}

// Math mode ends: the engine was switched away from.
void Leave(TEngineState* state) {
  if (!state->Active) return;
  state->Active = false;
  state->Session.Restart();
  StopSlowTimer(state);
  HideUI(state);
  Shared->Converter->Cancel(state->Client);
  if (--Shared->Active == 0) Shared->Converter->Release();
}

// Back to the engine the user came from; without one known, math mode starts afresh.
void SwitchBack(TEngineState* state) {
  if (Shared->Previous.empty() || Shared->Previous == kEngineName) {
    state->Session.Restart();
    UpdateUI(state);
    return;
  }
  ibus_bus_set_global_engine_async(Shared->Bus, Shared->Previous.c_str(), -1, nullptr, nullptr,
                                   nullptr);
}

// Does what the session asked for after a key, an answer or a choice.
void Carry(TEngineState* state, const TStep& step) {
  if (step.Submit) Submit(state, step.Kind);
  if (step.Started) {
    StopSlowTimer(state);
    struct TSlow {
      std::uint64_t Client, Generation;
    };
    state->SlowTimer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kSlowMilliseconds,
        [](gpointer data) -> gboolean {
          const auto* slow = static_cast<TSlow*>(data);
          const auto found = Shared->Engines.find(slow->Client);
          if (found != Shared->Engines.end()) {
            TEngineState* engine = found->second;
            engine->SlowTimer = 0;
            if (engine->Active && engine->Session.Slow(slow->Generation)) UpdateUI(engine);
          }
          return G_SOURCE_REMOVE;
        },
        new TSlow{state->Client, state->Session.Generation()},
        [](gpointer data) { delete static_cast<TSlow*>(data); });
  }
  if (step.Leave) {
    // The preedit goes before the text takes its place.
    state->Session.Restart();
    StopSlowTimer(state);
    Shared->Converter->Cancel(state->Client);
    HideUI(state);
    if (!step.Commit.empty()) {
      ibus_engine_commit_text(state->Engine, ibus_text_new_from_string(step.Commit.c_str()));
    }
    SwitchBack(state);
    return;
  }
  UpdateUI(state, step.Submit);
}

void Answered(std::uint64_t client, std::uint64_t generation, TRequestKind kind, TAnswer answer) {
  const auto found = Shared->Engines.find(client);
  if (found == Shared->Engines.end() || !found->second->Active) return;
  TEngineState* state = found->second;
  const TStep step = state->Session.Answer(generation, kind, answer);
  if (answer.Problem != hostui::TProblem::None) {
    // The aux text's words, and the whole detail that it may have shortened.
    Log(state->Session.Problem() + (answer.Detail.empty() ? "" : " [" + answer.Detail + "]"));
  }
  Carry(state, step);
}

bool IsModifierKey(guint keyval) {
  return (keyval >= IBUS_KEY_Shift_L && keyval <= IBUS_KEY_Hyper_R) ||
         (keyval >= IBUS_KEY_ISO_Lock && keyval <= IBUS_KEY_ISO_Level5_Lock);
}

gboolean ProcessKeyEvent(IBusEngine* engine, guint keyval, guint /*keycode*/, guint modifiers) {
  TEngineState* state = StateOf(engine);
  if (!state->Active) Enter(state);
  if (modifiers & IBUS_RELEASE_MASK) return FALSE;
  // Shortcuts with Control, Alt or Super go to the application.
  constexpr guint kShortcut = IBUS_CONTROL_MASK | IBUS_MOD1_MASK | IBUS_MOD4_MASK |
                              IBUS_SUPER_MASK | IBUS_HYPER_MASK | IBUS_META_MASK;
  if ((modifiers & kShortcut) != 0 || IsModifierKey(keyval)) return FALSE;
  static const std::pair<guint, TKey> kKeys[] = {
      {IBUS_KEY_Escape, TKey::Escape},  {IBUS_KEY_Return, TKey::Enter},
      {IBUS_KEY_KP_Enter, TKey::Enter}, {IBUS_KEY_BackSpace, TKey::BackSpace},
      {IBUS_KEY_Delete, TKey::Delete},  {IBUS_KEY_KP_Delete, TKey::Delete},
      {IBUS_KEY_Left, TKey::Left},      {IBUS_KEY_KP_Left, TKey::Left},
      {IBUS_KEY_Right, TKey::Right},    {IBUS_KEY_KP_Right, TKey::Right},
      {IBUS_KEY_Home, TKey::Home},      {IBUS_KEY_KP_Home, TKey::Home},
      {IBUS_KEY_End, TKey::End},        {IBUS_KEY_KP_End, TKey::End},
  };
  for (const auto& [sym, action] : kKeys) {
    if (keyval == sym) {
      Carry(state, state->Session.Key(action));
      return TRUE;
    }
  }
  if (const gunichar c = ibus_keyval_to_unicode(keyval); c >= 0x20 && c != 0x7F) {
    Carry(state, state->Session.Key(TKey::Character, c));
  }
  return TRUE;  // no other key of math mode reaches the application
}

void Enable(IBusEngine* engine) {
  Enter(StateOf(engine));
  ParentClass->enable(engine);
}

void Disable(IBusEngine* engine) {
  Leave(StateOf(engine));
  ParentClass->disable(engine);
}

// The text typed belongs to the place it was typed in: another place, or the application
// moving the cursor, drops it (nothing is committed).
void Drop(IBusEngine* engine) {
  TEngineState* state = StateOf(engine);
  if (!state->Active || state->Session.Notation().empty()) return;
  state->Session.Restart();
  StopSlowTimer(state);
  Shared->Converter->Cancel(state->Client);
  UpdateUI(state);
}

void FocusOut(IBusEngine* engine) {
  Drop(engine);
  ParentClass->focus_out(engine);
}

void Reset(IBusEngine* engine) {
  Drop(engine);
  ParentClass->reset(engine);
}

void FocusIn(IBusEngine* engine) {
  ParentClass->focus_in(engine);
  TEngineState* state = StateOf(engine);
  state->Shown.reset();  // another application: it is sent everything
  if (state->Active) UpdateUI(state);
}

void CandidateClicked(IBusEngine* engine, guint index, guint /*button*/, guint /*state*/) {
  TEngineState* state = StateOf(engine);
  if (state->Active) Carry(state, state->Session.Choose(index));
}

void Destroy(IBusObject* object) {
  auto* self = reinterpret_cast<VeskMathEngine*>(object);
  if (TEngineState* state = self->State) {
    StopSlowTimer(state);
    if (Shared != nullptr) {
      Leave(state);
      Shared->Engines.erase(state->Client);
    }
    delete state;
    self->State = nullptr;
  }
  IBUS_OBJECT_CLASS(ParentClass)->destroy(object);
}

void InitInstance(GTypeInstance* instance, gpointer /*klass*/) {
  auto* self = reinterpret_cast<VeskMathEngine*>(instance);
  self->State = new TEngineState;
  self->State->Engine = IBUS_ENGINE(instance);
  self->State->Client = Shared->NextClient++;
  Shared->Engines[self->State->Client] = self->State;
}

void InitClass(gpointer klass, gpointer /*data*/) {
  ParentClass = static_cast<IBusEngineClass*>(g_type_class_peek_parent(klass));
  IBUS_OBJECT_CLASS(klass)->destroy = Destroy;
  auto* engine = static_cast<IBusEngineClass*>(klass);
  engine->process_key_event = ProcessKeyEvent;
  engine->enable = Enable;
  engine->disable = Disable;
  engine->focus_in = FocusIn;
  engine->focus_out = FocusOut;
  engine->reset = Reset;
  engine->candidate_clicked = CandidateClicked;
}

// The settings, in IBus's configuration under "engine/veskmath" (dconf, IBus's usual store,
// keeps them as /desktop/ibus/engine/veskmath/commit-form and .../timeout): "commit_form"
// "result" (what the converter answered, "1+2= 3") or "value" (the value alone, "3"), and
// "timeout", the seconds a call to the server may take (1 to 30, default 3): the Fcitx5
// add-on's settings and defaults.
constexpr const char* kConfigSection = "engine/veskmath";

void Configure(const gchar* name, GVariant* value) {
  if (value == nullptr) return;
  const std::string key = name;
  if (key == "commit_form" && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
    Shared->Form = std::string(g_variant_get_string(value, nullptr)) == "value"
                       ? hostui::TValueForm::Value
                       : hostui::TValueForm::Result;
  } else if (key == "timeout" && g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
    const gint32 seconds = std::clamp(g_variant_get_int32(value), 1, 30);
    Shared->Converter->SetCallTimeout(std::chrono::seconds(seconds));
  }
}

void ReadSettings(IBusBus* bus) {
  IBusConfig* config = ibus_bus_get_config(bus);
  if (config == nullptr) return;  // no configuration service: the defaults stand
  ibus_config_watch(config, kConfigSection, nullptr);
  for (const char* name : {"commit_form", "timeout"}) {
    if (GVariant* value = ibus_config_get_value(config, kConfigSection, name)) {
      Configure(name, value);
      g_variant_unref(value);
    }
  }
  // A change takes effect when math mode is next entered (the timeout at once).
  g_signal_connect(config, "value-changed",
                   G_CALLBACK(+[](IBusConfig*, const gchar* section, const gchar* name,
                                  GVariant* value, gpointer) {
                     if (std::string(section) == kConfigSection) Configure(name, value);
                   }),
                   nullptr);
}

void GlobalEngineChanged(IBusBus* /*bus*/, const gchar* name, gpointer /*data*/) {
  if (name != nullptr && std::string(name) != kEngineName) Shared->Previous = name;
}

}  // namespace

GType EngineType() {
  static GType type = 0;
  if (type == 0) {
    static const GTypeInfo info = {
        sizeof(VeskMathEngineClass), nullptr, nullptr,      InitClass, nullptr, nullptr,
        sizeof(VeskMathEngine),      0,       InitInstance, nullptr};
    type = g_type_register_static(IBUS_TYPE_ENGINE, "VeskMathEngine", &info, GTypeFlags(0));
  }
  return type;
}

void StartEngines(IBusBus* bus, std::string veskmathProgram) {
  Shared = new TShared;
  Shared->Bus = bus;
  Shared->Program = std::move(veskmathProgram);
  Shared->Converter = std::make_unique<hostui::TConverter>(std::make_unique<TSdBus>());
  // The process starts when the engine is first switched to: the engine active until then is
  // still the global one. Later switches are followed as they happen.
  if (IBusEngineDesc* current = ibus_bus_get_global_engine(bus)) {
    GlobalEngineChanged(bus, ibus_engine_desc_get_name(current), nullptr);
    g_object_unref(current);
  }
  ReadSettings(bus);
  ibus_bus_set_watch_ibus_signal(bus, TRUE);
  g_signal_connect(bus, "global-engine-changed", G_CALLBACK(GlobalEngineChanged), nullptr);
}

void StopEngines() {
  if (Shared == nullptr) return;
  if (Shared->SetupThread.joinable()) Shared->SetupThread.join();
  Shared->Converter.reset();  // cancels the call in flight, releases the object
  delete Shared;
  Shared = nullptr;
}

}  // namespace veskmath::ibus
