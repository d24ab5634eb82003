#include "platform/rtl/PropertyStream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/rtl/Component.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {
namespace {

enum TShape : uint8_t { shCircle, shSquare, shTriangle };
enum TStyle : uint32_t { fsBold = 1u << 0, fsItalic = 1u << 1, fsUnderline = 1u << 2 };

// A persistent sub-object that is not a component.
class TPen : public TPersistent {
 public:
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t w) { FWidth = w; }
  std::string Color() const { return FColor; }
  void SetColor(const std::string& c) { FColor = c; }

  static const TClassInfo& StaticClassInfo() {
    using P = TPublished<TPen>;
    static const TClassInfo info{&TPersistent::StaticClassInfo(),
                                 {
                                     P::Integer("Width", &TPen::Width, &TPen::SetWidth, 1),
                                     P::String("Color", &TPen::Color, &TPen::SetColor),
                                 }};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  int32_t FWidth = 1;
  std::string FColor;
};

class TGauge : public TComponent {
 public:
  using TComponent::TComponent;
  int32_t Level() const { return FLevel; }
  void SetLevel(int32_t v) { FLevel = v; }
  static const TClassInfo& StaticClassInfo() {
    using P = TPublished<TGauge>;
    static const TClassInfo info{&TComponent::StaticClassInfo(),
                                 {P::Integer("Level", &TGauge::Level, &TGauge::SetLevel, 0)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  int32_t FLevel = 0;
};

class TSample : public TComponent {
 public:
  explicit TSample(TComponent* owner = nullptr) : TComponent(owner) {
    FGauge = new TGauge(this);
    FGauge->SetName("Gauge");
    FGauge->SetSubComponent(true);
    FOther = new TGauge(this);  // owned, but not a sub-component: never streamed
    FOther->SetName("Other");
  }

  int32_t Count() const { return FCount; }
  void SetCount(int32_t v) { FCount = v; }
  char Letter() const { return FLetter; }
  void SetLetter(char v) { FLetter = v; }
  TShape Shape() const { return FShape; }
  void SetShape(TShape v) { FShape = v; }
  uint32_t Style() const { return FStyle; }
  void SetStyle(uint32_t v) { FStyle = v; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  double Ratio() const { return FRatio; }
  void SetRatio(double v) { FRatio = v; }
  int64_t Big() const { return FBig; }
  void SetBig(int64_t v) { FBig = v; }
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v) { FCaption = v; }
  int32_t Secret() const { return FSecret; }
  void SetSecret(int32_t v) { FSecret = v; }
  bool KeepsSecret() const { return FSecret != 42; }
  int32_t Computed() const { return FCount * 2; }
  TPen* Pen() { return &FPen; }
  TGauge* Gauge() { return FGauge; }
  TGauge* Other() { return FOther; }

  static const TClassInfo& StaticClassInfo() {
    using P = TPublished<TSample>;
    static const TClassInfo info{
        &TComponent::StaticClassInfo(),
        {
            P::Integer("Count", &TSample::Count, &TSample::SetCount, 5),
            P::Char("Letter", &TSample::Letter, &TSample::SetLetter, 'a'),
            P::Enumeration<TShape>("Shape", {"shCircle", "shSquare", "shTriangle"}, &TSample::Shape,
                                   &TSample::SetShape, shCircle),
            P::Set("Style", {"fsBold", "fsItalic", "fsUnderline"}, &TSample::Style,
                   &TSample::SetStyle, 0u),
            P::Boolean("Enabled", &TSample::Enabled, &TSample::SetEnabled, true),
            P::Float("Ratio", &TSample::Ratio, &TSample::SetRatio),
            P::Int64("Big", &TSample::Big, &TSample::SetBig),
            P::String("Caption", &TSample::Caption, &TSample::SetCaption),
            P::Integer("Secret", &TSample::Secret, &TSample::SetSecret)
                .StoredWhen(&TSample::KeepsSecret),
            P::Integer("Computed", &TSample::Computed, nullptr),
            P::Class("Pen", &TSample::Pen),
            P::Class("Gauge", &TSample::Gauge),
            P::Class("Other", &TSample::Other),
        }};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  int32_t FCount = 5;
  char FLetter = 'a';
  TShape FShape = shCircle;
  uint32_t FStyle = 0;
  bool FEnabled = true;
  double FRatio = 0;
  int64_t FBig = 0;
  std::string FCaption;
  int32_t FSecret = 42;
  TPen FPen;
  TGauge* FGauge;
  TGauge* FOther;
};

std::string Bytes(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

std::string BlockOf(TComponent& c) {
  TMemoryStream s;
  WriteComponent(s, c);
  return Bytes(s);
}

void Load(TComponent& c, const std::string& block) {
  TMemoryStream s;
  s.WriteBuffer(block.data(), static_cast<int32_t>(block.size()));
  s.SetPosition(0);
  ReadComponent(s, c);
  EXPECT_EQ(s.Position(), s.Size());
}

void Modify(TSample& s) {
  s.SetCount(-7);
  s.SetLetter('Z');
  s.SetShape(shTriangle);
  s.SetStyle(fsBold | fsUnderline);
  s.SetEnabled(false);
  s.SetRatio(-0.0);
  s.SetBig(-(int64_t{1} << 40));
  s.SetCaption(std::string("x\0y", 3));
  s.SetSecret(7);
  s.SetTag(3);
  s.Pen()->SetWidth(9);
  s.Pen()->SetColor("red");
  s.Gauge()->SetLevel(4);
  s.Other()->SetLevel(8);
}

TEST(PropertyStream, DefaultObjectWritesOnlyTheHeader) {
  TSample s;
  s.SetName("Sample1");
  const std::string expected = std::string("TPF0") + "\x07TSample" + "\x07Sample1" + '\0';
  EXPECT_EQ(BlockOf(s), expected);
}

TEST(PropertyStream, RoundTripReproducesEveryStoredProperty) {
  TSample a;
  Modify(a);
  TSample b;
  Load(b, BlockOf(a));
  EXPECT_EQ(b.Count(), -7);
  EXPECT_EQ(b.Letter(), 'Z');
  EXPECT_EQ(b.Shape(), shTriangle);
  EXPECT_EQ(b.Style(), fsBold | fsUnderline);
  EXPECT_FALSE(b.Enabled());
  EXPECT_TRUE(std::signbit(b.Ratio()));  // a negative zero differs from the default 0
  EXPECT_EQ(b.Big(), -(int64_t{1} << 40));
  EXPECT_EQ(b.Caption(), std::string("x\0y", 3));
  EXPECT_EQ(b.Secret(), 7);
  EXPECT_EQ(b.Tag(), 3);
  EXPECT_EQ(b.Pen()->Width(), 9);
  EXPECT_EQ(b.Pen()->Color(), "red");
  EXPECT_EQ(b.Gauge()->Level(), 4);
  EXPECT_EQ(b.Other()->Level(), 0);  // a plain owned component is not part of the block
  EXPECT_EQ(BlockOf(b), BlockOf(a));
}

TEST(PropertyStream, StoredTestAndDefaultsDecideWhatIsWritten) {
  TSample a;
  a.SetSecret(42);  // stored test false
  a.SetCount(5);    // equals its default
  a.SetRatio(0.5);
  const std::string block = BlockOf(a);
  EXPECT_EQ(block.find("Secret"), std::string::npos);
  EXPECT_EQ(block.find("Count"), std::string::npos);
  EXPECT_EQ(block.find("Computed"), std::string::npos);  // read-only
  EXPECT_EQ(block.find("Pen"), std::string::npos);       // sub-object at its defaults
  EXPECT_NE(block.find("Ratio"), std::string::npos);
}

TEST(PropertyStream, ReadingLeavesUnrecordedPropertiesAlone) {
  TSample source;
  source.SetCaption("only this");
  TSample target;
  Modify(target);
  Load(target, BlockOf(source));
  EXPECT_EQ(target.Caption(), "only this");
  EXPECT_EQ(target.Count(), -7);
  EXPECT_EQ(target.Pen()->Color(), "red");
  EXPECT_EQ(target.Gauge()->Level(), 4);
}

TEST(PropertyStream, ObjectNameInBlockIsApplied) {
  TSample a;
  a.SetName("Named");
  TSample b;
  Load(b, BlockOf(a));
  EXPECT_EQ(b.Name(), "Named");
}

// Builds a block by hand: header for TSample, then the given property bytes.
std::string Handmade(const std::string& props, const std::string& cls = "TSample") {
  return std::string("TPF0") + static_cast<char>(cls.size()) + cls + '\0' + props + '\0';
}
std::string Prop(const std::string& name, const std::string& value) {
  return static_cast<char>(name.size()) + name + value;
}

TEST(PropertyStream, MalformedBlocksRaiseAndChangeNothing) {
  struct Case {
    const char* what;
    std::string block;
    std::string message;
  };
  const std::string int7 = std::string("\x01\x07\0\0\0", 5);
  const std::vector<Case> cases = {
      {"signature", "TPF1" + Handmade("").substr(4),
       "Invalid stream format: missing TPF0 signature"},
      {"empty", "", "Stream read error"},
      {"class", Handmade("", "TOther"),
       "Invalid stream format: class TOther does not match TSample"},
      {"unknown type", Handmade(Prop("Count", "\x09")),
       "Invalid stream format: unknown value type 9"},
      {"unknown property", Handmade(Prop("Nope", int7)),
       "Error reading TSample.Nope: property does not exist"},
      {"wrong kind", Handmade(Prop("Count", int7) + Prop("Caption", int7)),
       "Error reading TSample.Caption: invalid property value"},
      {"bad enum name", Handmade(Prop("Shape", "\x05\x06shOval")),
       "Error reading TSample.Shape: invalid property value"},
      {"bad set element",
       Handmade(Prop("Style", std::string("\x06\x06"
                                          "fsBold"
                                          "\x04"
                                          "fsXX\0",
                                          14))),
       "Error reading TSample.Style: invalid property value"},
      {"read-only", Handmade(Prop("Computed", int7)),
       "Error reading TSample.Computed: property is read-only"},
      {"reference", Handmade(Prop("Other", std::string("\x08\0", 2))),
       "Error reading TSample.Other: invalid property value"},
      {"sub-object error", Handmade(Prop("Pen", "\x08" + Prop("Depth", int7) + '\0')),
       "Error reading TPen.Depth: property does not exist"},
      {"huge string", Handmade(Prop("Caption", std::string("\x04\xff\xff\xff\x7f", 5))),
       "Invalid stream format: length 2147483647 exceeds the stream"},
  };
  // "wrong kind" records a valid Count before the fault: it must not be applied either.
  for (const Case& c : cases) {
    TSample s;
    const std::string before = BlockOf(s);
    try {
      Load(s, c.block);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.what;
    }
    EXPECT_EQ(s.Count(), 5) << c.what;
    EXPECT_EQ(BlockOf(s), before) << c.what;
  }
}

TEST(PropertyStream, DeepNestingIsRefused) {
  std::string props;
  for (int i = 0; i < 40; ++i) props += Prop("Pen", "\x08");
  props += std::string(40, '\0');
  TSample s;
  try {
    Load(s, Handmade(props));
    ADD_FAILURE() << "accepted";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Invalid stream format: sub-objects nested too deeply");
  }
}

TEST(PropertyStream, EveryTruncationAndMutationFailsCleanly) {
  TSample a;
  Modify(a);
  const std::string block = BlockOf(a);
  for (size_t n = 0; n < block.size(); ++n) {
    TSample s;
    EXPECT_THROW(Load(s, block.substr(0, n)), EReadError) << "length " << n;
    EXPECT_EQ(s.Count(), 5);
  }
  // Random byte changes must either load or raise EReadError; never crash (run under the
  // sanitizers) or raise anything else.
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    std::string mutated = block;
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) mutated[rng() % mutated.size()] = static_cast<char>(rng());
    TSample s;
    try {
      TMemoryStream st;
      st.WriteBuffer(mutated.data(), static_cast<int32_t>(mutated.size()));
      st.SetPosition(0);
      ReadComponent(st, s);
    } catch (const EReadError&) {
    } catch (const EComponentError&) {
      // a mutated object name that is not an identifier
    }
  }
}

TEST(PropertyStream, WriterRefusesUnnamedValues) {
  TSample s;
  s.SetShape(static_cast<TShape>(7));
  EXPECT_THROW(BlockOf(s), EWriteError);
  s.SetShape(shCircle);
  s.SetStyle(1u << 5);
  EXPECT_THROW(BlockOf(s), EWriteError);
}

TEST(Component, OwnerFreesItsComponentsAndNamesAreChecked) {
  auto* owner = new TComponent;
  auto* a = new TGauge(owner);
  a->SetName("First");
  auto* b = new TGauge(owner);
  EXPECT_EQ(owner->ComponentCount(), 2);
  try {
    b->SetName("FIRST");
    ADD_FAILURE() << "duplicate name accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named FIRST already exists");
  }
  try {
    b->SetName("2nd");
    ADD_FAILURE() << "bad name accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "'2nd' is not a valid component name");
  }
  EXPECT_EQ(owner->FindComponent("first"), a);
  delete a;  // leaves its owner
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), b);
  delete owner;  // frees b; the sanitizer build reports a leak or double free otherwise
}

TEST(Component, ClassNamesAndAssignError) {
  TSample s;
  TPen pen;
  EXPECT_EQ(s.ClassName(), "TSample");
  EXPECT_EQ(pen.ClassName(), "TPen");
  try {
    s.Assign(&pen);
    ADD_FAILURE() << "assigned unrelated classes";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TPen to a TSample");
  }
  try {
    s.Assign(nullptr);
    ADD_FAILURE() << "assigned nil";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TSample");
  }
}

TEST(Component, PropListPutsInheritedPropertiesFirst) {
  TSample s;
  const auto list = GetPropList(s);
  ASSERT_GE(list.size(), 3u);
  EXPECT_EQ(list[0]->Name, "Name");
  EXPECT_EQ(list[1]->Name, "Tag");
  EXPECT_EQ(list[2]->Name, "Count");
  EXPECT_EQ(GetPropInfo(s, "caption"), GetPropInfo(s, "Caption"));
  EXPECT_EQ(GetPropInfo(s, "Missing"), nullptr);
}

}  // namespace
}  // namespace veskmath::rtl
