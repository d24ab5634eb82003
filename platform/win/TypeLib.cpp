#include "platform/win/TypeLib.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <vector>

#include "platform/win/CodePage.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::win {

std::size_t TFuncDesc::InCount() const {
  return static_cast<std::size_t>(std::ranges::count_if(params, &TParamDesc::IsIn));
}

const TParamDesc* TFuncDesc::Retval() const {
  const auto retval = std::ranges::find_if(params, &TParamDesc::IsRetval);
  return retval == params.end() ? nullptr : &*retval;
}

namespace {

// Automation names compare without regard to case ("count" finds "Count").
bool SameName(std::u16string_view a, std::string_view utf8) {
  return rtl::SameText(WideToUtf8(a), utf8);
}

// Copies the calling thread's error information into `excepInfo` and puts it back, so that
// both the EXCEPINFO and a later GetErrorInfo see it.
void FillExcepInfo(HRESULT hr, EXCEPINFO* excepInfo) {
  if (excepInfo == nullptr) return;
  *excepInfo = EXCEPINFO{};
  excepInfo->scode = hr;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK) return;
  info->GetSource(&excepInfo->bstrSource);
  info->GetDescription(&excepInfo->bstrDescription);
  SetErrorInfo(0, info.Get());
}

// The member that a call with `flags` reaches: DISPATCH_PROPERTYPUT finds the put slot;
// DISPATCH_METHOD and DISPATCH_PROPERTYGET (alone or together, as script hosts send them for
// "obj.Name") find the method or the get slot. nullptr when there is none.
const TFuncDesc* FindFunc(const TInterfaceDesc& itf, DISPID dispId, WORD flags) {
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  for (const TFuncDesc& f : itf.funcs) {
    // A kind's value is its DISPATCH_ flag.
    const bool reached =
        put ? f.kind == TInvokeKind::PropertyPut : (flags & static_cast<WORD>(f.kind)) != 0;
    if (f.dispId == dispId && reached) return &f;
  }
  return nullptr;
}

}  // namespace

