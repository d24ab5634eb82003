// Evaluation, compile and one-off timings of VeskMath against muparser, in one process.
//
// Usage: eval_bench [SET_FILE ...] [--rounds=N] [--sample-ms=MS] [--pin=CPU] [--markdown]
//                   [--phases=eval,compile,oneoff] [--veskmath-only]
// Without set files it runs the committed set and the ordinary set (bench/), each reported
// on its own. Every expression is checked first: each engine's value against the same
// formula written out by hand in double arithmetic (in a set file of one's own, an
// expression without one against the other engine, or not at all with --veskmath-only); a
// mismatch fails the run.
//
// Timing: CPU time of this thread. Each expression, phase and engine gets a batch size that
// takes about MS milliseconds; then N rounds each time one batch of every engine back to
// back (the order alternating between rounds), so both engines see the same machine load.
// A figure is the median over the rounds; a ratio is the median of the per-round ratios.
// Evaluation is timed two ways per engine, both in every round: through a virtual Eval() on
// an object made for the benchmark, and as a plain caller writes it (the object and its
// variables on the caller's stack, Evaluate() in a loop). VeskMath's figure is the worse of
// its two, muparser's the better of its two; the text output shows each engine's two
// ("iface" and "plain", muparser's "mu-if" and "mu-pl"). The worst evaluation ratio leaves
// out real powers, whose time is mostly the C library's pow (both engines call it): they
// have a summary line of their own.
// --markdown prints the tables of the README's Performance section.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ExpressionSet.h"
#include "parser/QelParseExpr.h"

#ifdef VESKMATH_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

using veskmath::bench::Case;

struct Vars {
  double a = 1.5, b = 2.25, c = -0.75, x = 0.6, y = 1.3, z = -2.2;
};

// One engine: compiles a text against the caller's variables and evaluates it.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual void Compile(const std::string& text) = 0;
  virtual double Eval() = 0;
};

class VeskEngine : public Engine {
 public:
  explicit VeskEngine(Vars& v) { Bind(FExpr, v); }
  void Compile(const std::string& text) override { FExpr.Add(text); }
  double Eval() override { return FExpr.Evaluate(); }
  static void Bind(veskmath::qel::TQelExpression& e, Vars& v) {
    e.Optimize = true;
    e.DefineVariable("a", &v.a);
    e.DefineVariable("b", &v.b);
    e.DefineVariable("c", &v.c);
    e.DefineVariable("x", &v.x);
    e.DefineVariable("y", &v.y);
    e.DefineVariable("z", &v.z);
  }

 private:
  veskmath::qel::TQelExpression FExpr;
};

#ifdef VESKMATH_HAVE_MUPARSER
class MuEngine : public Engine {
 public:
  explicit MuEngine(Vars& v) { Bind(FParser, v); }
  void Compile(const std::string& text) override { FParser.SetExpr(text); }
  double Eval() override { return FParser.Eval(); }
  static void Bind(mu::Parser& p, Vars& v) {
    p.DefineVar("a", &v.a);
    p.DefineVar("b", &v.b);
    p.DefineVar("c", &v.c);
    p.DefineVar("x", &v.x);
    p.DefineVar("y", &v.y);
    p.DefineVar("z", &v.z);
    p.DefineConst("pi", 3.141592653589793);
  }

 private:
  mu::Parser FParser;
};
#endif

// Engine k of an expression (0 VeskMath, 1 muparser).
const char* const kEngineNames[] = {"veskmath", "muparser"};
std::unique_ptr<Engine> MakeEngine(int k, Vars& v) {
#ifdef VESKMATH_HAVE_MUPARSER
  if (k == 1) return std::make_unique<MuEngine>(v);
#endif
  (void)k;
  return std::make_unique<VeskEngine>(v);
}

double Truth(bool b) { return b ? 1.0 : 0.0; }

