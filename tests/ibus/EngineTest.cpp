// The IBus engine in a private ibus-daemon, driven through an input context of the test as
// an application drives it: the key sequences of the Fcitx5 add-on and the texts they
// commit, the live candidate, definitions and commands, the way back to the engine the user
// came from, its Japanese texts and reasons, and a hung server that never holds up typing.
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>

#include <string>
#include <vector>

#include "IBusHarness.h"
#include "support/HostKeySequences.h"

namespace veskmath::ibus {
namespace {

using testing::kPreviousEngine;
using testing::THarness;
using testing::TStep;
using Texts = std::vector<std::string>;

using test_support::TCommitCase;

class EngineCommits : public ::testing::TestWithParam<TCommitCase> {};

// Each case: the switch to the engine, its input, then a wait for its commits and for the
// switch back to the engine the user came from.
TEST_P(EngineCommits, KeySequenceCommitsExactly) {
  THarness h;
  ASSERT_TRUE(h.Install());
  std::vector<TStep> steps = {h.Engine("veskmath"), h.UntilAux("Math: ")};
  for (const std::string input : GetParam().Input) {
    if (input.size() > 2 && input.front() == '<' && input.back() == '>') {
      steps.push_back(h.Press(input.substr(1, input.size() - 2)));
    } else {
      steps.push_back(h.Type(input));
    }
  }
  const std::size_t want = GetParam().Commits.size();
  steps.push_back(h.Until([&] {
    return h.Commits.size() >= want && h.Preedit.empty() && h.GlobalEngine() == kPreviousEngine;
  }));
  EXPECT_TRUE(h.Run(steps)) << "preedit " << h.Preedit << ", aux " << h.Aux();
  EXPECT_EQ(h.Commits, GetParam().Commits);
  // Every key of math mode was the engine's: none reached the application.
  EXPECT_EQ(h.Taken, std::vector<bool>(h.Taken.size(), true));
}

INSTANTIATE_TEST_SUITE_P(Sequences, EngineCommits, ::testing::ValuesIn(test_support::kCommitCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.Name); });

// The setting commit_form "value" commits the value alone, as the Fcitx5 add-on's does.
TEST(Engine, CommitFormSettingCommitsTheValueAlone) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Setting("commit_form", "value"), h.Engine("veskmath"), h.Type("1+2="),
                     h.UntilCandidate("3"), h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"3"});
}

TEST(Engine, CandidateIsLiveAndAFailedAnswerCommitsNothing) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Engine("veskmath"),
                     h.Type("1+2="),
                     h.UntilCandidate("1+2= 3"),
                     h.Do([&] {
                       EXPECT_EQ(h.Candidates, (Texts{"1+2= 3", "１＋２＝　３"}));
                     }),
                     h.Press("Left"),
                     h.Until([&] { return h.PreeditCursor == 3; }),
                     h.Press("End"),
                     h.Press("BackSpace"),
                     h.Press("BackSpace"),
                     h.UntilCandidate("?"),
                     h.Type("="),
                     h.UntilCandidate("1+= ?"),
                     h.Press("Return"),
                     h.Pause(0.3),
                     h.Do([&] { EXPECT_EQ(h.Preedit, "1+="); }),  // kept for editing
                     h.Press("BackSpace"),
                     h.Type("1="),
                     h.UntilCandidate("1+1= 2"),
                     h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"1+1= 2"});  // nothing for "1+=", then the edited text
}

// A definition is read only on Enter and commits nothing; "list" offers the definitions
// to insert; "quit" forgets only on a second Enter. Typing "a:=25" passes "a:=2" unstored.
TEST(Engine, DefinitionsAndCommandsNeverReachTheDocument) {
  THarness h;
  ASSERT_TRUE(h.Install());
  const std::string history = h.Scratch().History();
  auto historyIs = [&](std::string want) {
    return h.Do([&, want] { EXPECT_EQ(server::testing::ReadFile(history), want); });
  };
  EXPECT_TRUE(h.Run({h.Engine("veskmath"),
                     h.Type("list"),
                     h.UntilAux("no definitions"),
                     h.Do([&] { EXPECT_TRUE(h.Candidates.empty()); }),
                     h.Press("Escape"),
                     h.UntilEngine(kPreviousEngine),
                     h.Engine("veskmath"),
                     h.Type("a:=25"),
                     h.Press("BackSpace"),
                     h.Press("Return"),
                     h.UntilAux("stored: a:=2"),
                     historyIs("a:=2\r\n"),
                     h.Do([&] { EXPECT_EQ(h.Preedit, ""); }),
                     h.Type("list"),
                     h.UntilCandidate("a:=2"),
                     h.Press("Return"),
                     h.Until([&] { return h.Preedit == "a:=2"; }),
                     h.Press("Escape"),
                     h.UntilEngine(kPreviousEngine),
                     h.Engine("veskmath"),
                     h.Type("quit"),
                     h.Press("Return"),
                     h.Pause(0.3),
                     historyIs("a:=2\r\n"),
                     h.Press("Return"),
                     h.UntilAux("forgotten"),
                     historyIs(""),
                     h.Type("a+1="),
                     h.UntilCandidate("a+1= NAN"),
                     h.Press("Escape")}));
  EXPECT_TRUE(h.Commits.empty());
}

