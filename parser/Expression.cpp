// The expression object: its list of compiled expressions, the current one, evaluation,
// the define operations and the stream form.
#include <atomic>
#include <cmath>
#include <typeinfo>

#include "parser/QelParseExpr.h"
#include "parser/RealProgram.h"
#include "platform/rtl/ByteOrder.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/Streams.h"

namespace veskmath::qel {

namespace {
// Written once while the program starts, read by every construction (from any thread).
constinit std::atomic<TVocabularyFill> gDefaultVocabulary{nullptr};
}  // namespace

void RegisterDefaultVocabulary(TVocabularyFill fill) {
  gDefaultVocabulary.store(fill, std::memory_order_release);
}

void TQelExpression1::FillExpressList() {
  if (const TVocabularyFill fill = gDefaultVocabulary.load(std::memory_order_acquire)) fill(*this);
}

TQelExpression1::TQelExpression1(TNoFill)
    : FSeparator(rtl::DecimalSeparator() == ',' ? ';' : ',') {}

TQelExpression1::TQelExpression1() : TQelExpression1(TNoFill{}) { FillExpressList(); }

TQelExpression1::~TQelExpression1() { Clear(); }

// --- compiling ----------------------------------------------------------------------------

int32_t TQelExpression1::CompileExpression(const std::string& text) {
  FDeferredFault.clear();
  FConstants.FreeAll();  // a failed compile's words: nothing refers to them
  auto compiled = std::make_unique<TCompiled>();
  FCompiling.assign(text);  // lower-cased in place: the buffer of the last compile is reused
  for (char& c : FCompiling)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  std::unique_ptr<TExprCollection> words = ParseString(FCompiling);
  Check(*words);
  // "   ", "not not": nothing to compile
  if (words->Count() == 0) RaiseParserError(msg::kEmptyExpression);
  PTreeNode root = MakeTree(std::move(words));
  SetCurrent(nullptr);  // from here on a failure leaves no current list
  if (!CheckArguments(*root)) RaiseParserError(msg::kTooFewArguments);
  if (!FDeferredFault.empty()) RaiseParserError(FDeferredFault);
  if (Optimize) root = RemoveConstants(std::move(root));
  TLinkedList list = MakeLinkedList(*root, true);
  compiled->Nodes = std::move(list.Nodes);
  compiled->Count = list.Count;
  compiled->Real = list.Real;
  // The words this compile made go with its expression.
  compiled->Words.reserve(static_cast<std::size_t>(FConstants.Count()));
  for (int32_t i = 0; i < FConstants.Count(); ++i)
    compiled->Words.emplace_back(static_cast<TExprWord*>(FConstants.At(i)));
  FConstants.Clear();
  const int32_t index = TStringList::AddObject(text, compiled.get());
  SetCurrent(compiled.release());
  return index;
}

int32_t TQelExpression1::Add(const std::string& text) {
  if (text.empty()) {
    // Evaluation keeps using the previous list (the converter relies on this).
    FExpressionIndex = -1;
    return -1;
  }
  int32_t index = CompileExpression(text);
  // Beyond the limit the oldest goes. Under a limit below 1 that is the new expression
  // itself: nothing stays current and the answer is -1.
  if (Count() > FMaxExpressions) {
    TCompiled* const current = index > 0 ? Compiled(index) : nullptr;
    Delete(0);
    if (current != nullptr) SetCurrent(current);
    --index;
  }
  FExpressionIndex = index;
  return index;
}

int32_t TQelExpression1::AddObject(const std::string& text, void* /*object*/) { return Add(text); }

void TQelExpression1::Insert(int32_t index, const std::string& text) {
  InsertCompiled(index, text, true);
}

// Compiles text and moves it to index (from index on the others move up), as the current
// expression. With limit, Add's MaxExpressions rule applies first. Empty text: nothing.
bool TQelExpression1::InsertCompiled(int32_t index, const std::string& text, bool limit) {
  if (text.empty()) {
    if (limit) FExpressionIndex = -1;  // as Add does
    return false;
  }
  if (index < 0 || index > Count()) Error("List index out of bounds (%d)", index);
  const int32_t before = Count();
  const int32_t added = limit ? Add(text) : CompileExpression(text);
  if (added < 0) return false;  // the limit dropped the new expression at once
  // The oldest was dropped: what stood at index now stands one lower, and the new
  // expression goes in front of it.
  if (Count() == before && index > 0) --index;
  if (added != index) {
    const std::string line = Get(added);
    void* compiled = GetObject(added);
    TStringList::Delete(added);
    TStringList::InsertObject(index, line, compiled);
  }
  SetExpressionIndex(index);
  return true;
}

void TQelExpression1::InsertObject(int32_t index, const std::string& text, void* /*object*/) {
  Insert(index, text);
}

void TQelExpression1::Delete(int32_t index) {
  TCompiled* compiled = index >= 0 && index < Count() ? Compiled(index) : nullptr;
  TStringList::Delete(index);
  delete compiled;
  if (Count() == 0) {
    FExpressionIndex = -1;
    SetCurrent(nullptr);
  } else {
    SetExpressionIndex(FExpressionIndex < Count() - 1 ? FExpressionIndex : Count() - 1);
  }
}

void TQelExpression1::Clear() {
  for (int32_t i = Count() - 1; i >= 0; --i) Delete(i);
  SetCurrent(nullptr);
  FConstants.FreeAll();
}

// Replaces the text at index. The count does not grow, so the MaxExpressions rule does not
// apply: with it, a full list would drop its oldest expression and then delete the wrong
// neighbour. An empty text changes nothing (it would otherwise delete the next one).
void TQelExpression1::PutString(int32_t index, const std::string& text) {
  if (!InsertCompiled(index, text, false)) return;
  if (index + 1 < Count()) Delete(index + 1);
}

void TQelExpression1::Exchange(int32_t index1, int32_t index2) {
  TStringList::Exchange(index1, index2);
  if (FExpressionIndex >= 0) SetExpressionIndex(FExpressionIndex);
}

void TQelExpression1::Sort() {
  TStringList::Sort();
  if (FExpressionIndex >= 0) SetExpressionIndex(FExpressionIndex);
}

void TQelExpression1::Assign(const rtl::TStringList& source) { TStringList::Assign(source); }

void TQelExpression1::Assign(const TQelExpression1& source) {
  TStringList::Assign(static_cast<const TStringList&>(source));
}

void TQelExpression1::AddStrings(const rtl::TStringList& source) {
  TStringList::AddStrings(source);
}

void TQelExpression1::AddStrings(const TQelExpression1& source) {
  TStringList::AddStrings(static_cast<const TStringList&>(source));
}

void TQelExpression1::SetExpressionIndex(int32_t index) {
  TCompiled* const compiled = (index >= 0 && index <= Count() - 1) ? Compiled(index) : nullptr;
  SetCurrent(compiled);
  FExpressionIndex = index;
}

void TQelExpression1::SetCurrent(TCompiled* compiled) {
  FHead = compiled != nullptr ? compiled->Nodes.get() : nullptr;
  FReal = compiled != nullptr && compiled->HasReal ? compiled->Real : nullptr;
  FRun =
      FReal != nullptr ? TRun{FReal->Lone, FReal->EntryNode, FReal->Entry, TRun::kNever} : TRun{};
  FWaiting = compiled != nullptr && !compiled->Promoted ? compiled : nullptr;
}

int32_t TQelExpression1::ExpressionSize() const {
  if (FExpressionIndex < 0) return 0;
  int32_t size = 0;
  for (PExpressionRec rec = FHead; rec != nullptr; rec = rec->Next)
    if (!rec->ExprWord->GetIsVariable()) ++size;
  return size;
}

// --- evaluation ---------------------------------------------------------------------------

TValueRef* TQelExpression1::EvaluateGuarded() {
  if (FReal != nullptr) {
    const uint64_t now = KindChanges();
    if (FReal->Holds()) {
      FRun.HeldAt = now;
      return nullptr;
    }
  }
  return EvaluateCurrent();
}

double TQelExpression1::EvaluateChecked() {
  const TValueRef* result = EvaluateGuarded();
  return result == nullptr ? FRun.Value() : result->IsCplx ? result->Cplx->Re : *result->Real;
}

void TQelExpression1::RaiseNoExpression() { throw rtl::Exception(std::string(msg::kNoExpression)); }

bool TQelExpression1::EvaluateBool() {
  const double value = Evaluate();
  if (!isBoolean()) RaiseParserError(msg::kNotBoolean);
  return Math387::NLessEq(0.1, std::fabs(value));  // a NaN result answers true
}

std::string TQelExpression1::EvaluateHex() {
  const double value = Evaluate();
  // Nearest, ties to even; NaN, infinities and values beyond 64 bits give the processor's
  // invalid-result value, the most negative integer.
  uint64_t bits = uint64_t{1} << 63;
  if (std::fabs(value) < 9223372036854775808.0)
    bits = static_cast<uint64_t>(static_cast<int64_t>(std::nearbyint(value)));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buffer[17];
  int n = 0;
  do {
    buffer[n++] = kDigits[bits & 0xF];
    bits >>= 4;
  } while (bits != 0);
  std::string text(1, HexChar);
  while (n > 0) text.push_back(buffer[--n]);
  return text;
}

double TQelExpression::Evaluate(int32_t index) {
  SetExpressionIndex(index);
  return Evaluate();
}

bool TQelExpression::EvaluateBool(int32_t index) {
  SetExpressionIndex(index);
  return EvaluateBool();
}

TCplx TQelExpression::EvaluateCplx(int32_t index) {
  SetExpressionIndex(index);
  return EvaluateCplx();
}

std::string TQelExpression::EvaluateHex(int32_t index) {
  SetExpressionIndex(index);
  return EvaluateHex();
}

// --- the dictionary -----------------------------------------------------------------------

void TQelExpression1::DefineWord(std::unique_ptr<TExprWord> word) {
  if (FExpressList.Add(word.get())) word.release();  // a taken name: the new word goes
}

void TQelExpression1::UseWords(const TWordTable& table) {
  if (FExpressList.Count() == 0) {
    // Already in dictionary order: no search, no allocation beyond the list's own.
    FExpressList.AddRange(reinterpret_cast<void* const*>(table.Words()), table.Count());
    return;
  }
  for (int32_t k = 0; k < table.Count(); ++k) FExpressList.Add(table.Words()[k]);
}

TExprWord* TQelExpression1::OwnWord(int32_t index) {
  TExprWord* word = FExpressList.Word(index);
  if (!word->Shared()) return word;
  std::unique_ptr<TExprWord> copy = word->Clone();
  if (copy == nullptr) return word;  // nothing in it can be written
  FExpressList.Put(index, copy.get());
  return copy.release();
}

TExprWord* TQelExpression1::Lookup(std::string_view name) {
  TExprWord* word = FExpressList.Find(name);
  if (word == nullptr || !word->Shared() || !word->GetIsVariable()) return word;
  int32_t index;
  FExpressList.Search(word->Name().c_str(), index);
  return OwnWord(index);
}

TExprWord* TQelExpression1::Word(int32_t index) const {
  // Logically const: the copy stands for the same word with the same value.
  return const_cast<TQelExpression1*>(this)->OwnWord(index);
}

void TQelExpression1::DefineVariable(std::string_view name, double* value) {
  DefineWord(std::make_unique<TDoubleVariable>(name, value));
}

void TQelExpression1::DefineVariableCplx(std::string_view name, TCplx* value) {
  DefineWord(std::make_unique<TDoubleVariable>(name, value));
}

void TQelExpression1::DefineStringVariable(std::string_view name, std::string* value) {
  DefineWord(std::make_unique<TStringVariable>(name, value));
}

void TQelExpression1::DefineFunction(std::string_view name, TDoubleFunc func, int32_t nArgs) {
  DefineWord(std::make_unique<TFunction>(name, func, nArgs));
}

void TQelExpression1::DefineVaryingFunction(std::string_view name, TDoubleFunc func,
                                            int32_t nArgs) {
  DefineWord(std::make_unique<TVaryingFunction>(name, func, nArgs));
}

bool TQelExpression1::UnDefine(std::string_view name) {
  for (int32_t i = 0; i < FExpressList.Count(); ++i) {
    if (FExpressList.Word(i)->Name() == name) {
      FExpressList.AtFree(i);
      return true;
    }
  }
  return false;
}

bool TQelExpression1::ReplaceSymbol(std::string_view name, TExprWord* word) {
  const std::string key(name);
  int32_t index;
  if (FExpressList.Search(key.c_str(), index)) FExpressList.AtFree(index);
  return word != nullptr && FExpressList.Add(word);
}

void TQelExpression1::CleanUpVariables() {
  for (int32_t i = FExpressList.Count() - 1; i >= 0; --i) {
    TExprWord* w = FExpressList.Word(i);
    if (dynamic_cast<TGeneratedVariable*>(w) != nullptr ||
        dynamic_cast<TDoubleVariable*>(w) != nullptr ||
        dynamic_cast<TStringVariable*>(w) != nullptr)
      FExpressList.AtFree(i);
  }
}

void TQelExpression1::GetGeneratedVars(rtl::TList& list) const {
  list.Clear();
  for (int32_t i = 0; i < FExpressList.Count(); ++i) {
    TExprWord* w = FExpressList.Word(i);
    if (typeid(*w) == typeid(TGeneratedVariable)) list.Add(w);
  }
}

// --- streams ------------------------------------------------------------------------------

void TQelExpression1::SaveToStream(rtl::TStream& stream) {
  std::string text;
  for (int32_t i = 0; i < Count(); ++i) text.append(Get(i)).append("\r\n");
  rtl::WriteLittleEndian(stream, static_cast<uint32_t>(text.size()));
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TQelExpression1::LoadFromStream(rtl::TStream& stream) {
  BeginUpdate();
  const rtl::ScopeExit end([this] { EndUpdate(); });
  const auto n = rtl::ReadLittleEndian<int32_t>(stream);
  // A negative length, or one beyond the stream, would be read into a buffer of that size.
  if (n < 0 || n > stream.Size() - stream.Position()) RaiseParserError(msg::kBadStreamLength);
  std::string text(static_cast<std::size_t>(n), '\0');
  stream.ReadBuffer(text.data(), n);
  SetText(text);
}

}  // namespace veskmath::qel