// Both sets' formulas written out by hand in double arithmetic.
const std::map<std::string, std::function<double(const Vars&)>>& HandWritten() {
  static const std::map<std::string, std::function<double(const Vars&)>> table = {
      {"v01", [](const Vars& v) { return v.a + v.b; }},
      {"v02", [](const Vars& v) { return v.a * v.b + v.c; }},
      {"v03", [](const Vars& v) { return v.a - v.b - v.c; }},
      {"v04", [](const Vars& v) { return -v.a + v.b * v.c; }},
      {"v05", [](const Vars& v) { return (v.a + v.b) * (v.c - v.x); }},
      {"v06", [](const Vars& v) { return v.a / v.b / v.c * v.x; }},
      {"v07", [](const Vars& v) { return std::sin(v.x); }},
      {"v08", [](const Vars& v) { return std::sqrt(v.x * v.x + v.y * v.y); }},
      {"v09", [](const Vars& v) { return std::exp(-v.x) * std::log(v.y); }},
      {"v10", [](const Vars& v) { return std::sin(v.x) * std::cos(v.y) + std::tan(v.z); }},
      {"v11",
       [](const Vars& v) {
         return std::fabs(v.a - v.b) + std::fmin(v.x, v.y) * std::fmax(v.b, v.c);
       }},
      {"v12", [](const Vars& v) { return v.a < v.b ? 1.0 : 0.0; }},
      {"v13",
       [](const Vars& v) { return (v.x > v.y ? 1.0 : 0.0) * v.a + (v.x < v.y ? 1.0 : 0.0) * v.b; }},
      {"v14", [](const Vars& v) { return std::pow(v.x, v.y) + std::pow(v.y, v.x); }},
      {"v15",
       [](const Vars& v) {
         return (v.a + v.b) * (v.c - v.y) / (v.x * v.x + 1) + std::sin(v.x) * std::cos(v.y) -
                std::sqrt(std::fabs(v.z));
       }},
      {"v16",
       [](const Vars& v) {
         return ((v.a + v.b) * v.c - (v.x - v.y) / v.z) * (std::sin(v.a) + std::cos(v.b)) /
                (1 + std::exp(-v.c * v.c));
       }},
      {"k01", [](const Vars&) { return 2.0 * 3 + 4; }},
      {"k02", [](const Vars&) { return std::sin(3.141592653589793 / 6); }},
      {"k03", [](const Vars&) { return std::sqrt(2.0) * (1 + 2) / 4 - 1; }},
      {"p01", [](const Vars& v) { return v.x * v.x; }},
      {"p02", [](const Vars& v) { return v.x * v.x * v.x + v.y * v.y; }},
      {"p03", [](const Vars& v) { return v.a * v.x * v.x * v.x * v.x + v.b * v.x * v.x + v.c; }},
      // The ordinary set.
      {"o01", [](const Vars& v) { return v.a + v.b + v.c + v.x; }},
      {"o02", [](const Vars& v) { return v.a * v.x + v.b * v.y + v.c * v.z; }},
      {"o03", [](const Vars& v) { return v.a * v.b * v.c * v.x * v.y * v.z; }},
      {"o04", [](const Vars& v) { return (v.a + v.b) * (v.x + v.y) * (v.c + v.z); }},
      {"o05", [](const Vars& v) { return v.a * v.x * v.x + v.b * v.x + v.c; }},
      {"o06", [](const Vars& v) { return v.x * v.y - v.a * v.b + v.c * v.z - v.y * v.z; }},
      {"o07", [](const Vars& v) { return (v.a - v.x) * (v.b - v.y) + (v.c - v.z) * (v.a + v.b); }},
      {"o08", [](const Vars& v) { return std::sin(v.a + v.b); }},
      {"o09", [](const Vars& v) { return std::exp(v.x * v.y + v.z); }},
      {"o10", [](const Vars& v) { return std::sqrt(v.a * v.a + v.b * v.b + v.c * v.c); }},
      {"o11", [](const Vars& v) { return std::cos(v.a * v.x + v.b * v.y + v.c); }},
      {"o12", [](const Vars& v) { return std::log(v.x + v.y + v.a * v.b); }},
      {"o13", [](const Vars& v) { return std::tan(v.x - v.y * v.z); }},
      {"o14",
       [](const Vars& v) { return std::fabs(v.a * v.x - v.b * v.y) + std::fabs(v.c - v.z); }},
      {"o15", [](const Vars& v) { return std::sin(v.x) * std::sin(v.y); }},
      {"o16", [](const Vars& v) { return std::sin(v.x) / std::cos(v.x); }},
      {"o17", [](const Vars& v) { return std::exp(v.x) * std::cos(v.y) * std::sin(v.z); }},
      {"o18", [](const Vars& v) { return std::sqrt(v.a) * std::log(v.b) / std::exp(v.c); }},
      {"o19", [](const Vars& v) { return (std::sin(v.x) + std::cos(v.y)) / (1 + std::exp(v.z)); }},
      {"o20",
       [](const Vars& v) { return std::tanh(v.x / v.y) * std::sqrt(v.x * v.x + v.y * v.y); }},
      {"o21", [](const Vars& v) { return v.a / (v.b + v.c); }},
      {"o22", [](const Vars& v) { return 1 / (1 + 1 / (1 + 1 / (1 + v.x))); }},
      {"o23", [](const Vars& v) { return (v.a / v.b + v.c / v.x) / (v.y / v.z - v.a); }},
      {"o24", [](const Vars& v) { return (v.a + v.b) / (v.c - v.x) / (v.y + v.z); }},
      {"o25", [](const Vars& v) { return v.x / (1 + v.x * v.x) + v.y / (1 + v.y * v.y); }},
      {"o26", [](const Vars& v) { return Truth(v.a < v.b) + Truth(v.x < v.y) + Truth(v.c < v.z); }},
      {"o27", [](const Vars& v) { return v.a * Truth(v.x > 0) + v.b * Truth(v.x <= 0); }},
      {"o28",
       [](const Vars& v) {
         return Truth(v.x >= v.y) * (v.a - v.b) + Truth(v.x < v.y) * (v.b - v.a);
       }},
      {"o29",
       [](const Vars& v) {
         return std::fmax(v.a, v.b) * Truth(v.c < v.x) - std::fmin(v.y, v.z) * Truth(v.z < v.c);
       }},
      {"o30", [](const Vars& v) { return v.x * v.x * v.x; }},
      {"o31", [](const Vars& v) { return (v.a + v.b) * (v.a + v.b); }},
      {"o32", [](const Vars& v) { return v.a * v.a + v.b * v.b + v.c * v.c; }},
      {"o33", [](const Vars& v) { return std::pow(v.x - v.y, 4) * v.z * v.z * v.z; }},
      {"o34", [](const Vars& v) { return 1 / (1 + v.x * v.x); }},
      {"o35", [](const Vars& v) { return std::pow(v.x, 2.5); }},
      {"o36", [](const Vars& v) { return std::sqrt(v.a) + std::pow(v.b, 1.5); }},
      {"o37", [](const Vars& v) { return std::pow(v.x + v.y, 0.75); }},
      {"o38", [](const Vars& v) { return std::pow(v.x, v.y) * std::pow(v.a, v.b); }},
      {"o39", [](const Vars& v) { return std::pow(v.a * v.b, v.x / v.y); }},
      {"o40",
       [](const Vars& v) {
         return (v.a * v.x * v.x * v.x + v.b * v.x * v.x + v.c * v.x + v.y) /
                    (v.x * v.x + v.y * v.y + 1) +
                std::sqrt(std::fabs(v.z * v.a - v.b)) * Truth(v.x < v.y);
       }},
  };
  return table;
}

