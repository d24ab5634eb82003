// Line input: the editor when there is one and a person types, std::getline otherwise.
#include "lineinput/LineInput.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef VESKMATH_HAVE_READLINE
#include <dlfcn.h>
#endif

namespace veskmath::lineinput {

namespace {

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

#ifdef VESKMATH_HAVE_READLINE
// The line-editing library is loaded on first use, only when a person types at a terminal:
// linking it would cost every start of a program (scripts, pipes) the loading of the
// library and its terminal library.
struct TEditor {
  char* (*readline)(const char*) = nullptr;
  void (*add_history)(const char*) = nullptr;
};

const TEditor* Editor() {
  static const TEditor editor = [] {
    TEditor e;
    for (const char* name : {VESKMATH_READLINE_SONAMES}) {
      void* lib = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (lib == nullptr) continue;
      e.readline = reinterpret_cast<char* (*)(const char*)>(::dlsym(lib, "readline"));
      e.add_history = reinterpret_cast<void (*)(const char*)>(::dlsym(lib, "add_history"));
      if (e.readline != nullptr && e.add_history != nullptr) break;
      e = TEditor{};
    }
    return e;
  }();
  return editor.readline != nullptr ? &editor : nullptr;
}

bool EditedLine(const TEditor& editor, const std::string& prompt, std::string& out) {
  char* line = editor.readline(prompt.c_str());
  if (line == nullptr) {  // end of input (Ctrl-D on an empty line)
    out.clear();
    return false;
  }
  out.assign(line);
  std::free(line);
  // The previous line again would only lengthen the way back through the history.
  static std::string previous;
  if (!out.empty() && out != previous) {
    editor.add_history(out.c_str());
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
  return StdinIsTerminal() && ::isatty(STDOUT_FILENO) != 0 && Editor() != nullptr;
#else
  return false;
#endif
}

bool ReadLine(const std::string& prompt, std::string& out) {
#ifdef VESKMATH_HAVE_READLINE
  if (LineEditingActive()) return EditedLine(*Editor(), prompt, out);
#endif
  if (!prompt.empty() && StdinIsTerminal()) {
    // Through stdio, as the programs write their results: the two never interleave wrongly.
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
  }
  return ReadLine(std::cin, out);
}

TSessionWord SessionWord(std::string_view line, bool quitLeaves) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  if (line.ends_with("()")) line.remove_suffix(2);
  std::string word(line);
  std::transform(word.begin(), word.end(), word.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  if (word == "exit" || word == "bye" || (quitLeaves && word == "quit")) return TSessionWord::Leave;
  if (word == "help") return TSessionWord::Help;
  return TSessionWord::None;
}

}  // namespace veskmath::lineinput
