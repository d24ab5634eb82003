// Many clients through one server: 8 vesk processes convert at once, every fourth line a
// definition. Every answer is checked, every definition must reach the history, and the
// server must end by itself after the last client. VESKMATH_LOAD_FULL=1 runs 2,000
// conversions per client instead of the 100 that keep CI quick; the figures are printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ServerProcessUtil.h"
#include "contract/VeskMathTypes.h"
#include "server/History.h"

namespace veskmath::server {
namespace {

using testing::TChild;
using testing::TScratch;

TEST(Load, EightClientsThroughOneServer) {
  constexpr int kClients = 8;
  const char* full = std::getenv("VESKMATH_LOAD_FULL");
  const int each = full != nullptr && std::string(full) == "1" ? 2000 : 100;

  TScratch scratch;
  {
    TChild reg(VESKMATH_VESKMATH_PATH, {"/regserver"}, scratch.Root(), "reg");
    reg.CloseInput();
    ASSERT_EQ(reg.Wait(60), 0);
    win::RegistryFile file(scratch.Registry());
    file.CreateKey(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01");
    file.SetValue(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01", "ID",
                  win::RegValue::String(kVeskMathProgID));
  }

  // Client c, line i: a definition "v<c>_<i>:=<i>" every fourth line, a use of it on the
  // next, a plain sum otherwise.
  std::vector<std::string> inputs(kClients), expected(kClients);
  std::set<std::string> definitions;
  for (int c = 0; c < kClients; ++c) {
    for (int i = 0; i < each; ++i) {
      const std::string name = "v" + std::to_string(c) + "_";
      if (i % 4 == 3) {
        const std::string line = name + std::to_string(i) + ":=" + std::to_string(i);
        definitions.insert(line);
        inputs[c] += line + "\n";
        expected[c] += std::to_string(i) + "\n";
      } else if (i % 4 == 0 && i > 0) {
        inputs[c] += name + std::to_string(i - 1) + "*2\n";
        expected[c] += std::to_string(2 * (i - 1)) + "\n";
      } else {
        inputs[c] += std::to_string(i) + "+" + std::to_string(c) + "\n";
        expected[c] += std::to_string(i + c) + "\n";
      }
    }
  }

  std::vector<std::unique_ptr<TChild>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::make_unique<TChild>(VESKMATH_VESK_PATH, std::vector<std::string>{},
                                               scratch.Root(), "c" + std::to_string(c)));
  }
  // Every client holds its object before any runs on: one server serves them all.
  for (int c = 0; c < kClients; ++c) clients[c]->Type("0*1\n");
  for (int c = 0; c < kClients; ++c) ASSERT_TRUE(clients[c]->WaitForOutput("0\n", 60));

  const auto start = std::chrono::steady_clock::now();
  for (int c = 0; c < kClients; ++c) {
    clients[c]->Type(inputs[c]);
    clients[c]->CloseInput();
  }
  for (int c = 0; c < kClients; ++c) {
    EXPECT_EQ(clients[c]->Wait(1800), 0) << clients[c]->Err();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (int c = 0; c < kClients; ++c) {
    EXPECT_EQ(clients[c]->Out(), "0\n" + expected[c]) << "client " << c;
    EXPECT_EQ(clients[c]->Err(), "") << "client " << c;
  }
  std::printf("load: %d clients x %d conversions in %.2f s, %.0f conversions/s\n", kClients, each,
              seconds, kClients * each / seconds);

  std::vector<std::string> lines;
  ASSERT_TRUE(THistoryFile(scratch.History()).Load(lines));
  EXPECT_EQ(lines.size(), definitions.size());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), definitions);
  EXPECT_TRUE(scratch.Bus().ServersEnd(60)) << "the server did not end after the last client";
  EXPECT_EQ(scratch.Bus().Activations(), 1) << "more than one server was started";
}

}  // namespace
}  // namespace veskmath::server
