// qelcalc: the expression library's command-line calculator.
//
//   qelcalc [--optimize] [--cstyle] [--format=complex|double|bool|hex] [EXPR ...]
//
// One expression object serves the whole run, so definitions (x:=5) carry over to later
// expressions. Each EXPR, or without any each line of standard input, is added and
// evaluated; one output line per input: the result, or "error: " and the message. A line
// "exit" or "quit" ends the input, "help" prints what to type.
// Exit status: 0 when every input evaluated, 1 when any failed, 2 for a usage error or an
// unusable VESKMATH_ACP.
// Text is UTF-8 on both sides; inside, the library works in the system code page.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lineinput/LineInput.h"
#include "math/NumberText.h"
#include "parser/QelParseExpr.h"
#include "platform/win/CodePage.h"
#include "vocabulary/CStyleParser.h"

namespace {

using veskmath::qel::TQelExpression;

enum class Format { Complex, Double, Bool, Hex };

constexpr const char* kUsage =
    "usage: qelcalc [--optimize] [--cstyle] [--format=complex|double|bool|hex] [--] [EXPR ...]\n"
    "\n"
    "Evaluates each EXPR, or without any each line of standard input, with one expression\n"
    "object, so that definitions such as x:=5 are seen by later expressions. Prints one line\n"
    "per input: the result, or \"error: \" followed by the message. On standard input the\n"
    "line exit (or quit) ends the run and help says what to type.\n"
    "\n"
    "  --optimize        fold constant sub-expressions while compiling\n"
    "  --cstyle          C-style operators (&&, ||, !, ==, !=, % as remainder, = assigns)\n"
    "  --format=complex  the complex value, e.g. 3+4i (the default)\n"
    "  --format=double   the real value in the general number form\n"
    "  --format=bool     1 or 0 (the expression must be boolean)\n"
    "  --format=hex      the value rounded to an integer, in hexadecimal ($FF)\n"
    "  --                the arguments after it are expressions, even when they begin\n"
    "                    with \"--\"\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 when every input evaluated, 1 when any failed, 2 for a usage error or a\n"
    "VESKMATH_ACP that names no usable code page.\n";

constexpr const char* kSessionStart =
    "qelcalc: one expression per line; help for help; exit, quit or Ctrl-D to leave\n";
constexpr const char* kSessionHelp =
    "Type an expression and Enter: 2+3*4, sin(pi/6), (1+2i)*(1-2i), x:=5 then x*2.\n"
    "Operators + - * / ^ ! div mod, comparisons < <= = <> >= >; qelcalc --help lists the\n"
    "options. exit, quit or Ctrl-D leaves.\n";

std::unique_ptr<TQelExpression> MakeExpression(bool cstyle) {
  if (cstyle) return std::make_unique<veskmath::qel::TCStyleParser>();
  return std::make_unique<TQelExpression>();
}

namespace win = veskmath::win;

std::string Hex(std::u16string_view character) {
  const char32_t cp = character.size() == 2 ? 0x10000 + ((char32_t(character[0]) - 0xD800) << 10) +
                                                  (char32_t(character[1]) - 0xDC00)
                                            : character[0];
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
  return code;
}

// The user's characters and their bytes in the system code page, for giving a message's
// words back as they were typed.
struct TTypedChar {
  std::string ansi;
  std::string utf8;
};

std::vector<TTypedChar> TypedChars(std::u16string_view text) {
  std::vector<TTypedChar> chars;
  for (std::size_t i = 0; i < text.size();) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
    const std::u16string_view c = text.substr(i, pair ? 2 : 1);
    if (c[0] >= 0x80) chars.push_back({win::WideToAnsi(c), win::WideToUtf8(c)});
    i += c.size();
  }
  return chars;
}

// The engine's message in UTF-8. The lexer takes every byte from 128 up as a word of its
// own, so a message about such a word may quote one byte of a two-byte character: that
// byte is given back as the whole character the user typed ("\x82" of "１" -> "１"),
// never as a broken one.
std::string MessageToUtf8(const std::string& message, std::u16string_view typed) {
  std::string out;
  std::vector<TTypedChar> chars;
  for (std::size_t i = 0; i < message.size();) {
    std::size_t end = i;
    const bool high = static_cast<unsigned char>(message[i]) >= 0x80;
    while (end < message.size() && (static_cast<unsigned char>(message[end]) >= 0x80) == high) {
      ++end;
    }
    const std::string run = message.substr(i, end - i);
    i = end;
    if (!high || win::AnsiToWide(run).find(u'\uFFFD') == std::u16string::npos) {
      out += win::AnsiToUtf8(run);
      continue;
    }
    if (chars.empty()) chars = TypedChars(typed);
    const TTypedChar* source = nullptr;
    for (const TTypedChar& c : chars) {
      if (c.ansi.find(run) != std::string::npos) {
        source = &c;
        break;
      }
    }
    if (source != nullptr) {
      out += source->utf8;
    } else {
      for (const char byte : run) {  // not from the user's text: the bytes, readably
        char code[8];
        std::snprintf(code, sizeof code, "<%02X>", static_cast<unsigned char>(byte));
        out += code;
      }
    }
  }
  return out;
}