HRESULT DispGetIDsOfNames(const TInterfaceDesc& itf, const char16_t* const* names, UINT nameCount,
                          DISPID* dispIds) {
  if (nameCount == 0) return S_OK;
  if (names == nullptr || dispIds == nullptr) return E_POINTER;
  for (UINT i = 0; i < nameCount; ++i) dispIds[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  const auto member = std::ranges::find_if(
      itf.funcs, [&](const TFuncDesc& f) { return SameName(names[0], f.name); });
  if (member == itf.funcs.end()) return DISP_E_UNKNOWNNAME;
  dispIds[0] = member->dispId;
  // Parameter names are looked up among all slots of the member (get and put differ).
  const auto paramId = [&](const char16_t* name) {
    if (name == nullptr) return DISPID_UNKNOWN;
    for (const TFuncDesc& f : itf.funcs) {
      if (f.dispId != member->dispId) continue;
      for (std::size_t p = 0; p < f.params.size(); ++p) {
        if (!f.params[p].name.empty() && SameName(name, f.params[p].name)) {
          return static_cast<DISPID>(p);
        }
      }
    }
    return DISPID_UNKNOWN;
  };
  HRESULT hr = S_OK;
  for (UINT i = 1; i < nameCount; ++i) {
    dispIds[i] = paramId(names[i]);
    if (dispIds[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispInvoke(const TInterfaceDesc& itf, const TMemberHandler& handler, DISPID dispId,
                   REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) {
  if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const TFuncDesc* func = FindFunc(itf, dispId, flags);
  if (func == nullptr) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none;
  const DISPPARAMS& p = params ? *params : none;
  if (p.cArgs > 0 && p.rgvarg == nullptr) return E_INVALIDARG;
  if (p.cNamedArgs > 0) {
    // obj.Value = x arrives as a put with the one named argument DISPID_PROPERTYPUT.
    const bool putValue = func->kind == TInvokeKind::PropertyPut && p.cNamedArgs == 1 &&
                          p.rgdispidNamedArgs != nullptr &&
                          p.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (!putValue) return DISP_E_NONAMEDARGS;
  }
  const std::size_t inCount = func->InCount();
  if (p.cArgs != inCount) return DISP_E_BADPARAMCOUNT;

  std::vector<VARIANT> args(inCount);
  for (std::size_t i = 0; i < inCount; ++i) {  // the in-parameters come first
    const UINT index = static_cast<UINT>(inCount - 1 - i);
    const HRESULT hr = VariantChangeType(&args[i], &p.rgvarg[index], 0, func->params[i].type);
    if (FAILED(hr)) {
      if (argErr) *argErr = index;
      return hr;
    }
  }

  VARIANT value;
  const HRESULT hr = handler(*func, std::span<VARIANT>(args), &value);
  if (FAILED(hr)) {
    FillExcepInfo(hr, excepInfo);
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr) *result = func->Retval() != nullptr ? std::move(value) : VARIANT();
  return hr;
}

namespace {

std::string VersionText(const TTypeLibDesc& lib) {
  return std::to_string(lib.majorVersion) + "." + std::to_string(lib.minorVersion);
}

std::string LcidKey(LCID lcid) {
  char text[16];
  return std::string(text, std::to_chars(text, std::end(text), lcid, 16).ptr);
}

void SetDefault(RegistryFile& file, const std::string& key, std::string_view text) {
  file.CreateKey(HKEY_CLASSES_ROOT, key);
  file.SetValue(HKEY_CLASSES_ROOT, key, "", RegValue::String(std::string(text)));
}

}  // namespace

std::string TypeLibVersionKey(const TTypeLibDesc& lib) {
  return "TypeLib\\" + GUIDToString(lib.libid) + "\\" + VersionText(lib);
}

HRESULT RegisterTypeLib(const TTypeLibDesc& lib, const std::string& fullPath,
                        const std::string& helpDir) {
  try {
    RegistryFile file(RegistryFile::DefaultPath());
    const std::string version = TypeLibVersionKey(lib);
    SetDefault(file, version, lib.helpString.empty() ? lib.name : lib.helpString);
    SetDefault(file, version + "\\" + LcidKey(lib.lcid) + "\\win32", fullPath);
    SetDefault(file, version + "\\FLAGS", "0");
    SetDefault(file, version + "\\HELPDIR", helpDir);
    const std::string libid = GUIDToString(lib.libid);
    const std::string proxyStub = GUIDToString(CLSID_PSOAInterface);
    for (const TInterfaceDesc* itf : lib.interfaces) {
      const std::string key = "Interface\\" + GUIDToString(itf->iid);
      SetDefault(file, key, itf->name);
      SetDefault(file, key + "\\ProxyStubClsid32", proxyStub);
      SetDefault(file, key + "\\ProxyStubClsid", proxyStub);
      SetDefault(file, key + "\\TypeLib", libid);
      file.SetValue(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version",
                    RegValue::String(VersionText(lib)));
    }
  } catch (const rtl::Exception&) {
    return TYPE_E_REGISTRYACCESS;
  }
  return S_OK;
}

namespace {

struct KnownLibs {
  std::mutex mutex;
  std::vector<const TTypeLibDesc*> libs;
};

KnownLibs& Known() {
  static KnownLibs* known = new KnownLibs;  // reachable until the very end of the process
  return *known;
}

}  // namespace

void AddKnownTypeLib(const TTypeLibDesc& lib) {
  KnownLibs& k = Known();
  const std::lock_guard<std::mutex> lock(k.mutex);
  if (std::ranges::find(k.libs, &lib) == k.libs.end()) k.libs.push_back(&lib);
}

const TCoClassDesc* FindKnownCoClass(REFCLSID clsid, const TTypeLibDesc** library) {
  KnownLibs& k = Known();
  const std::lock_guard<std::mutex> lock(k.mutex);
  for (const TTypeLibDesc* lib : k.libs) {
    for (const TCoClassDesc& cls : lib->coclasses) {
      if (cls.clsid != clsid) continue;
      if (library != nullptr) *library = lib;
      return &cls;
    }
  }
  return nullptr;
}

}  // namespace veskmath::win
