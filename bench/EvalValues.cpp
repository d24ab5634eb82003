// Writes the table of exact evaluation values that tests/bench/EvalValuesTest.cpp checks.
//
// Usage: eval_values [SET_FILE ...] > bench/eval-values.txt
// Without arguments it reads the committed set and the ordinary set. Regenerate the table
// only for a deliberate change of results, and say so in the commit.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/ExpressionSet.h"

int main(int argc, char** argv) {
  using namespace veskmath::bench;
  std::vector<std::string> paths(argv + 1, argv + argc);
  if (paths.empty()) paths = {VESKMATH_BENCH_SET, VESKMATH_BENCH_SET_ORDINARY};
  std::vector<Case> cases;
  for (const std::string& path : paths)
    if (!LoadSet(path, cases)) {
      std::fprintf(stderr, "eval_values: cannot read the expression set %s\n", path.c_str());
      return 2;
    }
  std::printf(
      "# Exact values of today's evaluation, written by eval_values (bench/EvalValues.cpp).\n"
      "# id;fold;binding;results;expression  results: one per assignment of bench/ExpressionSet.h\n"
      "# the binding takes, as RE:IM bits in hex, or ! and the error message\n");
  for (const Case& c : cases)
    for (bool fold : {false, true})
      for (Binding binding : kBindings) std::printf("%s\n", TableLine(c, fold, binding).c_str());
  return 0;
}
