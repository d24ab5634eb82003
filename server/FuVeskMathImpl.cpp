// The conversion object: property storage, the evaluation of VeskResult, VeskStart, the
// late-bound entry and the error information of failing members.
#include "server/FuVeskMathImpl.h"

#include <atomic>
#include <climits>
#include <exception>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "math/NumberText.h"
#include "parser/QelParseExpr.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/StringMapping.h"
#include "server/History.h"
#include "server/MathForm.h"

namespace veskmath::server {

using win::BSTR;
using win::FAILED;
using win::HRESULT;
using win::SUCCEEDED;

// ---------------------------------------------------------------------------------------
// Server lock

namespace {

std::atomic<int32_t> gLockCount{0};
std::mutex gHandlerMutex;
std::function<void()> gLastUnlockHandler;

}  // namespace

int32_t ServerLockCount() { return gLockCount.load(); }

void LockServer() { gLockCount.fetch_add(1); }

void UnlockServer() {
  if (gLockCount.fetch_sub(1) != 1) return;
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(gHandlerMutex);
    handler = gLastUnlockHandler;
  }
  if (handler) handler();
}

void SetLastUnlockHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(gHandlerMutex);
  gLastUnlockHandler = std::move(handler);
}

// ---------------------------------------------------------------------------------------
// Error information

namespace {

// Fills the calling thread's error information as a failing member of IFuVeskMath reports
// it: the interface's IID, the class's ProgID as the source, the message as description.
HRESULT ReportError(std::string_view message, HRESULT code) {
  win::ComPtr<win::ICreateErrorInfo> create;
  if (FAILED(win::CreateErrorInfo(create.ReleaseAndGetAddressOf()))) return code;
  create->SetGUID(IID_IFuVeskMath);
  BSTR source;
  if (FAILED(win::ProgIDFromCLSID(CLSID_FuVeskMath, &source))) {
    source = BSTR(kVeskMathProgIDWide);  // not registered (yet): the ProgID it would have
  }
  create->SetSource(source.c_str());
  const std::u16string description = win::AnsiToWide(message);
  create->SetDescription(description.c_str());
  win::ComPtr<win::IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) win::SetErrorInfo(0, info.Get());
  return code;
}

// Runs a member's body; what it raises becomes error information and an HRESULT, so that no
// exception crosses the interface.
template <class Body>
HRESULT SafeCall(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ReportError("Out of memory", win::E_OUTOFMEMORY);
  } catch (const std::exception& e) {
    return ReportError(e.what(), win::DISP_E_EXCEPTION);
  } catch (...) {
    return ReportError("Unexpected failure", win::E_UNEXPECTED);
  }
}

// A written text: the ANSI form of the BSTR, refused beyond kMaxTextLength.
std::string StoredText(const BSTR& value, bool* lost = nullptr) {
  if (value.View().size() > kMaxTextLength) {
    throw rtl::Exception(rtl::Format("The text is too long: %zu characters (at most %zu)",
                                     value.View().size(), kMaxTextLength));
  }
  return win::WideToAnsi(value.View(), lost);
}

