// QelParseClass: the word model shared by the whole expression library.
//
// Every piece of an expression (number, name, operator, function, bracket, separator) is
// a word (TExprWord and its descendants). A compiled expression is a flat list of
// TExpressionRec nodes; each node's routine (TDoubleFunc) reads its arguments and writes
// its result through TValueRef records.
//
// Also here: the two word containers (TExpressList, the sorted owning dictionary of every
// known word; TExprCollection, the non-owning word sequence of one expression while it is
// compiled), and every compile-time message text of the engine (namespace msg), raised
// through RaiseParserError / RaiseWordError only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "math/Math387.h"
#include "parser/QelParseObjects.h"
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
  vtCplx,  // declared for callers; no built-in word reports it
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

// What a word's routine computes when every operand is real and its result is real too: lets
// the compile choose a routine without kind tests (the real program, QelParseExpr.h). A word
// whose routine may make a complex value of real operands, may raise, or has side effects
// answers None.
enum class TRealOp : uint8_t {
  None,
  Add,
  Sub,
  Mul,
  Div,  // (long double)a op b, rounded
  Neg,
  Same,
  Percent,  // -a; a; a * 0.01L
  Gt,
  Ge,
  Le,
  Lt,
  Ne,
  Eq,  // the NaN rule's comparisons, 1 or 0
  Func1,
  Func2,     // F1(a), F2(a, b)
  IntPower,  // a^n, n the exponent rounded (NaN exponent: NaN)
};
// How many times a value word began to hold a complex value (an assignment of a complex
// value to a word that held a real one: the one way a word's kind changes). A real program
// whose guard held at one count still holds while the count stays (QelParseExpr.h).
inline std::atomic<uint64_t> gKindChanges{0};
inline uint64_t KindChanges() { return gKindChanges.load(std::memory_order_relaxed); }
inline void NoteKindChange() { gKindChanges.fetch_add(1, std::memory_order_relaxed); }

struct TRealForm {
  TRealOp Op = TRealOp::None;
  double (*F1)(double) = nullptr;
  double (*F2)(double, double) = nullptr;
};

// One node of a compiled expression's evaluation list (the tree a compile builds first has
// a type of its own). Each argument slot points at the TValueRef of an argument: another
// node's Res, or a value word's own reference.
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

// Every compile-time message of the engine. A message about one word is the word's name
// followed by one of the suffixes (each begins with a blank).
namespace msg {
// fixed texts
inline constexpr std::string_view kTooManyArguments = "Too many arguments";
inline constexpr std::string_view kUnequalBrackets = "Unequal brackets";
inline constexpr std::string_view kEmptyBrackets = "Empty brackets ()";
inline constexpr std::string_view kMissingBetweenBrackets = "Missing operand between )(";
inline constexpr std::string_view kMissingAfterBracket =
    "Missing operand between ) and constant/variable";
inline constexpr std::string_view kMissingBeforeBracket =
    "Missing operand between constant/variable and (";
inline constexpr std::string_view kSyntaxErrorIn = "Syntax error in expression ";  // + text
inline constexpr std::string_view kTooFewArguments =
    "Syntax error: function or operand has too few arguments";
inline constexpr std::string_view kNotBoolean = "Expression is not boolean";
inline constexpr std::string_view kNoExpression = "No expression found!";  // general exception
inline constexpr std::string_view kEmptyExpression = "Syntax error: empty expression";
inline constexpr std::string_view kEmptyArgument = "Syntax error: empty argument";
inline constexpr std::string_view kTooLong = "Syntax error: expression too long";
inline constexpr std::string_view kBadStreamLength = "Invalid expression text length in stream";
// suffixes after a word's name
inline constexpr std::string_view kNotValidStringOperand = " is not a valid string operand";
inline constexpr std::string_view kTwoValues = " two space limited variables/constants";
inline constexpr std::string_view kUnknownFunction = " is an unknown function";
inline constexpr std::string_view kStringWithoutComparison =
    " is a string: strings can only be compared with strings";
inline constexpr std::string_view kNeedsBrackets = " needs its arguments in brackets";
inline constexpr std::string_view kOperandBeforeFunction =
    " follows an operand without an operator between them";
inline constexpr std::string_view kTooManyArgumentsFor = " has too many arguments";
inline constexpr std::string_view kOneOperandOnly = " takes one operand only";
inline constexpr std::string_view kOperandAfterFunction =
    " is followed by an operand without an operator between them";
}  // namespace msg

