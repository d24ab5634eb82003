#include "parser/QelParseClass.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "math/NumberText.h"

namespace veskmath::qel {

using Math387::CNAN;
using Math387::NaN;

// --- messages -----------------------------------------------------------------------------

void RaiseParserError(std::string_view message) { throw EParserException(std::string(message)); }

std::string WordMessage(std::string_view name, std::string_view suffix) {
  std::string text;
  text.reserve(name.size() + suffix.size());
  text.append(name).append(suffix);
  return text;
}

void RaiseWordError(std::string_view name, std::string_view suffix) {
  throw EParserException(WordMessage(name, suffix));
}

// --- routines -----------------------------------------------------------------------------

void _Variable(PExpressionRec rec) {
  const TValueRef& value = *rec->Args[0];
  rec->Res.IsCplx = value.IsCplx;
  if (value.IsCplx) {
    *rec->Res.Cplx = *value.Cplx;
  } else {
    *rec->Res.Real = *value.Real;
  }
}

void _LogString(PExpressionRec rec) {
  *rec->Res.Real = static_cast<const TLogicalStringOper*>(rec->ExprWord)->Evaluate() ? 1.0 : 0.0;
  rec->Res.IsCplx = false;
}

// --- words --------------------------------------------------------------------------------

namespace {
std::atomic<int64_t> gLiveWords{0};

inline unsigned char FoldUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// The first eight bytes of a name folded to upper case, big-endian, zero-padded: compared as
// integers they order names as the dictionary does, so most steps of a search compare no text.
uint64_t SortPrefixOf(const unsigned char* name) {
  uint64_t prefix = 0;
  int i = 0;
  for (; i < 8 && name[i] != 0; ++i) prefix = prefix << 8 | FoldUpper(name[i]);
  return i == 0 ? 0 : prefix << (8 * (8 - i));
}
}  // namespace

TExprWord::TExprWord(std::string_view name, TDoubleFunc doubleFunc)
    : FName(name), FDoubleFunc(doubleFunc) {
  for (char& c : FName)  // in place: rtl::LowerCase would make a second string
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  FSortPrefix = SortPrefixOf(reinterpret_cast<const unsigned char*>(FName.c_str()));
  gLiveWords.fetch_add(1, std::memory_order_relaxed);
}

TExprWord::~TExprWord() { gLiveWords.fetch_sub(1, std::memory_order_relaxed); }

int64_t TExprWord::LiveCount() { return gLiveWords.load(std::memory_order_relaxed); }

TDoubleConstant::TDoubleConstant(std::string_view name, std::string_view valueText)
    : TExprWord(name, _Variable) {
  if (valueText.empty()) {
    FCplxValue = CNAN;
    FValue = NaN;
  } else {
    FCplxValue = Math387::StrToCplx(valueText);
    FValue = FCplxValue.Re;
  }
  SetConstantFlag();
}

TDoubleConstant::TDoubleConstant(std::string_view name, double x)
    : TExprWord(name, _Variable), FValue(x), FCplxValue{x, 0.0} {
  SetConstantFlag();
}

TDoubleConstant::TDoubleConstant(std::string_view name, const TCplx& c)
    : TExprWord(name, _Variable), FValue(c.Re), FCplxValue(c) {
  SetConstantFlag();
}

std::unique_ptr<TExprWord> TDoubleConstant::Clone() const {
  return std::make_unique<TDoubleConstant>(FName, FCplxValue);  // same value, same flag
}

std::unique_ptr<TExprWord> TBooleanConstant::Clone() const {
  return std::make_unique<TBooleanConstant>(FName, FCplxValue);
}

void TDoubleConstant::SetConstantFlag() {
  FValueRef.Real = &FValue;
  FValueRef.Cplx = &FCplxValue;
  // 2i is complex, 2 is real; a NaN imaginary part (cnan) counts as real.
  FValueRef.IsCplx = Math387::NNotEqual(FCplxValue.Im, 0.0);
}

TGeneratedVariable::TGeneratedVariable(std::string_view name) : TDoubleConstant(name, "") {}

TDoubleVariable::TDoubleVariable(std::string_view name, double* value)
    : TExprWord(name, _Variable) {
  FValueRef.Real = value;
  FValueRef.Cplx = &FOwnCplx;
  FValueRef.IsCplx = false;
}

TDoubleVariable::TDoubleVariable(std::string_view name, TCplx* value) : TExprWord(name, _Variable) {
  FValueRef.Real = &FOwnReal;
  FValueRef.Cplx = value;
  FValueRef.IsCplx = true;
}

namespace {
// 'abc' -> abc; a text that does not both begin and end with a quote stays as it is, and a
// lone quote gives the empty string.
std::string Unquote(std::string_view text) {
  if (!text.empty() && text.front() == '\'' && text.back() == '\'') {
    if (text.size() == 1) return {};
    return std::string(text.substr(1, text.size() - 2));
  }
  return std::string(text);
}
}  // namespace

TStringConstant::TStringConstant(std::string_view text)
    : TExprWord(text, _Variable), FValue(Unquote(text)) {}

TStringVariable::TStringVariable(std::string_view name, std::string* value)
    : TExprWord(name, _Variable), FStrRef(value) {}

std::string TStringVariable::GetAsString() const { return Unquote(*FStrRef); }

TFunction::TFunction(std::string_view name, TDoubleFunc doubleFunc, int32_t nFunctionArg)
    : TFunction(name, doubleFunc, nFunctionArg, false, 0) {}

TFunction::TFunction(std::string_view name, TDoubleFunc doubleFunc, int32_t nFunctionArg,
                     bool isOper, int32_t operPrec)
    : TExprWord(name, doubleFunc),
      FIsOper(isOper),
      FOperPrec(operPrec),
      FNFunctionArg(nFunctionArg) {
  if (nFunctionArg > kMaxArgs) RaiseParserError(msg::kTooManyArguments);
}

namespace {
TOper StringOperFromName(std::string_view name) {
  if (name == "=") return op_eq;
  if (name == ">") return op_gt;
  if (name == "<") return op_lt;
  if (name == ">=") return op_ge;
  if (name == "<=") return op_le;
  if (name == "in") return op_in;
  RaiseWordError(name, msg::kNotValidStringOperand);
}

// Byte-wise, unsigned, case-sensitive; a proper prefix is the smaller.
int CompareBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}
}  // namespace

