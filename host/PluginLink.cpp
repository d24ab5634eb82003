#include "host/PluginLink.h"

#include <utility>

#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "host/MathSymbols.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/Registry.h"

namespace veskmath::host {

using win::FAILED;

TDispatchLink::TDispatchLink(win::ComPtr<win::IDispatch> object) : FObject(std::move(object)) {}

win::HRESULT TDispatchLink::PutYomi(const win::BSTR& value) { return Put(u"VeskYomi", value); }

win::HRESULT TDispatchLink::PutHyoki(const win::BSTR& value) { return Put(u"VeskHyoki", value); }

win::HRESULT TDispatchLink::GetResult(win::BSTR* value) {
  win::DISPID id = 0;
  win::HRESULT hr = IdOf(u"VeskResult", id);
  if (FAILED(hr)) return hr;
  win::DISPPARAMS none;
  win::VARIANT result;
  hr = FObject->Invoke(id, win::GUID_NULL, 0, win::DISPATCH_PROPERTYGET, &none, &result, nullptr,
                       nullptr);
  if (FAILED(hr)) return hr;
  if (FAILED(win::VariantChangeType(&result, &result, 0, win::VT_BSTR))) {
    return win::DISP_E_TYPEMISMATCH;
  }
  *value = std::move(result.bstrVal);
  return hr;
}

win::HRESULT TDispatchLink::Start(std::int32_t hWnd) {
  win::DISPID id = 0;
  const win::HRESULT hr = IdOf(u"VeskStart", id);
  if (FAILED(hr)) return hr;
  win::VARIANT arg;
  arg.vt = win::VT_I4;
  arg.lVal = hWnd;
  win::DISPPARAMS params{&arg, nullptr, 1, 0};
  return FObject->Invoke(id, win::GUID_NULL, 0, win::DISPATCH_METHOD, &params, nullptr, nullptr,
                         nullptr);
}

win::HRESULT TDispatchLink::IdOf(const char16_t* name, win::DISPID& id) {
  return FObject->GetIDsOfNames(win::GUID_NULL, &name, 1, 0, &id);
}

win::HRESULT TDispatchLink::Put(const char16_t* name, const win::BSTR& value) {
  win::DISPID id = 0;
  const win::HRESULT hr = IdOf(name, id);
  if (FAILED(hr)) return hr;
  win::VARIANT arg;
  arg.vt = win::VT_BSTR;
  arg.bstrVal = value;
  win::DISPID named = win::DISPID_PROPERTYPUT;
  win::DISPPARAMS params{&arg, &named, 1, 1};
  return FObject->Invoke(id, win::GUID_NULL, 0, win::DISPATCH_PROPERTYPUT, &params, nullptr,
                         nullptr, nullptr);
}

std::optional<std::string> EnsureHostKey() {
  try {
    win::TRegistry reg;
    reg.SetRootKey(win::HKEY_LOCAL_MACHINE);
    if (!reg.KeyExists(std::string("\\") + server::kVeskHostKey)) {
      reg.CreateKey(std::string("\\") + server::kVeskHostKey);
    }
  } catch (const rtl::Exception& e) {
    return win::AnsiToUtf8(e.Message());
  }
  return std::nullopt;
}

std::optional<std::string> FindPlugin() {
  win::TRegistry reg;
  reg.SetRootKey(win::HKEY_LOCAL_MACHINE);
  for (int number = 1;; ++number) {
    const std::string entry =
        std::string("\\") + server::kVeskHostKey + "\\" + server::HostEntryName(number);
    if (!reg.OpenKeyReadOnly(entry)) return std::nullopt;
    std::string id;
    try {
      id = reg.ReadString("ID");
    } catch (const win::ERegistryException&) {
      // an "ID" that is not a text names no plug-in
    }
    reg.CloseKey();
    if (id == server::kVeskMathProgID) return id;
  }
}

std::string ExplainFailure(std::string_view notation) {
  std::string reason;
  // The server was given the notation with ASCII operators: it is asked about the same text.
  if (win::FAILED(win::CallClassMethod(server::CLSID_FuVeskMath, server::kDiagnosticsInterface,
                                       server::kFailureReasonMember, AsciiOperators(notation),
                                       reason))) {
    return {};
  }
  return reason;
}

std::string ErrorDescription() {
  win::ComPtr<win::IErrorInfo> info;
  if (win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != win::S_OK || !info) return {};
  win::BSTR text;
  if (FAILED(info->GetDescription(&text))) return {};
  return win::WideToUtf8(text.View());
}

TConnectResult ConnectToPlugin() {
  TConnectResult out;
  std::optional<std::string> progId;
  try {
    progId = FindPlugin();
  } catch (const rtl::Exception& e) {
    out.Failure = TConnectFailure::RegistryUnreadable;
    out.Detail = win::AnsiToUtf8(e.Message());
    return out;
  }
  if (!progId) {
    out.Failure = TConnectFailure::NotInstalled;
    return out;
  }
  if (FAILED(win::CLSIDFromProgID(win::AnsiToWide(*progId).c_str(), &out.Clsid))) {
    out.Failure = TConnectFailure::ClassNotRegistered;
    out.Detail = win::AnsiToUtf8(*progId);
    return out;
  }
  win::AddKnownTypeLib(server::kVeskMathLibrary);
  win::ComPtr<win::IDispatch> object;
  out.HResult =
      win::CoCreateInstance(out.Clsid, nullptr, win::CLSCTX_LOCAL_SERVER, win::IID_IDispatch,
                            reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
  if (FAILED(out.HResult)) {
    out.Failure = TConnectFailure::CreateFailed;
    out.Detail = ErrorDescription();
    return out;
  }
  out.Link = std::make_unique<TDispatchLink>(std::move(object));
  return out;
}

}  // namespace veskmath::host
