#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/win/RegistryFile.h"
#include "platform/win/TypeLib.h"
#include "tests/win/AutomationTestCounter.h"

namespace veskmath::win {
namespace {

using namespace testing;

ComPtr<IDispatch> NewCounter() {
  ComPtr<IDispatch> d;
  EXPECT_EQ(CreateTestCounter(nullptr, IID_IDispatch,
                              reinterpret_cast<void**>(d.ReleaseAndGetAddressOf())),
            S_OK);
  return d;
}

struct NamesCase {
  std::vector<const char16_t*> names;
  HRESULT hr;
  std::vector<DISPID> ids;
};

TEST(AutomationTypeLib, GetIDsOfNamesIgnoresCaseAndNamesParameters) {
  const std::vector<NamesCase> cases = {
      {{u"Count"}, S_OK, {DISPID_Count}},
      {{u"count"}, S_OK, {DISPID_Count}},
      {{u"ADD", u"amount"}, S_OK, {DISPID_Add, 0}},
      {{u"Add", u"Nope"}, DISP_E_UNKNOWNNAME, {DISPID_Add, DISPID_UNKNOWN}},
      {{u"Missing", u"Amount"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
      {{u"Coun"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
  };
  const ComPtr<IDispatch> d = NewCounter();
  for (const NamesCase& c : cases) {
    std::vector<DISPID> ids(c.names.size(), 12345);
    EXPECT_EQ(d->GetIDsOfNames(GUID_NULL, c.names.data(), static_cast<UINT>(c.names.size()), 0,
                               ids.data()),
              c.hr)
        << WideToUtf8(c.names[0]);
    EXPECT_EQ(ids, c.ids) << WideToUtf8(c.names[0]);
  }
}

TEST(AutomationTypeLib, InvokeReachesGetPutAndMethod) {
  const ComPtr<IDispatch> d = NewCounter();
  std::int32_t value = 0;
  EXPECT_EQ(PutInt(d.Get(), DISPID_Count, 40), S_OK);
  EXPECT_EQ(GetInt(d.Get(), DISPID_Count, value), S_OK);
  EXPECT_EQ(value, 40);
  EXPECT_EQ(CallAdd(d.Get(), 2, value), S_OK);
  EXPECT_EQ(value, 42);
  // Script hosts read a property with METHOD | PROPERTYGET.
  DISPPARAMS none;
  VARIANT result;
  EXPECT_EQ(d->Invoke(DISPID_Count, GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                      &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.lVal, 42);
}

TEST(AutomationTypeLib, ArgumentsAreConvertedToTheDeclaredType) {
  const ComPtr<IDispatch> d = NewCounter();
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = BSTR(u"7");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  VARIANT result;
  EXPECT_EQ(
      d->Invoke(DISPID_Add, GUID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 7);
}

struct BadCallCase {
  const char* what;
  DISPID dispId;
  WORD flags;
  std::vector<VARIANT> args;
  std::vector<DISPID> named;
  IID iid;
  HRESULT hr;
  UINT argErr;
};

TEST(AutomationTypeLib, BadCallsAreRefusedWithTheirCodes) {
  VARIANT one;
  one.vt = VT_I4;
  one.lVal = 1;
  VARIANT word;
  word.vt = VT_BSTR;
  word.bstrVal = BSTR(u"x");
  const std::vector<BadCallCase> cases = {
      {"unknown DISPID", 99, DISPATCH_METHOD, {}, {}, GUID_NULL, DISP_E_MEMBERNOTFOUND, 0},
      {"put of a method",
       DISPID_Add,
       DISPATCH_PROPERTYPUT,
       {one},
       {},
       GUID_NULL,
       DISP_E_MEMBERNOTFOUND,
       0},
      {"get of a method",
       DISPID_Add,
       DISPATCH_PROPERTYGET,
       {one},
       {},
       GUID_NULL,
       DISP_E_MEMBERNOTFOUND,
       0},
      {"put of a read-only property",
       DISPID_ProcessId,
       DISPATCH_PROPERTYPUT,
       {one},
       {},
       GUID_NULL,
       DISP_E_MEMBERNOTFOUND,
       0},
      {"missing argument", DISPID_Add, DISPATCH_METHOD, {}, {}, GUID_NULL, DISP_E_BADPARAMCOUNT, 0},
      {"extra argument",
       DISPID_Add,
       DISPATCH_METHOD,
       {one, one},
       {},
       GUID_NULL,
       DISP_E_BADPARAMCOUNT,
       0},
      {"named argument of a method",
       DISPID_Add,
       DISPATCH_METHOD,
       {one},
       {0},
       GUID_NULL,
       DISP_E_NONAMEDARGS,
       0},
      {"text that is no number",
       DISPID_Add,
       DISPATCH_METHOD,
       {word},
       {},
       GUID_NULL,
       DISP_E_TYPEMISMATCH,
       0},
      {"interface id not null",
       DISPID_Add,
       DISPATCH_METHOD,
       {one},
       {},
       IID_ITestCounter,
       DISP_E_UNKNOWNINTERFACE,
       0},
  };
  const ComPtr<IDispatch> d = NewCounter();
  for (const BadCallCase& c : cases) {
    std::vector<VARIANT> args = c.args;
    std::vector<DISPID> named = c.named;
    DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    UINT argErr = 77;
    VARIANT result;
    EXPECT_EQ(d->Invoke(c.dispId, c.iid, 0, c.flags, &params, &result, nullptr, &argErr), c.hr)
        << c.what;
    if (c.hr == DISP_E_TYPEMISMATCH) {
      EXPECT_EQ(argErr, c.argErr) << c.what;
    }
  }
}

TEST(AutomationTypeLib, FailingMemberGivesExceptionWithItsErrorInformation) {
  const ComPtr<IDispatch> d = NewCounter();
  EXCEPINFO e;
  EXPECT_EQ(CallFail(d.Get(), u"no luck", &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, E_FAIL);
  EXPECT_EQ(e.bstrDescription, BSTR(u"no luck"));
  EXPECT_EQ(e.bstrSource, BSTR(u"AutomationTest.Counter"));
  EXPECT_EQ(TakeErrorDescription(), "no luck");  // still set on the thread
}

// ---- Registration

class AutomationTypeLibRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-typelib-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    FDir = pattern;
    FRegistry = FDir + "/registry.reg";
    const char* old = std::getenv("VESKMATH_REGISTRY");
    if (old) FOld = old;
    ::setenv("VESKMATH_REGISTRY", FRegistry.c_str(), 1);
  }
  void TearDown() override {
    if (FOld) {
      ::setenv("VESKMATH_REGISTRY", FOld->c_str(), 1);
    } else {
      ::unsetenv("VESKMATH_REGISTRY");
    }
    std::filesystem::remove_all(FDir);
  }
  std::optional<std::string> Default(const std::string& key, const std::string& name = "") {
    RegistryFile file(FRegistry);
    const auto v = file.GetValue(HKEY_CLASSES_ROOT, key, name);
    if (!v) return std::nullopt;
    return v->text;
  }

  std::string FDir;
  std::string FRegistry;
  std::optional<std::string> FOld;
};

TEST_F(AutomationTypeLibRegistry, WritesLibraryAndInterfaceEntries) {
  ASSERT_EQ(RegisterTypeLib(kCounterLib, "/opt/a b/server", "/opt/a b"), S_OK);
  const std::string lib = "TypeLib\\{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A01}\\1.0";
  EXPECT_EQ(TypeLibVersionKey(kCounterLib), lib);
  EXPECT_EQ(Default(lib), "Counter Library");
  EXPECT_EQ(Default(lib + "\\409\\win32"), "/opt/a b/server");
  EXPECT_EQ(Default(lib + "\\FLAGS"), "0");
  EXPECT_EQ(Default(lib + "\\HELPDIR"), "/opt/a b");
  const std::string itf = "Interface\\{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A02}";
  EXPECT_EQ(Default(itf), "ITestCounter");
  EXPECT_EQ(Default(itf + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(Default(itf + "\\TypeLib"), "{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A01}");
  EXPECT_EQ(Default(itf + "\\TypeLib", "Version"), "1.0");
}

TEST_F(AutomationTypeLibRegistry, UnwritableRegistryIsReported) {
  // A regular file where the registry's directory should be: not writable even for root.
  std::FILE* f = std::fopen((FDir + "/plain").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ::setenv("VESKMATH_REGISTRY", (FDir + "/plain/registry.reg").c_str(), 1);
  EXPECT_EQ(RegisterTypeLib(kCounterLib, "/x", "/"), TYPE_E_REGISTRYACCESS);
}

TEST(AutomationTypeLibKnown, FindsRegisteredDescriptions) {
  AddKnownTypeLib(kCounterLib);
  AddKnownTypeLib(kCounterLib);  // twice is once
  ASSERT_NE(FindKnownCoClass(CLSID_TestCounter), nullptr);
  EXPECT_EQ(FindKnownCoClass(CLSID_TestCounter)->defaultInterface, &kITestCounter);
  EXPECT_EQ(FindKnownCoClass(LIBID_TestCounter), nullptr);
}

}  // namespace
}  // namespace veskmath::win
