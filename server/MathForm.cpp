// The status window and its process-wide reference.
#include "server/MathForm.h"

#include <memory>
#include <mutex>
#include <utility>

namespace veskmath::server {

TMathForm::TMathForm() {
  Caption = "Math Parer";
  BorderStyle = win::bsDialog;
  ClientWidth = 88;
  ClientHeight = 8;
  Position = win::poScreenCenter;
  Font.Name = kFontName;
  Font.Charset = win::SHIFTJIS_CHARSET;
  Font.Height = -12;  // 9 points at 96 pixels per inch
  PixelsPerInch = 96;
}

namespace {

std::mutex gMathFormMutex;
std::unique_ptr<TMathForm> gMathForm;

}  // namespace

TMathForm* MathForm() {
  std::lock_guard<std::mutex> lock(gMathFormMutex);
  return gMathForm.get();
}

void OpenMathForm() {
  auto form = std::make_unique<TMathForm>();
  form->Show();
  form->Update();
  std::unique_ptr<TMathForm> previous;
  {
    std::lock_guard<std::mutex> lock(gMathFormMutex);
    previous = std::exchange(gMathForm, std::move(form));
  }
  // `previous` (a window the host never closed) is destroyed here, outside the lock.
}

void CloseMathForm() {
  std::unique_ptr<TMathForm> form;
  {
    std::lock_guard<std::mutex> lock(gMathFormMutex);
    form = std::move(gMathForm);
  }
}

}  // namespace veskmath::server