[[noreturn]] void RaiseParserError(std::string_view message);
// name + suffix, by plain concatenation.
std::string WordMessage(std::string_view name, std::string_view suffix);
[[noreturn]] void RaiseWordError(std::string_view name, std::string_view suffix);

// --- words --------------------------------------------------------------------------------

// The routine of every value word's node: copies the value that Args[0] refers to into Res.
void _Variable(PExpressionRec rec);
// The routine of a string comparison's node: 1 or 0, real.
void _LogString(PExpressionRec rec);

// Base of all words. The name is stored lower-cased (ASCII A-Z only). The six virtual
// questions tell the checker and the tree builder what the word is; GetOperPrec (an
// addition to them) answers the precedence of operators so that the tree builder needs no
// down-cast.
class TExprWord : public TObject {
 public:
  TExprWord(std::string_view name, TDoubleFunc doubleFunc);
  ~TExprWord() override;

  // Words alive in the whole process: shows that what compiling makes goes again.
  static int64_t LiveCount();

  const std::string& Name() const { return FName; }
  // The name's first eight bytes as the dictionary orders them (TExpressList::Search).
  uint64_t SortPrefix() const { return FSortPrefix; }
  TDoubleFunc DoubleFunc() const { return FDoubleFunc; }
  // True for every word that stands for a stored value (constants, variables, strings).
  bool GetIsVariable() const { return FDoubleFunc == _Variable; }

  virtual bool GetIsOper() const { return false; }
  virtual std::string GetAsString() const { return {}; }
  virtual bool GetCanVary() const { return false; }
  virtual TVariableType GetVarType() const { return vtDouble; }
  virtual int32_t GetNFunctionArg() const { return 0; }
  virtual TValueRef* AsPointer() { return nullptr; }
  virtual int32_t GetOperPrec() const { return 0; }

  // What the engine must know of a few words, told by the word itself rather than by its
  // routine: the logical not (a sign after it stays a sign: "not -3"), and a routine
  // specialised for a fixed whole exponent (the integer power: "x^2").
  virtual bool GetIsLogicalNot() const { return false; }
  using TFixedExponentForm = TDoubleFunc (*)(double exponent);
  virtual TFixedExponentForm GetFixedExponentForm() const { return nullptr; }
  virtual TRealForm GetRealForm() const { return {}; }

  // A word of a shared table (TWordTable): no dictionary frees it, and a value word is
  // copied into an object's own dictionary before anything can write to it.
  bool Shared() const { return FShared; }
  // An own copy of a shared value word, or nil for a word that needs none.
  virtual std::unique_ptr<TExprWord> Clone() const { return nullptr; }

 protected:
  std::string FName;
  TDoubleFunc FDoubleFunc;

 private:
  friend class TWordTable;
  uint64_t FSortPrefix = 0;
  bool FShared = false;
};

// A numeric constant: literals, named constants, folded sub-expressions. Its value lives
// in the word; IsCplx is true exactly when the imaginary part compares unequal to 0 (a
// NaN imaginary part counts as real).
class TDoubleConstant : public TExprWord {
 public:
  // Text form: the value is read with StrToCplx; an empty text gives CNAN / NaN.
  TDoubleConstant(std::string_view name, std::string_view valueText);
  TDoubleConstant(std::string_view name, double x);
  TDoubleConstant(std::string_view name, const TCplx& c);

  TValueRef* AsPointer() override { return &FValueRef; }
  std::unique_ptr<TExprWord> Clone() const override;

 protected:
  double FValue;
  TCplx FCplxValue;
  TValueRef FValueRef;

 private:
  void SetConstantFlag();
};

class TBooleanConstant : public TDoubleConstant {
 public:
  using TDoubleConstant::TDoubleConstant;
  TVariableType GetVarType() const override { return vtBoolean; }
  std::unique_ptr<TExprWord> Clone() const override;
};