// Shortcuts go to the application; once math mode is left the previous engine has the keys.
TEST(Engine, ShortcutsAndTheEngineBeforeKeepTheirKeys) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(
      h.Run({h.Engine("veskmath"), h.Type("1"), h.UntilCandidate("1"), h.Press("Control+c"),
             h.Press("Alt+x"), h.Press("Escape"), h.UntilEngine(kPreviousEngine), h.Type("y")}));
  EXPECT_EQ(h.Taken, (std::vector<bool>{true, false, false, true, false}));
  EXPECT_TRUE(h.Commits.empty());
}

// Nothing registered for this user: the first use converts, and the plug-in is listed once.
TEST(Engine, FirstUseRegistersThePlugin) {
  THarness h;
  EXPECT_TRUE(h.Run({h.Engine("veskmath"), h.Type("1+2="), h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}))
      << h.Aux();
  EXPECT_EQ(h.Commits, Texts{"1+2= 3"});
  win::RegistryFile file(h.Scratch().Registry());
  EXPECT_TRUE(file.KeyExists(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01"));
  EXPECT_FALSE(file.KeyExists(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\02"));
}

// Under a Japanese locale (the engine inherits the daemon's): its texts and the engine's
// reason for "?".
TEST(Engine, SpeaksJapaneseAndSaysWhy) {
  ::setenv("LANGUAGE", "ja", 1);
  ::setenv("LC_ALL", "C.UTF-8", 1);
  THarness h;
  ::unsetenv("LANGUAGE");
  ::unsetenv("LC_ALL");
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Engine("veskmath"), h.UntilAux("数式: "), h.Type("sni(1)"),
                     h.UntilAux("sni は未知の関数です"), h.UntilCandidate("?"),
                     h.Do([&] { EXPECT_EQ(h.Candidates, Texts{"?"}); })}))
      << h.Aux();
}

// The process that serves the class on the test's bus; -1 when none does.
pid_t ServerPid() { return test_support::TPrivateBus::OwnerPid("VeskMath.FuVeskMath"); }

// A hung server is waited for off the key path: keys are taken meanwhile, the auxiliary
// text says it is converting, then that the server does not answer (after the 3 s a call
// waits), and once the server is gone the next key starts another.
TEST(Engine, HungServerNeverHoldsUpTyping) {
  THarness h;
  ASSERT_TRUE(h.Install());
  pid_t server = 0;
  EXPECT_TRUE(
      h.Run({h.Engine("veskmath"), h.Type("1"), h.UntilCandidate("1"), h.Do([&] {
               server = ServerPid();
               ASSERT_GT(server, 0);
               ::kill(server, SIGSTOP);
             }),
             h.Type("+2="), h.Until([&] { return h.Preedit == "1+2="; }), h.UntilAux("converting"),
             h.UntilAux("does not answer"), h.Type("3"), h.Press("BackSpace"),
             h.Until([&] { return h.Preedit == "1+2="; }), h.Do([&] { ::kill(server, SIGKILL); }),
             h.Pause(0.5), h.Press("BackSpace"), h.Type("="), h.UntilCandidate("1+2= 3")},
            60));
}

TEST(Engine, ServerKilledBetweenTwoKeysTheNextKeyConverts) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Engine("veskmath"), h.Type("1"), h.UntilCandidate("1"), h.Do([&] {
                       const std::vector<pid_t> servers = h.Scratch().Bus().Servers();
                       ASSERT_FALSE(servers.empty());
                       for (const pid_t pid : servers) ::kill(pid, SIGKILL);
                       EXPECT_TRUE(h.Scratch().Bus().ServersEnd(10));
                     }),
                     h.Type("+2="), h.UntilCandidate("1+2= 3"), h.Press("Return"),
                     h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"1+2= 3"});
}

// Leaving math mode releases the object: the server started for it ends by itself.
TEST(Engine, ServerEndsWhenMathModeIsLeft) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Engine("veskmath"), h.Type("2"), h.UntilCandidate("2"), h.Press("Escape"),
                     h.UntilEngine(kPreviousEngine)}));
  EXPECT_TRUE(h.Scratch().Bus().ServersEnd(10));
}

}  // namespace
}  // namespace veskmath::ibus
