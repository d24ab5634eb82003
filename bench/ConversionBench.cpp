// Conversion, start-up and memory figures of VeskMath, in one process.
//
// Usage: conversion_bench [--quick] [--benchmark_... options]
//
//   conversion  one read of VeskResult through the conversion object (fresh expression
//               object, history replay, the notation, its text) with 0, 10, 100 and 1,000
//               definitions in the history file: microseconds per read, and the cost per
//               history line between the sizes (equal slopes: linear);
//   start-up    `qelcalc 1+2` as a whole process against a C++ program that does nothing,
//               started alternately by posix_spawn: the median wall time of each, the
//               difference, and the CPU time (user + system);
//   memory      bytes and allocations of one expression object with its vocabulary; the
//               heap bytes still held after each of many conversions (a leak check: any
//               growth fails the run); the peak resident size of the server (veskmath)
//               after 1,000 and 10,000 conversions of one vesk with a 100-line history;
//   out of process  conversions per second through one server (veskmath, started on demand
//               by the first client) with 1 and 4 `vesk` clients converting at once.
//
// Values are checked first: every conversion's text against the expected one. The history
// lives in a scratch directory (TMPDIR for this process and its children).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "../tests/support/PrivateBus.h"
#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "parser/QelParseExpr.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/OleTypes.h"
#include "platform/win/RegistryFile.h"
#include "server/FuVeskMathImpl.h"
#include "server/InstallForm.h"

// --- heap accounting: every operator new of this process ----------------------------------

namespace {
std::atomic<long long> gLiveBytes{0};
std::atomic<long long> gAllocatedBytes{0};
std::atomic<long long> gAllocations{0};

// Each block carries the size asked for in a header, and the counts are of those sizes: a
// reused chunk may come back up to 16 bytes larger than asked (the allocator does not split
// off less), which would show as growth where nothing grew.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* Allocate(std::size_t n) {
  auto* base = static_cast<unsigned char*>(std::malloc(kHeader + n));
  if (base == nullptr) throw std::bad_alloc();
  std::memcpy(base, &n, sizeof n);
  gLiveBytes.fetch_add(static_cast<long long>(n), std::memory_order_relaxed);
  gAllocatedBytes.fetch_add(static_cast<long long>(n), std::memory_order_relaxed);
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return base + kHeader;
}

