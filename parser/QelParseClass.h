// QelParseClass: the word model shared by the whole expression library.
//
// Every piece of an expression (number, name, operator, function, bracket, separator) is
// a word (TExprWord and its descendants). A compiled expression is a flat list of
// TExpressionRec nodes; each node's routine (TDoubleFunc) reads its arguments and writes
// its result through TValueRef records.
#pragma once

#include <cstdint>

#include "math/Math387.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::qel {

using Math387::TCplx;

// What a word yields, or what kind of punctuation it is.
enum TVariableType : uint8_t {
  vtDouble,
  vtBoolean,
  vtString,
  vtLeftBracket,
  vtRightBracket,
  vtComma,
  vtCplx,  // declared; no word of this system reports it
};

// The comparison performed by a TLogicalStringOper.
enum TOper : uint8_t { op_eq, op_gt, op_lt, op_ge, op_le, op_in };

// The uniform way to reach a value: look at IsCplx, then dereference exactly one pointer.
struct TValueRef {
  TCplx* Cplx;
  double* Real;
  bool IsCplx;
};

class TExprWord;
struct TExpressionRec;
using PExpressionRec = TExpressionRec*;

// A word's evaluation routine: reads Args, writes Res.
using TDoubleFunc = void (*)(PExpressionRec);

inline constexpr int kMaxArgs = 8;  // the hard limit on the arity of any word

// One node of a compiled expression. While the tree exists, Args holds child nodes
// (cast to TValueRef*); after linking, each slot points at the TValueRef of an argument
// (the child's Res, or a value word's own reference).
struct TExpressionRec {
  double RealValue;
  TCplx CplxValue;
  TDoubleFunc Oper;
  PExpressionRec Next;
  TValueRef Res;
  TExprWord* ExprWord;  // not owned
  TValueRef* Args[kMaxArgs];
};

// The expression engine's exception: every syntax and compile error.
class EParserException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

}  // namespace veskmath::qel
