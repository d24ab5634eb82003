#include "platform/win/OleTypes.h"

#include <gtest/gtest.h>

#include <thread>

namespace veskmath::win {
namespace {

TEST(OleTypes, ResultCodesHaveTheirUsualValuesAndSeverity) {
  EXPECT_EQ(static_cast<std::uint32_t>(DISP_E_EXCEPTION), 0x80020009u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<std::uint32_t>(CLASS_E_NOAGGREGATION), 0x80040110u);
  EXPECT_EQ(static_cast<std::uint32_t>(REGDB_E_CLASSNOTREG), 0x80040154u);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_FALSE(FAILED(S_OK));
  EXPECT_TRUE(FAILED(E_UNEXPECTED));
  EXPECT_TRUE(FAILED(RPC_E_DISCONNECTED));
}

// ---- GUIDs

TEST(OleTypesGuid, RoundTripsInUpperCaseRegistryForm) {
  const char* const texts[] = {
      "{00000000-0000-0000-0000-000000000000}",
      "{00020400-0000-0000-C000-000000000046}",
      "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}",
      "{1CF2B120-547D-101B-8E65-08002B2BD119}",
  };
  for (const char* text : texts) {
    const std::optional<GUID> g = ParseGUID(std::string_view(text));
    ASSERT_TRUE(g.has_value()) << text;
    EXPECT_EQ(GUIDToString(*g), text);
  }
}

TEST(OleTypesGuid, FieldsAndLowerCaseInput) {
  const std::optional<GUID> g =
      ParseGUID(std::string_view("{12345678-9abc-def0-1122-334455667788}"));
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->Data1, 0x12345678u);
  EXPECT_EQ(g->Data2, 0x9ABC);
  EXPECT_EQ(g->Data3, 0xDEF0);
  EXPECT_EQ(g->Data4[0], 0x11);
  EXPECT_EQ(g->Data4[7], 0x88);
  EXPECT_EQ(GUIDToString(*g), "{12345678-9ABC-DEF0-1122-334455667788}");
}

TEST(OleTypesGuid, RejectsAnythingButTheBracedForm) {
  const char* const bad[] = {
      "",
      "12345678-9ABC-DEF0-1122-334455667788",     // no braces
      "{12345678-9ABC-DEF0-1122-33445566778}",    // one digit short
      "{12345678-9ABC-DEF0-1122-3344556677889}",  // one digit long
      "{12345678-9ABC-DEF0-1122-33445566778G}",   // not hex
      "{12345678_9ABC-DEF0-1122-334455667788}",   // wrong separator
      "{12345678-9ABC-DEF01122-3344556677-88}",   // dash misplaced
      " {12345678-9ABC-DEF0-1122-334455667788}",  // blank around
  };
  for (const char* text : bad) EXPECT_FALSE(ParseGUID(std::string_view(text))) << text;
}

// ---- BSTR

TEST(OleTypesBstr, NullAndEmptyAreDifferentValuesOfLengthZero) {
  const BSTR null;
  const BSTR empty(u"");
  EXPECT_TRUE(null.IsNull());
  EXPECT_FALSE(empty.IsNull());
  EXPECT_EQ(null.Length(), 0u);
  EXPECT_EQ(empty.Length(), 0u);
  EXPECT_EQ(null.c_str(), nullptr);
  ASSERT_NE(empty.c_str(), nullptr);
  EXPECT_EQ(empty.c_str()[0], u'\0');
  EXPECT_NE(null, empty);
}

TEST(OleTypesBstr, MoveLeavesNullCopyIsIndependentAndNullsAreKept) {
  BSTR a(u"abc");
  BSTR b = a;
  EXPECT_EQ(b.View(), u"abc");
  BSTR c = std::move(a);
  EXPECT_TRUE(a.IsNull());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
  EXPECT_EQ(c.View(), u"abc");
  b = std::move(c);
  EXPECT_TRUE(c.IsNull());  // NOLINT(bugprone-use-after-move)
}

// ---- IUnknown, TComObject, ComPtr

class IProbe : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{A1A1A1A1-0000-0000-0000-000000000001}");
  using Base = IUnknown;
  virtual int Value() = 0;

 protected:
  ~IProbe() = default;
};

class IProbe2 : public IProbe {
 public:
  static constexpr IID kIid = GuidLiteral("{A1A1A1A1-0000-0000-0000-000000000002}");
  using Base = IProbe;

 protected:
  ~IProbe2() = default;
};

class TProbe final : public TComObject<IProbe2, ISupportErrorInfo> {
 public:
  explicit TProbe(bool* destroyed) : FDestroyed(destroyed) {}
  ~TProbe() override { *FDestroyed = true; }
  int Value() override { return 7; }
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IProbe::kIid ? S_OK : S_FALSE;
  }

 private:
  bool* FDestroyed;
};

TEST(OleTypesComObject, QueryInterfaceAnswersInterfacesParentsAndIUnknown) {
  bool destroyed = false;
  ComPtr<TProbe> object = MakeComObject<TProbe>(&destroyed);

  ComPtr<IProbe> parent;
  EXPECT_EQ(object.As(parent), S_OK);
  EXPECT_EQ(parent->Value(), 7);
  ComPtr<ISupportErrorInfo> support;
  EXPECT_EQ(object.As(support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IProbe::kIid), S_OK);
  ComPtr<IUnknown> unknownA;
  ComPtr<IUnknown> unknownB;
  EXPECT_EQ(parent.As(unknownA), S_OK);
  EXPECT_EQ(support.As(unknownB), S_OK);
  EXPECT_EQ(unknownA.Get(), unknownB.Get());  // one identity whichever interface asks

  ComPtr<IDispatch> none;
  EXPECT_EQ(object.As(none), E_NOINTERFACE);
  EXPECT_FALSE(none);
  EXPECT_EQ(object->QueryInterface(IProbe::kIid, nullptr), E_POINTER);

  parent.Reset();
  support.Reset();
  unknownA.Reset();
  unknownB.Reset();
  EXPECT_FALSE(destroyed);
  object.Reset();
  EXPECT_TRUE(destroyed);
}

