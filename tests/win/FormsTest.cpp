#include "platform/win/Forms.h"
#include "platform/win/TestHooks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "platform/win/CodePage.h"

namespace veskmath::win {
namespace {

std::string HandleText(HWND hwnd) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(hwnd));
  return text;
}

class Forms : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetAnsiCodePage("CP932"));
    FPrevious = SetFormTraceSink(&FTrace);
  }
  void TearDown() override { SetFormTraceSink(FPrevious); }

  std::ostringstream FTrace;
  std::ostream* FPrevious = nullptr;
};

void DispatchAll() {
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

TEST_F(Forms, TraceOfAStatusWindowInUtf8) {
  HWND hwnd = 0;
  {
    TForm form;
    hwnd = form.Handle();
    form.Caption = Utf8ToAnsi("数式 Parer");
    form.BorderStyle = bsDialog;
    form.ClientWidth = 88;
    form.ClientHeight = 8;
    form.Position = poScreenCenter;
    form.Font = TFont{Utf8ToAnsi("ＭＳ Ｐゴシック"), SHIFTJIS_CHARSET, -12};
    EXPECT_FALSE(form.Visible());
    form.Update();  // hidden: nothing to paint
    form.Show();
    form.Show();  // already shown: no second line
    form.Update();
    EXPECT_TRUE(form.Visible());
    form.Hide();
  }
  EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));  // the form's end took its window
  const std::string h = HandleText(hwnd);
  EXPECT_EQ(
      FTrace.str(),
      "form " + h +
          " show \"数式 Parer\" dialog 88x8 screen-center font \"ＭＳ Ｐゴシック\"/128/-12\n" +
          "form " + h + " paint \"数式 Parer\"\n" +  //
          "form " + h + " hide \"数式 Parer\"\n" +   //
          "form " + h + " destroy \"数式 Parer\"\n");
}

TEST_F(Forms, CloseAsksThenActs) {
  struct Case {
    bool allow;
    TCloseAction chosen;
    TCloseAction expected;
    bool visibleAfter;
  } const cases[] = {
      {false, caHide, caNone, true},  // refused: stays
      {true, caHide, caHide, false},  // the default
      {true, caFree, caFree, false},  // hidden; freeing is the holder's
      {true, caMinimize, caMinimize, true}, {true, caNone, caNone, true},
  };
  for (const Case& c : cases) {
    TForm form;
    bool asked = false;
    form.OnCloseQuery = [&](TForm&, bool& canClose) {
      asked = true;
      canClose = c.allow;
    };
    form.OnClose = [&](TForm&, TCloseAction& action) {
      EXPECT_EQ(action, caHide);
      action = c.chosen;
    };
    form.Show();
    EXPECT_EQ(form.Close(), c.expected);
    EXPECT_TRUE(asked);
    EXPECT_EQ(form.Visible(), c.visibleAfter) << c.chosen;
  }
}

TEST_F(Forms, WmCloseClosesTheForm) {
  TForm form;
  form.Show();
  PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
  DispatchAll();
  EXPECT_FALSE(form.Visible());
}

// ---- Message boxes

struct BoxCase {
  const char* name;
  UINT type;
  std::string input;
  int expected;
  int prompts;  // how many times the question was asked
};

class FormsMessageBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(FormsMessageBox, Answers) {
  const BoxCase& c = GetParam();
  std::istringstream in(c.input);
  std::ostringstream out;
  const TDialogStreams previous = SetDialogStreams(&in, &out);
  const int answer = MessageBoxA(0, "Really?", "Box", c.type);
  SetDialogStreams(previous.In, previous.Out);
  EXPECT_EQ(answer, c.expected);
  std::size_t prompts = 0;
  for (std::size_t at = out.str().find("]: "); at != std::string::npos;
       at = out.str().find("]: ", at + 1)) {
    ++prompts;
  }
  EXPECT_EQ(prompts, static_cast<std::size_t>(c.prompts)) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormsMessageBox,
    ::testing::Values(BoxCase{"PlainBoxReadsNothing", MB_OK, "n\n", IDOK, 0},
                      BoxCase{"Yes", MB_YESNO, "y\n", IDYES, 1},
                      BoxCase{"NoInAnyCaseAndBlanks", MB_YESNO, "  NO \n", IDNO, 1},
                      BoxCase{"EndOfInputIsTheDefault", MB_YESNO | MB_DEFBUTTON2, "", IDNO, 1},
                      BoxCase{"EndOfInputFirstDefault", MB_YESNO, "", IDYES, 1},
                      BoxCase{"EmptyLineIsTheDefault", MB_YESNO | MB_DEFBUTTON2, "\n", IDNO, 1},
                      BoxCase{"UnknownAnswerAsksAgain", MB_YESNO | MB_DEFBUTTON2, "maybe\nyes\n",
                              IDYES, 2},
                      BoxCase{"UnknownThenEnd", MB_YESNO | MB_DEFBUTTON2, "maybe", IDNO, 2},
                      BoxCase{"OkCancel", MB_OKCANCEL, "cancel\n", IDCANCEL, 1},
                      BoxCase{"ThirdDefault", MB_YESNOCANCEL | MB_DEFBUTTON3, "", IDCANCEL, 1},
                      BoxCase{"DefaultBeyondTheButtons", MB_YESNO | MB_DEFBUTTON3, "", IDYES, 1},
                      BoxCase{"UnsupportedButtons", 0x0002, "", 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Forms, MessageBoxPrintsCaptionIconAndTextAsUtf8) {
  std::istringstream in("n\n");
  std::ostringstream out;
  const TDialogStreams previous = SetDialogStreams(&in, &out);
  const std::string caption = Utf8ToAnsi("オートメーションサーバーから警告");
  const std::string text = Utf8ToAnsi("残っています。\r\n\r\n終了させてもよろしいですか?");
  const int answer = MessageBoxA(0, text.c_str(), caption.c_str(),
                                 MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL);
  ShowMessage(Utf8ToAnsi("インストールが完了しました。\n再起動してください。"));
  SetDialogStreams(previous.In, previous.Out);
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(out.str(),
            "[オートメーションサーバーから警告] (warning)\n"
            "残っています。\n\n終了させてもよろしいですか?\n"
            "Yes (y) / No (n) [No]: "
            "インストールが完了しました。\n再起動してください。\n");
}

}  // namespace
}  // namespace veskmath::win