bool IsCommand(const std::string& notation, std::string_view command) {
  return notation == command;  // case-sensitive, on the raw notation: "Quit", "ｑｕｉｔ" are not
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The object

TFuVeskMathImpl::TFuVeskMathImpl() { LockServer(); }

TFuVeskMathImpl::~TFuVeskMathImpl() { UnlockServer(); }

HRESULT TFuVeskMathImpl::Get_VeskYomi(BSTR* Value) {
  if (Value == nullptr) return win::E_POINTER;
  Value->Reset();  // an out-parameter: null unless the call succeeds
  return SafeCall([&] {
    *Value = BSTR(win::AnsiToWide(FYomi));  // never null, even when empty
    return win::S_OK;
  });
}

HRESULT TFuVeskMathImpl::Set_VeskYomi(const BSTR& Value) {
  return SafeCall([&] {
    FYomi = StoredText(Value);  // a null BSTR is the empty text
    return win::S_OK;
  });
}

HRESULT TFuVeskMathImpl::Get_VeskHyoki(BSTR* Value) {
  if (Value == nullptr) return win::E_POINTER;
  Value->Reset();  // an out-parameter: null unless the call succeeds
  return SafeCall([&] {
    *Value = BSTR(win::AnsiToWide(FHyoki));
    return win::S_OK;
  });
}

HRESULT TFuVeskMathImpl::Set_VeskHyoki(const BSTR& Value) {
  return SafeCall([&] {
    bool lost = false;
    FHyoki = StoredText(Value, &lost);  // a refused text leaves the old one
    FHyokiLost = lost;
    return win::S_OK;
  });
}

HRESULT TFuVeskMathImpl::VeskStart(std::int32_t hWnd) {
  return SafeCall([&] {
    // The handle is only used for this post: the host's window may be gone by now, and
    // the host's side of the message is not ours to check.
    if (hWnd != 0) win::PostMessageA(static_cast<win::HWND>(hWnd), kVeskStartMessage, 0, 0);
    CloseMathForm();
    return win::S_OK;
  });
}

HRESULT TFuVeskMathImpl::Get_VeskResult(BSTR* Value) {
  if (Value == nullptr) return win::E_POINTER;
  Value->Reset();  // an out-parameter: null unless the call succeeds
  return SafeCall([&] {
    BSTR output(win::AnsiToWide(Evaluate()));
    OpenMathForm();
    *Value = std::move(output);  // handed out only once everything has succeeded
    return win::S_OK;
  });
}

std::string HalfWidthNotation(const std::string& notation) {
  // The mapping refuses an empty source; an empty notation stays empty anyway.
  if (notation.empty() || notation.size() > static_cast<size_t>(INT_MAX)) return notation;
  std::string mapped(notation.size(), '\0');
  const int length = win::LCMapStringA(win::GetUserDefaultLCID(), win::LCMAP_HALFWIDTH,
                                       notation.data(), static_cast<int>(notation.size()),
                                       mapped.data(), static_cast<int>(mapped.size()));
  // "１＋２" (6 bytes) -> "1+2" (3 bytes): taken. "1+2" -> "1+2": same length, the notation
  // stays. A mapping that needs more room than the notation has fails and keeps it too.
  if (length <= 0 || static_cast<size_t>(length) >= notation.size()) return notation;
  mapped.resize(static_cast<size_t>(length));
  return mapped;
}

std::string TFuVeskMathImpl::Evaluate() {
  const THistoryFile history(HistoryFilePath());
  FExpression = std::make_unique<qel::TQelExpression>();
  // The working expression object lives only within this read, whatever happens in it.
  const rtl::ScopeExit dropExpression([this] { FExpression.reset(); });
  std::vector<std::string> lines;

  const std::string text = HalfWidthNotation(FHyoki);
  FResult.clear();
  // "1+2=" -> the expression text "1+2", echoed below.
  const bool echo = !text.empty() && text.back() == '=';
  const std::string expressionText = echo ? text.substr(0, text.size() - 1) : text;
  FExpression->Optimize = true;

  try {
    if (!IsCommand(FHyoki, "quit")) EvaluateGuarded(expressionText, history, lines);
  } catch (...) {
    // Whatever failed (a compile error, an arithmetic fault, the history write), the host
    // sees "?" and nothing is recorded.
    FResult = "?";
  }
  FExpression.reset();

  if (echo) FResult = text + " " + FResult;  // "1+2=" -> "1+2= 3"

  if (IsCommand(FHyoki, "quit")) {
    lines.clear();
    history.Clear();
    return ".";
  }
  if (IsCommand(FHyoki, "list")) {
    // "a:=2", "b:=3" -> "a:=2 b:=3 " (a blank after every line, the last included).
    std::string output;
    for (const std::string& line : lines) {
      output += line;
      output += ' ';
    }
    return output;
  }
  return FResult;
}

void TFuVeskMathImpl::EvaluateGuarded(const std::string& expressionText,
                                      const THistoryFile& history,
                                      std::vector<std::string>& lines) {
  // "'é'='è'" under Shift-JIS would compare "?" with "?": the text cannot be evaluated.
  if (FHyokiLost) throw rtl::Exception("the notation has a character outside the code page");
  // A missing or unreadable history replays nothing; it is not written over either (the
  // append below reads it again under its lock and fails when it still cannot).
  history.Load(lines);
  // Each line is evaluated for its effect on the expression object (the variables it
  // defines); its value is not needed, and formatting it cannot fail, so it is not formatted.
  for (const std::string& line : lines) {
    FExpression->Add(line);
    FExpression->EvaluateCplx();
  }
  FExpression->Add(expressionText);
  FResult = Math387::CplxToStr(FExpression->EvaluateCplx(), 0);
  if (expressionText.find(':') != std::string::npos) {
    history.Append(expressionText);
    lines.push_back(expressionText);
  }
}

HRESULT TFuVeskMathImpl::InterfaceSupportsErrorInfo(win::REFIID riid) {
  return riid == IID_IFuVeskMath ? win::S_OK : win::S_FALSE;
}

// ---------------------------------------------------------------------------------------
// Late-bound calls

namespace {

struct TMemberName {
  std::u16string_view Name;
  win::DISPID Id;
};
constexpr TMemberName kMembers[] = {
    {u"VeskYomi", DISPID_VeskYomi},
    {u"VeskHyoki", DISPID_VeskHyoki},
    {u"VeskStart", DISPID_VeskStart},
    {u"VeskResult", DISPID_VeskResult},
};

// Names are matched without regard to ASCII case, as automation callers expect.
bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

void FillExcepInfo(win::EXCEPINFO* excepInfo, HRESULT hr) {
  if (excepInfo == nullptr) return;
  *excepInfo = win::EXCEPINFO{};
  excepInfo->scode = hr;
  win::ComPtr<win::IErrorInfo> info;
  if (win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != win::S_OK || !info) return;
  info->GetSource(&excepInfo->bstrSource);
  info->GetDescription(&excepInfo->bstrDescription);
}

}  // namespace

HRESULT TFuVeskMathImpl::GetTypeInfoCount(win::UINT* count) {
  if (count == nullptr) return win::E_POINTER;
  *count = 0;
  return win::S_OK;
}

HRESULT TFuVeskMathImpl::GetIDsOfNames(win::REFIID riid, const char16_t* const* names,
                                       win::UINT nameCount, win::LCID /*lcid*/,
                                       win::DISPID* dispIds) {
  if (riid != win::GUID_NULL) return win::DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || dispIds == nullptr || nameCount == 0) return win::E_INVALIDARG;
  HRESULT hr = win::S_OK;
  dispIds[0] = win::DISPID_UNKNOWN;
  for (const TMemberName& member : kMembers) {
    if (names[0] != nullptr && SameName(names[0], member.Name)) dispIds[0] = member.Id;
  }
  if (dispIds[0] == win::DISPID_UNKNOWN) hr = win::DISP_E_UNKNOWNNAME;
  // Parameter names: only VeskStart has a named parameter, "hWnd" (DISPID 0).
  for (win::UINT i = 1; i < nameCount; ++i) {
    const bool known =
        dispIds[0] == DISPID_VeskStart && names[i] != nullptr && SameName(names[i], u"hWnd");
    dispIds[i] = known ? 0 : win::DISPID_UNKNOWN;
    if (!known) hr = win::DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TFuVeskMathImpl::Invoke(win::DISPID dispId, win::REFIID riid, win::LCID /*lcid*/,
                                win::WORD flags, win::DISPPARAMS* params, win::VARIANT* result,
                                win::EXCEPINFO* excepInfo, win::UINT* argErr) {
  if (riid != win::GUID_NULL) return win::DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return win::E_INVALIDARG;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return win::E_INVALIDARG;
  if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return win::E_INVALIDARG;
  const bool get = (flags & (win::DISPATCH_PROPERTYGET | win::DISPATCH_METHOD)) != 0;
  const bool put = (flags & win::DISPATCH_PROPERTYPUT) != 0;

  // Coerces argument `index` (0 = the last one) to `vt`; tells the caller which one failed.
  auto argument = [&](win::UINT index, win::VARTYPE vt, win::VARIANT& value) {
    const HRESULT hr = win::VariantChangeType(&value, &params->rgvarg[index], 0, vt);
    if (FAILED(hr) && argErr != nullptr) *argErr = index;
    return hr;
  };
  auto answer = [&](HRESULT hr, BSTR& text) {
    if (SUCCEEDED(hr) && result != nullptr) {
      win::VariantClear(result);
      result->vt = win::VT_BSTR;
      result->bstrVal = std::move(text);
    }
    return hr;
  };

  HRESULT hr = win::DISP_E_MEMBERNOTFOUND;
  switch (dispId) {
    case DISPID_VeskYomi:
    case DISPID_VeskHyoki: {
      if (put) {
        if (params->cArgs != 1) return win::DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != win::DISPID_PROPERTYPUT) {
          return win::DISP_E_PARAMNOTFOUND;
        }
        win::VARIANT value;
        hr = argument(0, win::VT_BSTR, value);
        if (FAILED(hr)) return hr;
        hr = dispId == DISPID_VeskYomi ? Set_VeskYomi(value.bstrVal) : Set_VeskHyoki(value.bstrVal);
      } else if (get) {
        if (params->cNamedArgs != 0) return win::DISP_E_NONAMEDARGS;
        if (params->cArgs != 0) return win::DISP_E_BADPARAMCOUNT;
        BSTR text;
        hr = answer(dispId == DISPID_VeskYomi ? Get_VeskYomi(&text) : Get_VeskHyoki(&text), text);
      }
      break;
    }
    case DISPID_VeskStart: {
      if ((flags & win::DISPATCH_METHOD) == 0) break;
      if (params->cArgs != 1) return win::DISP_E_BADPARAMCOUNT;
      // The one argument may come by position or by its name's DISPID 0 ("hWnd").
      if (params->cNamedArgs > 1 ||
          (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != 0)) {
        return win::DISP_E_PARAMNOTFOUND;
      }
      win::VARIANT value;
      hr = argument(0, win::VT_I4, value);
      if (FAILED(hr)) return hr;
      hr = VeskStart(value.lVal);
      break;
    }
    case DISPID_VeskResult: {
      if (!get || put) break;  // read-only
      if (params->cNamedArgs != 0) return win::DISP_E_NONAMEDARGS;
      if (params->cArgs != 0) return win::DISP_E_BADPARAMCOUNT;
      BSTR text;
      hr = answer(Get_VeskResult(&text), text);
      break;
    }
    default:
      break;
  }
  if (hr == win::DISP_E_EXCEPTION) FillExcepInfo(excepInfo, hr);
  return hr;
}

// ---------------------------------------------------------------------------------------

HRESULT CreateFuVeskMath(win::REFIID riid, void** object) {
  if (object == nullptr) return win::E_POINTER;
  *object = nullptr;
  try {
    win::ComPtr<TFuVeskMathImpl> impl = win::MakeComObject<TFuVeskMathImpl>();
    return impl->QueryInterface(riid, object);
  } catch (const std::bad_alloc&) {
    return win::E_OUTOFMEMORY;
  }
}

std::string FailureReason(std::u16string_view notation) {
  bool lost = false;
  const std::string hyoki = win::WideToAnsi(notation, &lost);
  if (IsCommand(hyoki, "quit") || IsCommand(hyoki, "list")) return {};
  if (lost) return "the notation has a character outside the code page";
  std::string text = HalfWidthNotation(hyoki);
  if (!text.empty() && text.back() == '=') text.pop_back();
  try {
    std::vector<std::string> lines;
    THistoryFile(HistoryFilePath()).Load(lines);
    qel::TQelExpression expression;
    expression.Optimize = true;
    for (const std::string& line : lines) {
      expression.Add(line);
      expression.EvaluateCplx();
    }
    expression.Add(text);
    Math387::CplxToStr(expression.EvaluateCplx(), 0);
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

}  // namespace veskmath::server
