#include "vocabulary/QelBaseComp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/PropertyStream.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::qel {
namespace {

using rtl::TClassInfo;
using rtl::TMemoryStream;
using rtl::TPublished;

enum TMode : uint8_t { mdFast, mdExact };

// A sub-component held by the example component.
class TScale : public TQelComponent {
 public:
  using TQelComponent::TQelComponent;
  double Factor() const { return FFactor; }
  void SetFactor(double v) { FFactor = v; }
  static const TClassInfo& StaticClassInfo() {
    using P = TPublished<TScale>;
    static const TClassInfo info{&TQelComponent::StaticClassInfo(),
                                 {P::Float("Factor", &TScale::Factor, &TScale::SetFactor)}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  double FFactor = 0;
};

// The example persistent component: several property kinds, defaults, a sub-component,
// and a record of the BlockAssign flag seen by its setters.
class TPlot : public TQelComponent {
 public:
  explicit TPlot(rtl::TComponent* owner = nullptr) : TQelComponent(owner) {
    FScale = new TScale(this);
    FScale->SetName("Scale");
    FScale->SetSubComponent(true);
  }
  int32_t Points() const { return FPoints; }
  void SetPoints(int32_t v) {
    FPoints = v;
    sawBlockAssign = BlockAssign();
  }
  TMode Mode() const { return FMode; }
  void SetMode(TMode v) { FMode = v; }
  bool Grid() const { return FGrid; }
  void SetGrid(bool v) { FGrid = v; }
  std::string Title() const { return FTitle; }
  void SetTitle(const std::string& v) { FTitle = v; }
  int64_t Seed() const { return FSeed; }
  void SetSeed(int64_t v) { FSeed = v; }
  int32_t Width() const { return FWidth; }  // no declared default
  void SetWidth(int32_t v) { FWidth = v; }
  TScale* Scale() const { return FScale; }

  bool sawBlockAssign = false;

  static const TClassInfo& StaticClassInfo() {
    using P = TPublished<TPlot>;
    static const TClassInfo info{&TQelComponent::StaticClassInfo(),
                                 {
                                     P::Integer("Points", &TPlot::Points, &TPlot::SetPoints, 100),
                                     P::Enumeration<TMode>("Mode", {"mdFast", "mdExact"},
                                                           &TPlot::Mode, &TPlot::SetMode, mdFast),
                                     P::Boolean("Grid", &TPlot::Grid, &TPlot::SetGrid, true),
                                     P::String("Title", &TPlot::Title, &TPlot::SetTitle),
                                     P::Int64("Seed", &TPlot::Seed, &TPlot::SetSeed),
                                     P::Integer("Width", &TPlot::Width, &TPlot::SetWidth),
                                     P::Class("Scale", &TPlot::Scale),
                                 }};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 private:
  int32_t FPoints = 100;
  TMode FMode = mdFast;
  bool FGrid = true;
  std::string FTitle;
  int64_t FSeed = 0;
  int32_t FWidth = 640;
  TScale* FScale;
};

// Same properties, different class.
class TChart : public TPlot {};

void Customize(TPlot& p) {
  p.SetPoints(7);
  p.SetMode(mdExact);
  p.SetGrid(false);
  p.SetTitle("sin(x)");
  p.SetSeed(-99);
  p.SetWidth(1024);
  p.SetTag(12);
  p.Scale()->SetFactor(2.5);
}

void ExpectCustomized(TPlot& p) {
  EXPECT_EQ(p.Points(), 7);
  EXPECT_EQ(p.Mode(), mdExact);
  EXPECT_FALSE(p.Grid());
  EXPECT_EQ(p.Title(), "sin(x)");
  EXPECT_EQ(p.Seed(), -99);
  EXPECT_EQ(p.Width(), 1024);
  EXPECT_EQ(p.Tag(), 12);
  EXPECT_EQ(p.Scale()->Factor(), 2.5);
}

void ExpectDefaults(TPlot& p, int32_t width) {
  EXPECT_EQ(p.Points(), 100);
  EXPECT_EQ(p.Mode(), mdFast);
  EXPECT_TRUE(p.Grid());
  EXPECT_EQ(p.Title(), "");
  EXPECT_EQ(p.Seed(), 0);
  EXPECT_EQ(p.Width(), width);
  EXPECT_EQ(p.Tag(), 0);
  EXPECT_EQ(p.Scale()->Factor(), 0.0);
}

std::string Contents(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

TMemoryStream* StreamOf(const std::string& bytes) {
  auto* s = new TMemoryStream;
  s->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

std::string HeaderFor(int32_t length, const std::string& name) {
  std::string h(4, '\0');
  std::memcpy(h.data(), &length, 4);
  return h + name;
}

void ExpectMessage(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

TEST(QelBaseComp, SaveWritesHeaderAndUnnamedBlock) {
  TPlot p;
  p.SetName("MyPlot");
  TMemoryStream s;
  p.SaveToStream(s);
  const std::string bytes = Contents(s);
  EXPECT_EQ(bytes.substr(0, 9), HeaderFor(5, "TPlot"));
  EXPECT_EQ(bytes.substr(9), std::string("TPF0\x05TPlot\0\x05Width\x01\x80\x02\0\0\0", 23))
      << "defaults omitted, no component name, Width (no default) written";
  EXPECT_EQ(bytes.find("MyPlot"), std::string::npos);
  EXPECT_EQ(p.Name(), "MyPlot");
}

TEST(QelBaseComp, StreamRoundTripReproducesEveryStoredProperty) {
  TPlot a;
  a.SetName("A");
  Customize(a);
  TMemoryStream s;
  a.SaveToStream(s);
  s.SetPosition(0);
  TPlot b;
  b.SetName("B");
  b.LoadFromStream(s);
  ExpectCustomized(b);
  EXPECT_EQ(b.Name(), "B");
  EXPECT_EQ(a.Name(), "A");
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(QelBaseComp, FileRoundTripAndMissingFile) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("qelbasecomp_" + std::to_string(getpid()) + ".bin"))
                               .string();
  std::remove(path.c_str());
  TPlot a;
  Customize(a);
  TPlot untouched;
  untouched.LoadFromFile(path);  // missing: nothing happens
  ExpectDefaults(untouched, 640);
  untouched.LoadFromFile(std::filesystem::temp_directory_path().string());  // a directory
  ExpectDefaults(untouched, 640);

  a.SaveToFile(path);
  a.SaveToFile(path);  // replaces, does not append
  TPlot b;
  b.LoadFromFile(path);
  ExpectCustomized(b);
  {
    // While a load holds the file, other writers are locked out; it is released afterwards.
    rtl::TFileStream reader(path, rtl::fmOpenRead | rtl::fmShareDenyWrite);
    EXPECT_THROW(a.SaveToFile(path), rtl::EFCreateError);
  }
  TPlot c;
  c.LoadFromFile(path);
  ExpectCustomized(c);
  std::remove(path.c_str());
}

TEST(QelBaseComp, LoadingAnotherClassFailsAndChangesNothing) {
  TChart chart;
  Customize(chart);
  TMemoryStream s;
  chart.SaveToStream(s);
  s.SetPosition(0);
  TPlot p;
  p.SetName("Keep");
  ExpectMessage([&] { p.LoadFromStream(s); }, "Data format type missmatch: TChart <> TPlot");
  ExpectDefaults(p, 640);
  EXPECT_EQ(p.Name(), "Keep");

  // Class names compare case-sensitively.
  std::unique_ptr<TMemoryStream> lower(StreamOf(HeaderFor(5, "tplot")));
  ExpectMessage([&] { p.LoadFromStream(*lower); }, "Data format type missmatch: tplot <> TPlot");
}

TEST(QelBaseComp, NameLengthIsClampedTo0To254) {
  TPlot p;
  const std::string longName(300, 'N');
  struct Case {
    int32_t length;
    std::string message;
  };
  const std::vector<Case> cases = {
      {1000, "Data format type missmatch: " + std::string(254, 'N') + " <> TPlot"},
      {255, "Data format type missmatch: " + std::string(254, 'N') + " <> TPlot"},
      {-5, "Data format type missmatch:  <> TPlot"},
      {INT32_MIN, "Data format type missmatch:  <> TPlot"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TMemoryStream> s(StreamOf(HeaderFor(c.length, longName)));
    ExpectMessage([&] { p.LoadFromStream(*s); }, c.message);
    EXPECT_EQ(s->Position(), 4 + (c.length < 0 ? 0 : 254)) << c.length;
  }
  // A header cut short is a stream read error.
  std::unique_ptr<TMemoryStream> cut(StreamOf(HeaderFor(5, "TPl")));
  EXPECT_THROW(p.LoadFromStream(*cut), rtl::EReadError);
}

TEST(QelBaseComp, LoadKeepsUnrecordedPropertiesButAssignResets) {
  TPlot fresh;
  TMemoryStream s;
  fresh.SaveToStream(s);

  TPlot loaded;
  Customize(loaded);
  s.SetPosition(0);
  loaded.LoadFromStream(s);
  // Only Width was recorded (it has no default); the rest stays as customized.
  EXPECT_EQ(loaded.Points(), 7);
  EXPECT_EQ(loaded.Title(), "sin(x)");
  EXPECT_EQ(loaded.Scale()->Factor(), 2.5);
  EXPECT_EQ(loaded.Width(), 640);

  TPlot assigned;
  assigned.SetName("Assigned");
  Customize(assigned);
  fresh.SetWidth(320);
  assigned.Assign(&fresh);
  ExpectDefaults(assigned, 320);  // the string Title, too, is back to empty
  EXPECT_EQ(assigned.Name(), "Assigned");
}

TEST(QelBaseComp, AssignCopiesOrDefersToInheritedAssign) {
  TPlot source;
  source.SetName("Source");
  Customize(source);
  TPlot dest;
  dest.SetName("Dest");
  dest.Assign(&source);
  ExpectCustomized(dest);
  EXPECT_EQ(source.Name(), "Source");
  EXPECT_EQ(dest.Name(), "Dest");

  TChart chart;
  ExpectMessage([&] { dest.Assign(&chart); }, "Cannot assign a TChart to a TPlot");
  ExpectCustomized(dest);
}

TEST(QelBaseComp, AssignComponentChecksClassesAndResets) {
  TPlot source;
  source.SetName("S");
  source.SetTitle("copied");
  TPlot dest;
  dest.SetName("D");
  Customize(dest);
  AssignComponent(source, dest);
  EXPECT_EQ(dest.Title(), "copied");
  EXPECT_EQ(dest.Points(), 100);
  EXPECT_EQ(dest.Scale()->Factor(), 0.0);
  EXPECT_EQ(dest.Name(), "D");
  EXPECT_EQ(source.Name(), "S");

  TChart chart;
  ExpectMessage([&] { AssignComponent(chart, dest); }, "TChart <> TPlot");
  EXPECT_EQ(dest.Title(), "copied");
}

TEST(QelBaseComp, ResetPropertiesLeavesPropertiesWithoutDefaults) {
  TPlot p;
  Customize(p);
  ResetProperties(p);
  ExpectDefaults(p, 1024);  // Width declares no default
}

TEST(QelBaseComp, TemplateOperationsSetBlockAssignOnlyWhileTheyRun) {
  TPlot a;
  Customize(a);
  TMemoryStream s;
  a.SaveTemplateToStream(s);
  EXPECT_FALSE(a.BlockAssign());

  TPlot b;
  s.SetPosition(0);
  b.LoadTemplateFromStream(s);
  EXPECT_TRUE(b.sawBlockAssign);
  EXPECT_FALSE(b.BlockAssign());

  TPlot c;
  c.AssignTemplate(&a);
  EXPECT_TRUE(c.sawBlockAssign);
  EXPECT_FALSE(c.BlockAssign());
  EXPECT_FALSE(a.BlockAssign());
  ExpectCustomized(c);

  // A failing load still clears the flag and restores the name.
  TChart chart;
  TMemoryStream other;
  chart.SaveToStream(other);
  other.SetPosition(0);
  c.SetName("Named");
  EXPECT_THROW(c.LoadTemplateFromStream(other), rtl::Exception);
  EXPECT_FALSE(c.BlockAssign());
  EXPECT_EQ(c.Name(), "Named");
  EXPECT_THROW(c.AssignTemplate(&chart), rtl::EConvertError);
  EXPECT_FALSE(c.BlockAssign());
  EXPECT_FALSE(chart.BlockAssign());
}

TEST(QelBaseComp, CorruptBlockKeepsNameAndObject) {
  TPlot a;
  Customize(a);
  TMemoryStream s;
  a.SaveToStream(s);
  std::string bytes = Contents(s);
  bytes.resize(bytes.size() - 3);  // cut inside the block
  std::unique_ptr<TMemoryStream> cut(StreamOf(bytes));
  TPlot b;
  b.SetName("Kept");
  EXPECT_THROW(b.LoadFromStream(*cut), rtl::EReadError);
  EXPECT_EQ(b.Name(), "Kept");
  ExpectDefaults(b, 640);
}

TEST(QelBaseComp, BaseHooks) {
  TQelComponent c;
  EXPECT_TRUE(c.Update());
  EXPECT_EQ(c.EditorClass(), nullptr);
  EXPECT_FALSE(c.EditorActive());
  c.SetEditorActive(true);
  EXPECT_TRUE(c.EditorActive());
}

}  // namespace
}  // namespace veskmath::qel
