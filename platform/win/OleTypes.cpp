#include "platform/win/OleTypes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/win/CodePage.h"

namespace veskmath::win {

std::string GUIDToString(REFGUID guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  *v = VARIANT();
  return S_OK;
}

namespace {

// "  -42 " -> -42; "4x", "", "+" -> type mismatch; "99999999999" -> overflow.
HRESULT ReadI4(std::u16string_view text, std::int32_t& value) {
  const std::string utf8 = WideToUtf8(text);
  std::string_view number(utf8);
  number.remove_prefix(std::min(number.find_first_not_of(" \t"), number.size()));
  number = number.substr(0, number.find_last_not_of(" \t") + 1);
  if (number.starts_with('+') && !number.substr(1).starts_with('-')) number.remove_prefix(1);
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (end != number.data() + number.size() || error == std::errc::invalid_argument) {
    return DISP_E_TYPEMISMATCH;
  }
  return error == std::errc::result_out_of_range ? DISP_E_OVERFLOW : S_OK;
}

bool IsKnownType(VARTYPE vt) {
  return vt == VT_EMPTY || vt == VT_I4 || vt == VT_BSTR || vt == VT_BOOL;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD /*flags*/, VARTYPE vt) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsKnownType(vt) || !IsKnownType(source->vt)) return DISP_E_BADVARTYPE;
  VARIANT result;
  result.vt = vt;
  if (source->vt == vt) {
    result = *source;
  } else if (vt == VT_EMPTY) {
    return DISP_E_TYPEMISMATCH;
  } else if (vt == VT_I4) {                                     // from VT_EMPTY, VT_BOOL or VT_BSTR
    result.lVal = source->vt == VT_BOOL ? source->boolVal : 0;  // true is -1, as in automation
    if (source->vt == VT_BSTR) {
      if (const HRESULT hr = ReadI4(source->bstrVal.View(), result.lVal); FAILED(hr)) return hr;
    }
  } else if (vt == VT_BSTR) {  // from VT_EMPTY, VT_I4 or VT_BOOL
    const std::string text = source->vt == VT_I4     ? std::to_string(source->lVal)
                             : source->vt == VT_BOOL ? (source->boolVal ? "True" : "False")
                                                     : "";
    result.bstrVal = BSTR(std::u16string(text.begin(), text.end()));
  } else {  // VT_BOOL, from VT_EMPTY, VT_I4 or VT_BSTR
    std::int32_t number = source->vt == VT_I4 ? source->lVal : 0;
    if (source->vt == VT_BSTR) {
      const std::string utf8 = WideToUtf8(source->bstrVal.View());
      if (rtl::SameText(utf8, "True") || rtl::SameText(utf8, "False")) {
        number = rtl::SameText(utf8, "True") ? 1 : 0;
      } else if (const HRESULT hr = ReadI4(source->bstrVal.View(), number); FAILED(hr)) {
        return hr;
      }
    }
    result.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  }
  *dest = std::move(result);
  return S_OK;
}

namespace {

class TErrorInfo final : public TComObject<IErrorInfo, ICreateErrorInfo> {
 public:
  HRESULT GetGUID(GUID* guid) override { return Hand(FGuid, guid); }
  HRESULT GetSource(BSTR* source) override { return Hand(FSource, source); }
  HRESULT GetDescription(BSTR* description) override { return Hand(FDescription, description); }

  HRESULT SetGUID(REFGUID guid) override { return Keep(FGuid, guid); }
  HRESULT SetSource(const char16_t* source) override { return Keep(FSource, source); }
  HRESULT SetDescription(const char16_t* text) override { return Keep(FDescription, text); }

 private:
  template <class T>
  static HRESULT Hand(const T& value, T* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = value;  // the caller owns its copy
    return S_OK;
  }
  static HRESULT Keep(BSTR& field, const char16_t* value) {
    field = value != nullptr ? BSTR(value) : BSTR();  // a null text is kept as a null BSTR
    return S_OK;
  }
  template <class T>
  static HRESULT Keep(T& field, const T& value) {
    field = value;
    return S_OK;
  }

  GUID FGuid;
  BSTR FSource;
  BSTR FDescription;
};

thread_local ComPtr<IErrorInfo> tErrorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** result) {
  if (result == nullptr) return E_INVALIDARG;
  *result = MakeComObject<TErrorInfo>().Detach();
  return S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errorInfo) {
  if (reserved != 0) return E_INVALIDARG;
  tErrorInfo = ComPtr<IErrorInfo>(errorInfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** errorInfo) {
  if (errorInfo == nullptr || reserved != 0) return E_INVALIDARG;
  *errorInfo = tErrorInfo.Detach();
  return *errorInfo != nullptr ? S_OK : S_FALSE;
}

}  // namespace veskmath::win
