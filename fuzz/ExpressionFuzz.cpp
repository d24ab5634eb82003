// Fuzz target: compiling and evaluating arbitrary text with the expression object, in both
// vocabularies, with folding on and off and with arbitrary HexChar and separator settings;
// the list operations (Add beyond a small MaxExpressions, Insert, PutString, Delete, Clear)
// and the stream round trip.
//
// Input: four setting bytes, then one command per line.
//   byte 0  bit 0 C-style vocabulary; bit 1 Optimize; bits 2-4 MaxExpressions (kLimits);
//           bit 5 stream round trip at the end; bit 6 differential: every text is compiled
//           by two objects, one folding and one not, whose values must agree
//   byte 1  HexChar, as it is
//   byte 2  process-wide decimal separator (SettingChar: "." or "," or any)
//   byte 3  Separator property (SettingChar: "," or ";" or any)
//   lines   "#d<n>" Delete, "#i<n><text>" Insert, "#p<n><text>" PutString, "#x<n>"
//           SetExpressionIndex, "#e<n>" evaluation by index, "#c" Clear, "#u"
//           CleanUpVariables (then Clear, as its contract asks), "#s" stream round trip,
//           "#m<n>" SetMaxExpressions; <n> is one byte less '0'. Any other line is Added.
// After every command the current expression is evaluated in all four ways.
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "math/Complex.h"
#include "parser/QelParseExpr.h"
#include "parser/RealProgram.h"
#include "platform/rtl/List.h"
#include "platform/rtl/Streams.h"
#include "vocabulary/CStyleParser.h"

