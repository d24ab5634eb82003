// Line input: the editor when there is one and a person types, std::getline otherwise.
#include "platform/rtl/LineInput.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef VESKMATH_HAVE_READLINE
#ifdef VESKMATH_READLINE_IS_EDITLINE
#include <editline/readline.h>
#else
#include <readline/history.h>
#include <readline/readline.h>
#endif
#endif

namespace veskmath::rtl {

namespace {

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

#ifdef VESKMATH_HAVE_READLINE
bool EditedLine(const std::string& prompt, std::string& out) {
  char* line = ::readline(prompt.c_str());
  if (line == nullptr) return false;  // end of input (Ctrl-D on an empty line)
  out.assign(line);
  std::free(line);
  // The previous line again would only lengthen the way back through the history.
  static std::string previous;
  if (!out.empty() && out != previous) {
    ::add_history(out.c_str());
    previous = out;
  }
  return true;
}
#endif

}  // namespace

bool ReadLine(std::istream& in, std::string& out) {
  if (!std::getline(in, out)) {
    out.clear();
    return false;
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();  // CR LF input
  return true;
}

bool LineEditingActive() {
#ifdef VESKMATH_HAVE_READLINE
  // With standard output sent elsewhere, the editor's echo would land in that file.
  return StdinIsTerminal() && ::isatty(STDOUT_FILENO) != 0;
#else
  return false;
#endif
}

bool ReadLine(const std::string& prompt, std::string& out) {
#ifdef VESKMATH_HAVE_READLINE
  if (LineEditingActive()) return EditedLine(prompt, out);
#endif
  if (!prompt.empty() && StdinIsTerminal()) {
    // Through stdio, as the programs write their results: the two never interleave wrongly.
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
  }
  return ReadLine(std::cin, out);
}

}  // namespace veskmath::rtl
