// The add-on inside a real Fcitx5 instance: key sequences and the texts they commit, the
// live candidate, definitions and commands, and what the user sees when the plug-in is
// missing or its server dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fcitx-config/rawconfig.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "AddonHarness.h"

namespace veskmath::fcitx5 {
namespace {

using testing::THarness;
using testing::TStep;
using Texts = std::vector<std::string>;

const std::string kTrigger = "Control+Alt+M";

struct TCommitCase {
  const char* Name;
  std::vector<const char*> Input;  // texts typed, or key names between < and >
  Texts Commits;
};

std::ostream& operator<<(std::ostream& out, const TCommitCase& c) { return out << c.Name; }

class AddonCommits : public ::testing::TestWithParam<TCommitCase> {};

// Each case: trigger, its input, then a wait for its commits and for the mode to be left.
TEST_P(AddonCommits, KeySequenceCommitsExactly) {
  THarness h;
  ASSERT_TRUE(h.Install());
  std::vector<TStep> steps = {h.Press(kTrigger)};
  for (const std::string input : GetParam().Input) {
    if (input.size() > 2 && input.front() == '<' && input.back() == '>') {
      steps.push_back(h.Press(input.substr(1, input.size() - 2)));
    } else {
      steps.push_back(h.Type(input));
    }
  }
  const std::size_t want = GetParam().Commits.size();
  steps.push_back(h.Until([&] { return h.Commits.size() >= want && h.Preedit().empty(); }));
  EXPECT_TRUE(h.Run(steps)) << "preedit " << h.Preedit() << ", aux " << h.Aux();
  EXPECT_EQ(h.Commits, GetParam().Commits);
  EXPECT_EQ(h.ImKeys, Texts{kTrigger});  // offered first, unused; nothing of math mode
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, AddonCommits,
    ::testing::Values(
        TCommitCase{"Echo", {"1+2=", "<Return>"}, {"1+2= 3"}},
        TCommitCase{"FullWidth", {"１＋２＝", "<Return>"}, {"1+2= 3"}},
        TCommitCase{"Function", {"sin(pi/6)", "<KP_Enter>"}, {"0.5"}},
        TCommitCase{"BackSpaceEdits", {"1+3", "<BackSpace>", "2=", "<Return>"}, {"1+2= 3"}},
        TCommitCase{"EscapeCommitsNothing", {"1+2", "<Escape>"}, {}},
        TCommitCase{"BackSpaceOnEmptyLeaves", {"1", "<BackSpace>", "<BackSpace>"}, {}}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.Name); });

TEST(Addon, CandidateIsLiveAndAFailedAnswerCommitsNothing) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(
      h.Run({h.Press(kTrigger), h.Type("1+2="), h.UntilCandidate("1+2= 3"), h.Press("BackSpace"),
             h.Press("BackSpace"), h.UntilCandidate("?"), h.Type("="), h.UntilCandidate("1+= ?"),
             h.Press("Return"), h.Do([&] { EXPECT_EQ(h.Preedit(), "1+="); }),  // kept for editing
             h.Press("BackSpace"), h.Type("1="), h.UntilCandidate("1+1= 2"), h.Press("Return"),
             h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"1+1= 2"});  // nothing for "1+=", then the edited text
}

// A definition is read only on Enter: typing "a:=25" passes "a:=2" without storing it.
TEST(Addon, DefinitionsAndCommandsShareTheHistory) {
  THarness h;
  ASSERT_TRUE(h.Install());
  const std::string history = h.Scratch().History();
  auto committed = [&](std::size_t n) { return h.Until([&, n] { return h.Commits.size() == n; }); };
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Type("a:=25"), h.Press("BackSpace"), h.Press("Return"),
                     committed(1), h.Press(kTrigger), h.Type("a+1"), h.UntilCandidate("3"),
                     h.Press("Return"), committed(2), h.Press(kTrigger), h.Type("list"),
                     h.UntilCandidate("a:=2 "), h.Press("Return"), committed(3),
                     // "quit" on the way ("q", "qu", "qui") is an expression; only Enter
                     // forgets.
                     h.Press(kTrigger), h.Type("quit"), h.Pause(0.3),
                     h.Do([&] { EXPECT_EQ(server::testing::ReadFile(history), "a:=2\r\n"); }),
                     h.Press("Return"), committed(4)}));
  EXPECT_EQ(h.Commits, (Texts{"2", "3", "a:=2 ", "."}));
  EXPECT_EQ(server::testing::ReadFile(history), "");
}

