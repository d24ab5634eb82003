// The conversion object through its interface: results and echoes, the commands, the
// history across objects, failures answering "?", the text conversions at the boundary,
// VeskStart and the status window, error information, and the late-bound entry.
#include "server/FuVeskMathImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ServerTestUtil.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/Messages.h"
#include "platform/win/TestHooks.h"
#include "server/MathForm.h"

namespace veskmath::server {
namespace {

using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;
using win::BSTR;
using win::ComPtr;
using win::HRESULT;

ComPtr<IFuVeskMath> NewObject() {
  ComPtr<IFuVeskMath> object;
  const HRESULT hr =
      CreateFuVeskMath(IID_IFuVeskMath, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
  EXPECT_EQ(hr, win::S_OK);
  return object;
}

class FuVeskMath : public ::testing::Test {
 protected:
  void TearDown() override { CloseMathForm(); }

  // Writes the notation (UTF-8), reads VeskResult and answers it as UTF-8.
  std::string Convert(const std::string& notation, ComPtr<IFuVeskMath> target = nullptr) {
    if (!target) target = object;
    EXPECT_EQ(target->Set_VeskHyoki(BSTR(win::Utf8ToWide(notation))), win::S_OK);
    BSTR result;
    EXPECT_EQ(target->Get_VeskResult(&result), win::S_OK) << notation;
    EXPECT_FALSE(result.IsNull());
    return win::WideToUtf8(result.View());
  }

  TTempDir dir;
  ComPtr<IFuVeskMath> object = NewObject();
};

// ---- one conversion with an empty history ------------------------------------------------

struct ConversionCase {
  const char* name;
  const char* notation;  // UTF-8
  const char* result;
};

class FuVeskMathConversion : public FuVeskMath,
                             public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(FuVeskMathConversion, AnswersTheValueTextOrQuestionMark) {
  EXPECT_EQ(Convert(GetParam().notation), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    FuVeskMath, FuVeskMathConversion,
    ::testing::Values(
        ConversionCase{"Sum", "1+2", "3"}, ConversionCase{"SumEchoed", "1+2=", "1+2= 3"},
        ConversionCase{"FullWidthEchoedAsHalfWidth", "１＋２＝", "1+2= 3"},
        ConversionCase{"Complex", "(1+2i)*(1-2i)", "5"},
        ConversionCase{"ComplexResult", "(1+2i)*2", "2+4i"},
        ConversionCase{"CompileError", "1+", "?"},
        ConversionCase{"CompileErrorEchoed", "1+=", "1+= ?"},
        ConversionCase{"DivByZeroInDiv", "1 div 0", "?"},
        // An empty notation compiles nothing: with no history there is nothing to evaluate.
        ConversionCase{"Empty", "", "?"}, ConversionCase{"EqualsAlone", "=", "= ?"},
        // Commands are compared with the raw notation: these are expressions.
        ConversionCase{"CapitalQuit", "Quit", "NAN"},
        ConversionCase{"QuitEchoed", "quit=", "quit= NAN"},
        ConversionCase{"FullWidthQuit", "ｑｕｉｔ", "NAN"},
        ConversionCase{"ListOfNothing", "list", ""}, ConversionCase{"Quit", "quit", "."}),
    [](const ::testing::TestParamInfo<ConversionCase>& p) { return p.param.name; });

// ---- the half-width rule ----------------------------------------------------------------

struct HalfWidthCase {
  const char* name;
  const char* codePage;
  const char* notation;  // UTF-8
  const char* expected;  // UTF-8
};

class FuVeskMathHalfWidth : public ::testing::TestWithParam<HalfWidthCase> {
 protected:
  void TearDown() override { win::SetAnsiCodePage("CP932"); }
};

TEST_P(FuVeskMathHalfWidth, KeepsTheMappedTextOnlyWhenStrictlyShorter) {
  ASSERT_TRUE(win::SetAnsiCodePage(GetParam().codePage));
  const std::string mapped = HalfWidthNotation(win::Utf8ToAnsi(GetParam().notation));
  EXPECT_EQ(win::AnsiToUtf8(mapped), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FuVeskMath, FuVeskMathHalfWidth,
    ::testing::Values(HalfWidthCase{"Ascii", "CP932", "1+2=", "1+2="},
                      HalfWidthCase{"Empty", "CP932", "", ""},
                      HalfWidthCase{"FullWidthDigits", "CP932", "１＋２＝", "1+2="},
                      // "ガ" -> "ｶﾞ": two bytes either way, so the notation stays.
                      HalfWidthCase{"VoicedKanaSameLength", "CP932", "ガ", "ガ"},
                      HalfWidthCase{"VoicedKanaAndDigit", "CP932", "ガ１", "ｶﾞ1"},
                      // In UTF-8 "ガ１" (6 bytes) would map to 7: the mapping does not fit.
                      HalfWidthCase{"Utf8Growing", "UTF-8", "ガ１", "ガ１"},
                      HalfWidthCase{"Utf8Shrinking", "UTF-8", "１＋２", "1+2"}),
    [](const ::testing::TestParamInfo<HalfWidthCase>& p) { return p.param.name; });

// ---- history --------------------------------------------------------------------------

TEST_F(FuVeskMath, DefinitionIsRecordedAndSeenByANewObject) {
  EXPECT_EQ(Convert("a:=2"), "2");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
  EXPECT_EQ(Convert("a+1", NewObject()), "3");
  // A full-width definition is recorded as evaluated: half-width, without the "=".
  EXPECT_EQ(Convert("ｂ：＝３＝"), "b:=3= 3");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\nb:=3\r\n");
  EXPECT_EQ(Convert("list"), "a:=2 b:=3 ");
}

TEST_F(FuVeskMath, FailingDefinitionIsNotRecorded) {
  EXPECT_EQ(Convert("a:=2"), "2");
  EXPECT_EQ(Convert("b:=1+"), "?");
  EXPECT_EQ(Convert("b:=1+="), "b:=1+= ?");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
}

TEST_F(FuVeskMath, DuplicateDefinitionsAreStoredAndReplayedInOrder) {
  EXPECT_EQ(Convert("a:=1"), "1");
  EXPECT_EQ(Convert("a:=a+1"), "2");
  EXPECT_EQ(Convert("a:=a+1"), "3");  // replay: a:=1, a:=a+1, then this one
  EXPECT_EQ(ReadFile(dir.History()), "a:=1\r\na:=a+1\r\na:=a+1\r\n");
  EXPECT_EQ(Convert("a"), "3");
  EXPECT_EQ(Convert("list"), "a:=1 a:=a+1 a:=a+1 ");
}

TEST_F(FuVeskMath, QuitEmptiesTheHistory) {
  EXPECT_EQ(Convert("a:=2"), "2");
  EXPECT_EQ(Convert("quit"), ".");
  EXPECT_EQ(ReadFile(dir.History()), "");
  EXPECT_EQ(Convert("a+1"), "NAN");  // a is an unassigned name again
  EXPECT_EQ(Convert("list"), "");
}

TEST_F(FuVeskMath, EmptyNotationAnswersTheLastReplayedLine) {
  EXPECT_EQ(Convert("a:=2"), "2");
  EXPECT_EQ(Convert("b:=a*5"), "10");
  EXPECT_EQ(Convert(""), "10");
  EXPECT_EQ(Convert("="), "= 10");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\nb:=a*5\r\n");
}

TEST_F(FuVeskMath, ReplayFailureAnswersQuestionMarkUntilQuit) {
  WriteFile(dir.History(), "a:=2\r\n1+\r\n");
  EXPECT_EQ(Convert("1+2"), "?");
  EXPECT_EQ(Convert("1+2="), "1+2= ?");
  EXPECT_EQ(Convert("c:=1"), "?");
  EXPECT_EQ(Convert("list"), "a:=2 1+ ");
  EXPECT_EQ(Convert("quit"), ".");
  EXPECT_EQ(Convert("1+2"), "3");
}

TEST_F(FuVeskMath, UnreadableHistoryReplaysNothingAndIsNotReplaced) {
  WriteFile(dir.History(), "a:=2\r\n");
  ASSERT_TRUE(testing::MakeUnreadable(dir.History()));
  EXPECT_EQ(Convert("a"), "NAN");
  EXPECT_EQ(Convert("b:=3"), "?");  // computed, but it could not be recorded
  EXPECT_EQ(Convert("list"), "");
  ASSERT_EQ(::chmod(dir.History().c_str(), 0600), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.History().c_str(), 0, 0), 0);
  }
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
}

TEST_F(FuVeskMath, DefinitionIsNotWrittenThroughAPlantedLink) {
  const std::string target = dir.File("elsewhere.txt");
  WriteFile(target, "");
  ASSERT_EQ(::symlink(target.c_str(), dir.History().c_str()), 0);
  EXPECT_EQ(Convert("a:=2"), "?");
  EXPECT_EQ(Convert("a:=2="), "a:=2= ?");
  EXPECT_EQ(ReadFile(target), "");
}

// A history lock held by someone else fails the definition within the lock timeout ("?"),
// and it is not stored once the lock goes: a retry then stores it once, not twice.
TEST_F(FuVeskMath, DefinitionFailedOnAHeldLockIsNeverStoredLater) {
  WriteFile(dir.History(), "");
  {
    const rtl::UniqueFd holder(::open(dir.History().c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.Get(), LOCK_EX), 0);
    win::SetLockTimeout(50);
    EXPECT_EQ(Convert("hl:=1"), "?");
    win::SetLockTimeout(win::kDefaultLockTimeoutMs);
  }
  EXPECT_EQ(Convert("hl:=1"), "1");
  EXPECT_EQ(ReadFile(dir.History()), "hl:=1\r\n");
}

TEST_F(FuVeskMath, DefinitionSpanningLinesIsNotRecorded) {
  EXPECT_EQ(Convert("a:=(1\n+2)"), "?");
  EXPECT_FALSE(testing::Exists(dir.History()) && !ReadFile(dir.History()).empty());
}

// Shift-JIS has no "é": stored as "?", "'é'='è'" would compare "?" with "?" and be true.
TEST_F(FuVeskMath, NotationOutsideTheCodePageAnswersQuestionMark) {
  EXPECT_EQ(Convert("'é'='è'"), "?");
  EXPECT_EQ(Convert("a:='é'"), "?");
  EXPECT_FALSE(testing::Exists(dir.History()) && !ReadFile(dir.History()).empty());
  EXPECT_EQ(Convert("1+2"), "3");  // the next notation is judged on its own
}

// ---- properties and the text conversions --------------------------------------------------

TEST_F(FuVeskMath, PropertiesStartEmptyAndAreNeverNull) {
  BSTR yomi, hyoki;
  ASSERT_EQ(object->Get_VeskYomi(&yomi), win::S_OK);
  ASSERT_EQ(object->Get_VeskHyoki(&hyoki), win::S_OK);
  EXPECT_EQ(yomi, BSTR(u""));
  EXPECT_EQ(hyoki, BSTR(u""));
  // A written null BSTR is stored as the empty text and read back as an empty one.
  ASSERT_EQ(object->Set_VeskHyoki(BSTR()), win::S_OK);
  ASSERT_EQ(object->Get_VeskHyoki(&hyoki), win::S_OK);
  EXPECT_FALSE(hyoki.IsNull());
  EXPECT_EQ(hyoki.Length(), 0u);
}

struct RoundTripCase {
  const char* name;
  std::u16string written;
  std::u16string read;
};

class FuVeskMathText : public FuVeskMath, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(FuVeskMathText, PropertiesTravelThroughTheAnsiCodePage) {
  ASSERT_EQ(object->Set_VeskYomi(BSTR(GetParam().written)), win::S_OK);
  ASSERT_EQ(object->Set_VeskHyoki(BSTR(GetParam().written)), win::S_OK);
  BSTR yomi, hyoki;
  ASSERT_EQ(object->Get_VeskYomi(&yomi), win::S_OK);
  ASSERT_EQ(object->Get_VeskHyoki(&hyoki), win::S_OK);
  EXPECT_EQ(yomi.View(), GetParam().read);
  EXPECT_EQ(hyoki.View(), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    FuVeskMath, FuVeskMathText,
    ::testing::Values(RoundTripCase{"Ascii", u"1+2=", u"1+2="},
                      RoundTripCase{"Japanese", u"けいさん計算：１＋２＝ｶﾞ",
                                    u"けいさん計算：１＋２＝ｶﾞ"},
                      // The yen sign is written as the byte 0x5C, which reads back as a backslash.
                      RoundTripCase{"YenAndTilde", u"\u00A5\uFF5E", u"\\\uFF5E"},
                      // Shift-JIS has no emoji: it becomes the default character.
                      RoundTripCase{"NotInCodePage", u"1+\U0001F600", u"1+?"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& p) { return p.param.name; });

TEST_F(FuVeskMath, ReadingAndResultLeaveEachOtherAlone) {
  ASSERT_EQ(object->Set_VeskYomi(BSTR(u"いちたすに")), win::S_OK);
  EXPECT_EQ(Convert("１＋２＝"), "1+2= 3");
  BSTR yomi, hyoki;
  ASSERT_EQ(object->Get_VeskYomi(&yomi), win::S_OK);
  ASSERT_EQ(object->Get_VeskHyoki(&hyoki), win::S_OK);
  EXPECT_EQ(yomi.View(), u"いちたすに");
  EXPECT_EQ(hyoki.View(), u"１＋２＝");  // the evaluation never changes the notation
  ASSERT_EQ(object->Set_VeskYomi(BSTR(u"1+")), win::S_OK);
  EXPECT_EQ(Convert("2*3"), "6");
}

// ---- VeskStart and the status window ------------------------------------------------------

TEST_F(FuVeskMath, ResultOpensTheStatusWindowAndVeskStartClosesIt) {
  const win::HWND window = win::CreateMessageWindow();
  ASSERT_NE(window, 0u);
  EXPECT_EQ(MathForm(), nullptr);
  Convert("1+2");
  TMathForm* form = MathForm();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(form->Caption, "Math Parer");
  EXPECT_EQ(form->BorderStyle, win::bsDialog);
  EXPECT_EQ(form->ClientWidth, 88);
  EXPECT_EQ(form->ClientHeight, 8);
  EXPECT_EQ(form->Position, win::poScreenCenter);
  EXPECT_EQ(win::AnsiToUtf8(form->Font.Name), "ＭＳ Ｐゴシック");
  EXPECT_EQ(form->Font.Charset, win::SHIFTJIS_CHARSET);
  EXPECT_EQ(form->Font.Height, -12);

  ASSERT_EQ(object->VeskStart(static_cast<std::int32_t>(window)), win::S_OK);
  EXPECT_EQ(MathForm(), nullptr);
  win::MSG msg;
  ASSERT_TRUE(win::PeekMessageA(&msg, window, 0, 0, win::PM_REMOVE));
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.message, 0x0464u);
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 0);
  EXPECT_FALSE(win::PeekMessageA(&msg, window, 0, 0, win::PM_REMOVE));  // posted once

  // A second call finds no window to close and posts its message again.
  ASSERT_EQ(object->VeskStart(static_cast<std::int32_t>(window)), win::S_OK);
  EXPECT_EQ(MathForm(), nullptr);
  EXPECT_TRUE(win::PeekMessageA(&msg, window, 0, 0, win::PM_REMOVE));
  win::DestroyWindow(window);
}

TEST_F(FuVeskMath, VeskStartWithoutWindowPostsNothing) {
  Convert("1+2");
  ASSERT_EQ(object->VeskStart(0), win::S_OK);
  EXPECT_EQ(MathForm(), nullptr);
  win::MSG msg;
  EXPECT_FALSE(win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE));
}

// A host that never calls VeskStart does not collect one window per conversion.
TEST_F(FuVeskMath, EachResultReplacesTheStatusWindow) {
  std::ostringstream trace;
  std::ostream* previous = win::SetFormTraceSink(&trace);
  Convert("1");
  const std::string afterFirst = trace.str();
  Convert("2");
  win::SetFormTraceSink(previous);
  EXPECT_EQ(afterFirst.find(" destroy"), std::string::npos) << afterFirst;
  const std::string second = trace.str().substr(afterFirst.size());
  EXPECT_NE(second.find(" destroy"), std::string::npos) << second;
  EXPECT_NE(MathForm(), nullptr);
}

// ---- failures outside the evaluation --------------------------------------------------

// A text beyond the limit is refused with its length, and the object keeps the one it had.
TEST_F(FuVeskMath, TextsBeyondTheLimitAreRefusedInWords) {
  const std::u16string longest(kMaxTextLength, u'1');
  EXPECT_EQ(object->Set_VeskYomi(BSTR(longest)), win::S_OK);
  EXPECT_EQ(object->Set_VeskHyoki(BSTR(u"1+2")), win::S_OK);
  for (const bool hyoki : {false, true}) {
    const BSTR text(longest + u"1");
    EXPECT_EQ(hyoki ? object->Set_VeskHyoki(text) : object->Set_VeskYomi(text),
              win::DISP_E_EXCEPTION);
    ComPtr<win::IErrorInfo> info;
    ASSERT_EQ(win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()), win::S_OK);
    BSTR description;
    info->GetDescription(&description);
    EXPECT_EQ(win::WideToAnsi(description.View()),
              rtl::Format("The text is too long: %zu characters (at most %zu)", kMaxTextLength + 1,
                          kMaxTextLength));
  }
  BSTR result;
  EXPECT_EQ(object->Get_VeskResult(&result), win::S_OK);
  EXPECT_EQ(result.View(), u"3");
}

TEST_F(FuVeskMath, QuitThatCannotEmptyTheHistoryReportsErrorInfo) {
  ASSERT_EQ(::mkdir(dir.History().c_str(), 0700), 0);
  ASSERT_EQ(object->Set_VeskHyoki(BSTR(u"quit")), win::S_OK);
  BSTR result(u"stale");
  EXPECT_EQ(object->Get_VeskResult(&result), win::DISP_E_EXCEPTION);
  EXPECT_TRUE(result.IsNull());
  EXPECT_EQ(MathForm(), nullptr);  // a failed read opens no window

  ComPtr<win::IErrorInfo> info;
  ASSERT_EQ(win::GetErrorInfo(0, info.ReleaseAndGetAddressOf()), win::S_OK);
  win::GUID guid;
  BSTR source, description;
  info->GetGUID(&guid);
  info->GetSource(&source);
  info->GetDescription(&description);
  EXPECT_EQ(guid, IID_IFuVeskMath);
  EXPECT_EQ(source.View(), u"VeskMath.FuVeskMath");
  EXPECT_EQ(win::WideToAnsi(description.View()),
            "Cannot open file \"" + dir.History() + "\". " + std::strerror(EISDIR));

  ComPtr<win::ISupportErrorInfo> support;
  ASSERT_EQ(object.As(support), win::S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFuVeskMath), win::S_OK);
}

