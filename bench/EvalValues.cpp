// Writes the table of exact evaluation values that tests/bench/EvalValuesTest.cpp checks.
//
// Usage: eval_values [--output=FILE] [SET_FILE ...]
// Without set files it reads the committed set and the ordinary set. The table goes to
// standard output, or with --output to FILE, which is replaced only once the whole table is
// written (a failed run leaves the committed table as it was). Regenerate the table only for
// a deliberate change of results, and say so in the commit.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench/ExpressionSet.h"

int main(int argc, char** argv) {
  using namespace veskmath::bench;
  std::vector<std::string> paths;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--output=")) {
      output = arg.substr(9);
    } else if (arg.starts_with("--")) {
      std::fprintf(stderr, "usage: eval_values [--output=FILE] [SET_FILE ...]\n");
      return 2;
    } else {
      paths.emplace_back(arg);
    }
  }
  if (paths.empty()) paths = {VESKMATH_BENCH_SET, VESKMATH_BENCH_SET_ORDINARY};
  std::vector<Case> cases;
  for (const std::string& path : paths)
    if (!LoadSet(path, cases)) {
      std::fprintf(stderr, "eval_values: cannot read the expression set %s\n", path.c_str());
      return 2;
    }
  std::string table =
      "# Exact values of today's evaluation, written by eval_values (bench/EvalValues.cpp).\n"
      "# id;fold;binding;results;expression  results: one per assignment of bench/ExpressionSet.h\n"
      "# the binding takes, as RE:IM bits in hex, or ! and the error message\n";
  for (const Case& c : cases)
    for (bool fold : {false, true})
      for (Binding binding : kBindings) table += TableLine(c, fold, binding) + '\n';
  if (output.empty()) {
    std::fwrite(table.data(), 1, table.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const std::string temporary = output + ".tmp";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  const bool written =
      f != nullptr && std::fwrite(table.data(), 1, table.size(), f) == table.size();
  if (f == nullptr || std::fclose(f) != 0 || !written ||
      std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::perror(("eval_values: cannot write " + output).c_str());
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