void Release(void* p) noexcept {
  if (p == nullptr) return;
  unsigned char* base = static_cast<unsigned char*>(p) - kHeader;
  std::size_t n;
  std::memcpy(&n, base, sizeof n);
  gLiveBytes.fetch_sub(static_cast<long long>(n), std::memory_order_relaxed);
  std::free(base);
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

namespace win = veskmath::win;
namespace server = veskmath::server;

constexpr int kHistorySizes[] = {0, 10, 100, 1000};
constexpr const char* kNotation = "1+2*sqrt(16)";
constexpr const char* kExpected = "9";

std::string gScratch;  // the scratch directory, TMPDIR of this process

// Definition k of a history: literals, chains through earlier definitions, functions.
std::string Definition(int k) {
  const std::string v = "v" + std::to_string(k);
  if (k < 2) return v + ":=" + std::to_string(k + 1);
  const std::string p = "v" + std::to_string(k - 1);
  switch (k % 4) {
    case 0:
      return v + ":=" + std::to_string(k) + "/4";
    case 1:
      return v + ":=" + p + "*0.5+1";
    case 2:
      return v + ":=sqrt(abs(" + p + "))+ln(" + std::to_string(k) + ")";
    default:
      return v + ":=sin(v" + std::to_string(k - 2) + ")+cos(" + p + ")^2";
  }
}

void WriteHistory(int lines) {
  std::ofstream out(gScratch + "/log.txt", std::ios::binary | std::ios::trunc);
  for (int k = 0; k < lines; ++k) out << Definition(k) << "\r\n";
}

// One conversion object of this process, driven as the host does.
class TConverter {
 public:
  TConverter() {
    const win::HRESULT hr = server::CreateFuVeskMath(
        server::IID_IFuVeskMath, reinterpret_cast<void**>(FObject.ReleaseAndGetAddressOf()));
    if (win::FAILED(hr)) {
      std::fprintf(stderr, "conversion_bench: cannot make the conversion object\n");
      std::exit(2);
    }
  }
  std::string Convert(const std::string& notation) {
    FObject->Set_VeskYomi(win::BSTR(u""));
    FObject->Set_VeskHyoki(win::BSTR(win::Utf8ToWide(notation)));
    win::BSTR result;
    if (win::FAILED(FObject->Get_VeskResult(&result))) return "<failed>";
    return win::WideToUtf8(result.View());
  }

 private:
  win::ComPtr<server::IFuVeskMath> FObject;
};

// --- checks ---------------------------------------------------------------------------------

bool VerifyConversions() {
  bool ok = true;
  for (const int lines : kHistorySizes) {
    WriteHistory(lines);
    TConverter converter;
    const std::string got = converter.Convert(kNotation);
    if (got != kExpected) {
      std::fprintf(stderr, "history %d: %s gave \"%s\", expected \"%s\"\n", lines, kNotation,
                   got.c_str(), kExpected);
      ok = false;
    }
    if (lines > 0) {  // the last definition is in effect
      const std::string last = "v" + std::to_string(lines - 1) + "*0";
      if (converter.Convert(last) != "0") {
        std::fprintf(stderr, "history %d: the definitions were not replayed\n", lines);
        ok = false;
      }
    }
  }
  return ok;
}

struct TMemory {
  long long ObjectBytes = 0, ObjectAllocations = 0, ObjectLiveBytes = 0;
  long long Growth = 0;  // heap bytes gained over the conversions after the first ones
  int Conversions = 0;
  // Heap held by one object (MaxExpressions 10) after ten Adds and after many more.
  long long HeldAfterTen = 0, HeldAfterMany = 0;
  int ManyAdds = 0;
};

TMemory MeasureMemory(int manyAdds) {
  TMemory m;
  {
    const long long live = gLiveBytes.load();
    veskmath::qel::TQelExpression expr;
    expr.Optimize = true;
    auto add = [&](int k) { expr.Add(k % 2 ? "sin(1.5)+4i*2+7" : "2*3+'a'<'b'"); };
    for (int k = 0; k < 10; ++k) add(k);
    m.HeldAfterTen = gLiveBytes.load() - live;
    m.ManyAdds = manyAdds;
    for (int k = 10; k < manyAdds; ++k) add(k);
    m.HeldAfterMany = gLiveBytes.load() - live;
  }
  {
    const long long bytes = gAllocatedBytes.load(), count = gAllocations.load();
    const long long live = gLiveBytes.load();
    veskmath::qel::TQelExpression expr;
    m.ObjectBytes = gAllocatedBytes.load() - bytes;
    m.ObjectAllocations = gAllocations.load() - count;
    m.ObjectLiveBytes = gLiveBytes.load() - live;
  }
  WriteHistory(100);
  TConverter converter;
  // Both notations once first: the object keeps its last result text, whose buffer grows to
  // the longer of the two.
  for (int k = 0; k < 6; ++k) converter.Convert(k % 2 ? kNotation : "v99+1");
  const long long before = gLiveBytes.load();
  m.Conversions = 1000;
  for (int k = 0; k < m.Conversions; ++k) converter.Convert(k % 2 ? kNotation : "v99+1");
  m.Growth = gLiveBytes.load() - before;
  return m;
}

// --- processes ------------------------------------------------------------------------------

struct TRun {
  double WallMs;
  double CpuMs;
  long MaxRssKiB;
  int Status;
};

// Runs argv with stdin from inputPath (or /dev/null) and stdout, stderr to /dev/null.
TRun RunProcess(const std::vector<std::string>& args, const std::string& inputPath = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.empty() ? "/dev/null" : inputPath.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  TRun run{0, 0, 0, -1};
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    run.WallMs = std::chrono::duration<double, std::milli>(end - start).count();
    run.CpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.MaxRssKiB = usage.ru_maxrss;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct TStartup {
  std::string Name;
  std::vector<std::string> Args;
  std::vector<double> Wall, Cpu;
  int Failures = 0;
};

std::vector<TStartup> MeasureStartup(int rounds) {
  WriteHistory(0);
  std::vector<TStartup> programs = {
      {"noop (C++, does nothing)", {VESKMATH_NOOP_PATH}, {}, {}, 0},
      {"qelcalc 1+2", {VESKMATH_QELCALC_PATH, "1+2"}, {}, {}, 0},
  };
  for (int r = 0; r < rounds + 3; ++r) {
    for (TStartup& p : programs) {  // alternately, so that load hits all alike
      const TRun run = RunProcess(p.Args);
      if (run.Status != 0) ++p.Failures;
      if (r < 3) continue;  // page cache and dynamic loader warm
      p.Wall.push_back(run.WallMs);
      p.Cpu.push_back(run.CpuMs);
    }
  }
  return programs;
}

// The class's well-known name on the session bus.
constexpr const char* kServerBusName = "VeskMath.FuVeskMath";

// The peak resident size of a live process (VmHWM), 0 when it cannot be read.
long PeakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// Peak resident size of the server after one vesk converted n notations through it (a
// fresh server: the one before has ended). Status: vesk's, or 1 when the server was not seen.
TRun MeasureServerRss(int conversions) {
  WriteHistory(100);
  const std::string input = gScratch + "/notations.txt";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    for (int k = 0; k < conversions; ++k) out << (k % 2 ? kNotation : "v99+1") << "\n";
  }
  const auto ended = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (veskmath::test_support::TPrivateBus::OwnerPid(kServerBusName) > 0 &&
         std::chrono::steady_clock::now() < ended) {
    ::usleep(20 * 1000);
  }
  // An object of this process keeps the server alive after vesk's last one, to be read.
  win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
  win::AddKnownTypeLib(server::kVeskMathLibrary);
  win::ComPtr<win::IDispatch> holder;
  win::CoCreateInstance(server::CLSID_FuVeskMath, nullptr, win::CLSCTX_LOCAL_SERVER,
                        win::IID_IDispatch,
                        reinterpret_cast<void**>(holder.ReleaseAndGetAddressOf()));
  TRun run = RunProcess({VESKMATH_VESK_PATH}, input);
  const pid_t owner = veskmath::test_support::TPrivateBus::OwnerPid(kServerBusName);
  run.MaxRssKiB = holder && owner > 0 ? PeakResidentKiB(owner) : 0;
  if (run.MaxRssKiB == 0 && run.Status == 0) run.Status = 1;
  holder = nullptr;
  win::CoUninitialize();
  return run;
}

// --- out of process ---------------------------------------------------------------------------

struct TServed {
  int Clients;
  int Conversions;  // in all
  double WallMs;
  int Failures;
};

// Registers the server and the plug-in entry in a scratch registry, as "veskmath /regserver"
// and Install leave them.
bool InstallServer() {
  const std::string registry = gScratch + "/registry.reg";
  const std::string runtime = gScratch + "/run";
  ::mkdir(runtime.c_str(), 0700);
  setenv("VESKMATH_REGISTRY", registry.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  if (RunProcess({VESKMATH_VESKMATH_PATH, "/regserver"}).Status != 0) return false;
  win::RegistryFile file(registry);
  const std::string entry = std::string(server::kVeskHostKey) + "\\" + server::HostEntryName(1);
  file.CreateKey(win::HKEY_LOCAL_MACHINE, entry);
  return file.SetValue(win::HKEY_LOCAL_MACHINE, entry, "ID",
                       win::RegValue::String(server::kVeskMathProgID));
}

// `clients` vesk processes at once, each converting `each` notations through the server.
TServed MeasureServed(int clients, int each) {
  WriteHistory(10);
  const std::string input = gScratch + "/served.txt";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    for (int k = 0; k < each; ++k) out << (k % 2 ? kNotation : "v9+1") << "\n";
  }
  TServed served{clients, clients * each, 0, 0};
  std::vector<pid_t> pids;
  const auto start = std::chrono::steady_clock::now();
  for (int c = 0; c < clients; ++c) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(VESKMATH_VESK_PATH), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0) {
      pids.push_back(pid);
    } else {
      ++served.Failures;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  for (const pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++served.Failures;
  }
  served.WallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return served;
}

// --- the conversion benchmarks --------------------------------------------------------------

class TableReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only for a terminal: output sent to a file stays plain text. (A reporter of our
  // own does not get --benchmark_color's choice, so it decides here.)
  TableReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, double> NsPerIter;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        NsPerIter[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

void RegisterConversions() {
  for (const int lines : kHistorySizes) {
    benchmark::RegisterBenchmark(("conversion/history:" + std::to_string(lines)).c_str(),
                                 [lines](benchmark::State& state) {
                                   WriteHistory(lines);
                                   TConverter converter;
                                   for (auto _ : state)
                                     benchmark::DoNotOptimize(converter.Convert(kNotation));
                                 });
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--quick") {
      quick = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());

  char scratch[] = "/tmp/veskmath-bench-XXXXXX";
  if (mkdtemp(scratch) == nullptr) {
    std::perror("conversion_bench: mkdtemp");
    return 2;
  }
  gScratch = scratch;
  setenv("TMPDIR", scratch, 1);
  struct TRemoveScratch {
    ~TRemoveScratch() {
      std::error_code ignored;
      std::filesystem::remove_all(gScratch, ignored);
    }
  } removeScratch;

  if (!VerifyConversions()) {
    std::fprintf(stderr, "conversion_bench: conversions disagree; no timing\n");
    return 1;
  }
  std::printf("Conversions agree with the expected texts (history of 0 to 1,000 lines).\n");
  const TMemory memory = MeasureMemory(quick ? 100000 : 1000000);

  RegisterConversions();
  benchmark::Initialize(&restCount, rest.data());
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const std::vector<TStartup> startup = MeasureStartup(quick ? 30 : 300);
  std::vector<TServed> served;
  const bool installed = InstallServer();
  TRun rss1k{}, rss10k{};
  if (installed) {
    const int total = quick ? 400 : 4000;
    served.push_back(MeasureServed(1, total));
    served.push_back(MeasureServed(4, total / 4));
    rss1k = MeasureServerRss(1000);
    rss10k = MeasureServerRss(quick ? 2000 : 10000);
  }

  std::printf("\nconversion: one read of VeskResult (\"%s\")\n", kNotation);
  std::printf("  %-10s %12s %20s\n", "history", "us per read", "us per history line");
  double previousUs = 0;
  int previousLines = 0;
  for (const int lines : kHistorySizes) {
    const auto it = reporter.NsPerIter.find("conversion/history:" + std::to_string(lines));
    if (it == reporter.NsPerIter.end()) continue;
    const double us = it->second / 1e3;  // CPU time in ns per iteration
    if (lines == 0) {
      std::printf("  %-10d %12.1f %20s\n", lines, us, "");
    } else {
      std::printf("  %-10d %12.1f %20.2f\n", lines, us,
                  (us - previousUs) / (lines - previousLines));
    }
    previousUs = us;
    previousLines = lines;
  }

  std::printf("\nstart-up: %d runs each, alternately (median)\n", quick ? 30 : 300);
  std::printf("  %-26s %10s %12s %10s %9s\n", "program", "wall ms", "vs noop ms", "cpu ms",
              "failures");
  const double noopWall = Median(startup[0].Wall);
  for (const TStartup& p : startup)
    std::printf("  %-26s %10.3f %+12.3f %10.3f %9d\n", p.Name.c_str(), Median(p.Wall),
                Median(p.Wall) - noopWall, Median(p.Cpu), p.Failures);

  std::printf("\nmemory\n");
  std::printf(
      "  one expression object with its vocabulary: %lld bytes in %lld allocations"
      " (%lld held while it lives)\n",
      memory.ObjectBytes, memory.ObjectAllocations, memory.ObjectLiveBytes);
  std::printf("  heap held after %d more conversions (100-line history): %+lld bytes\n",
              memory.Conversions, memory.Growth);
  std::printf("  one object, MaxExpressions 10: %lld bytes held after 10 Adds, %lld after %d\n",
              memory.HeldAfterTen, memory.HeldAfterMany, memory.ManyAdds);
  std::printf(
      "  the server, 100-line history, peak resident: %ld KiB after 1,000"
      " conversions, %ld KiB after %d (exit %d, %d)\n",
      rss1k.MaxRssKiB, rss10k.MaxRssKiB, quick ? 2000 : 10000, rss1k.Status, rss10k.Status);

  std::printf("\nout of process: conversions through one server (10-line history)\n");
  if (!installed) std::printf("  the server could not be registered in the scratch registry\n");
  for (const TServed& r : served)
    std::printf("  %d client%s: %d conversions in %.0f ms: %.0f conversions/s (%d failed)\n",
                r.Clients, r.Clients == 1 ? " " : "s", r.Conversions, r.WallMs,
                r.Conversions / (r.WallMs / 1e3), r.Failures);

  bool ok = installed && memory.Growth == 0 && rss1k.Status == 0 && rss10k.Status == 0;
  for (const TStartup& p : startup) ok = ok && p.Failures == 0;
  for (const TServed& r : served) ok = ok && r.Failures == 0;
  if (!ok) std::fprintf(stderr, "conversion_bench: a leak or a failed run (see above)\n");
  return ok ? 0 : 1;
}
