#include "platform/win/Forms.h"

#include <array>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/win/CodePage.h"

namespace veskmath::win {

namespace {

std::mutex gTraceMutex;
std::ostream* gTraceSink = nullptr;

constexpr std::array<const char*, 6> kBorderNames = {"none",   "single",      "sizeable",
                                                     "dialog", "tool-window", "size-tool-window"};
constexpr std::array<const char*, 8> kPositionNames = {
    "designed",      "default",        "default-pos-only", "default-size-only",
    "screen-center", "desktop-center", "main-form-center", "owner-form-center"};

// "?" for a value outside the enumeration.
template <std::size_t N>
const char* NameOf(const std::array<const char*, N>& names, int value) {
  return static_cast<std::size_t>(value) < N ? names[value] : "?";
}

}  // namespace

std::ostream* SetFormTraceSink(std::ostream* sink) {
  const std::lock_guard<std::mutex> lock(gTraceMutex);
  return std::exchange(gTraceSink, sink);
}

TForm::TForm() {
  FHandle = CreateMessageWindow([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_CLOSE) Close();  // freeing stays with the form's holder
    return 0;
  });
  if (FHandle == 0) throw EOSError("Error creating window handle", GetLastError());
}

TForm::~TForm() {
  Trace("destroy");
  DestroyWindow(FHandle);
}

void TForm::Trace(const char* event) const {
  const std::lock_guard<std::mutex> lock(gTraceMutex);
  if (gTraceSink == nullptr) return;
  char handle[16];
  std::snprintf(handle, sizeof handle, "%08X", static_cast<unsigned>(FHandle));
  std::ostream& out = *gTraceSink;
  out << "form " << handle << ' ' << event << " \"" << AnsiToUtf8(Caption) << '"';
  if (std::string_view(event) == "show") {
    out << ' ' << NameOf(kBorderNames, BorderStyle) << ' ' << ClientWidth << 'x' << ClientHeight
        << ' ' << NameOf(kPositionNames, Position) << " font \"" << AnsiToUtf8(Font.Name) << "\"/"
        << static_cast<int>(Font.Charset) << '/' << Font.Height;
  }
  out << '\n';
  out.flush();
}

void TForm::SetVisible(bool visible) {
  if (FVisible == visible) return;
  FVisible = visible;
  Trace(visible ? "show" : "hide");
}

void TForm::Update() {
  if (FVisible) Trace("paint");
}

TCloseAction TForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(*this, canClose);
  if (!canClose) return caNone;
  TCloseAction action = caHide;
  if (OnClose) OnClose(*this, action);
  if (action == caHide || action == caFree) Hide();
  return action;
}

namespace {

std::mutex gDialogMutex;
std::istream* gDialogIn = nullptr;
std::ostream* gDialogOut = nullptr;

struct Button {
  int id;
  const char* label;
  const char* shortAnswer;
  const char* longAnswer;
};

constexpr Button kOk{IDOK, "OK", "o", "ok"};
constexpr Button kCancel{IDCANCEL, "Cancel", "c", "cancel"};
constexpr Button kYes{IDYES, "Yes", "y", "yes"};
constexpr Button kNo{IDNO, "No", "n", "no"};

// By the icon bits, MB_ICONERROR (0x10) .. MB_ICONINFORMATION (0x40).
const char* IconLabel(UINT type) {
  static constexpr const char* kLabels[] = {nullptr, "error", "question", "warning", "information"};
  const UINT icon = (type & 0x00F0) >> 4;
  return icon < std::size(kLabels) ? kLabels[icon] : nullptr;
}

// "\r\n" -> "\n", so the terminal shows each line break once.
std::string TerminalText(const char* ansi) {
  std::string text = AnsiToUtf8(ansi ? std::string_view(ansi) : std::string_view());
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

}  // namespace

TDialogStreams SetDialogStreams(std::istream* in, std::ostream* out) {
  const std::lock_guard<std::mutex> lock(gDialogMutex);
  return {std::exchange(gDialogIn, in), std::exchange(gDialogOut, out)};
}

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
  // By the button set, MB_OK .. MB_YESNO; the abort/retry/ignore set (2) is not offered.
  static const std::vector<Button> kSets[] = {
      {kOk}, {kOk, kCancel}, {}, {kYes, kNo, kCancel}, {kYes, kNo}};
  const UINT set = type & 0x000F;
  if (set >= std::size(kSets) || kSets[set].empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::vector<Button>& buttons = kSets[set];
  std::size_t defaultIndex = (type & 0x0F00) >> 8;
  if (defaultIndex >= buttons.size()) defaultIndex = 0;

  const std::lock_guard<std::mutex> lock(gDialogMutex);
  std::istream& in = gDialogIn ? *gDialogIn : std::cin;
  std::ostream& out = gDialogOut ? *gDialogOut : std::cout;

  const std::string title = TerminalText(caption);
  if (!title.empty() || IconLabel(type)) {
    out << '[' << title << ']';
    if (const char* icon = IconLabel(type)) out << " (" << icon << ')';
    out << '\n';
  }
  out << TerminalText(text) << '\n';
  if (buttons.size() == 1) {
    out.flush();
    return buttons[0].id;
  }

  // "Yes (y) / No (n) [No]: "
  std::string prompt;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (i > 0) prompt += " / ";
    prompt += std::string(buttons[i].label) + " (" + buttons[i].shortAnswer + ")";
  }
  prompt += std::string(" [") + buttons[defaultIndex].label + "]: ";
  for (;;) {
    out << prompt;
    out.flush();
    std::string line;
    if (!std::getline(in, line)) {
      out << '\n';
      return buttons[defaultIndex].id;  // end of input: the default button
    }
    const std::string answer = rtl::LowerCase(rtl::Trim(line));
    if (answer.empty()) return buttons[defaultIndex].id;
    for (const Button& b : buttons) {
      if (answer == b.shortAnswer || answer == b.longAnswer) return b.id;
    }
  }
}

void ShowMessage(std::string_view text) {
  MessageBoxA(0, std::string(text).c_str(), nullptr, MB_OK);
}

}  // namespace veskmath::win