bool Close(double p, double q) {
  if (std::isnan(p) || std::isnan(q)) return std::isnan(p) && std::isnan(q);
  return std::fabs(p - q) <= 1e-12 * std::fmax(1.0, std::fmax(std::fabs(p), std::fabs(q)));
}

// Compares every engine with the hand-written formula; answers false on any mismatch. An
// expression without one (a set file of the caller's own, when handOptional) is compared
// between the engines instead.
bool Verify(const std::vector<Case>& cases, int engines, bool handOptional) {
  Vars v;
  bool ok = true;
  for (const Case& c : cases) {
    const auto hand = HandWritten().find(c.id);
    if (hand == HandWritten().end() && !(handOptional && engines == 2)) {
      std::fprintf(stderr, "no hand-written formula for %s%s\n", c.id.c_str(),
                   handOptional ? ": timed unchecked" : "");
      ok = ok && handOptional;
      continue;
    }
    double got[2];
    bool evaluated = true;
    for (int k = 0; k < engines; ++k) {
      try {
        auto engine = MakeEngine(k, v);
        engine->Compile(c.text);
        got[k] = engine->Eval();
        continue;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s %s: %s\n", kEngineNames[k], c.id.c_str(), e.what());
      }
#ifdef VESKMATH_HAVE_MUPARSER
      catch (mu::Parser::exception_type& e) {
        std::fprintf(stderr, "%s %s: %s\n", kEngineNames[k], c.id.c_str(), e.GetMsg().c_str());
      }
#endif
      evaluated = false;
    }
    if (!evaluated) {
      ok = false;
      continue;
    }
    const bool byHand = hand != HandWritten().end();
    const double expected = byHand ? hand->second(v) : got[1];
    for (int k = 0; k < engines; ++k)
      if (!Close(got[k], expected)) {
        std::fprintf(stderr, "%s %s (%s): %.17g, %s %.17g\n", kEngineNames[k], c.id.c_str(),
                     c.text.c_str(), got[k], byHand ? "by hand" : "muparser", expected);
        ok = false;
      }
  }
  return ok;
}

