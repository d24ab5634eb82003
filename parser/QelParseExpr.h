// QelParseExpr: the expression object. A list of expression texts, each compiled when it is
// added, with one of them current; a dictionary of known words (the built-in vocabulary,
// the caller's variables and functions, the generated variables); evaluation of the current
// expression as a real, complex, boolean or hexadecimal result.
//
// Compiling runs four phases, one file each: Lexer.cpp (ParseString), SyntaxCheck.cpp
// (Check), TreeBuild.cpp (MakeTree, folding, linking) and Expression.cpp (this object's
// list and evaluation operations). The engine knows no vocabulary of its own: a vocabulary
// library registers one with RegisterDefaultVocabulary, and FillExpressList applies it.
//
// Construction in two phases: C++ constructors do not dispatch virtual calls to overrides,
// so every class that can be instantiated fills its vocabulary in its own public
// constructor, after building its base with the protected constructor that does not fill:
//
//   class TMyParser : public TQelExpression {
//    public:
//     TMyParser() : TQelExpression(TNoFill{}) { FillExpressList(); }  // runs the override
//    protected:
//     void FillExpressList() override { TQelExpression::FillExpressList(); ReplaceSymbol(...); }
//   };
//
// Ownership: each compiled expression owns its evaluation list and every word its compile
// made (literals, string literals, string comparisons, folded constants); they go when the
// expression goes (MaxExpressions, Delete, Put, Clear, destruction). The dictionary holds
// only words that live on: the vocabulary, defined words and generated variables.
//
// The string list is a private base: every list operation offered here keeps a line's text,
// its compiled list and the current index in agreement, so the text at an index always
// evaluates as that text. Operations that could break this (replacing a line's object,
// sorting the list as it grows) are not offered.
//
// Threads: an object, with its words, compiled lists, real programs and the storage bound to
// it, is used by one thread at a time (moving it between threads needs the caller's own
// synchronisation); evaluation writes into the object, so even Evaluate() on one object from
// two threads at once is not allowed. Distinct objects may be made, used and destroyed on
// different threads at once. All they share: the built-in word table with its real forms
// (made once, on first use, and never written after; a named constant is copied into the
// object before it can be assigned), the seed of "random" (taken atomically: one sequence
// for the process), and the count of kind changes (atomic: a word of any object that begins
// to hold a complex value makes every real program look at its guard again once, at its next
// evaluation). Not to be done while other threads use the library: RegisterDefaultVocabulary,
// rtl::SetDecimalSeparator. Words and storage that a caller binds into several objects are
// the caller's to protect. Threads started after the numeric library's start-up inherit its
// floating-point control word.
//
// Assignment (":=") copies the assigned value into the left word's own storage (or the
// caller's storage it is bound to), so dropping the expression that assigned never leaves
// a word referring to released memory.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/QelParseClass.h"
#include "platform/rtl/StringList.h"

namespace veskmath::rtl {
class TStream;
}

namespace veskmath::qel {

// Most words one expression text may compile to. Every compile phase after the checker
// walks the tree recursively, one call per level, and a tree can be as deep as its text has
// words ("sin(sin(...(1)...))", "1+1+...+1"); a longer text is refused with "Syntax error:
// expression too long" before it could run the stack out.
inline constexpr int32_t kMaxExpressionWords = 10000;

class TQelExpression1;

// The real program of a compiled expression (parser/RealProgram.h, internal): its list once
// more, compiled for the usual case that every value it reads is real, with routines chosen
// when it is made. It answers the bits the list answers and runs while no value it reads holds
// a complex number; otherwise the list runs. Callers see it only through these incomplete types.
struct TRealProgram;
struct TRealNode;

// Fills a new expression object's dictionary, through its public operations (UseWords,
// DefineWord).
using TVocabularyFill = void (*)(TQelExpression1& expression);
// The vocabulary FillExpressList applies. The vocabulary library registers the built-in one
// while the program starts, so objects made before that (by other static initialisers)
// start without it.
void RegisterDefaultVocabulary(TVocabularyFill fill);

class TQelExpression1 : private rtl::TStringList {
 public:
  TQelExpression1();
  ~TQelExpression1() override;