TLogicalStringOper::TLogicalStringOper(std::string_view operName, TExprWord* left, TExprWord* right)
    : TExprWord(operName, _LogString),
      FOper(StringOperFromName(operName)),
      FLeft(left),
      FRight(right) {}

bool TLogicalStringOper::Evaluate() const {
  const std::string a = FLeft->GetAsString();
  const std::string b = FRight->GetAsString();
  switch (FOper) {
    case op_eq:
      return a == b;
    case op_gt:
      return CompareBytes(a, b) > 0;
    case op_lt:
      return CompareBytes(a, b) < 0;
    case op_ge:
      return CompareBytes(a, b) >= 0;
    case op_le:
      return CompareBytes(a, b) <= 0;
    case op_in: {
      // "b" in "a,b,c": each part up to a "," in turn, then the remainder; no trimming.
      std::string_view rest = b;
      for (std::size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
        if (rest.substr(0, comma) == a) return true;
        rest.remove_prefix(comma + 1);
      }
      return rest == a;
    }
  }
  return false;
}

// --- TExpressList -------------------------------------------------------------------------

namespace {
inline int32_t CompareKeys(const unsigned char* p, const unsigned char* q) {
  for (;; ++p, ++q) {
    const unsigned char a = FoldUpper(*p);
    const unsigned char b = FoldUpper(*q);
    if (a != b) return static_cast<int32_t>(a) - static_cast<int32_t>(b);
    if (a == 0) return 0;
  }
}
}  // namespace

TExpressList::~TExpressList() {
  FreeAll();  // here, while FreeItem is still this class's own
}

int32_t TExpressList::CompareNames(const char* name1, const char* name2) {
  return CompareKeys(reinterpret_cast<const unsigned char*>(name1),
                     reinterpret_cast<const unsigned char*>(name2));
}

int32_t TExpressList::Compare(const void* key1, const void* key2) const {
  return CompareKeys(static_cast<const unsigned char*>(key1),
                     static_cast<const unsigned char*>(key2));
}

const void* TExpressList::KeyOf(void* item) const {
  return static_cast<TExprWord*>(item)->Name().c_str();
}