double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

// Work that runs its body n times and answers the CPU time those runs took (set-up that must
// not count, such as the plain caller's compile, is left out).
using Work = std::function<double(long n)>;

double NsPerRun(const Work& work, long n) { return work(n) / n; }

// Times a loop that runs body n times.
template <typename Body>
double Timed(long n, Body&& body) {
  const double start = ThreadNs();
  for (long r = 0; r < n; ++r) body();
  return ThreadNs() - start;
}

// The evaluation a plain caller gets: the expression object on its own stack with its own
// variables, compiled once, then Evaluate() in a loop, no virtual call in between.
double PlainCallerNs(const std::string& text, const Vars& vars, long n) {
  Vars v = vars;
  veskmath::qel::TQelExpression e;
  VeskEngine::Bind(e, v);
  e.Add(text);
  benchmark::DoNotOptimize(e.Evaluate());
  return Timed(n, [&] { benchmark::DoNotOptimize(e.Evaluate()); });
}

#ifdef VESKMATH_HAVE_MUPARSER
double PlainMuparserNs(const std::string& text, const Vars& vars, long n) {
  Vars v = vars;
  mu::Parser p;
  MuEngine::Bind(p, v);
  p.SetExpr(text);
  benchmark::DoNotOptimize(p.Eval());
  return Timed(n, [&] { benchmark::DoNotOptimize(p.Eval()); });
}
#else
double PlainMuparserNs(const std::string&, const Vars&, long) { return 0; }
#endif

// The number of runs that takes about ms milliseconds.
long BatchSize(const Work& work, double ms) {
  (void)work(1);  // muparser compiles on its first evaluation: that one run must not set the size
  long n = 1;
  double ns = NsPerRun(work, n);
  while (ns * n < ms * 1e5 && n < (1L << 40)) ns = NsPerRun(work, n *= 2);
  return std::max(1L, static_cast<long>(ms * 1e6 / ns));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

const char* const kPhases[] = {"eval", "compile", "oneoff"};
const char* const kPhaseTitles[] = {"evaluate", "compile", "one-off"};

// One expression in one phase: its work and samples per engine. In the evaluation phase each
// engine is timed twice, through the Engine interface (k) and as a plain caller (k + 2);
// VeskMath's figure of a round is the worse of its two, muparser's the better of its two.
struct Slot {
  size_t set, expr;
  int phase;
  Work work[4];
  long batch[4] = {};
  std::vector<double> ns[4];
  bool Has(int k) const { return static_cast<bool>(work[k]); }
  double Round(int k, size_t i) const {
    if (!Has(k + 2)) return ns[k][i];
    return k == 0 ? std::max(ns[0][i], ns[2][i]) : std::min(ns[1][i], ns[3][i]);
  }
  double Ns(int k) const {
    std::vector<double> v;
    for (size_t i = 0; i < ns[k].size(); ++i) v.push_back(Round(k, i));
    return Median(v);
  }
  // One way of calling alone: 0 and 1 through the interface, 2 and 3 as plain callers.
  double WayNs(int k) const { return Median(ns[k]); }
  double Ratio() const {
    std::vector<double> r;
    for (size_t i = 0; i < ns[0].size(); ++i) r.push_back(Round(0, i) / Round(1, i));
    return Median(r);
  }
};

struct Set {
  std::string name;
  std::vector<Case> cases;
};

struct Options {
  std::vector<std::string> setPaths;
  int rounds = 9;
  double sampleMs = 2;
  int pin = -1;
  bool markdown = false;
  bool phase[3] = {true, true, true};
  int engines = 2;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? argv[k] + n : nullptr;
    };
    if (arg[0] != '-') {
      o.setPaths.push_back(arg);
    } else if (const char* rounds = value("--rounds=")) {
      o.rounds = std::max(1, std::atoi(rounds));
    } else if (const char* ms = value("--sample-ms=")) {
      o.sampleMs = std::max(0.01, std::atof(ms));
    } else if (const char* cpu = value("--pin=")) {
      o.pin = std::atoi(cpu);
    } else if (const char* phases = value("--phases=")) {
      for (int p = 0; p < 3; ++p) o.phase[p] = std::strstr(phases, kPhases[p]) != nullptr;
    } else if (arg == "--markdown") {
      o.markdown = true;
    } else if (arg == "--veskmath-only") {
      o.engines = 1;
    } else {
      std::fprintf(stderr, "eval_bench: unknown option %s\n", arg.c_str());
      return false;
    }
  }