  // The string list operations that keep text and compiled list together.
  using TStringList::BeginUpdate;
  using TStringList::CaseSensitive;
  using TStringList::CompareStrings;
  using TStringList::Count;
  using TStringList::EndUpdate;
  using TStringList::Get;
  using TStringList::GetText;
  using TStringList::IndexOf;
  using TStringList::LoadFromFile;
  using TStringList::OnChange;
  using TStringList::OnChanging;
  using TStringList::SaveToFile;
  using TStringList::SetCaseSensitive;
  using TStringList::SetText;  // Clear, then Add of every line
  using TStringList::Sorted;
  using TStringList::TNotifyEvent;
  using TStringList::UpdateCount;

  // Published properties.
  bool Optimize = false;  // fold constant sub-expressions while compiling
  char HexChar = '$';     // prefix of hexadecimal literals and of EvaluateHex results
  char GetSeparator() const { return FSeparator; }
  // Only stores the character: the separator word keeps the one chosen at construction.
  void SetSeparator(char separator) { FSeparator = separator; }
  int32_t GetMaxExpressions() const { return FMaxExpressions; }
  // Takes effect at the next Add.
  void SetMaxExpressions(int32_t value) { FMaxExpressions = value; }

  // Compiles text and appends it as the current expression; beyond MaxExpressions the
  // oldest is dropped (under a limit below 1 the new one itself: -1, nothing current). An
  // empty text compiles nothing and answers -1, leaving the previous list in place for
  // evaluation.
  int32_t Add(const std::string& text) override;
  // Lines added by the string list's own operations (Assign, AddStrings) are compiled; their
  // objects are ignored, since a line's object is always its own compiled list.
  int32_t AddObject(const std::string& text, void* object) override;
  // Compiles and appends without the MaxExpressions rule; answers the index.
  int32_t CompileExpression(const std::string& text);
  void Insert(int32_t index, const std::string& text) override;
  void InsertObject(int32_t index, const std::string& text, void* object) override;
  void Delete(int32_t index) override;
  // Removes every expression and every compile-time word; the dictionary stays.
  void Clear() override;
  std::string GetString(int32_t index) const { return Get(index); }
  // Replaces the text at index and compiles it; an empty text changes nothing.
  void PutString(int32_t index, const std::string& text);
  void Put(int32_t index, const std::string& text) { PutString(index, text); }
  // Lines and their compiled lists move together; the current index stays where it was and
  // so names whatever expression now stands there.
  void Exchange(int32_t index1, int32_t index2);
  void Sort() override;
  // Clear, then compile every line of source (Add's MaxExpressions rule applies).
  void Assign(const rtl::TStringList& source) override;
  void Assign(const TQelExpression1& source);
  // Compiles every line of source, appended as by Add.
  void AddStrings(const rtl::TStringList& source);
  void AddStrings(const TQelExpression1& source);

  void SetExpressionIndex(int32_t index);
  int32_t GetExpressionIndex() const { return FExpressionIndex; }
  // Nodes of the current list that are not values; 0 without a current expression.
  int32_t ExpressionSize() const;

  // Inline: one call less per evaluation for the callers that evaluate in a loop. The current
  // real program's run and the count at which its guard last held are kept here, so that the
  // usual evaluation reads nothing but this object before the program's first node.
  // The rest is a call of its own, so that the inline part saves no register around it.
  double Evaluate() {
    if (FRun.HeldAt == KindChanges()) [[likely]]
      return FRun.Value();
    return EvaluateChecked();
  }
  TCplx EvaluateCplx() {
    if (FRun.HeldAt == KindChanges()) [[likely]]
      return TCplx{FRun.Value(), 0.0};
    const TValueRef* result = EvaluateGuarded();
    if (result == nullptr) return TCplx{FRun.Value(), 0.0};
    return result->IsCplx ? *result->Cplx : TCplx{*result->Real, 0.0};
  }
  bool EvaluateBool();
  std::string EvaluateHex();