bool TExpressList::Search(const void* key, int32_t& index) const {
  const auto* k = static_cast<const unsigned char*>(key);
  const uint64_t prefix = SortPrefixOf(k);
  void* const* items = List();
  int32_t lo = 0;
  int32_t hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int32_t mid = static_cast<int32_t>(static_cast<uint32_t>(lo + hi) >> 1);
    const auto* word = static_cast<const TExprWord*>(items[mid]);
    const uint64_t wordPrefix = word->SortPrefix();
    int32_t c;
    if (wordPrefix != prefix) {
      c = wordPrefix < prefix ? -1 : 1;
    } else if ((prefix & 0xFF) == 0) {
      c = 0;  // the key ends inside the prefix, and so does the word
    } else {
      c = CompareKeys(reinterpret_cast<const unsigned char*>(word->Name().c_str()) + 8, k + 8);
    }
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (!Duplicates) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

TExprWord* TExpressList::Find(std::string_view name) const {
  char small[32];  // NUL-terminated key; names are short
  std::string large;
  const char* key;
  if (name.size() < sizeof small) {
    name.copy(small, name.size());
    small[name.size()] = '\0';
    key = small;
  } else {
    large.assign(name);
    key = large.c_str();
  }
  int32_t index;
  return Search(key, index) ? Word(index) : nullptr;
}

void TExpressList::FreeItem(void* item) {
  if (item == nullptr || static_cast<TExprWord*>(item)->Shared()) return;
  delete static_cast<TObject*>(item);
}

TWordTable::TWordTable(std::vector<std::unique_ptr<TExprWord>> words) {
  FSorted.reserve(words.size());
  FOwned.reserve(words.size());
  for (std::unique_ptr<TExprWord>& w : words) {
    // A dictionary's Add: the first word of a name stays, a later one is dropped.
    auto at = std::lower_bound(
        FSorted.begin(), FSorted.end(), w.get(), [](const TExprWord* a, const TExprWord* b) {
          return TExpressList::CompareNames(a->Name().c_str(), b->Name().c_str()) < 0;
        });
    if (at != FSorted.end() &&
        TExpressList::CompareNames((*at)->Name().c_str(), w->Name().c_str()) == 0)
      continue;
    w->FShared = true;
    FSorted.insert(at, w.get());
    FOwned.push_back(std::move(w));
  }
}

// --- TExprCollection ----------------------------------------------------------------------

void TExprCollection::Check() const {
  int32_t depth = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    const TVariableType t = Word(i)->GetVarType();
    if (t == vtLeftBracket) ++depth;
    if (t == vtRightBracket) --depth;
  }
  // ")a(" passes: only the numbers are compared here.
  if (depth != 0) RaiseParserError(msg::kUnequalBrackets);
}

void TExprCollection::EraseExtraBrackets() {
  TWordRange range{this, 0, Count()};
  range.EraseExtraBrackets();
  for (int32_t k = Count() - 1; k >= range.To; --k) Delete(k);
  for (int32_t k = 0; k < range.From; ++k) Delete(0);
}

int32_t TExprCollection::NextOper(int32_t start) const {
  return TWordRange{this, 0, Count()}.NextOper(start);
}

// --- TWordRange ---------------------------------------------------------------------------

void TWordRange::EraseExtraBrackets() {
  while (Count() > 0 && Word(0)->GetVarType() == vtLeftBracket) {
    int32_t i = 1;
    int32_t depth = 1;
    while (i < Count() && depth > 0) {
      const TVariableType t = Word(i++)->GetVarType();
      if (t == vtLeftBracket) ++depth;
      if (t == vtRightBracket) --depth;
    }
    // "(a)+(b)": the first bracket closes before the end; nothing to erase.
    if (depth != 0 || i != Count()) return;
    if (Word(Count() - 1)->GetVarType() != vtRightBracket) return;
    --To;
    ++From;
  }
}

int32_t TWordRange::NextOper(int32_t start) const {
  int32_t depth = 0;
  for (int32_t i = start; i < Count(); ++i) {
    TExprWord* w = Word(i);
    if (depth <= 0 && w->GetNFunctionArg() > 0) return i;
    const TVariableType t = w->GetVarType();
    if (t == vtLeftBracket) ++depth;
    if (t == vtRightBracket) --depth;
  }
  return Count();
}

}  // namespace veskmath::qel
