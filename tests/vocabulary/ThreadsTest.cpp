// What the threading contract of parser/QelParseExpr.h allows, run by the tsan preset:
// objects on several threads at once, each made, compiled, evaluated and dropped by its own
// thread, all listing the one built-in table and drawing from the one random sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "parser/QelParseExpr.h"

namespace veskmath::qel {
namespace {

TEST(Threads, ObjectsOnSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 150;
  std::atomic<int> wrong{0};
  std::vector<std::vector<double>> draws(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        TQelExpression expr;
        expr.Optimize = r % 2 == 0;
        double x = t + r;
        expr.DefineVariable("x", &x);
        expr.Add("pi:=" + std::to_string(t));  // a named constant of this object only
        expr.Evaluate();
        expr.Add("x*2+pi+sin(0)+x^2");
        if (expr.Evaluate() != 2.0 * (t + r) + t + (t + r) * (t + r)) ++wrong;
        expr.Add("random");
        draws[static_cast<std::size_t>(t)].push_back(expr.Evaluate());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  // One sequence: no seed is handed out twice.
  std::vector<double> all;
  for (const std::vector<double>& d : draws) all.insert(all.end(), d.begin(), d.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(all.size(), std::size_t{kThreads * kRounds});
}

}  // namespace
}  // namespace veskmath::qel