#ifndef VESKMATH_HAVE_MUPARSER
  o.engines = 1;
#endif
  if (o.setPaths.empty()) o.setPaths = {VESKMATH_BENCH_SET, VESKMATH_BENCH_SET_ORDINARY};
  return true;
}

// Builds the slots of every expression; eval and compile objects live as long as the slots.
std::vector<Slot> MakeSlots(const std::vector<Set>& sets, const Options& o, Vars& vars,
                            std::vector<std::unique_ptr<Engine>>& keep) {
  std::vector<Slot> slots;
  for (size_t s = 0; s < sets.size(); ++s)
    for (size_t i = 0; i < sets[s].cases.size(); ++i) {
      const std::string text = sets[s].cases[i].text;
      for (int p = 0; p < 3; ++p) {
        if (!o.phase[p]) continue;
        Slot slot{s, i, p, {}, {}, {}};
        for (int k = 0; k < o.engines; ++k) {
          if (p == 2) {
            slot.work[k] = [k, text, &vars](long n) {
              return Timed(n, [&] {
                auto e = MakeEngine(k, vars);
                e->Compile(text);
                benchmark::DoNotOptimize(e->Eval());
              });
            };
            continue;
          }
          keep.push_back(MakeEngine(k, vars));
          Engine* e = keep.back().get();
          e->Compile(text);
          if (p == 0) {
            slot.work[k] = [e](long n) {
              return Timed(n, [e] { benchmark::DoNotOptimize(e->Eval()); });
            };
            slot.work[k + 2] = [k, text, &vars](long n) {
              return k == 0 ? PlainCallerNs(text, vars, n) : PlainMuparserNs(text, vars, n);
            };
          } else {
            slot.work[k] = [e, text](long n) {
              return Timed(n, [&] {
                e->Compile(text);
                benchmark::DoNotOptimize(e->Eval());
              });
            };
          }
        }
        slots.push_back(std::move(slot));
      }
    }
  return slots;
}

void Measure(std::vector<Slot>& slots, const Options& o) {
  for (Slot& slot : slots)
    for (int k = 0; k < 4; ++k)
      if (slot.Has(k)) slot.batch[k] = BatchSize(slot.work[k], o.sampleMs);
  for (int round = 0; round < o.rounds; ++round)
    for (Slot& slot : slots)
      for (int j = 0; j < 4; ++j) {
        const int k = round % 2 ? 3 - j : j;
        if (slot.Has(k)) slot.ns[k].push_back(NsPerRun(slot.work[k], slot.batch[k]));
      }
}

// Whether an expression's time is mostly the C library's pow, which both engines call: a real
// power, "^" followed by anything but a whole number ("x^y", "x^2.5", "(a*b)^(x/y)").
bool PowBound(const std::string& text) {
  for (size_t i = text.find('^'); i != std::string::npos; i = text.find('^', i + 1)) {
    size_t j = i + 1;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j == i + 1 || (j < text.size() && text[j] == '.')) return true;
  }
  return false;
}