  // Define operations: a name already registered (any case) keeps its word; the new one is
  // discarded without error. Bound storage stays the caller's and must outlive its use.
  void DefineVariable(std::string_view name, double* value);
  void DefineVariableCplx(std::string_view name, TCplx* value);
  void DefineStringVariable(std::string_view name, std::string* value);
  void DefineFunction(std::string_view name, TDoubleFunc func, int32_t nArgs);
  void DefineVaryingFunction(std::string_view name, TDoubleFunc func, int32_t nArgs);
  // UnDefine, ReplaceSymbol and CleanUpVariables free words that compiled expressions may
  // still refer to: Clear (or delete) those expressions before evaluating again.
  //
  // Frees the first word whose stored name equals name exactly (case-sensitive).
  bool UnDefine(std::string_view name);
  // Frees the word registered under name (any case), then registers word unless nil.
  // Answers whether word was taken (the list owns it from then on); a word refused because
  // its name is still taken stays the caller's.
  bool ReplaceSymbol(std::string_view name, TExprWord* word);
  // Frees every generated, bound and string variable.
  void CleanUpVariables();
  // Clears list, then appends every word of class exactly TGeneratedVariable, in name order.
  void GetGeneratedVars(rtl::TList& list) const;
  // The registered word at that position (name order). A shared value word is first copied
  // into this object's own dictionary, so writing through it changes this object only.
  TExprWord* Word(int32_t index) const;
  int32_t WordsCount() const { return FExpressList.Count(); }

  // Registration, for vocabularies. UseWords lists the words of a shared table (they stay
  // the table's): into an empty dictionary in one step, otherwise one by one, a name
  // already taken keeping its word. DefineWord registers a word the dictionary then owns,
  // freeing it at once when its name is taken.
  void UseWords(const TWordTable& table);
  void DefineWord(std::unique_ptr<TExprWord> word);

  // Layout: 32-bit little-endian byte length N, then N bytes: every text followed by CR LF.
  void LoadFromStream(rtl::TStream& stream) override;
  void SaveToStream(rtl::TStream& stream) override;

 protected:
  struct TNoFill {};
  // Builds the object without registering any word: for derived constructors (see above).
  explicit TQelExpression1(TNoFill);

  // Applies the registered default vocabulary (brackets, separator, constants, operators
  // and functions); a derived vocabulary overrides it.
  virtual void FillExpressList();

  // --- compile phases ---
  std::unique_ptr<TExprCollection> ParseString(const std::string& text);  // Lexer.cpp
  void Check(TExprCollection& words);                                     // SyntaxCheck.cpp
  void FinishCheck(TExprCollection& words);  // string comparisons, strings left over
  // TreeBuild.cpp. The tree of one compile has its own node type, owned from the root down;
  // linking turns it into the evaluation list, an array of TExpressionRec in post-order.
  struct TTreeNode {
    TExprWord* Word = nullptr;                              // not owned; a value word is a leaf
    std::array<std::unique_ptr<TTreeNode>, kMaxArgs> Args;  // in source order
    bool Varies = false;                                    // MarkVarying's answer, for FoldMarked
  };
  using PTreeNode = std::unique_ptr<TTreeNode>;
  // An evaluation list: its nodes in evaluation order, each linked to the next.
  struct TLinkedList {
    std::unique_ptr<TExpressionRec[]> Nodes;
    int32_t Count = 0;
    TRealProgram* Real = nullptr;  // with withReal: storage for a real program behind the list
  };
  PTreeNode MakeTree(std::unique_ptr<TExprCollection> words);
  PTreeNode BuildTree(const TExprCollection& words, int32_t from, int32_t to);
  bool CheckArguments(const TTreeNode& node) const;
  bool ResultCanVary(const TTreeNode& node) const;
  PTreeNode RemoveConstants(PTreeNode node);
  bool MarkVarying(TTreeNode& node);
  PTreeNode FoldMarked(PTreeNode node);
  // Evaluates a sub-tree once into FFoldReal or FFoldCplx; the tree goes.
  void EvaluateDisposeTree(PTreeNode node, bool& isBool, bool& isCplx);
  TLinkedList MakeLinkedList(const TTreeNode& root, bool withReal = false) const;
  TValueRef* LinkNode(const TTreeNode& node, TExpressionRec* nodes, int32_t& next) const;
  // The nodes a tree links to: every node within its parent's arity whose word is no value.
  static int32_t ListedNodes(const TTreeNode& node);
  // The value of a leaf that no evaluation can change, or nil.
  const TValueRef* FixedValue(const TTreeNode& node) const;
  static TValueRef* EvaluateList(PExpressionRec first) {
    if (first == nullptr) return nullptr;
    // A lone value ("2*3+4" folded, "x"): its own reference, the value the copy would hold.
    if (first->Oper == _Variable && first->Next == nullptr) return first->Args[0];
    PExpressionRec last = first;
    for (PExpressionRec rec = first; rec != nullptr; rec = rec->Next) {
      rec->Oper(rec);
      last = rec;
    }
    return &last->Res;
  }
  bool isBoolean() const { return IsBooleanList(FHead); }
  static bool IsBooleanList(PExpressionRec first);