namespace veskmath::fuzz {
namespace {

using Math387::TCplx;
using qel::PExpressionRec;
using qel::TQelExpression;

constexpr std::array<int32_t, 8> kLimits = {10, 1, 2, 3, 0, -1, 5, 100};

struct TSettings {
  bool cStyle = false;
  bool optimize = false;
  char hexChar = '$';
  char separator = ',';
  int32_t maxExpressions = 10;
};

std::unique_ptr<TQelExpression> MakeObject(const TSettings& s, bool optimize) {
  std::unique_ptr<TQelExpression> e;
  if (s.cStyle) {
    e = std::make_unique<qel::TCStyleParser>();
  } else {
    e = std::make_unique<TQelExpression>();
  }
  e->Optimize = optimize;
  e->HexChar = s.hexChar;
  e->SetSeparator(s.separator);
  e->SetMaxExpressions(s.maxExpressions);
  return e;
}

void CheckRealProgram(const TQelExpression& e);

void EvaluateAll(TQelExpression& e) {
  LibraryCall("Evaluate", [&] { e.Evaluate(); });
  LibraryCall("EvaluateCplx", [&] { e.EvaluateCplx(); });
  LibraryCall("EvaluateBool", [&] { e.EvaluateBool(); });
  LibraryCall("EvaluateHex", [&] {
    const std::string hex = e.EvaluateHex();
    // HexChar and 1 to 16 hexadecimal digits.
    Require(hex.size() >= 2 && hex.size() <= 17 && hex[0] == e.HexChar, "EvaluateHex", hex);
  });
  CheckRealProgram(e);  // made by now: the current expression was evaluated more than once
  Require(e.ExpressionSize() >= 0, "ExpressionSize", "negative");
  rtl::TList generated;
  e.GetGeneratedVars(generated);
  for (int32_t i = 0; i < e.Count(); ++i) (void)e.GetString(i);
}

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Saves the texts, loads them into a fresh object with the same settings and evaluates what
// was loaded. Texts without line breaks or NULs must come back as they were: those that
// MaxExpressions keeps from a load of all of them. Without quotes, too: "x='a'" compiles only
// after an assignment has made x a string, which the list may have dropped meanwhile.
void RoundTrip(TQelExpression& e, const TSettings& s) {
  rtl::TMemoryStream stream;
  std::vector<std::string> texts;
  bool plain = true;
  for (int32_t i = 0; i < e.Count(); ++i) {
    texts.push_back(e.GetString(i));
    plain =
        plain && !HasLineBreakOrNul(texts.back()) && texts.back().find('\'') == std::string::npos;
  }
  LibraryCall("SaveToStream", [&] { e.SaveToStream(stream); });
  stream.SetPosition(0);
  std::unique_ptr<TQelExpression> copy = MakeObject(s, e.Optimize);
  const bool loaded = LibraryCall("LoadFromStream", [&] { copy->LoadFromStream(stream); });
  if (plain) {
    Require(loaded, "LoadFromStream", "saved texts did not load again");
    const size_t keep =
        std::min(texts.size(), static_cast<size_t>(std::max(s.maxExpressions, int32_t{0})));
    Require(static_cast<size_t>(copy->Count()) == keep, "LoadFromStream", "count changed");
    for (size_t i = 0; i < keep; ++i) {
      Require(copy->GetString(static_cast<int32_t>(i)) == texts[texts.size() - keep + i],
              "LoadFromStream", "text changed");
    }
  }
  for (int32_t i = 0; i < copy->Count(); ++i) {
    LibraryCall("EvaluateCplx(index)", [&] { copy->EvaluateCplx(i); });
  }
}

// Folding turns a complex constant whose imaginary part is NaN into a real one (a NaN counts
// as equal to 0), so a NaN imaginary part compares as 0.
bool SameValue(const TCplx& a, const TCplx& b) {
  const auto same = [](double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; };
  const auto im = [](double y) { return std::isnan(y) ? 0.0 : y; };
  return same(a.Re, b.Re) && same(im(a.Im), im(b.Im));
}

// Reads the current list of any expression object (FHead is protected; a pointer to it
// formed through a derived class may be applied to the base).
struct TPeek : TQelExpression {
  static PExpressionRec Head(const TQelExpression& e) {
    constexpr PExpressionRec qel::TQelExpression1::*head = &TPeek::FHead;
    return e.*head;
  }
  static const qel::TRealProgram* Real(const TQelExpression& e) {
    constexpr const qel::TRealProgram* qel::TQelExpression1::*real = &TPeek::FReal;
    return e.*real;
  }
  static const qel::TValueRef* List(const TQelExpression& e) { return EvaluateList(Head(e)); }
};

// When the current expression's real program runs, it answers the bits its list answers.
void CheckRealProgram(const TQelExpression& e) {
  const qel::TRealProgram* real = TPeek::Real(e);
  if (real == nullptr || !real->Holds()) return;
  const double fast = real->Run();
  const qel::TValueRef* list = nullptr;
  if (!LibraryCall("list", [&] { list = TPeek::List(e); })) return;
  Require(list != nullptr && !list->IsCplx && std::memcmp(&fast, list->Real, sizeof fast) == 0,
          "real program", "answers other bits than the list");
}

// Whether the last evaluation of e's current list met a complex value, as a result or an
// argument of some node.
bool MetComplex(const TQelExpression& e) {
  for (PExpressionRec rec = TPeek::Head(e); rec != nullptr; rec = rec->Next) {
    if (rec->Res.IsCplx) return true;
    const int32_t n = rec->ExprWord->GetIsVariable() ? 1 : rec->ExprWord->GetNFunctionArg();
    for (int32_t k = 0; k < n && k < qel::kMaxArgs; ++k) {
      if (rec->Args[k] != nullptr && rec->Args[k]->IsCplx) return true;
    }
  }
  return false;
}

// One text compiled with folding and without: when both evaluate, the values agree. Answers
// whether later texts can still be compared. Not after a failure, since the two objects may
// then hold different values legitimately (folding raises at compile time what the other
// object raises halfway through an evaluation, after an assignment in front of it ran); not
// after a random number was drawn (each object draws its own); and not once a complex value
// was met, since folding makes a complex constant whose imaginary part is 0 real, and real
// and complex routines differ ("sqrt(cplx(-4,0))" is 2i, folded it is sqrt(-4), NaN).
bool Differential(TQelExpression& folding, TQelExpression& plain, const std::string& text,
                  bool compare) {
  TCplx a{}, b{};
  const bool foldedOk = LibraryCall("Add (folding)", [&] {
    folding.Add(text);
    a = folding.EvaluateCplx();
  });
  const bool plainOk = LibraryCall("Add (not folding)", [&] {
    plain.Add(text);
    b = plain.EvaluateCplx();
  });
  const bool random = rtl::LowerCase(text).find("rand") != std::string::npos;
  const bool complex = plainOk && MetComplex(plain);
  if (compare && foldedOk && plainOk && !random && !complex) {
    Require(SameValue(a, b), "folding",
            "'" + text + "' folded " + std::to_string(a.Re) + "," + std::to_string(a.Im) +
                " unfolded " + std::to_string(b.Re) + "," + std::to_string(b.Im));
  }
  return foldedOk && plainOk && !random && !complex;
}

int32_t Index(const std::string& line) {
  return line.size() > 2 ? static_cast<uint8_t>(line[2]) - '0' : 0;
}

void Command(TQelExpression& e, const TSettings& s, const std::string& line) {
  if (line.size() >= 2 && line[0] == '#') {
    const int32_t n = Index(line);
    const std::string text = line.size() > 3 ? line.substr(3) : std::string();
    switch (line[1]) {
      case 'd':
        LibraryCall("Delete", [&] { e.Delete(n); });
        return;
      case 'i':
        LibraryCall("Insert", [&] { e.Insert(n, text); });
        return;
      case 'p':
        LibraryCall("PutString", [&] { e.PutString(n, text); });
        return;
      case 'x':
        e.SetExpressionIndex(n);
        return;
      case 'e':
        LibraryCall("EvaluateCplx(index)", [&] { e.EvaluateCplx(n); });
        return;
      case 'c':
        LibraryCall("Clear", [&] { e.Clear(); });
        return;
      case 'u':
        e.CleanUpVariables();
        LibraryCall("Clear", [&] { e.Clear(); });
        return;
      case 's':
        RoundTrip(e, s);
        return;
      case 'm':
        e.SetMaxExpressions(n);
        return;
      default:
        break;
    }
  }
  int32_t index = -1;
  if (LibraryCall("Add", [&] { index = e.Add(line); }) && index >= 0) {
    Require(e.GetExpressionIndex() == index && e.GetString(index) == line, "Add",
            "the new expression is not the current one");
  }
}

}  // namespace
}  // namespace veskmath::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veskmath::fuzz;
  TInput in(data, size);
  const uint8_t flags = in.Byte();
  TSettings s;
  s.cStyle = flags & 1;
  s.optimize = flags & 2;
  s.maxExpressions = kLimits[(flags >> 2) & 7];
  s.hexChar = static_cast<char>(in.Byte());
  const TDecimalSeparatorScope decimal(SettingChar(in.Byte(), '.', ','));
  s.separator = SettingChar(in.Byte(), ',', ';');

  if (flags & 0x40) {
    std::unique_ptr<veskmath::qel::TQelExpression> folding = MakeObject(s, true);
    std::unique_ptr<veskmath::qel::TQelExpression> plain = MakeObject(s, false);
    bool compare = true;
    while (!in.AtEnd()) {
      compare = Differential(*folding, *plain, std::string(in.Line()), compare) && compare;
    }
    return 0;
  }
  std::unique_ptr<veskmath::qel::TQelExpression> e = MakeObject(s, s.optimize);
  while (!in.AtEnd()) {
    Command(*e, s, std::string(in.Line()));
    EvaluateAll(*e);
  }
  if (flags & 0x20) RoundTrip(*e, s);
  LibraryCall("Clear", [&] { e->Clear(); });
  Require(!LibraryCall("Evaluate", [&] { e->Evaluate(); }), "Clear",
          "an expression is left to evaluate");
  return 0;
}
