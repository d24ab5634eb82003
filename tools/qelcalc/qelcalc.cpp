// qelcalc: the expression library's command-line calculator.
//
//   qelcalc [--optimize] [--cstyle] [--format=complex|double|bool|hex] [EXPR ...]
//
// One expression object serves the whole run, so definitions (x:=5) carry over to later
// expressions. Each EXPR, or without any each line of standard input, is added and
// evaluated; one output line per input: the result, or "error: " and the message.
// Exit status: 0 when every input evaluated, 1 when any failed, 2 for a usage error.
// Text is UTF-8 on both sides; inside, the library works in the system code page.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "math/NumberText.h"
#include "parser/QelParseExpr.h"
#include "platform/win/CodePage.h"
#include "vocabulary/CStyleParser.h"
#ifdef VESKMATH_HAVE_LINEINPUT
#include "platform/rtl/LineInput.h"
#endif

namespace {

using veskmath::qel::TQelExpression;

enum class Format { Complex, Double, Bool, Hex };

constexpr const char* kUsage =
    "usage: qelcalc [--optimize] [--cstyle] [--format=complex|double|bool|hex] [EXPR ...]\n"
    "\n"
    "Evaluates each EXPR, or without any each line of standard input, with one expression\n"
    "object, so that definitions such as x:=5 are seen by later expressions. Prints one line\n"
    "per input: the result, or \"error: \" followed by the message.\n"
    "\n"
    "  --optimize        fold constant sub-expressions while compiling\n"
    "  --cstyle          C-style operators (&&, ||, !, ==, !=, % as remainder, = assigns)\n"
    "  --format=complex  the complex value, e.g. 3+4i (the default)\n"
    "  --format=double   the real value in the general number form\n"
    "  --format=bool     1 or 0 (the expression must be boolean)\n"
    "  --format=hex      the value rounded to an integer, in hexadecimal ($FF)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 when every input evaluated, 1 when any failed, 2 for a usage error.\n";

std::unique_ptr<TQelExpression> MakeExpression(bool cstyle) {
  if (cstyle) return std::make_unique<veskmath::qel::TCStyleParser>();
  return std::make_unique<TQelExpression>();
}

// Compiles and evaluates one input; answers the output line and whether it succeeded.
bool Run(TQelExpression& expr, const std::string& text, Format format, std::string& out) {
  namespace m = veskmath::Math387;
  try {
    expr.Add(veskmath::win::Utf8ToAnsi(text));
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
    out += veskmath::win::AnsiToUtf8(e.what());
    return false;
  }
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
  if (!exprs.empty()) {
    for (const std::string& text : exprs) emit(text);
  } else if (isatty(STDIN_FILENO)) {
    // A person at a terminal: a prompt, each answer at once, and (where the build has a
    // line-editing library) editing and the session's history.
    std::string line;
#ifdef VESKMATH_HAVE_LINEINPUT
    while (veskmath::rtl::ReadLine("qelcalc> ", line)) {
#else
    std::fputs("qelcalc> ", stdout);
    while (std::getline(std::cin, line)) {
#endif
      emit(line);
      std::fwrite(buffer.data(), 1, buffer.size(), stdout);
      std::fflush(stdout);
      buffer.clear();
#ifndef VESKMATH_HAVE_LINEINPUT
      std::fputs("qelcalc> ", stdout);
#endif
    }
  } else {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF input
      emit(line);
    }
  }
  std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  std::fflush(stdout);
  return allOk ? 0 : 1;
}
