// The status window that a conversion opens and the host's VeskStart closes: a small fixed
// dialog-style form without controls, captioned "Math Parer", centred on the screen.
//
// One process-wide reference, MathForm(), names the window most recently opened. Opening a
// new one closes the previous one first, so a host that never calls VeskStart does not pile
// up a window per conversion.
#pragma once

#include "platform/win/Forms.h"

namespace veskmath::server {

class TMathForm : public win::TForm {
 public:
  // "ＭＳ Ｐゴシック" in the Shift-JIS bytes the font name is stored in.
  static constexpr const char* kFontName =
      "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";

  TMathForm();
};

// The window most recently opened and not yet closed, or nullptr.
TMathForm* MathForm();
// Creates a status window (it has no owner), shows it (non-modal) and makes it paint at once;
// it becomes MathForm(). A window opened earlier and not closed is destroyed first.
void OpenMathForm();
// Destroys MathForm() when there is one; nothing otherwise.
void CloseMathForm();

}  // namespace veskmath::server
