// Forms and message boxes without a screen. Captions and texts are ANSI, printed as UTF-8.
//
// TForm keeps what a dialog form is made of and owns a window handle (Messages.h) whose
// WM_CLOSE closes it; like the window, it belongs to the thread that made it. It draws nothing;
// with a trace sink set, each show, hide, paint and destruction prints one line, e.g.
//   form 00C80001 show "Math Parer" dialog 88x8 screen-center font "ＭＳ Ｐゴシック"/128/-12
//
// MessageBoxA prints the caption and the text and, for a box with a choice, reads the answer:
// "y"/"yes", "n"/"no", "o"/"ok", "c"/"cancel" (any case); an empty line or the end of input
// answers the default button; anything else asks again. The streams are standard input and
// output unless SetDialogStreams says otherwise.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/win/Messages.h"
#include "platform/win/WinTypes.h"

namespace veskmath::win {

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };

inline constexpr BYTE DEFAULT_CHARSET = 1;
inline constexpr BYTE SHIFTJIS_CHARSET = 128;

struct TFont {
  std::string Name = "MS Sans Serif";  // ANSI
  BYTE Charset = DEFAULT_CHARSET;
  int Height = -11;  // negative: character height in pixels
};

class TForm {
 public:
  TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;
  // Destroys the window (the trace's "destroy" line).
  virtual ~TForm();

  std::string Caption;  // ANSI
  TFormBorderStyle BorderStyle = bsSizeable;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TPosition Position = poDesigned;
  TFont Font;
  int PixelsPerInch = 96;

  // Asked first by Close; setting `canClose` false keeps the form open.
  std::function<void(TForm& sender, bool& canClose)> OnCloseQuery;
  // Told by Close what will happen (caHide by default); may change it.
  std::function<void(TForm& sender, TCloseAction& action)> OnClose;

  HWND Handle() const { return FHandle; }
  bool Visible() const { return FVisible; }
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Paints at once (the trace's "paint" line).
  void Update();

  // Asks OnCloseQuery, then OnClose, and returns the action: caHide and caFree (the holder
  // should free the form) hide it, caMinimize leaves it shown, caNone leaves it as it was.
  TCloseAction Close();

 private:
  void SetVisible(bool visible);
  void Trace(const char* event) const;

  HWND FHandle = 0;
  bool FVisible = false;
};

// nullptr (the default): no trace. Returns the sink that was set before.
std::ostream* SetFormTraceSink(std::ostream* sink);

// ---------------------------------------------------------------------------------------
// Message boxes

inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_OKCANCEL = 0x0001;
inline constexpr UINT MB_YESNOCANCEL = 0x0003;
inline constexpr UINT MB_YESNO = 0x0004;
inline constexpr UINT MB_ICONERROR = 0x0010;
inline constexpr UINT MB_ICONQUESTION = 0x0020;
inline constexpr UINT MB_ICONWARNING = 0x0030;
inline constexpr UINT MB_ICONINFORMATION = 0x0040;
inline constexpr UINT MB_DEFBUTTON2 = 0x0100;
inline constexpr UINT MB_DEFBUTTON3 = 0x0200;
inline constexpr UINT MB_TASKMODAL = 0x2000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Returns the button chosen; 0 with ERROR_INVALID_PARAMETER for a button set other than OK,
// OK/Cancel, Yes/No and Yes/No/Cancel. A default button beyond the box's means the first one;
// `owner` and the modality flags change nothing; null texts print as empty.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// The component library's plain box: the text and an OK button, no caption.
void ShowMessage(std::string_view text);

struct TDialogStreams {
  std::istream* In;
  std::ostream* Out;
};
// Redirects message boxes (nullptr: standard input / output). Returns the previous pair.
TDialogStreams SetDialogStreams(std::istream* in, std::ostream* out);

}  // namespace veskmath::win
