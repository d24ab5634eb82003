// Evaluation, compile and one-off benchmarks of VeskMath against muparser, in one process.
//
// Usage: eval_bench [SET_FILE] [--benchmark_... options]
// Every expression of the set is checked first: each engine's value against the others
// and against the same formula written out by hand in double arithmetic; a mismatch
// fails the run. Then each expression is timed per engine and a table of ratios with
// geometric means is printed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "parser/QelParseExpr.h"

#ifdef VESKMATH_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

struct Vars {
  double a = 1.5, b = 2.25, c = -0.75, x = 0.6, y = 1.3, z = -2.2;
};

struct Case {
  std::string id, kind, text;
};

// One engine: compiles a text against the caller's variables and evaluates it.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual const char* Name() const = 0;
  virtual void Compile(const std::string& text) = 0;
  virtual double Eval() = 0;
};

class VeskEngine : public Engine {
 public:
  explicit VeskEngine(Vars& v) : FVars(v) { Bind(FExpr); }
  const char* Name() const override { return "veskmath"; }
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
  void Bind(veskmath::qel::TQelExpression& e) { Bind(e, FVars); }
  Vars& FVars;
  veskmath::qel::TQelExpression FExpr;
};

#ifdef VESKMATH_HAVE_MUPARSER
class MuEngine : public Engine {
 public:
  explicit MuEngine(Vars& v) { Bind(FParser, v); }
  const char* Name() const override { return "muparser"; }
  void Compile(const std::string& text) override {
    FParser.SetExpr(text);
  }
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

// The set's formulas written out by hand in double arithmetic.
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
  };
  return table;
}

std::vector<Case> LoadSet(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "eval_bench: cannot read the expression set %s\n", path.c_str());
    std::exit(2);
  }
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Case c;
    std::getline(fields, c.id, ';');
    std::getline(fields, c.kind, ';');
    std::getline(fields, c.text);
    cases.push_back(c);
  }
  return cases;
}

std::vector<std::unique_ptr<Engine>> MakeEngines(Vars& v) {
  std::vector<std::unique_ptr<Engine>> engines;
  engines.push_back(std::make_unique<VeskEngine>(v));
#ifdef VESKMATH_HAVE_MUPARSER
  engines.push_back(std::make_unique<MuEngine>(v));
#endif
  return engines;
}

bool Close(double p, double q) {
  if (std::isnan(p) || std::isnan(q)) return std::isnan(p) && std::isnan(q);
  return std::fabs(p - q) <= 1e-12 * std::fmax(1.0, std::fmax(std::fabs(p), std::fabs(q)));
}

// Compares every engine with the hand-written formula; answers false on any mismatch.
bool Verify(const std::vector<Case>& cases) {
  Vars v;
  bool ok = true;
  for (const Case& c : cases) {
    const auto hand = HandWritten().find(c.id);
    if (hand == HandWritten().end()) {
      std::fprintf(stderr, "no hand-written formula for %s\n", c.id.c_str());
      ok = false;
      continue;
    }
    const double expected = hand->second(v);
    for (auto& engine : MakeEngines(v)) {
      double got;
      try {
        engine->Compile(c.text);
        got = engine->Eval();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s %s: %s\n", engine->Name(), c.id.c_str(), e.what());
        ok = false;
        continue;
      }
#ifdef VESKMATH_HAVE_MUPARSER
      catch (mu::Parser::exception_type& e) {
        std::fprintf(stderr, "%s %s: %s\n", engine->Name(), c.id.c_str(), e.GetMsg().c_str());
        ok = false;
        continue;
      }
#endif
      if (!Close(got, expected)) {
        std::fprintf(stderr, "%s %s (%s): %.17g, by hand %.17g\n", engine->Name(), c.id.c_str(),
                     c.text.c_str(), got, expected);
        ok = false;
      }
    }
  }
  return ok;
}

