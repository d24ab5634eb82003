// Latency of the IBus engine: from a key event sent by an application to the candidate it
// receives, through a private ibus-daemon with the engine and the server of this build tree.
//
// Usage: ibus_latency_bench [KEYS]      (KEYS: keys measured with a running server, 1000)
//
//   first key   the switch to the engine and the first key with no server running: the
//               server starts on demand (entering already asks for it) and the candidate
//               follows;
//   running     every following key, alternately "+" (candidate "?") and BackSpace
//               (candidate "1"): median, 99th percentile and maximum in milliseconds;
//   cursor      as many keys alternately Left and Right, to the preedit's cursor: the way
//               through IBus alone, no call to the server, for comparison.
//
// Every candidate is checked against the expected text before its time counts.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../tests/ibus/IBusHarness.h"
#include "LatencyStats.h"

namespace {

using veskmath::bench::Clock;
using veskmath::bench::Ms;
using veskmath::bench::Percentile;
using veskmath::ibus::testing::THarness;
using veskmath::ibus::testing::TStep;

}  // namespace

int main(int argc, char** argv) {
  const int keys = argc > 1 ? std::atoi(argv[1]) : 1000;
  THarness h;
  if (!h.Install()) {
    std::fputs("ibus_latency_bench: registering the plug-in failed\n", stderr);
    return 1;
  }
  // The moment the expected candidate arrives in the application.
  std::string expected;
  Clock::time_point sent;
  bool waiting = false;
  double latency = 0;
  h.OnCandidates = [&] {
    if (waiting && h.Candidate() == expected) {
      latency = Ms(Clock::now() - sent);
      waiting = false;
    }
  };
  std::vector<double> running;
  double first = 0;
  TStep enter = h.Engine("veskmath");
  std::vector<TStep> steps = {h.Do([&] { sent = Clock::now(); }), enter, h.Do([&] {
                                expected = "1";
                                waiting = true;
                                h.SendAsync(IBUS_KEY_1);
                              })};
  steps.push_back(h.Until([&] { return !waiting; }));
  steps.push_back(h.Do([&] { first = latency; }));
  for (int i = 0; i < keys; ++i) {
    const bool plus = i % 2 == 0;
    steps.push_back(h.Do([&, plus] {
      expected = plus ? "?" : "1";
      waiting = true;
      sent = Clock::now();
      h.SendAsync(plus ? IBUS_KEY_plus : IBUS_KEY_BackSpace);
    }));
    steps.push_back(h.Until([&] { return !waiting; }));
    steps.push_back(h.Do([&] { running.push_back(latency); }));
  }
  // IBus's own way, key to preedit, with no call to the server.
  std::vector<double> cursor;
  guint cursorWanted = 0;
  h.OnPreedit = [&] {
    if (waiting && expected.empty() && h.PreeditCursor == cursorWanted) {
      latency = Ms(Clock::now() - sent);
      waiting = false;
    }
  };
  for (int i = 0; i < keys; ++i) {
    const bool left = i % 2 == 0;
    steps.push_back(h.Do([&, left] {
      expected.clear();
      cursorWanted = left ? 0 : 1;
      waiting = true;
      sent = Clock::now();
      h.SendAsync(left ? IBUS_KEY_Left : IBUS_KEY_Right);
    }));
    steps.push_back(h.Until([&] { return !waiting; }));
    steps.push_back(h.Do([&] { cursor.push_back(latency); }));
  }
  steps.push_back(h.Press("Escape"));
  if (!h.Run(std::move(steps), 120)) {
    std::fprintf(stderr, "ibus_latency_bench: a candidate did not come (waiting for \"%s\")\n",
                 expected.c_str());
    return 1;
  }
  std::printf("first key, no server running: %.2f ms (switch and key to the candidate)\n", first);
  veskmath::bench::PrintRunningServer(running);
  // A "?" is shown as soon as it comes; its reason follows, which the next key may wait for.
  std::vector<double> failing, valued;
  for (std::size_t i = 0; i < running.size(); ++i)
    (i % 2 == 0 ? failing : valued).push_back(running[i]);
  std::printf("  of which: a value (\"1\") median %.3f ms, a \"?\" median %.3f ms\n",
              Percentile(valued, 0.5), Percentile(failing, 0.5));
  std::printf("IBus alone (cursor keys, no server call): median %.3f ms, 99th percentile %.3f ms\n",
              Percentile(cursor, 0.5), Percentile(cursor, 0.99));
  return 0;
}