// An unknown name met by the lexer: registered on the spot, NaN until assigned.
class TGeneratedVariable : public TDoubleConstant {
 public:
  explicit TGeneratedVariable(std::string_view name);

  std::string GetAsString() const override { return FAsString; }
  bool GetCanVary() const override { return true; }
  TVariableType GetVarType() const override { return FVarType; }

 protected:
  std::string FAsString;
  TVariableType FVarType = vtDouble;
};

// A variable bound to the caller's storage (real or complex form). The caller's storage
// must outlive every evaluation that uses the word.
//
// An assignment ("y:=5") writes the value through the word's reference. A value of the
// caller's kind goes into the caller's storage; a value of the other kind ("y:=2i" to a real
// variable) goes into storage of the word's own, which the otherwise unused pointer
// (Cplx in the real form, Real in the complex form) refers to, and the word reads it from
// there until a value of the caller's kind is assigned again.
class TDoubleVariable : public TExprWord {
 public:
  TDoubleVariable(std::string_view name, double* value);
  TDoubleVariable(std::string_view name, TCplx* value);

  bool GetCanVary() const override { return true; }
  TValueRef* AsPointer() override { return &FValueRef; }

 protected:
  TValueRef FValueRef;

 private:
  double FOwnReal = 0.0;
  TCplx FOwnCplx{0.0, 0.0};
};

// A string literal: 'abc' holds abc (quotes removed when both are present).
class TStringConstant : public TExprWord {
 public:
  explicit TStringConstant(std::string_view text);

  std::string GetAsString() const override { return FValue; }
  TVariableType GetVarType() const override { return vtString; }

 protected:
  std::string FValue;
};

// A string bound to the caller's string; enclosing single quotes are removed when read.
class TStringVariable : public TExprWord {
 public:
  TStringVariable(std::string_view name, std::string* value);

  std::string GetAsString() const override;
  bool GetCanVary() const override { return true; }
  TVariableType GetVarType() const override { return vtString; }

 protected:
  std::string* FStrRef;
};

class TLeftBracket : public TExprWord {
 public:
  explicit TLeftBracket(std::string_view name) : TExprWord(name, nullptr) {}
  TVariableType GetVarType() const override { return vtLeftBracket; }
};

class TRightBracket : public TExprWord {
 public:
  explicit TRightBracket(std::string_view name) : TExprWord(name, nullptr) {}
  TVariableType GetVarType() const override { return vtRightBracket; }
};

class TComma : public TExprWord {
 public:
  explicit TComma(std::string_view name) : TExprWord(name, nullptr) {}
  TVariableType GetVarType() const override { return vtComma; }
};

// A function or operator with a fixed number of arguments (at most kMaxArgs). A smaller
// precedence number binds more tightly; plain functions have 0.
class TFunction : public TExprWord {
 public:
  TFunction(std::string_view name, TDoubleFunc doubleFunc, int32_t nFunctionArg);
  TFunction(std::string_view name, TDoubleFunc doubleFunc, int32_t nFunctionArg, bool isOper,
            int32_t operPrec);

  bool GetIsOper() const override { return FIsOper; }
  int32_t GetNFunctionArg() const override { return FNFunctionArg; }
  int32_t GetOperPrec() const override { return FOperPrec; }
  bool GetIsLogicalNot() const override { return FIsLogicalNot; }
  TFixedExponentForm GetFixedExponentForm() const override { return FFixedExponentForm; }
  TRealForm GetRealForm() const override { return FRealForm != nullptr ? *FRealForm : TRealForm{}; }
  // Set by whoever makes the word (a vocabulary), before it is registered.
  void SetIsLogicalNot(bool value) { FIsLogicalNot = value; }
  void SetFixedExponentForm(TFixedExponentForm form) { FFixedExponentForm = form; }
  // form must outlive the word (a vocabulary's static table).
  void SetRealForm(const TRealForm* form) { FRealForm = form; }

 protected:
  bool FIsOper;
  int32_t FOperPrec;
  int32_t FNFunctionArg;
  bool FIsLogicalNot = false;
  TFixedExponentForm FFixedExponentForm = nullptr;
  const TRealForm* FRealForm = nullptr;  // not owned: words stay small
};

