// The key sequences every host of the plug-in must turn into the same commits, whatever the
// input-method framework: the Fcitx5 add-on's and the IBus engine's tests both run them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace veskmath::test_support {

struct TCommitCase {
  const char* Name;
  std::vector<const char*> Input;  // texts typed, or key names between < and >
  std::vector<std::string> Commits;
};

inline std::ostream& operator<<(std::ostream& out, const TCommitCase& c) { return out << c.Name; }

inline const std::vector<TCommitCase> kCommitCases = {
    {"Echo", {"1+2=", "<Return>"}, {"1+2= 3"}},
    // The width it was typed in first.
    {"FullWidth", {"１＋２＝", "<Return>"}, {"１＋２＝　３"}},
    {"EditInTheMiddle", {"1+3=", "<Left>", "<Left>", "<BackSpace>", "-", "<Return>"}, {"1-3= -2"}},
    {"HomeDeleteEnd", {"1+3", "<Home>", "<Delete>", "2", "<End>", "=", "<Return>"}, {"2+3= 5"}},
    {"Function", {"sin(pi/6)", "<KP_Enter>"}, {"0.5"}},
    {"BackSpaceEdits", {"1+3", "<BackSpace>", "2=", "<Return>"}, {"1+2= 3"}},
    {"EscapeCommitsNothing", {"1+2", "<Escape>"}, {}},
    {"BackSpaceOnEmptyLeaves", {"1", "<BackSpace>", "<BackSpace>"}, {}},
};

}  // namespace veskmath::test_support