TEST(Addon, CommitFormValueAlone) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Do([&] {
                       fcitx::RawConfig config;
                       config.setValueByPath("CommitForm", "Value alone");
                       h.Addon()->setConfig(config);
                     }),
                     h.Press(kTrigger), h.Type("1+2="), h.UntilCandidate("3"), h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"3"});
}

TEST(Addon, OtherInputMethodKeepsItsKeysOutsideMathMode) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Type("x"), h.Press(kTrigger), h.Type("1"), h.UntilCandidate("1"),
                     h.Press("Escape"), h.Type("y")}));
  EXPECT_EQ(h.ImKeys, (Texts{"x", kTrigger, "y"}));
  EXPECT_TRUE(h.Commits.empty());
}

TEST(Addon, NoPluginIsReportedAndTypingGoesOn) {
  THarness h;  // nothing installed
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Type("1+2="), h.Until([&] {
                       return h.Aux().find("no conversion plug-in") != std::string::npos;
                     }),
                     h.Press("Return"), h.Press("Escape"), h.Type("z")}));
  EXPECT_TRUE(h.Commits.empty());
  EXPECT_EQ(h.ImKeys, (Texts{kTrigger, "z"}));
}

TEST(Addon, ServerKilledBetweenTwoKeysTheNextKeyConverts) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Type("1"), h.UntilCandidate("1"), h.Do([&] {
                       const std::vector<pid_t> servers = h.Scratch().Bus().Servers();
                       ASSERT_FALSE(servers.empty());
                       for (const pid_t pid : servers) ::kill(pid, SIGKILL);
                       EXPECT_TRUE(h.Scratch().Bus().ServersEnd(10));
                     }),
                     h.Type("+2="), h.UntilCandidate("1+2= 3"), h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"1+2= 3"});
}

// The process that serves the class on the test's bus; -1 when none does.
pid_t ServerPid() { return test_support::TPrivateBus::OwnerPid("VeskMath.FuVeskMath"); }

// A hung server is waited for off the event loop: keys are taken meanwhile, the auxiliary
// text says so, and once the server is gone the next key starts another.
TEST(Addon, HungServerNeverHoldsUpTyping) {
  THarness h;
  ASSERT_TRUE(h.Install());
  pid_t server = 0;
  std::chrono::steady_clock::time_point typing;
  EXPECT_TRUE(
      h.Run({h.Press(kTrigger), h.Type("1"), h.UntilCandidate("1"), h.Do([&] {
               server = ServerPid();
               ASSERT_GT(server, 0);
               ::kill(server, SIGSTOP);
             }),
             h.Do([&] { typing = std::chrono::steady_clock::now(); }), h.Type("+2="), h.Do([&] {
               // Three keys while the server does not answer (a call waits 3 s).
               EXPECT_LT(std::chrono::steady_clock::now() - typing, std::chrono::seconds(1));
               EXPECT_EQ(h.Preedit(), "1+2=");
             }),
             h.Until([&] { return h.Aux().find("does not answer") != std::string::npos; }),
             h.Do([&] { ::kill(server, SIGKILL); }), h.Press("BackSpace"), h.Type("="),
             h.UntilCandidate("1+2= 3")},
            60));
}

// Leaving math mode releases the object: the server started for it ends by itself.
TEST(Addon, ServerEndsWhenMathModeIsLeft) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Type("2"), h.UntilCandidate("2"), h.Press("Escape")}));
  EXPECT_TRUE(h.Scratch().Bus().ServersEnd(10));
}

}  // namespace
}  // namespace veskmath::fcitx5