// Geometric mean and worst ratio of one set in one phase: the mean of every expression, the
// worst evaluation of those not bound by pow; with powOnly, the pow-bound ones alone.
struct Summary {
  double mean = 0, worst = 0;
  size_t worstExpr = 0;
  int n = 0;
};
Summary Summarize(const std::vector<Set>& sets, const std::vector<Slot>& slots, size_t set,
                  int phase, bool powOnly = false) {
  Summary s;
  double logSum = 0;
  for (const Slot& slot : slots) {
    if (slot.set != set || slot.phase != phase) continue;
    const bool pow = PowBound(sets[set].cases[slot.expr].text);
    if (powOnly && !pow) continue;
    const double r = slot.Ratio();
    logSum += std::log(r);
    if (r > s.worst && (powOnly || !pow || phase != 0)) s.worst = r, s.worstExpr = slot.expr;
    ++s.n;
  }
  if (s.n) s.mean = std::exp(logSum / s.n);
  return s;
}

const Slot* Find(const std::vector<Slot>& slots, size_t set, size_t expr, int phase) {
  for (const Slot& slot : slots)
    if (slot.set == set && slot.expr == expr && slot.phase == phase) return &slot;
  return nullptr;
}

void PrintText(const std::vector<Set>& sets, const std::vector<Slot>& slots, const Options& o) {
  for (size_t s = 0; s < sets.size(); ++s) {
    std::printf("\nset %s: %zu expressions, medians of %d rounds (ns: CPU time per run)\n",
                sets[s].name.c_str(), sets[s].cases.size(), o.rounds);
    std::printf("%-5s %-40s", "id", "expression");
    for (int p = 0; p < 3; ++p) {
      if (!o.phase[p]) continue;
      std::printf(" %9s", kPhases[p]);
      if (p == 0) std::printf(" %6s %6s", "iface", "plain");
      if (o.engines == 2) std::printf(" %9s %6s", "muparser", "ratio");
      if (p == 0 && o.engines == 2) std::printf(" %6s %6s", "mu-if", "mu-pl");
    }
    std::printf("\n");
    std::map<std::string, std::pair<double, int>> byKind;  // eval log-ratio sum and count
    for (size_t i = 0; i < sets[s].cases.size(); ++i) {
      const Case& c = sets[s].cases[i];
      const std::string shown = c.text.size() <= 40 ? c.text : c.text.substr(0, 37) + "...";
      std::printf("%-5s %-40s", c.id.c_str(), shown.c_str());
      for (int p = 0; p < 3; ++p) {
        const Slot* slot = Find(slots, s, i, p);
        if (slot == nullptr) continue;
        std::printf(" %9.1f", slot->Ns(0));
        if (p == 0) std::printf(" %6.1f %6.1f", slot->WayNs(0), slot->WayNs(2));
        if (o.engines == 2) std::printf(" %9.1f %6.2f", slot->Ns(1), slot->Ratio());
        if (p == 0 && o.engines == 2) std::printf(" %6.1f %6.1f", slot->WayNs(1), slot->WayNs(3));
        if (p == 0 && o.engines == 2) {
          byKind[c.kind].first += std::log(slot->Ratio());
          byKind[c.kind].second += 1;
        }
      }
      std::printf("\n");
    }
    if (o.engines < 2) continue;
    for (const auto& [kind, acc] : byKind)
      std::printf("evaluate geometric mean ratio, kind %-5s: %.2f\n", kind.c_str(),
                  std::exp(acc.first / acc.second));
    for (int p = 0; p < 4; ++p) {
      const Summary sum = Summarize(sets, slots, s, p % 3, p == 3);
      if (sum.n == 0) continue;
      std::printf("%s %-8s geometric mean ratio %.2f, worst %.2f (%s %s)\n", sets[s].name.c_str(),
                  p == 3 ? "pow" : kPhaseTitles[p], sum.mean, sum.worst,
                  sets[s].cases[sum.worstExpr].id.c_str(),
                  sets[s].cases[sum.worstExpr].text.c_str());
    }
  }
}