// ---- late-bound calls -------------------------------------------------------------------

class FuVeskMathDispatch : public FuVeskMath {
 protected:
  HRESULT Call(win::DISPID id, win::WORD flags, std::vector<win::VARIANT> args,
               win::VARIANT* result = nullptr, bool namedPut = false) {
    win::DISPID put = win::DISPID_PROPERTYPUT;
    win::DISPPARAMS params;
    params.rgvarg = args.empty() ? nullptr : args.data();
    params.cArgs = static_cast<win::UINT>(args.size());
    if (namedPut) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    excep = win::EXCEPINFO{};
    return object->Invoke(id, win::GUID_NULL, 0, flags, &params, result, &excep, &argErr);
  }
  static win::VARIANT Text(const char16_t* text) {
    win::VARIANT v;
    v.vt = win::VT_BSTR;
    v.bstrVal = BSTR(text);
    return v;
  }
  win::EXCEPINFO excep;
  win::UINT argErr = 99;
};

TEST_F(FuVeskMathDispatch, NamesMapToTheirDispidsInAnyCase) {
  const char16_t* names[] = {u"VESKRESULT", u"hWnd"};
  win::DISPID ids[2] = {};
  EXPECT_EQ(object->GetIDsOfNames(win::GUID_NULL, names, 1, 0, ids), win::S_OK);
  EXPECT_EQ(ids[0], DISPID_VeskResult);
  EXPECT_EQ(object->GetIDsOfNames(win::GUID_NULL, names, 2, 0, ids), win::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[1], win::DISPID_UNKNOWN);  // only VeskStart has a parameter named hWnd
  names[0] = u"veskstart";
  EXPECT_EQ(object->GetIDsOfNames(win::GUID_NULL, names, 2, 0, ids), win::S_OK);
  EXPECT_EQ(ids[0], DISPID_VeskStart);
  EXPECT_EQ(ids[1], 0);
}