std::string Hint(std::string_view message, std::u16string_view typed);

// Compiles and evaluates one input; answers the output line and whether it succeeded.
bool Run(TQelExpression& expr, const std::string& text, Format format, std::string& out) {
  namespace m = veskmath::Math387;
  const std::u16string typed = win::Utf8ToWide(text);
  // A character the system code page has no form for would reach the engine as "?", so
  // 'é'='è' would compare "?" with "?": such a text is refused instead.
  const std::u16string missing = win::FirstUnrepresentable(typed);
  if (!missing.empty()) {
    out = "error: the character \"" + win::WideToUtf8(missing) + "\" (" + Hex(missing) +
          ") has no form in the system code page " + win::AnsiCodePageName();
    return false;
  }
  try {
    expr.Add(win::WideToAnsi(typed));
    switch (format) {
      case Format::Complex:
        out = m::CplxToStr(expr.EvaluateCplx(), 0);
        break;
      case Format::Double:
        out = m::SampleToStr(expr.Evaluate(), 0);
        break;
      case Format::Bool:
        out.assign(1, expr.EvaluateBool() ? '1' : '0');
        break;
      case Format::Hex:
        out = expr.EvaluateHex();
        break;
    }
    return true;
  } catch (const std::exception& e) {
    // Messages quote the offending word, which may hold system code-page bytes.
    out = "error: ";
    out += MessageToUtf8(e.what(), typed);
    out += Hint(e.what(), typed);
    return false;
  }
}

// What to write instead, after the engine's messages that say only what it found.
std::string Hint(std::string_view message, std::u16string_view typed) {
  if (!message.ends_with(veskmath::qel::msg::kTwoValues)) return {};
  for (const char16_t c : typed)
    if (c >= 0x80) {
      return "; names and operators are ASCII here: write pi for π, sqrt(4) for √4, 1+2 for "
             "１＋２, 2*3 for 2×3";
    }
  return "; an operator is expected between two values: write 2*pi, not 2pi, and x*y, not x y";
}

}  // namespace

int main(int argc, char** argv) {
  bool optimize = false;
  bool cstyle = false;
  Format format = Format::Complex;
  std::vector<std::string> exprs;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsDone && arg.size() > 1 && arg.substr(0, 2) == "--") {
      if (arg == "--") {
        optionsDone = true;
      } else if (arg == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (arg == "--version") {
        std::printf("qelcalc (VeskMath) %s\n", VESKMATH_VERSION);
        return 0;
      } else if (arg == "--optimize") {
        optimize = true;
      } else if (arg == "--cstyle") {
        cstyle = true;
      } else if (arg == "--format=complex") {
        format = Format::Complex;
      } else if (arg == "--format=double") {
        format = Format::Double;
      } else if (arg == "--format=bool") {
        format = Format::Bool;
      } else if (arg == "--format=hex") {
        format = Format::Hex;
      } else {
        std::fprintf(stderr, "qelcalc: unknown option %s\n\n%s", argv[i], kUsage);
        return 2;
      }
    } else {
      // Expressions such as "-2^2" begin with "-": only "--" options are options.
      exprs.emplace_back(arg);
    }
  }

  // An unusable code page would turn the texts into something else without a word.
  if (const std::string problem = win::AnsiCodePageProblem(); !problem.empty()) {
    std::fprintf(stderr, "qelcalc: %s\n", problem.c_str());
    return 2;
  }

  std::unique_ptr<TQelExpression> expr = MakeExpression(cstyle);
  expr->Optimize = optimize;

  bool allOk = true;
  std::string out;
  std::string buffer;
  auto emit = [&](const std::string& text) {
    allOk = Run(*expr, text, format, out) && allOk;
    buffer.append(out).push_back('\n');
    if (buffer.size() >= 1 << 16) {
      std::fwrite(buffer.data(), 1, buffer.size(), stdout);
      buffer.clear();
    }
  };
  // Lines of standard input: "exit" or "quit" ends them, "help" says what to type.
  using veskmath::lineinput::SessionWord;
  using veskmath::lineinput::TSessionWord;
  auto session = [&](const std::string& line) {
    const TSessionWord word = SessionWord(line, true);
    if (word == TSessionWord::Help) buffer += kSessionHelp;
    if (word == TSessionWord::None) emit(line);
    return word != TSessionWord::Leave;
  };
  if (!exprs.empty()) {
    for (const std::string& text : exprs) emit(text);
  } else if (isatty(STDIN_FILENO)) {
    // A person at a terminal: a prompt, each answer at once, line editing and the
    // session's history.
    std::fputs(kSessionStart, stderr);
    std::string line;
    while (veskmath::lineinput::ReadLine("qelcalc> ", line) && session(line)) {
      std::fwrite(buffer.data(), 1, buffer.size(), stdout);
      std::fflush(stdout);
      buffer.clear();
    }
  } else {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF input
      if (!session(line)) break;
    }
  }
  std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  std::fflush(stdout);
  return allOk ? 0 : 1;
}