// ---- VARIANT coercion

struct CoercionCase {
  const char* name;
  VARIANT source;
  VARTYPE target;
  HRESULT expected;
  VARIANT result;
};

VARIANT I4(std::int32_t v) {
  VARIANT r;
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}
VARIANT Str(std::u16string_view s) {
  VARIANT r;
  r.vt = VT_BSTR;
  r.bstrVal = BSTR(s);
  return r;
}
VARIANT Bool(bool b) {
  VARIANT r;
  r.vt = VT_BOOL;
  r.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}
VARIANT Of(VARTYPE vt) {
  VARIANT r;
  r.vt = vt;
  return r;
}

class OleTypesVariant : public ::testing::TestWithParam<CoercionCase> {};

TEST_P(OleTypesVariant, ChangeType) {
  const CoercionCase& c = GetParam();
  VARIANT out;
  EXPECT_EQ(VariantChangeType(&out, &c.source, 0, c.target), c.expected);
  if (SUCCEEDED(c.expected)) {
    EXPECT_EQ(out.vt, c.result.vt);
    EXPECT_EQ(out.lVal, c.result.lVal);
    EXPECT_EQ(out.boolVal, c.result.boolVal);
    EXPECT_EQ(out.bstrVal, c.result.bstrVal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OleTypesVariant,
    ::testing::Values(
        CoercionCase{"TextToI4", Str(u" -42 "), VT_I4, S_OK, I4(-42)},
        CoercionCase{"MinI4", Str(u"-2147483648"), VT_I4, S_OK, I4(INT32_MIN)},
        CoercionCase{"TextOverflow", Str(u"2147483648"), VT_I4, DISP_E_OVERFLOW, {}},
        CoercionCase{"LongOverflow", Str(u"123456789012345678901"), VT_I4, DISP_E_OVERFLOW, {}},
        CoercionCase{"NotANumber", Str(u"4x"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        CoercionCase{"SignOnly", Str(u"+"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        CoercionCase{"NullBstrToI4", Of(VT_BSTR), VT_I4, DISP_E_TYPEMISMATCH, {}},
        CoercionCase{"EmptyToI4", Of(VT_EMPTY), VT_I4, S_OK, I4(0)},
        CoercionCase{"EmptyToBstrIsEmptyNotNull", Of(VT_EMPTY), VT_BSTR, S_OK, Str(u"")},
        CoercionCase{"TrueToI4", Bool(true), VT_I4, S_OK, I4(-1)},
        CoercionCase{"I4ToBool", I4(5), VT_BOOL, S_OK, Bool(true)},
        CoercionCase{"TextToBool", Str(u"false"), VT_BOOL, S_OK, Bool(false)},
        CoercionCase{"I4ToBstr", I4(-7), VT_BSTR, S_OK, Str(u"-7")},
        CoercionCase{"UnknownTarget", I4(1), 5, DISP_E_BADVARTYPE, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(OleTypesVariantInPlace, DestMayBeSource) {
  VARIANT v = Str(u"12");
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 12);
  EXPECT_TRUE(v.bstrVal.IsNull());  // the other fields are back at zero
}

// ---- Error information

ComPtr<IErrorInfo> MakeError(const char16_t* description) {
  ICreateErrorInfo* raw = nullptr;
  EXPECT_EQ(CreateErrorInfo(&raw), S_OK);
  ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
  create->SetGUID(IProbe::kIid);
  create->SetSource(u"VeskMath.FuVeskMath");
  create->SetDescription(description);
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(create.As(info), S_OK);
  return info;
}

TEST(OleTypesErrorInfo, SetThenGetHandsTheObjectOverOnce) {
  ComPtr<IErrorInfo> info = MakeError(u"Invalid floating point operation");
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  info.Reset();

  IErrorInfo* raw = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &raw), S_OK);
  ComPtr<IErrorInfo> got = ComPtr<IErrorInfo>::Attach(raw);
  GUID guid;
  BSTR source, description;
  got->GetGUID(&guid);
  got->GetSource(&source);
  got->GetDescription(&description);
  EXPECT_EQ(guid, IProbe::kIid);
  EXPECT_EQ(source.View(), u"VeskMath.FuVeskMath");
  EXPECT_EQ(description.View(), u"Invalid floating point operation");

  EXPECT_EQ(GetErrorInfo(0, &raw), S_FALSE);  // taken: the slot is empty now
  EXPECT_EQ(raw, nullptr);
}

TEST(OleTypesErrorInfo, EachThreadHasItsOwnSlot) {
  ComPtr<IErrorInfo> info = MakeError(u"main");
  SetErrorInfo(0, info.Get());
  HRESULT seenByOther = E_FAIL;
  std::thread other([&] {
    IErrorInfo* raw = nullptr;
    seenByOther = GetErrorInfo(0, &raw);
    ComPtr<IErrorInfo> mine = MakeError(u"other");
    SetErrorInfo(0, mine.Get());  // released when the thread ends
  });
  other.join();
  EXPECT_EQ(seenByOther, S_FALSE);
  IErrorInfo* raw = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &raw), S_OK);
  ComPtr<IErrorInfo> got = ComPtr<IErrorInfo>::Attach(raw);
  BSTR description;
  got->GetDescription(&description);
  EXPECT_EQ(description.View(), u"main");
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace veskmath::win
