// Latency of the Fcitx5 add-on: from a key event to the candidate set on the input panel,
// in a real Fcitx5 instance of this process (test front end and user interface) with the
// add-on and the server of this build tree.
//
// Usage: fcitx5_latency_bench [KEYS]      (KEYS: keys measured with a running server, 1000)
//
//   first key   trigger and the first key with no server running: the server starts on
//               demand (the trigger already asks for it) and the candidate follows;
//   running     every following key, alternately "+" (candidate "?") and BackSpace
//               (candidate "1"): median, 99th percentile and maximum in milliseconds.
//
// Every candidate is checked against the expected text before its time counts.
#include <fcitx/event.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../tests/fcitx5/AddonHarness.h"
#include "LatencyStats.h"

namespace {

using veskmath::bench::Clock;
using veskmath::bench::Ms;
using veskmath::fcitx5::testing::THarness;
using veskmath::fcitx5::testing::TStep;

}  // namespace

int main(int argc, char** argv) {
  const int keys = argc > 1 ? std::atoi(argv[1]) : 1000;
  THarness h;
  if (!h.Install()) {
    std::fputs("fcitx5_latency_bench: registering the plug-in failed\n", stderr);
    return 1;
  }
  // The moment the expected candidate is set: the add-on updates the panel when the answer
  // comes back through the event loop.
  std::string expected;
  Clock::time_point sent;
  bool waiting = false;
  double latency = 0;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> watch;

  auto measure = [&](const char* key, std::string candidate) -> std::vector<TStep> {
    return {h.Do([&, key, candidate] {
              expected = candidate;
              waiting = true;
              sent = Clock::now();
              h.Send(fcitx::Key(key));
            }),
            h.Until([&] { return !waiting; })};
  };
  std::vector<double> running;
  double first = 0;
  std::vector<TStep> steps = {h.Do([&] {
    watch = h.Instance().watchEvent(fcitx::EventType::InputContextUpdateUI,
                                    fcitx::EventWatcherPhase::Default, [&](fcitx::Event&) {
                                      if (waiting && h.Candidate() == expected) {
                                        latency = Ms(Clock::now() - sent);
                                        waiting = false;
                                      }
                                    });
  })};
  steps.push_back(h.Do([&] {
    sent = Clock::now();
    h.Send(fcitx::Key("Control+Alt+M"));
    expected = "1";
    waiting = true;
    h.Send(fcitx::Key("1"));
  }));
  steps.push_back(h.Until([&] { return !waiting; }));
  steps.push_back(h.Do([&] { first = latency; }));
  for (int i = 0; i < keys; ++i) {
    const bool plus = i % 2 == 0;
    for (TStep& s : measure(plus ? "plus" : "BackSpace", plus ? "?" : "1")) {
      steps.push_back(std::move(s));
    }
    steps.push_back(h.Do([&] { running.push_back(latency); }));
  }
  steps.push_back(h.Press("Escape"));
  if (!h.Run(std::move(steps), 120)) {
    std::fprintf(stderr, "fcitx5_latency_bench: a candidate did not come (waiting for \"%s\")\n",
                 expected.c_str());
    return 1;
  }
  std::printf("first key, no server running: %.2f ms (trigger and key to the candidate)\n", first);
  veskmath::bench::PrintRunningServer(running);
  return 0;
}
