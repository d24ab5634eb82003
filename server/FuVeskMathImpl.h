// TFuVeskMathImpl: the conversion object behind IFuVeskMath. The host writes the reading
// (VeskYomi) and the notation (VeskHyoki); reading VeskResult evaluates the notation with a
// fresh expression object after replaying the history file, and answers the value's text,
// "?" on failure, or the answer of the commands "quit" and "list"; VeskStart notifies the
// host's window and closes the status window.
//
// The object knows nothing of how its caller reaches it: in-process callers use the
// interface directly, an out-of-process server forwards calls to it (late-bound callers go
// through Invoke). Failures outside the evaluation come back as DISP_E_EXCEPTION with the
// calling thread's error information set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contract/VeskMathTypes.h"
#include "platform/win/OleTypes.h"

namespace veskmath::qel {
class TQelExpression;
}

namespace veskmath::server {

class THistoryFile;

// The longest text (in UTF-16 units) VeskYomi or VeskHyoki takes: far beyond any typed
// notation, and small enough that the texts of many objects keep a server small (an object
// holds its reading, its notation and a result about as long, some 150 KiB at most).
inline constexpr std::size_t kMaxTextLength = 16384;

// The server's lock count: every conversion object holds one lock while it lives, and a
// class factory's LockServer adds more. Whoever serves the objects installs what happens
// when the count comes back to 0 (ending the process, for a server started on demand).
int32_t ServerLockCount();
void LockServer();
void UnlockServer();
void SetLastUnlockHandler(std::function<void()> handler);

class TFuVeskMathImpl final : public win::TComObject<IFuVeskMath, win::ISupportErrorInfo> {
 public:
  TFuVeskMathImpl();

  // IDispatch: no type information; names and DISPIDs of the four members.
  win::HRESULT GetTypeInfoCount(win::UINT* count) override;
  win::HRESULT GetIDsOfNames(win::REFIID riid, const char16_t* const* names, win::UINT nameCount,
                             win::LCID lcid, win::DISPID* dispIds) override;
  win::HRESULT Invoke(win::DISPID dispId, win::REFIID riid, win::LCID lcid, win::WORD flags,
                      win::DISPPARAMS* params, win::VARIANT* result, win::EXCEPINFO* excepInfo,
                      win::UINT* argErr) override;

  // IFuVeskMath
  win::HRESULT Get_VeskYomi(win::BSTR* Value) override;
  win::HRESULT Set_VeskYomi(const win::BSTR& Value) override;
  win::HRESULT Get_VeskHyoki(win::BSTR* Value) override;
  win::HRESULT Set_VeskHyoki(const win::BSTR& Value) override;
  win::HRESULT VeskStart(std::int32_t hWnd) override;
  win::HRESULT Get_VeskResult(win::BSTR* Value) override;

  // ISupportErrorInfo: S_OK for IFuVeskMath.
  win::HRESULT InterfaceSupportsErrorInfo(win::REFIID riid) override;

 private:
  ~TFuVeskMathImpl() override;

  // Runs the evaluation of a VeskResult read and answers its output (ANSI text).
  std::string Evaluate();
  // Evaluates the expression text after replaying the history; records it when it holds a
  // ":". Raises on every failure.
  void EvaluateGuarded(const std::string& expressionText, const THistoryFile& history,
                       std::vector<std::string>& lines);

  std::string FYomi;
  std::string FHyoki;
  // The notation held a character that the system code page cannot represent: FHyoki has
  // "?" in its place, so evaluating it would answer for another text.
  bool FHyokiLost = false;
  std::string FResult;
  std::unique_ptr<qel::TQelExpression> FExpression;
};

// Makes a conversion object and hands out the requested interface (the class factory's
// CreateInstance without aggregation).
win::HRESULT CreateFuVeskMath(win::REFIID riid, void** object);

// The half-width form of a notation, kept only when strictly shorter in bytes than the
// notation ("１＋２＝" -> "1+2="); otherwise the notation itself.
std::string HalfWidthNotation(const std::string& notation);

// Why a read of VeskResult answers "?" for this notation now (UTF-16, as a host holds it):
// the message of the failure, in the system code page (a compile error, a refusal, a history
// that cannot be read or no longer replays); empty when it evaluates. Reads the history, never
// writes it, and opens no status window.
std::string FailureReason(std::u16string_view notation);

}  // namespace veskmath::server