// A function whose value may change between evaluations: never folded.
class TVaryingFunction : public TFunction {
 public:
  using TFunction::TFunction;
  bool GetCanVary() const override { return true; }
};

class TBooleanFunction : public TFunction {
 public:
  using TFunction::TFunction;
  TVariableType GetVarType() const override { return vtBoolean; }
};

// A comparison of two string words ("=", ">", "<", ">=", "<=", "in"), made by the checker.
// Bytes compare as unsigned characters, case-sensitively; "in" tests membership in a list
// separated by ",". The operands are not owned.
class TLogicalStringOper : public TExprWord {
 public:
  TLogicalStringOper(std::string_view operName, TExprWord* left, TExprWord* right);

  bool GetCanVary() const override { return FLeft->GetCanVary() || FRight->GetCanVary(); }
  TVariableType GetVarType() const override { return vtBoolean; }
  bool Evaluate() const;

 protected:
  TOper FOper;
  TExprWord* FLeft;
  TExprWord* FRight;
};

// --- word containers ----------------------------------------------------------------------

// The sorted, owning dictionary of every word an expression object knows, keyed by name
// without regard to ASCII letter case (a-z fold to A-Z, so "_x" sorts after "zz").
//
// It may also list the words of a shared table (TWordTable): those are never freed here;
// every way out of the list (AtFree, DoFree, FreeAll, destruction) just drops them.
class TExpressList : public TSortedCollection {
 public:
  using TSortedCollection::TSortedCollection;
  ~TExpressList() override;

  int32_t Compare(const void* key1, const void* key2) const final;
  const void* KeyOf(void* item) const final;
  // The same bisection as the base class, without a virtual call per step.
  bool Search(const void* key, int32_t& index) const override;
  void FreeItem(void* item) override;

  TExprWord* Word(int32_t index) const { return static_cast<TExprWord*>(Get(index)); }
  // The word of that name (any case), or nil.
  TExprWord* Find(std::string_view name) const;
  // The case-insensitive order of the list, on NUL-terminated names.
  static int32_t CompareNames(const char* name1, const char* name2);
};

// An immutable table of words made once and shared by every expression object of the
// process (the built-in vocabulary). Its words are sorted as a dictionary sorts them; of
// two words of one name (any case) the one given first stays, as a dictionary's Add would
// keep it. Safe to read from any number of threads once made.
class TWordTable {
 public:
  explicit TWordTable(std::vector<std::unique_ptr<TExprWord>> words);
  TWordTable(const TWordTable&) = delete;
  TWordTable& operator=(const TWordTable&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FSorted.size()); }
  TExprWord* const* Words() const { return FSorted.data(); }

 private:
  std::vector<std::unique_ptr<TExprWord>> FOwned;
  std::vector<TExprWord*> FSorted;
};

// The words of one expression (or part of one) while it is compiled. Owns nothing.
class TExprCollection : public TNoOwnerCollection {
 public:
  using TNoOwnerCollection::TNoOwnerCollection;

  TExprWord* Word(int32_t index) const { return static_cast<TExprWord*>(At(index)); }
  // Raises "Unequal brackets" when "(" and ")" do not occur equally often.
  void Check() const;
  // Drops brackets that enclose the whole sequence: ((a+b)) -> a+b; (a)+(b) stays.
  void EraseExtraBrackets();
  // The next word at or after start, outside all brackets, that takes arguments; Count()
  // when there is none.
  int32_t NextOper(int32_t start) const;
};

// A stretch [From, To) of a word list, viewed in place: the tree builder builds each
// sub-expression from its stretch of the one list instead of a copy.
struct TWordRange {
  const TExprCollection* Words;
  int32_t From;
  int32_t To;

  int32_t Count() const { return To - From; }
  TExprWord* Word(int32_t k) const { return Words->Word(From + k); }
  // As TExprCollection's: narrows the stretch instead of deleting the brackets.
  void EraseExtraBrackets();
  int32_t NextOper(int32_t start) const;
};

}  // namespace veskmath::qel