TEST_F(FuVeskMathDispatch, PutAndGetThroughInvoke) {
  ASSERT_EQ(Call(DISPID_VeskHyoki, win::DISPATCH_PROPERTYPUT, {Text(u"１＋２＝")}, nullptr, true),
            win::S_OK);
  win::VARIANT result;
  ASSERT_EQ(Call(DISPID_VeskResult, win::DISPATCH_PROPERTYGET, {}, &result), win::S_OK);
  EXPECT_EQ(result.vt, win::VT_BSTR);
  EXPECT_EQ(result.bstrVal.View(), u"1+2= 3");
  ASSERT_EQ(Call(DISPID_VeskHyoki, win::DISPATCH_PROPERTYGET | win::DISPATCH_METHOD, {}, &result),
            win::S_OK);
  EXPECT_EQ(result.bstrVal.View(), u"１＋２＝");
  win::VARIANT number;
  number.vt = win::VT_I4;
  number.lVal = 42;  // coerced to the text "42"
  ASSERT_EQ(Call(DISPID_VeskYomi, win::DISPATCH_PROPERTYPUT, {number}, nullptr, true), win::S_OK);
  ASSERT_EQ(Call(DISPID_VeskYomi, win::DISPATCH_PROPERTYGET, {}, &result), win::S_OK);
  EXPECT_EQ(result.bstrVal.View(), u"42");
  win::VARIANT zero;
  zero.vt = win::VT_I4;
  EXPECT_EQ(Call(DISPID_VeskStart, win::DISPATCH_METHOD, {zero}), win::S_OK);
}

