// The benchmark's expression sets and the table of exact values that guards evaluation.
//
// A set file has one expression per line, "id;kind;text"; "#" starts a comment line.
// The value table records, for every expression, the bits of what today's evaluation answers
// under several variable assignments, so that a faster evaluation can be shown to answer the
// same bits. Shared by the table's generator (bench/EvalValues.cpp) and its test.
#pragma once

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "parser/QelParseExpr.h"

namespace veskmath::bench {

struct Case {
  std::string id, kind, text;
};

// Answers false when the file cannot be read.
inline bool LoadSet(const std::string& path, std::vector<Case>& cases) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Case c;
    std::getline(fields, c.id, ';');
    std::getline(fields, c.kind, ';');
    std::getline(fields, c.text);
    cases.push_back(c);
  }
  return true;
}

// One value of each of the six variables a b c x y z. A real assignment has no imaginary
// parts.
struct Assignment {
  bool complex;
  Math387::TCplx v[6];
};

inline constexpr const char* kVarNames[6] = {"a", "b", "c", "x", "y", "z"};

// Ordinary values (the benchmark's own first), then signs, zeros and extremes, alternating
// real and complex so that a generated variable changes kind between evaluations.
inline const std::vector<Assignment>& Assignments() {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  static const std::vector<Assignment> all = {
      {false, {{1.5, 0}, {2.25, 0}, {-0.75, 0}, {0.6, 0}, {1.3, 0}, {-2.2, 0}}},
      {true, {{1, 2}, {-0.5, 0.25}, {3, 0}, {0.3, -0.7}, {2, 0}, {-1, 1}}},
      {false, {{-3, 0}, {0.5, 0}, {4, 0}, {-1.25, 0}, {0, 0}, {7, 0}}},
      {true, {{0, -2}, {1.5, 0}, {-0.75, 0.5}, {0.6, 1e-3}, {1.3, 0}, {-2.2, -1e-9}}},
      {false, {{1e300, 0}, {-1e-300, 0}, {-0.0, 0}, {inf, 0}, {nan, 0}, {-inf, 0}}},
  };
  return all;
}

// How the variables reach the expression.
enum class Binding {
  Real,       // caller doubles (real assignments only)
  Complex,    // caller complex values (every assignment; a real one has imaginary part 0)
  Generated,  // generated variables set by "a:=..." between evaluations, the expression
              // compiled once before the first: their kind changes at run time
};
inline constexpr Binding kBindings[] = {Binding::Real, Binding::Complex, Binding::Generated};
inline const char* BindingName(Binding b) {
  return b == Binding::Real ? "real" : b == Binding::Complex ? "cplx" : "gen";
}

// Bits of a result: "RE:IM" as 16 hex digits each, or "!" and the error message with blanks
// written as "_".
inline std::string Bits(const Math387::TCplx& z) {
  uint64_t re, im;
  std::memcpy(&re, &z.Re, sizeof re);
  std::memcpy(&im, &z.Im, sizeof im);
  char text[40];
  std::snprintf(text, sizeof text, "%016" PRIx64 ":%016" PRIx64, re, im);
  return text;
}
inline std::string ErrorBits(const char* message) {
  std::string s = std::string("!") + message;
  for (char& ch : s)
    if (ch == ' ') ch = '_';
  return s;
}

// Compiles the text once and evaluates it under each assignment the binding takes; answers
// the results separated by blanks.
inline std::string ValueRow(const std::string& text, bool fold, Binding binding) {
  qel::TQelExpression e;
  e.Optimize = fold;
  e.SetMaxExpressions(64);
  double reals[6] = {};
  Math387::TCplx cplx[6] = {};
  double srcReal = 0;
  Math387::TCplx srcCplx{0, 0};
  int32_t setReal[6] = {}, setCplx[6] = {};
  for (int k = 0; k < 6; ++k) {
    if (binding == Binding::Real) e.DefineVariable(kVarNames[k], &reals[k]);
    if (binding == Binding::Complex) e.DefineVariableCplx(kVarNames[k], &cplx[k]);
  }
  std::string row;
  int32_t index;
  try {
    index = e.Add(text);
    if (binding == Binding::Generated) {
      e.DefineVariable("vreal", &srcReal);
      e.DefineVariableCplx("vcplx", &srcCplx);
      for (int k = 0; k < 6; ++k) {
        setReal[k] = e.Add(std::string(kVarNames[k]) + ":=vreal");
        setCplx[k] = e.Add(std::string(kVarNames[k]) + ":=vcplx");
      }
    }
  } catch (const std::exception& ex) {
    return ErrorBits(ex.what());
  }
  for (const Assignment& as : Assignments()) {
    if (binding == Binding::Real && as.complex) continue;
    if (!row.empty()) row += ' ';
    try {
      for (int k = 0; k < 6; ++k) {
        reals[k] = as.v[k].Re;
        cplx[k] = as.v[k];
        if (binding == Binding::Generated) {
          srcReal = as.v[k].Re;
          srcCplx = as.v[k];
          e.EvaluateCplx(as.complex ? setCplx[k] : setReal[k]);
        }
      }
      row += Bits(e.EvaluateCplx(index));
    } catch (const std::exception& ex) {
      row += ErrorBits(ex.what());
    }
  }
  return row;
}

// One line of the table: "id;fold;binding;results;text".
inline std::string TableLine(const Case& c, bool fold, Binding binding) {
  return c.id + ";" + (fold ? "1" : "0") + ";" + BindingName(binding) + ";" +
         ValueRow(c.text, fold, binding) + ";" + c.text;
}

}  // namespace veskmath::bench