// Collects the timings for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only for a terminal: output sent to a file stays plain text. (A reporter of our
  // own does not get --benchmark_color's choice, so it decides here.)
  TableReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, double> NsPerIter;  // "eval/veskmath/v01" -> ns
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        NsPerIter[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

void RegisterAll(const std::vector<Case>& cases) {
  static Vars vars;
  const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (auto& e : MakeEngines(vars)) n.push_back(e->Name());
    return n;
  }();
  for (const Case& c : cases) {
    for (size_t k = 0; k < names.size(); ++k) {
      benchmark::RegisterBenchmark(("eval/" + names[k] + "/" + c.id).c_str(),
                                   [c, k](benchmark::State& state) {
                                     auto engines = MakeEngines(vars);
                                     Engine& e = *engines[k];
                                     e.Compile(c.text);
                                     for (auto _ : state) benchmark::DoNotOptimize(e.Eval());
                                   });
      benchmark::RegisterBenchmark(("compile/" + names[k] + "/" + c.id).c_str(),
                                   [c, k](benchmark::State& state) {
                                     auto engines = MakeEngines(vars);
                                     Engine& e = *engines[k];
                                     for (auto _ : state) {
                                       e.Compile(c.text);
                                       benchmark::DoNotOptimize(e.Eval());
                                     }
                                   });
    }
    benchmark::RegisterBenchmark(("oneoff/veskmath/" + c.id).c_str(),
                                 [c](benchmark::State& state) {
                                   for (auto _ : state) {
                                     veskmath::qel::TQelExpression e;
                                     VeskEngine::Bind(e, vars);
                                     e.Add(c.text);
                                     benchmark::DoNotOptimize(e.Evaluate());
                                   }
                                 });
#ifdef VESKMATH_HAVE_MUPARSER
    benchmark::RegisterBenchmark(("oneoff/muparser/" + c.id).c_str(),
                                 [c](benchmark::State& state) {
                                   for (auto _ : state) {
                                     mu::Parser p;
                                     MuEngine::Bind(p, vars);
                                     p.SetExpr(c.text);
                                     benchmark::DoNotOptimize(p.Eval());
                                   }
                                 });
#endif
  }
  benchmark::RegisterBenchmark("construct/veskmath", [](benchmark::State& state) {
    for (auto _ : state) {
      veskmath::qel::TQelExpression e;
      benchmark::DoNotOptimize(e.WordsCount());
    }
  });
}

void PrintTable(const std::vector<Case>& cases, const TableReporter& rep) {
#ifdef VESKMATH_HAVE_MUPARSER
  std::printf("\n%-6s %-6s %-44s %10s %10s %7s\n", "phase", "id", "expression", "veskmath",
              "muparser", "ratio");
  for (const char* phase : {"eval", "compile", "oneoff"}) {
    std::map<std::string, std::pair<double, int>> byKind;  // log-sum and count
    double logSum = 0, worst = 0;
    int n = 0;
    for (const Case& c : cases) {
      const auto ours = rep.NsPerIter.find(std::string(phase) + "/veskmath/" + c.id);
      const auto theirs = rep.NsPerIter.find(std::string(phase) + "/muparser/" + c.id);
      if (ours == rep.NsPerIter.end() || theirs == rep.NsPerIter.end()) continue;
      const double ratio = ours->second / theirs->second;
      std::printf("%-6s %-6s %-44s %8.1fns %8.1fns %7.2f\n", phase, c.id.c_str(), c.text.c_str(),
                  ours->second, theirs->second, ratio);
      logSum += std::log(ratio);
      byKind[c.kind].first += std::log(ratio);
      byKind[c.kind].second += 1;
      worst = std::fmax(worst, ratio);
      ++n;
    }
    if (n == 0) continue;
    for (const auto& [kind, acc] : byKind)
      std::printf("%-6s geometric mean ratio, kind %-6s: %.2f\n", phase, kind.c_str(),
                  std::exp(acc.first / acc.second));
    std::printf("%-6s geometric mean ratio, all: %.2f   worst: %.2f\n\n", phase,
                std::exp(logSum / n), worst);
  }
#else
  (void)cases;
  (void)rep;
  std::printf("\nmuparser is not installed (apt-get install libmuparser-dev): VeskMath alone.\n");
#endif
  const auto construct = rep.NsPerIter.find("construct/veskmath");
  if (construct != rep.NsPerIter.end())
    std::printf("construct: one expression object with its vocabulary: %.0f ns\n",
                construct->second);
}

}  // namespace

int main(int argc, char** argv) {
  std::string setPath = VESKMATH_BENCH_SET;
  if (argc > 1 && argv[1][0] != '-') {
    setPath = argv[1];
    --argc;
    ++argv;
  }
  const std::vector<Case> cases = LoadSet(setPath);
  if (!Verify(cases)) {
    std::fprintf(stderr, "eval_bench: values disagree; no timing\n");
    return 1;
  }
  std::printf("All %zu expressions agree across engines and with hand-written doubles.\n",
              cases.size());
  RegisterAll(cases);
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(cases, reporter);
  return 0;
}
