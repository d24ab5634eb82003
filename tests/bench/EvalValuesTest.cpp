// Evaluation answers the same bits as the build that wrote bench/eval-values.txt: every
// expression of the benchmark sets, folded and not, over caller doubles, caller complex values
// and generated variables whose kind changes between evaluations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "bench/ExpressionSet.h"

namespace veskmath::bench {
namespace {

TEST(EvalValuesTest, EveryExpressionAnswersTheRecordedBits) {
  const char* source = std::getenv("VESKMATH_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::ifstream in(std::string(source) + "/bench/eval-values.txt");
  ASSERT_TRUE(in) << "bench/eval-values.txt is missing";
  int lines = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    // id;fold;binding;results;text (the text may hold anything but a line end)
    size_t cut[4], from = 0;
    for (size_t& at : cut) from = (at = line.find(';', from)) + 1;
    ASSERT_NE(cut[3], std::string::npos) << line;
    const std::string binding = line.substr(cut[1] + 1, cut[2] - cut[1] - 1);
    Binding b = Binding::Real;
    for (Binding k : kBindings)
      if (binding == BindingName(k)) b = k;
    ASSERT_EQ(binding, BindingName(b)) << line;
    const Case c{line.substr(0, cut[0]), "", line.substr(cut[3] + 1)};
    EXPECT_EQ(TableLine(c, line[cut[0] + 1] == '1', b), line);
    ++lines;
  }
  EXPECT_GT(lines, 0);
}

// Both benchmark sets are in the repository, and the table holds every expression of them.
TEST(EvalValuesTest, CoversBothCommittedSets) {
  const char* source = std::getenv("VESKMATH_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::ifstream in(std::string(source) + "/bench/eval-values.txt");
  std::set<std::string> ids;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') ids.insert(line.substr(0, line.find(';')));
  for (const char* set : {"/bench/expressions.txt", "/bench/expressions-ordinary.txt"}) {
    std::vector<Case> cases;
    ASSERT_TRUE(LoadSet(std::string(source) + set, cases)) << set;
    EXPECT_FALSE(cases.empty()) << set;
    for (const Case& c : cases) EXPECT_EQ(ids.count(c.id), 1u) << set << ": " << c.id;
  }
}

}  // namespace
}  // namespace veskmath::bench
