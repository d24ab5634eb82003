// The add-on inside a real Fcitx5 instance: key sequences and the texts they commit, the
// live candidate, definitions and commands, the first use on a machine where nothing was
// registered, its Japanese texts and reasons, and what the user sees when the server hangs
// or dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fcitx-config/rawconfig.h>
#include <fcitx-utils/log.h>
#include <locale.h>

#include <sstream>

#include <filesystem>
#include <string>
#include <vector>

#include "AddonHarness.h"
#include "platform/win/Automation.h"
#include "support/HostKeySequences.h"

namespace veskmath::fcitx5 {
namespace {

using testing::THarness;
using testing::TStep;
using Texts = std::vector<std::string>;

const std::string kTrigger = "Control+Alt+M";

using test_support::TCommitCase;

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

INSTANTIATE_TEST_SUITE_P(Sequences, AddonCommits, ::testing::ValuesIn(test_support::kCommitCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.Name); });

TEST(Addon, CandidateIsLiveAndAFailedAnswerCommitsNothing) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(
      h.Run({h.Press(kTrigger), h.Type("1+2="), h.UntilCandidate("1+2= 3"), h.Do([&] {
               EXPECT_EQ(h.Candidates(), (Texts{"1+2= 3", "１＋２＝　３"}));
             }),
             h.Press("Left"), h.Do([&] { EXPECT_EQ(h.PreeditCursor(), 3); }), h.Press("End"),
             h.Press("BackSpace"), h.Press("BackSpace"), h.UntilCandidate("?"), h.Type("="),
             h.UntilCandidate("1+= ?"), h.Press("Return"),
             h.Do([&] { EXPECT_EQ(h.Preedit(), "1+="); }),  // kept for editing
             h.Press("BackSpace"), h.Type("1="), h.UntilCandidate("1+1= 2"), h.Press("Return"),
             h.Until([&] { return !h.Commits.empty(); })}));
  EXPECT_EQ(h.Commits, Texts{"1+1= 2"});  // nothing for "1+=", then the edited text
}

// A definition is read only on Enter and commits nothing; "list" offers the definitions
// to insert; "quit" forgets only on a second Enter. Typing "a:=25" passes "a:=2" unstored.
TEST(Addon, DefinitionsAndCommandsNeverReachTheDocument) {
  THarness h;
  ASSERT_TRUE(h.Install());
  const std::string history = h.Scratch().History();
  auto historyIs = [&](std::string want) {
    return h.Do([&, want] { EXPECT_EQ(server::testing::ReadFile(history), want); });
  };
  EXPECT_TRUE(h.Run({h.Press(kTrigger),
                     h.Type("list"),
                     h.UntilAux("no definitions"),
                     h.Do([&] { EXPECT_TRUE(h.Candidates().empty()); }),
                     h.Press("Escape"),
                     h.Press(kTrigger),
                     h.Type("a:=25"),
                     h.Press("BackSpace"),
                     h.Press("Return"),
                     h.UntilAux("a:=2"),
                     historyIs("a:=2\r\n"),
                     h.Do([&] { EXPECT_EQ(h.Preedit(), ""); }),
                     h.Type("list"),
                     h.UntilCandidate("a:=2"),
                     h.Press("Return"),
                     h.Do([&] { EXPECT_EQ(h.Preedit(), "a:=2"); }),
                     h.Press("Escape"),
                     h.Press(kTrigger),
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

// Packages installed, nothing registered for this user (or a registration that names a
// program since removed): the first trigger converts, and the plug-in is listed once.
TEST(Addon, FirstTriggerRegistersThePlugin) {
  for (const bool stale : {false, true}) {
    SCOPED_TRACE(stale ? "registered server gone" : "new user");
    THarness h;
    if (stale) {
      ASSERT_TRUE(h.Install());
      win::RegistryFile file(h.Scratch().Registry());
      win::CLSID clsid{};
      ASSERT_TRUE(win::SUCCEEDED(win::CLSIDFromProgID(u"VeskMath.FuVeskMath", &clsid)));
      file.SetValue(win::HKEY_CLASSES_ROOT,
                    "CLSID\\" + win::GUIDToString(clsid) + "\\LocalServer32", "",
                    win::RegValue::String("/nonexistent/veskmath /Automation"));
    }
    EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Type("1+2="), h.Press("Return"),
                       h.Until([&] { return !h.Commits.empty(); })}))
        << h.Aux();
    EXPECT_EQ(h.Commits, Texts{"1+2= 3"});
    win::RegistryFile file(h.Scratch().Registry());
    EXPECT_TRUE(file.KeyExists(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\01"));
    EXPECT_FALSE(file.KeyExists(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk\\02"));
  }
}

// Under a Japanese locale: the add-on's texts and option names, the engine's reason for "?"
// and a system error, readable and short.
class JapaneseAddon : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LANGUAGE", "ja", 1);
    ::setlocale(LC_ALL, "C.UTF-8");
  }
  void TearDown() override {
    ::unsetenv("LANGUAGE");
    ::setlocale(LC_ALL, "C");
  }
};

TEST_F(JapaneseAddon, SpeaksJapaneseAndSaysWhy) {
  THarness h;
  ASSERT_TRUE(h.Install());
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.UntilAux("数式: "), h.Type("sni(1)"),
                     h.UntilAux("sni は未知の関数です"),
                     h.Do([&] { EXPECT_EQ(h.Candidates(), Texts{"?"}); })}))
      << h.Aux();
  fcitx::RawConfig description;
  h.Addon()->getConfig()->dumpDescription(description);
  const std::string* name = description.valueByPath("VeskMathConfig/TriggerKey/Description");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(*name, "起動キー");
}

