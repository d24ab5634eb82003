// A private ibus-daemon (no panel, no configuration service, no X) on a scratch session bus,
// the engine taken from this build tree's component file, and an input context of this
// process that the test drives as an application would: focus, keys, and what comes back
// (commits, preedit, auxiliary text, candidates). The scratch registry store, temporary and
// runtime directory are those of the other process tests; Install() registers the plug-in
// there as `veskmath /regserver` and Install leave it. Shared by the engine's tests and its
// latency benchmark.
//
//   THarness h;  h.Install();
//   h.Run({h.Engine("veskmath"), h.Type("1+2="), h.Press("Return"),
//          h.Until([&] { return h.Commits.size() == 1; })});
#pragma once

// The platform layer first: its TRUE and FALSE are constants that GLib's macros would break.
#include "../server/ServerProcessUtil.h"
#include "../support/HostSteps.h"
#include "contract/VeskMathTypes.h"
#include "platform/win/RegistryFile.h"
// clang-format off
#include <ibus.h>
// clang-format on

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veskmath::ibus::testing {

// One step of a run: true when done; a step answering false is asked again a moment later.
using test_support::TStep;

// The engine the user comes from, as a Mozc user comes from Mozc.
inline const std::string kPreviousEngine = "xkb:us::eng";

class THarness : public test_support::THostSteps<THarness> {
 public:
  THarness() {
    const std::string root = FScratch.Root();
    Set("IBUS_ADDRESS", "unix:path=" + root + "/ibus.socket");
    // ibus-daemon 1.5.27 replaces its component path by this one: of the system's
    // components only the keyboard layouts' engine (the engine before), so that an installed
    // ibus-veskmath never stands in for the engine of this build tree.
    std::filesystem::create_directories(root + "/components");
    std::filesystem::create_symlink("/usr/share/ibus/component/simple.xml",
                                    root + "/components/simple.xml");
    Set("IBUS_COMPONENT_PATH",
        std::string(VESKMATH_IBUS_COMPONENT_DIR) + ":" + root + "/components");
    Set("XDG_CONFIG_HOME", root + "/config");
    Set("XDG_CACHE_HOME", root + "/cache");
    Set("NO_AT_BRIDGE", "1");
    FDaemon = std::make_unique<server::testing::TChild>(
        VESKMATH_IBUS_DAEMON,
        std::vector<std::string>{"--panel=disable", "--config=/usr/libexec/ibus-memconf",
                                 "--emoji-extension=disable", "--cache=none",
                                 "--address=unix:path=" + root + "/ibus.socket"},
        root, "ibus-daemon");
    static const bool initialised = (ibus_init(), true);
    (void)initialised;
    // The socket may be there before the daemon accepts on it, and a bus that found it
    // refusing waits for a change of address that never comes: a new one is made instead.
    test_support::WaitFor(
        [&] {
          if (FBus == nullptr) FBus = ibus_bus_new();
          if (ibus_bus_is_connected(FBus)) return true;
          g_object_unref(FBus);
          FBus = nullptr;
          return false;
        },
        30);
  }
  ~THarness() {
    if (FContext) {
      g_signal_handlers_disconnect_by_data(FContext, this);
      ibus_proxy_destroy(IBUS_PROXY(FContext));
      g_object_unref(FContext);
    }
    if (FBus) g_object_unref(FBus);
    if (FDaemon) {
      ::kill(FDaemon->Pid(), SIGTERM);
      FDaemon->Wait(10);
    }
    for (auto& [name, value] : FSaved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  THarness(const THarness&) = delete;
  THarness& operator=(const THarness&) = delete;

  bool Connected() const { return FBus != nullptr && ibus_bus_is_connected(FBus); }

  // The plug-in registered and in the host's list; false when registering failed.
  bool Install() { return FScratch.Install(VESKMATH_VESKMATH_PATH); }

  // Runs the steps in order on the main loop; false when they did not all finish within
  // `seconds` (the run stops there). The input context is made and focused first, with the
  // previous engine active.
  bool Run(std::vector<TStep> steps, double seconds = 30) {
    if (!Connected()) {
      std::fprintf(stderr, "no connection to ibus-daemon; it said:\n%s\n", FDaemon->Err().c_str());
      return false;
    }
    if (FContext == nullptr && !Start()) return false;
    std::size_t next = 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    struct TTick {
      std::vector<TStep>* Steps;
      std::size_t* Next;
      std::chrono::steady_clock::time_point Deadline;
      GMainLoop* Loop;
    } tick{&steps, &next, deadline, loop};
    g_timeout_add(
        1,
        [](gpointer data) -> gboolean {
          auto* t = static_cast<TTick*>(data);
          while (*t->Next < t->Steps->size() && (*t->Steps)[*t->Next]()) ++*t->Next;
          if (*t->Next == t->Steps->size() || std::chrono::steady_clock::now() > t->Deadline) {
            g_main_loop_quit(t->Loop);
            return G_SOURCE_REMOVE;
          }
          return G_SOURCE_CONTINUE;
        },
        &tick);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return next == steps.size();
  }

  // Steps.
  // Sets one of the engine's settings ("engine/veskmath"), once the configuration service is up.
  TStep Setting(std::string name, std::string text) {
    return [this, name, text] {
      IBusConfig* config = ibus_bus_get_config(FBus);
      return config != nullptr &&
             ibus_config_set_value(config, "engine/veskmath", name.c_str(),
                                   g_variant_new_string(text.c_str())) != FALSE;
    };
  }
  // Switches the global engine, as `ibus engine NAME` (or a desktop's shortcut) does; asked
  // again while ibus-daemon refuses (a busy machine may start the engine slowly).
  TStep Engine(std::string name) {
    return [this, name] { return ibus_bus_set_global_engine(FBus, name.c_str()) != FALSE; };
  }
  // A key press and its release: "Return", "BackSpace", "Control+c".
  TStep Press(std::string key) {
    return [this, key] {
      guint state = 0;
      std::string name = key;
      for (std::size_t plus; (plus = name.find('+')) != std::string::npos && plus > 0;) {
        const std::string modifier = name.substr(0, plus);
        if (modifier == "Control") state |= IBUS_CONTROL_MASK;
        if (modifier == "Alt") state |= IBUS_MOD1_MASK;
        if (modifier == "Shift") state |= IBUS_SHIFT_MASK;
        name = name.substr(plus + 1);
      }
      Send(ibus_keyval_from_name(name.c_str()), state);
      return true;
    };
  }
  TStep Type(std::string text) {
    return [this, text] {
      for (const char* at = text.c_str(); *at != '\0'; at = g_utf8_next_char(at)) {
        Send(ibus_unicode_to_keyval(g_utf8_get_char(at)), 0);
      }
      return true;
    };
  }
  TStep UntilEngine(std::string name) {
    return [this, name] { return GlobalEngine() == name; };
  }

  // What the input context shows now.
  std::string Candidate() const { return Candidates.empty() ? std::string() : Candidates[0]; }
  std::string Aux() const { return Auxes.empty() ? std::string() : Auxes.back(); }
  std::string GlobalEngine() const {
    IBusEngineDesc* desc = ibus_bus_get_global_engine(FBus);
    if (desc == nullptr) return {};
    std::string name = ibus_engine_desc_get_name(desc);
    g_object_unref(desc);
    return name;
  }

  const server::testing::TScratch& Scratch() const { return FScratch; }

  // Sends a key press and its release; answers whether the engine took the press.
  bool Send(guint keyval, guint state) {
    const bool taken = ibus_input_context_process_key_event(FContext, keyval, 0, state);
    ibus_input_context_process_key_event(FContext, keyval, 0, state | IBUS_RELEASE_MASK);
    Taken.push_back(taken);
    return taken;
  }

  // A key press and its release without waiting for the engine's answers (as an application
  // on its main loop sends them).
  void SendAsync(guint keyval) {
    for (const guint state : {0U, static_cast<guint>(IBUS_RELEASE_MASK)}) {
      ibus_input_context_process_key_event_async(FContext, keyval, 0, state, -1, nullptr, nullptr,
                                                 nullptr);
    }
  }

  std::function<void()> OnCandidates;   // called at each change of the lookup table
  std::function<void()> OnPreedit;      // called at each change of the preedit
  std::vector<std::string> Commits;     // every text committed to the application
  std::string Preedit;                  // the preedit shown; empty when hidden
  guint PreeditCursor = 0;              // in characters
  std::vector<std::string> Auxes;       // every auxiliary text shown
  std::vector<std::string> Candidates;  // the lookup table shown; empty when hidden
  std::vector<bool> Taken;              // for each key press, whether the engine took it

 private:
  bool Start() {
    FContext = ibus_bus_create_input_context(FBus, "veskmath-test");
    if (FContext == nullptr) {
      std::fprintf(stderr, "ibus-daemon made no input context; it said:\n%s\n",
                   FDaemon->Err().c_str());
      return false;
    }
    ibus_input_context_set_capabilities(FContext, IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_AUXILIARY_TEXT |
                                                      IBUS_CAP_LOOKUP_TABLE | IBUS_CAP_FOCUS);
    g_signal_connect(FContext, "commit-text",
                     G_CALLBACK(+[](IBusInputContext*, IBusText* text, THarness* self) {
                       self->Commits.push_back(ibus_text_get_text(text));
                     }),
                     this);
    g_signal_connect(FContext, "update-preedit-text",
                     G_CALLBACK(+[](IBusInputContext*, IBusText* text, guint cursor,
                                    gboolean visible, THarness* self) {
                       self->Preedit = visible ? ibus_text_get_text(text) : "";
                       self->PreeditCursor = cursor;
                       if (self->OnPreedit) self->OnPreedit();
                     }),
                     this);
    g_signal_connect(FContext, "hide-preedit-text",
                     G_CALLBACK(+[](IBusInputContext*, THarness* self) { self->Preedit.clear(); }),
                     this);
    g_signal_connect(FContext, "update-auxiliary-text",
                     G_CALLBACK(+[](IBusInputContext*, IBusText* text, gboolean, THarness* self) {
                       self->Auxes.push_back(ibus_text_get_text(text));
                     }),
                     this);
    g_signal_connect(FContext, "update-lookup-table",
                     G_CALLBACK(+[](IBusInputContext*, IBusLookupTable* table, gboolean visible,
                                    THarness* self) {
                       self->Candidates.clear();
                       const guint count =
                           visible ? ibus_lookup_table_get_number_of_candidates(table) : 0;
                       for (guint i = 0; i < count; ++i) {
                         self->Candidates.push_back(
                             ibus_text_get_text(ibus_lookup_table_get_candidate(table, i)));
                       }
                       if (self->OnCandidates) self->OnCandidates();
                     }),
                     this);
    g_signal_connect(
        FContext, "hide-lookup-table",
        G_CALLBACK(+[](IBusInputContext*, THarness* self) { self->Candidates.clear(); }), this);
    ibus_input_context_focus_in(FContext);
    // The focus arrives on its own time; until then there is no engine to set.
    if (test_support::WaitFor(
            [&] {
              return ibus_bus_set_global_engine(FBus, kPreviousEngine.c_str()) &&
                     GlobalEngine() == kPreviousEngine;
            },
            30)) {
      return true;
    }
    std::fprintf(stderr, "the engine %s did not start; ibus-daemon said:\n%s\n",
                 kPreviousEngine.c_str(), FDaemon->Err().c_str());
    return false;
  }

  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  server::testing::TScratch FScratch;  // first: the environment the daemon inherits
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
  std::unique_ptr<server::testing::TChild> FDaemon;
  IBusBus* FBus = nullptr;
  IBusInputContext* FContext = nullptr;
};

}  // namespace veskmath::ibus::testing
