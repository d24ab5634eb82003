// TInstallForm: the install dialog, the program's main window. Install adds the converter's
// entry to the host's plug-in list (a numbered subkey "01", "02", ... of
// HKEY_LOCAL_MACHINE\SOFTWARE\Orbanel\Vesk) and empties the history; Uninstall removes the
// entry and starts the program again with "/UnRegserver" to remove the class's entries.
// The host reads the list in number order up to the first missing number, and so does the
// dialog: an entry beyond a gap is not seen, and Install fills the first gap.
//
// On the terminal the dialog prints its caption, its note and its buttons, and takes one
// choice per typed line: "install" or "i", "uninstall" or "u", "close" or "c".
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "contract/VeskMathTypes.h"
#include "platform/win/Controls.h"
#include "platform/win/Forms.h"

namespace veskmath::server {

class TInstallForm : public win::TForm {
 public:
  // `exeName`: the program's full path; the note names its file and Uninstall starts it.
  explicit TInstallForm(std::string exeName);

  win::TButton cmdInstall;
  win::TButton cmdUninstall;
  win::TMemo Memo1;
  win::TButton CancelButton;

  void cmdInstallClick();
  void cmdUninstallClick();
  // Closes the dialog; as the main window, that ends the program (after the server's check).
  void CancelButtonClick();

  const std::string& ExeName() const { return FExeName; }

  // Prints the caption, the note and the buttons with their typed choices (UTF-8).
  void Render(std::ostream& out) const;
  // Clicks the button a typed line chooses (blanks around it and case do not matter). An
  // empty line does nothing; anything else prints which choices there are. False when the
  // line chose no button.
  bool Choose(std::string_view line, std::ostream& out);

 private:
  std::string FExeName;
};

// The dialog as the program made it (nullptr before and after).
TInstallForm* InstallForm();
void SetInstallForm(TInstallForm* form);

}  // namespace veskmath::server