  // What one compiled expression owns: its evaluation list and the words its compile
  // made. The string list's object slot of the expression's line holds it.
  struct TCompiled {
    std::unique_ptr<TExpressionRec[]> Nodes;
    int32_t Count = 0;
    TRealProgram* Real = nullptr;  // made at the second evaluation, in storage allocated with Nodes
    bool HasReal = false;
    bool Evaluated = false;  // once: the next evaluation makes the real program
    bool Promoted = false;   // the real program was made (or cannot be)
    std::vector<std::unique_ptr<TExprWord>> Words;
  };
  TCompiled* Compiled(int32_t index) const { return static_cast<TCompiled*>(GetObject(index)); }

  TExpressList FExpressList{200};
  // Words made by the compile under way; a successful compile hands them to its expression,
  // a failed one leaves them to be freed by the next compile (or Clear, or destruction).
  TOCollection FConstants{100};
  PExpressionRec FHead = nullptr;
  const TRealProgram* FReal = nullptr;  // the current expression's, beside FHead; may be nil
  // FReal's run: a lone value's storage ("x", a folded "2*3+4"), read without a call, or the
  // routine that answers the program's value and its node; and the KindChanges count at which
  // its guard held (never, without one).
  struct TRun {
    static constexpr uint64_t kNever = ~uint64_t{0};
    const double* Lone = nullptr;
    TRealNode* Node = nullptr;
    double (*Entry)(TRealNode& node) = nullptr;
    uint64_t HeldAt = kNever;
    double Value() const { return Lone != nullptr ? *Lone : Entry(*Node); }
  } FRun;
  double FFoldReal = 0.0;
  TCplx FFoldCplx{0.0, 0.0};
  int32_t FExpressionIndex = -1;

 private:
  // Nil when the real program's guard holds now (it is then run by the caller), otherwise
  // the list's result.
  TValueRef* EvaluateGuarded();
  double EvaluateChecked();  // Evaluate() once the guard is to be looked at again
  TValueRef* EvaluateCurrent() {
    if (FHead == nullptr) [[unlikely]]
      RaiseNoExpression();
    if (FWaiting != nullptr) [[unlikely]] {
      if (FWaiting->Evaluated)
        Promote();
      else
        FWaiting->Evaluated = true;
    }
    return EvaluateList(FHead);
  }
  // An expression evaluated once (a conversion, a one-off) never pays for a real program; the
  // second evaluation makes it, in storage allocated by the compile.
  void Promote();
  void SetCurrent(TCompiled* compiled);
  TCompiled* FWaiting = nullptr;  // the current expression, while its real program is not made
  [[noreturn]] static void RaiseNoExpression();
  bool InsertCompiled(int32_t index, const std::string& text, bool limit);
  // The word registered under name (any case), or nil; a shared value word becomes this
  // object's own copy first (an assignment writes its storage).
  TExprWord* Lookup(std::string_view name);
  TExprWord* OwnWord(int32_t index);
  // The compile's pending fault that must not pre-empt the checker's own messages (an operand
  // dropped by the tree builder, a function after an operand): raised after the argument
  // check. Empty when there is none.
  std::string FDeferredFault;
  // Text of the expression being compiled (lower-cased), for "Syntax error in expression".
  std::string FCompiling;

  char FSeparator;
  int32_t FMaxExpressions = 10;
};

// Adds evaluation by index. Its constructors live with the built-in vocabulary
// (vocabulary/Vocabulary.cpp): a program that makes an object links that file, and with it
// the vocabulary's registration, even from a static library linked the ordinary way.
class TQelExpression : public TQelExpression1 {
 public:
  TQelExpression();

  using TQelExpression1::Evaluate;
  using TQelExpression1::EvaluateBool;
  using TQelExpression1::EvaluateCplx;
  using TQelExpression1::EvaluateHex;
  double Evaluate(int32_t index);
  bool EvaluateBool(int32_t index);
  TCplx EvaluateCplx(int32_t index);
  std::string EvaluateHex(int32_t index);

 protected:
  explicit TQelExpression(TNoFill noFill);
};

}  // namespace veskmath::qel