void PrintMarkdown(const std::vector<Set>& sets, const std::vector<Slot>& slots, const Options& o,
                   const std::string& command) {
  std::printf("Measured with `%s`: CPU time, medians of %d rounds%s.\n", command.c_str(), o.rounds,
              o.engines == 2 ? ", both engines interleaved in one process" : "");
  for (size_t s = 0; s < sets.size(); ++s) {
    std::printf("\n#### %s (%zu expressions)\n\n", sets[s].name.c_str(), sets[s].cases.size());
    if (o.engines == 2)
      std::printf("| phase | geometric mean | worst expression |\n| --- | ---: | --- |\n");
    for (int p = 0; p < 4 && o.engines == 2; ++p) {
      const Summary sum = Summarize(sets, slots, s, p % 3, p == 3);
      if (sum.n == 0) continue;
      std::printf("| %s | %.2f | %.2f (`%s`) |\n",
                  p == 3 ? "evaluate, real powers (the C library's pow)" : kPhaseTitles[p],
                  sum.mean, sum.worst, sets[s].cases[sum.worstExpr].text.c_str());
    }
    std::printf("\nPer expression (evaluation, ns):\n\n");
    std::printf("| id | expression | VeskMath | muparser | ratio |\n");
    std::printf("| --- | --- | ---: | ---: | ---: |\n");
    for (size_t i = 0; i < sets[s].cases.size(); ++i) {
      const Slot* slot = Find(slots, s, i, 0);
      if (slot == nullptr) continue;
      const Case& c = sets[s].cases[i];
      if (o.engines == 2)
        std::printf("| %s | `%s` | %.1f | %.1f | %.2f |\n", c.id.c_str(), c.text.c_str(),
                    slot->Ns(0), slot->Ns(1), slot->Ratio());
      else
        std::printf("| %s | `%s` | %.1f | | |\n", c.id.c_str(), c.text.c_str(), slot->Ns(0));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  std::vector<Set> sets;
  for (const std::string& path : o.setPaths) {
    Set set;
    set.name = path == VESKMATH_BENCH_SET            ? "committed set"
               : path == VESKMATH_BENCH_SET_ORDINARY ? "ordinary set"
                                                     : path;
    if (!veskmath::bench::LoadSet(path, set.cases)) {
      std::fprintf(stderr, "eval_bench: cannot read the expression set %s\n", path.c_str());
      return 2;
    }
    const bool own = path != VESKMATH_BENCH_SET && path != VESKMATH_BENCH_SET_ORDINARY;
    if (!Verify(set.cases, o.engines, own)) {
      std::fprintf(stderr, "eval_bench: values disagree; no timing\n");
      return 1;
    }
    sets.push_back(std::move(set));
  }
  if (o.pin >= 0) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(o.pin, &cpus);
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0)
      std::fprintf(stderr, "eval_bench: cannot pin to CPU %d; running unpinned\n", o.pin);
  }
  if (!o.markdown)
    std::printf("All expressions agree with their hand-written formulas%s.\n",
                o.engines == 2 ? " in both engines" : "");
#ifndef VESKMATH_HAVE_MUPARSER
  std::printf("muparser is not installed (apt-get install libmuparser-dev): VeskMath alone.\n");
#endif
  Vars vars;
  std::vector<std::unique_ptr<Engine>> keep;
  std::vector<Slot> slots = MakeSlots(sets, o, vars, keep);
  Measure(slots, o);
  // The object every one-off pays for first: one expression object with its vocabulary.
  const Work construct = [](long n) {
    return Timed(n, [] {
      veskmath::qel::TQelExpression e;
      benchmark::DoNotOptimize(e.WordsCount());
    });
  };
  const long constructBatch = BatchSize(construct, o.sampleMs);
  std::vector<double> constructNs;
  for (int round = 0; round < o.rounds; ++round)
    constructNs.push_back(NsPerRun(construct, constructBatch));
  std::string command = "eval_bench";
  for (int k = 1; k < argc; ++k) command += std::string(" ") + argv[k];
  if (o.markdown)
    PrintMarkdown(sets, slots, o, command);
  else
    PrintText(sets, slots, o);
  std::printf("\nConstructing one expression object with its vocabulary: %.0f ns\n",
              Median(constructNs));
  return 0;
}
