// The controls a dialog form is built from, with the component library's names for placement,
// tab order and state. Like the forms, they have no screen: a form shown on the terminal
// prints them, and a button's click is whatever calls Click.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace veskmath::win {

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TControl {
 public:
  std::string Name;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int TabOrder = 0;
  bool Enabled = true;
  bool Visible = true;
};

class TButton : public TControl {
 public:
  std::string Caption;  // ANSI
  std::function<void()> OnClick;

  // What a click does: nothing for a disabled or hidden button or one without a handler.
  void Click() {
    if (Enabled && Visible && OnClick) OnClick();
  }
};

class TMemo : public TControl {
 public:
  std::vector<std::string> Lines;  // ANSI, one entry per line
  bool ReadOnly = false;
  TBevelCut BevelInner = bvRaised;
};

}  // namespace veskmath::win
