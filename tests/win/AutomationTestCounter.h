// A small automation class for the runtime's tests: a counter with a property (get and put),
// a method with a result, a method that fails with error information (or throws), and the
// serving process's id. Its objects hold a lock of a test "module" while they live; the
// module posts WM_QUIT to the serving thread when the last lock goes, if asked to.
#pragma once

#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/TypeLib.h"

namespace veskmath::win::testing {

inline constexpr GUID LIBID_TestCounter = GuidLiteral("{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A01}");
inline constexpr IID IID_ITestCounter = GuidLiteral("{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A02}");
inline constexpr CLSID CLSID_TestCounter = GuidLiteral("{6B0F1C0E-5D51-4C3B-9A57-0D4C1E0A7A03}");
inline constexpr const char* kTestCounterProgID = "AutomationTest.Counter";

inline constexpr DISPID DISPID_Count = 1;
inline constexpr DISPID DISPID_Add = 2;
inline constexpr DISPID DISPID_Fail = 3;
inline constexpr DISPID DISPID_ProcessId = 4;

inline constexpr TParamDesc kI4Retval[] = {{"Value", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline constexpr TParamDesc kI4In[] = {{"", VT_I4, PARAMFLAG_FIN}};
inline constexpr TParamDesc kAddParams[] = {{"Amount", VT_I4, PARAMFLAG_FIN},
                                            {"Value", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline constexpr TParamDesc kFailParams[] = {{"Message", VT_BSTR, PARAMFLAG_FIN}};

inline constexpr TFuncDesc kCounterFuncs[] = {
    {"Count", DISPID_Count, TInvokeKind::PropertyGet, kI4Retval, "The count"},
    {"Count", DISPID_Count, TInvokeKind::PropertyPut, kI4In, "The count"},
    {"Add", DISPID_Add, TInvokeKind::Method, kAddParams, "Adds and answers the new count"},
    {"Fail", DISPID_Fail, TInvokeKind::Method, kFailParams, "Fails with the message"},
    {"ProcessId", DISPID_ProcessId, TInvokeKind::PropertyGet, kI4Retval, "The server's pid"},
};
inline constexpr TInterfaceDesc kITestCounter{IID_ITestCounter, "ITestCounter", true,
                                              "Counter interface", kCounterFuncs};
inline constexpr const TInterfaceDesc* kCounterInterfaces[] = {&kITestCounter};
inline constexpr TCoClassDesc kCounterClasses[] = {
    {CLSID_TestCounter, "TestCounter", "Counter object", &kITestCounter}};
inline constexpr TTypeLibDesc kCounterLib{
    LIBID_TestCounter,  "CounterLib",   1, 0, 1033, "Counter Library",
    kCounterInterfaces, kCounterClasses};

// The module lock of the serving process.
struct TestModule {
  static std::atomic<int>& Locks() {
    static std::atomic<int> locks{0};
    return locks;
  }
  // The thread to post WM_QUIT to when the count comes back to 0 (0: stay).
  static std::atomic<DWORD>& QuitThread() {
    static std::atomic<DWORD> thread{0};
    return thread;
  }
  static void Lock() { ++Locks(); }
  static void Unlock() {
    if (--Locks() == 0 && QuitThread() != 0) PostThreadMessageA(QuitThread(), WM_QUIT, 0, 0);
  }
};

class TTestCounter final : public TComObject<IDispatch> {
 public:
  TTestCounter() { TestModule::Lock(); }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetIDsOfNames(REFIID riid, const char16_t* const* names, UINT nameCount, LCID,
                        DISPID* dispIds) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(kITestCounter, names, nameCount, dispIds);
  }
  HRESULT Invoke(DISPID dispId, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    return DispInvoke(
        kITestCounter,
        [this](const TFuncDesc& f, std::span<VARIANT> args, VARIANT* value) {
          return Member(f, args, value);
        },
        dispId, riid, flags, params, result, excepInfo, argErr);
  }

 private:
  ~TTestCounter() override { TestModule::Unlock(); }

  HRESULT Member(const TFuncDesc& f, std::span<VARIANT> args, VARIANT* value) {
    switch (f.dispId) {
      case DISPID_Count:
        if (f.kind == TInvokeKind::PropertyPut) {
          FCount = args[0].lVal;
          return S_OK;
        }
        return Answer(FCount, value);
      case DISPID_Add:
        FCount += args[0].lVal;
        return Answer(FCount, value);
      case DISPID_ProcessId:
        return Answer(static_cast<std::int32_t>(::getpid()), value);
      case DISPID_Fail:
        return Fail(args[0].bstrVal);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  static HRESULT Answer(std::int32_t number, VARIANT* value) {
    value->vt = VT_I4;
    value->lVal = number;
    return S_OK;
  }

  // "throw" throws instead, to show what happens to an exception inside a member.
  static HRESULT Fail(const BSTR& message) {
    if (message.View() == u"throw") throw std::runtime_error("thrown by a member");
    ICreateErrorInfo* raw = nullptr;
    if (FAILED(CreateErrorInfo(&raw))) return E_FAIL;
    const ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
    create->SetGUID(IID_ITestCounter);
    create->SetSource(u"AutomationTest.Counter");
    create->SetDescription(message.c_str());
    ComPtr<IErrorInfo> info;
    create.As(info);
    SetErrorInfo(0, info.Get());
    return E_FAIL;
  }

  std::int32_t FCount = 0;
};

inline HRESULT CreateTestCounter(IUnknown*, REFIID riid, void** object) {
  const ComPtr<TTestCounter> counter = MakeComObject<TTestCounter>();
  return counter->QueryInterface(riid, object);
}

// ---- Calls through IDispatch, as a late-bound client makes them

inline HRESULT GetInt(IDispatch* d, DISPID id, std::int32_t& out) {
  DISPPARAMS none;
  VARIANT result;
  const HRESULT hr =
      d->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
  out = result.vt == VT_I4 ? result.lVal : -1;
  return hr;
}

inline HRESULT PutInt(IDispatch* d, DISPID id, std::int32_t value) {
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &named, 1, 1};
  return d->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

inline HRESULT CallAdd(IDispatch* d, std::int32_t amount, std::int32_t& out) {
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = amount;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  VARIANT result;
  const HRESULT hr =
      d->Invoke(DISPID_Add, GUID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  out = result.vt == VT_I4 ? result.lVal : -1;
  return hr;
}

inline HRESULT CallFail(IDispatch* d, std::u16string_view message, EXCEPINFO* excepInfo) {
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = BSTR(message);
  DISPPARAMS params{&arg, nullptr, 1, 0};
  return d->Invoke(DISPID_Fail, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, excepInfo,
                   nullptr);
}

// The description of the calling thread's error object, or "(none)".
inline std::string TakeErrorDescription() {
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) != S_OK || raw == nullptr) return "(none)";
  const ComPtr<IErrorInfo> info = ComPtr<IErrorInfo>::Attach(raw);
  BSTR text;
  info->GetDescription(&text);
  return WideToUtf8(text.View());
}

}  // namespace veskmath::win::testing