TEST_F(JapaneseAddon, SystemErrorIsReadableAndShort) {
  THarness h;
  // A registry store that the system refuses to open: a file name too long.
  const std::string store = h.Scratch().Root() + "/" + std::string(300, 'x');
  ::setenv("VESKMATH_REGISTRY", store.c_str(), 1);
  std::ostringstream log;
  fcitx::Log::setLogStream(log);
  std::string aux;
  auto shown = [&] {
    for (const std::string& text : h.Auxes) {
      if (text.find("レジストリ") != std::string::npos) aux = text;
    }
    return !aux.empty();
  };
  EXPECT_TRUE(h.Run({h.Press(kTrigger), h.Until(shown)}));
  fcitx::Log::setLogStream(std::cerr);
  EXPECT_NE(aux.find("File name too long"), std::string::npos) << aux;  // not mojibake
  EXPECT_LE(fcitx::utf8::length(aux), 120U) << aux;
  const std::string logged = log.str();
  EXPECT_NE(logged.find(store), std::string::npos) << logged;  // the whole path
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
// text says it is converting, then that the server does not answer (one configured second
// per call here), the log says so once, and once the server is gone the next key starts
// another.
TEST(Addon, HungServerNeverHoldsUpTyping) {
  THarness h;
  ASSERT_TRUE(h.Install());
  std::ostringstream log;
  fcitx::Log::setLogStream(log);
  pid_t server = 0;
  EXPECT_TRUE(h.Run({h.Do([&] {
                       fcitx::RawConfig config;
                       config.setValueByPath("Timeout", "1");
                       h.Addon()->setConfig(config);
                     }),
                     h.Press(kTrigger), h.Type("1"), h.UntilCandidate("1"), h.Do([&] {
                       server = ServerPid();
                       ASSERT_GT(server, 0);
                       ::kill(server, SIGSTOP);
                     }),
                     h.Type("+2="), h.Do([&] { EXPECT_EQ(h.Preedit(), "1+2="); }),
                     h.UntilAux("converting"), h.UntilAux("does not answer"), h.Type("3"),
                     h.Press("BackSpace"), h.Pause(2.5), h.Do([&] { ::kill(server, SIGKILL); }),
                     h.Press("BackSpace"), h.Type("="), h.UntilCandidate("1+2= 3")},
                    60));
  fcitx::Log::setLogStream(std::cerr);
  const std::string logged = log.str();
  const std::size_t first = logged.find("does not answer");
  EXPECT_NE(first, std::string::npos) << logged;
  EXPECT_EQ(logged.find("does not answer", first + 1), std::string::npos) << logged;
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