TEST_F(FuVeskMathDispatch, MisuseIsRefused) {
  win::VARIANT word = Text(u"abc");
  EXPECT_EQ(Call(DISPID_VeskResult, win::DISPATCH_PROPERTYPUT, {Text(u"1")}, nullptr, true),
            win::DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(9, win::DISPATCH_PROPERTYGET, {}), win::DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(DISPID_VeskStart, win::DISPATCH_METHOD, {}), win::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(DISPID_VeskYomi, win::DISPATCH_PROPERTYPUT, {Text(u"1")}, nullptr, false),
            win::DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(Call(DISPID_VeskStart, win::DISPATCH_METHOD, {word}), win::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  win::DISPPARAMS none;
  EXPECT_EQ(object->Invoke(DISPID_VeskResult, IID_IFuVeskMath, 0, win::DISPATCH_PROPERTYGET, &none,
                           nullptr, nullptr, nullptr),
            win::DISP_E_UNKNOWNINTERFACE);
}

TEST_F(FuVeskMathDispatch, ExceptionFillsExcepInfo) {
  ASSERT_EQ(::mkdir(dir.History().c_str(), 0700), 0);
  ASSERT_EQ(Call(DISPID_VeskHyoki, win::DISPATCH_PROPERTYPUT, {Text(u"quit")}, nullptr, true),
            win::S_OK);
  win::VARIANT result;
  EXPECT_EQ(Call(DISPID_VeskResult, win::DISPATCH_PROPERTYGET, {}, &result), win::DISP_E_EXCEPTION);
  EXPECT_EQ(result.vt, win::VT_EMPTY);
  EXPECT_EQ(excep.bstrSource.View(), u"VeskMath.FuVeskMath");
  EXPECT_EQ(win::WideToAnsi(excep.bstrDescription.View()),
            "Cannot open file \"" + dir.History() + "\". " + std::strerror(EISDIR));
  EXPECT_EQ(excep.scode, win::DISP_E_EXCEPTION);
}

// ---- object lifetime ------------------------------------------------------------------

TEST(FuVeskMathLifetime, EachObjectHoldsAServerLock) {
  int lastUnlocks = 0;
  SetLastUnlockHandler([&] { ++lastUnlocks; });
  const int32_t before = ServerLockCount();
  {
    ComPtr<IFuVeskMath> a = NewObject();
    ComPtr<IFuVeskMath> b = NewObject();
    EXPECT_EQ(ServerLockCount(), before + 2);
    ComPtr<win::IDispatch> dispatch;
    EXPECT_EQ(a.As(dispatch), win::S_OK);
    ComPtr<win::IUnknown> unknown;
    EXPECT_EQ(a.As(unknown), win::S_OK);
  }
  EXPECT_EQ(ServerLockCount(), before);
  EXPECT_EQ(lastUnlocks, before == 0 ? 1 : 0);
  SetLastUnlockHandler(nullptr);
  void* raw = &raw;
  EXPECT_EQ(CreateFuVeskMath(win::IID_IErrorInfo, &raw), win::E_NOINTERFACE);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(ServerLockCount(), before);
}

}  // namespace
}  // namespace veskmath::server
