// veskmath and vesk as processes in a scratch registry, temporary and runtime directory:
// registration switches, install and uninstall through the dialog's typed choices, a
// conversion through a server that vesk starts and that ends by itself, a path with blanks,
// two clients at once, a client killed in a call, the termination question, and what the
// hidden modes do when the last object goes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ServerProcessUtil.h"
#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"

namespace veskmath::server {
namespace {

using testing::ReadFile;
using testing::RegKey;
using testing::RegText;
using testing::TChild;
using testing::TScratch;
using testing::WaitFor;
using testing::WriteFile;
using win::HKEY_CLASSES_ROOT;
using win::HKEY_LOCAL_MACHINE;

const std::string kClassKey = "CLSID\\" + win::GUIDToString(CLSID_FuVeskMath);
const std::string kEntry01 = "SOFTWARE\\Orbanel\\Vesk\\01";
const std::string kInstalled = "インストールが完了しました。\n再起動してください。\n";
const std::string kUninstalled = "アンインストールが完了しました。\n再起動してください。\n";
const std::string kNoPlugin =
    "vesk: no conversion plug-in is installed: run `veskmath` and choose Install\n";
const std::string kQuestion =
    "[オートメーションサーバーから警告] (warning)\n"
    "作動中の COM オブジェクトがアプリケーション内に残っています。クライアントアプリケーションから"
    "参照している可能性がありますから、このアプリケーションを直接終了した場合にはクライアント側で"
    "問題が生じるかもしれません。\n\n終了させてもよろしいですか?\n"
    "Yes (y) / No (n) [No]: ";

struct TResult {
  std::optional<int> Status;
  std::string Out;
  std::string Err;
};

// This test process as an automation client of the scratch environment's server.
class TClient {
 public:
  TClient() {
    win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED);
    win::AddKnownTypeLib(kVeskMathLibrary);
  }
  ~TClient() { win::CoUninitialize(); }

  win::ComPtr<win::IDispatch> Create() {
    win::ComPtr<win::IDispatch> object;
    EXPECT_EQ(win::CoCreateInstance(CLSID_FuVeskMath, nullptr, win::CLSCTX_LOCAL_SERVER,
                                    win::IID_IDispatch,
                                    reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())),
              win::S_OK);
    return object;
  }

  static std::string Convert(win::IDispatch* object, const std::string& notation) {
    if (object == nullptr) return "(no object)";
    win::VARIANT text;
    text.vt = win::VT_BSTR;
    text.bstrVal = win::BSTR(win::Utf8ToWide(notation));
    win::DISPID put = win::DISPID_PROPERTYPUT;
    win::DISPPARAMS putParams{&text, &put, 1, 1};
    if (win::FAILED(object->Invoke(DISPID_VeskHyoki, win::GUID_NULL, 0, win::DISPATCH_PROPERTYPUT,
                                   &putParams, nullptr, nullptr, nullptr))) {
      return "(put failed)";
    }
    win::DISPPARAMS none;
    win::VARIANT result;
    const win::HRESULT hr =
        object->Invoke(DISPID_VeskResult, win::GUID_NULL, 0, win::DISPATCH_PROPERTYGET, &none,
                       &result, nullptr, nullptr);
    if (win::FAILED(hr)) return "(get failed)";
    return win::WideToUtf8(result.bstrVal.View());
  }
};

class VeskMathProcess : public ::testing::Test {
 protected:
  TResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = "", bool asNobody = false) {
    TChild child(program, args, scratch.Root(), "run" + std::to_string(runs++), asNobody);
    child.Type(input);
    child.CloseInput();
    TResult r;
    r.Status = child.Wait(60);
    r.Out = child.Out();
    r.Err = child.Err();
    return r;
  }
  TResult VeskMath(const std::vector<std::string>& args, const std::string& input = "",
                   bool asNobody = false) {
    return Run(VESKMATH_VESKMATH_PATH, args, input, asNobody);
  }
  TResult Vesk(const std::vector<std::string>& args) { return Run(VESKMATH_VESK_PATH, args); }

  // The state after "veskmath /regserver" and Install, written directly.
  void Installed(const std::string& program = VESKMATH_VESKMATH_PATH) {
    ASSERT_TRUE(scratch.Install(program));
  }

  static bool Serving() { return TScratch::Serving(); }

  TScratch scratch;
  int runs = 0;
};

TEST_F(VeskMathProcess, RegistrationSwitchesEndWithoutAWindow) {
  const std::vector<std::vector<std::string>> spellings = {
      {"/regserver"}, {"-RegServer"}, {"-REGSERVER", "-Embedding"}};
  for (const auto& args : spellings) {
    std::filesystem::remove(scratch.Registry());
    const TResult r = VeskMath(args);
    EXPECT_EQ(r.Status, 0) << args[0];
    EXPECT_EQ(r.Out + r.Err, "") << args[0];
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"),
              std::string(VESKMATH_VESKMATH_PATH) + " /Automation");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "VeskMath.FuVeskMath\\CLSID"),
              win::GUIDToString(CLSID_FuVeskMath));
  }
  const TResult r = VeskMath({"/UnRegserver"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out + r.Err, "");
  EXPECT_FALSE(RegKey(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(RegKey(HKEY_CLASSES_ROOT, "VeskMath.FuVeskMath"));
  EXPECT_TRUE(RegKey(HKEY_CLASSES_ROOT, win::TypeLibVersionKey(kVeskMathLibrary)));

  // A registry that cannot be written: nothing is reported, the exit code stays 0.
  WriteFile(scratch.Root() + "/plain", "");
  ::setenv("VESKMATH_REGISTRY", (scratch.Root() + "/plain/registry.reg").c_str(), 1);
  for (const char* sw : {"/regserver", "/unregserver"}) {
    const TResult refused = VeskMath({sw});
    EXPECT_EQ(refused.Status, 0) << sw;
    EXPECT_EQ(refused.Out + refused.Err, "") << sw;
  }
}

// The whole road: register, install through the dialog, convert through a server that vesk
// starts, see that server end by itself, uninstall, and find no plug-in.
TEST_F(VeskMathProcess, InstalledPluginConvertsThroughItsOwnServer) {
  ASSERT_EQ(VeskMath({"/regserver"}).Status, 0);
  TResult r = Vesk({"1+2"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, kNoPlugin);
  EXPECT_TRUE(RegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orbanel\\Vesk"));  // the host's own key

  WriteFile(scratch.History(), "b:=7\r\n");
  r = VeskMath({}, "i\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("Vesk Math Parser\n", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find(kInstalled), std::string::npos) << r.Out;
  EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kEntry01, "ID"), kVeskMathProgID);
  EXPECT_EQ(ReadFile(scratch.History()), "");

  r = Vesk({"1+2=", "a:=2", "a+1", "list"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "1+2= 3\n2\n3\na:=2 \n");  // "b:=7" was forgotten by the install
  EXPECT_EQ(r.Err, "");
  EXPECT_TRUE(scratch.Bus().ServersEnd(30));  // the server vesk started ended by itself
  EXPECT_FALSE(Serving());

  r = VeskMath({}, "u\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(kUninstalled), std::string::npos) << r.Out;
  EXPECT_FALSE(RegKey(HKEY_LOCAL_MACHINE, kEntry01));
  EXPECT_TRUE(WaitFor([] {
    return !RegKey(HKEY_CLASSES_ROOT, kClassKey) &&
           !RegKey(HKEY_CLASSES_ROOT, "VeskMath.FuVeskMath");
  }));
  r = Vesk({"1+2"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, kNoPlugin);
}

TEST_F(VeskMathProcess, ServerInADirectoryWithBlanksIsStarted) {
  const std::string dir = scratch.Root() + "/vesk math";
  const std::string copy = dir + "/veskmath";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(VESKMATH_VESKMATH_PATH, copy);
  ::chmod(copy.c_str(), 0755);
  Installed(copy);
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"),
            "\"" + copy + "\" /Automation");
  const TResult r = Vesk({"6*7"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "42\n");
  EXPECT_TRUE(scratch.Bus().ServersEnd(30));
}

// A moved or deleted build tree leaves the class pointing at a program that is gone: vesk
// names it and says how to mend it, rather than only a failure code.
TEST_F(VeskMathProcess, RegisteredServerThatIsGoneIsNamed) {
  const std::string copy = scratch.Root() + "/moved/veskmath";
  std::filesystem::create_directories(scratch.Root() + "/moved");
  std::filesystem::copy_file(VESKMATH_VESKMATH_PATH, copy);
  ::chmod(copy.c_str(), 0755);
  Installed(copy);
  std::filesystem::remove(copy);
  const TResult r = Vesk({"1+2"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("vesk: creating the conversion object failed (0x80080005): ", 0), 0u);
  EXPECT_NE(r.Err.find("the registered server " + copy +
                       " no longer exists (moved or deleted?): run `veskmath /regserver` with "
                       "the veskmath you use now\n"),
            std::string::npos)
      << r.Err;
}

// "/regsever" is a typing error: the start goes on as without a switch (it registers and
// shows the dialog), but not without a word.
TEST_F(VeskMathProcess, UnknownSwitchIsReportedAndTheStartGoesOnWithout) {
  const TResult r = VeskMath({"/regsever"}, "close\n");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err.rfind("veskmath: \"/regsever\" is not understood", 0), 0u) << r.Err;
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"),
            std::string(VESKMATH_VESKMATH_PATH) + " /Automation");
}

TEST_F(VeskMathProcess, TwoClientsShareOneServer) {
  Installed();
  TChild x(VESKMATH_VESK_PATH, {}, scratch.Root(), "x");
  TChild y(VESKMATH_VESK_PATH, {}, scratch.Root(), "y");
  // Both hold their objects before either converts more: one server serves them together.
  x.Type("0*2\n");
  y.Type("0*3=\n");
  ASSERT_TRUE(x.WaitForOutput("0\n"));
  ASSERT_TRUE(y.WaitForOutput("0*3= 0\n"));
  std::string xOut = "0\n", yOut = "0*3= 0\n";
  for (int i = 1; i < 25; ++i) {
    x.Type(std::to_string(i) + "*2\n");
    y.Type(std::to_string(i) + "*3=\n");
    xOut += std::to_string(i * 2) + "\n";
    yOut += std::to_string(i) + "*3= " + std::to_string(i * 3) + "\n";
  }
  x.CloseInput();
  y.CloseInput();
  EXPECT_EQ(x.Wait(60), 0) << x.Err();
  EXPECT_EQ(y.Wait(60), 0) << y.Err();
  EXPECT_EQ(x.Out(), xOut);
  EXPECT_EQ(y.Out(), yOut);
  EXPECT_TRUE(scratch.Bus().ServersEnd(30));
  EXPECT_EQ(scratch.Bus().Activations(), 1);  // no second server was started
}

TEST_F(VeskMathProcess, ClientKilledInACallLetsTheServerEnd) {
  Installed();
  {
    TChild client(VESKMATH_VESK_PATH, {}, scratch.Root(), "killed");
    client.Type("1+1\n");
    ASSERT_TRUE(client.WaitForOutput("2\n"));  // connected, the object made
    // A long history (near its 1 MiB limit) makes the next conversion slow enough to kill its
    // client in the middle.
    std::string history;
    for (int i = 0; history.size() < 1000000; ++i)
      history += "x" + std::to_string(i % 50) + ":=1\r\n";
    WriteFile(scratch.History(), history);
    client.Type("x1+1\n");
    ::usleep(30 * 1000);
    ::kill(client.Pid(), SIGKILL);
    EXPECT_EQ(client.Wait(5), -1);
    EXPECT_EQ(client.Out(), "2\n");  // killed before its answer came
  }
  EXPECT_TRUE(scratch.Bus().ServersEnd(120));
  WriteFile(scratch.History(), "");
  const TResult r = Vesk({"1+1"});  // a new server
  EXPECT_EQ(r.Out, "2\n") << r.Err;
  EXPECT_TRUE(scratch.Bus().ServersEnd(30));
}

TEST_F(VeskMathProcess, TerminationQuestionAnsweredNoKeepsServing) {
  TChild dialog(VESKMATH_VESKMATH_PATH, {}, scratch.Root(), "dialog");
  ASSERT_TRUE(dialog.WaitForOutput("(close, c)\n"));
  ASSERT_TRUE(WaitFor(Serving));
  // The plain start registered the class before it showed the dialog.
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32"),
            std::string(VESKMATH_VESKMATH_PATH) + " /Automation");
  TClient client;
  win::ComPtr<win::IDispatch> object = client.Create();
  EXPECT_EQ(TClient::Convert(object.Get(), "1+2="), "1+2= 3");

  dialog.Type("c\n");
  ASSERT_TRUE(dialog.WaitForOutput(kQuestion));
  EXPECT_EQ(TClient::Convert(object.Get(), "2*3"), "6");  // served while the question waits
  dialog.Type("n\n");
  EXPECT_EQ(TClient::Convert(object.Get(), "3*3"), "9");  // and after No
  object.Reset();
  EXPECT_EQ(dialog.Wait(0.3), std::nullopt);  // no objects, but interactive: it stays
  dialog.Type("c\n");                         // now without a question
  EXPECT_EQ(dialog.Wait(30), 0);
  const std::string out = dialog.Out();
  EXPECT_EQ(out.find(kQuestion), out.rfind(kQuestion));
}

TEST_F(VeskMathProcess, EndOfInputWithLiveObjectsServesUntilTheLastGoes) {
  TChild dialog(VESKMATH_VESKMATH_PATH, {}, scratch.Root(), "dialog");
  ASSERT_TRUE(dialog.WaitForOutput("(close, c)\n"));
  ASSERT_TRUE(WaitFor(Serving));
  TClient client;
  win::ComPtr<win::IDispatch> object = client.Create();
  dialog.CloseInput();
  EXPECT_TRUE(dialog.WaitForOutput(kQuestion)) << dialog.Out();  // answered by default: No
  EXPECT_EQ(TClient::Convert(object.Get(), "4+4"), "8");
  EXPECT_EQ(dialog.Wait(0), std::nullopt);
  object.Reset();
  EXPECT_EQ(dialog.Wait(30), 0);
}

TEST_F(VeskMathProcess, HiddenServersAndTheLastObject) {
  ASSERT_EQ(VeskMath({"/regserver"}).Status, 0);  // an unregistered class is not looked for
  for (const char* mode : {"/Automation", "-Embedding"}) {
    TChild server(VESKMATH_VESKMATH_PATH, {mode}, scratch.Root(), mode + 1);
    ASSERT_TRUE(WaitFor(Serving)) << mode;
    {
      TClient client;
      win::ComPtr<win::IDispatch> object = client.Create();
      EXPECT_EQ(TClient::Convert(object.Get(), "5-1"), "4") << mode;
    }
    if (std::string(mode) == "/Automation") {
      EXPECT_EQ(server.Wait(30), 0);
    } else {
      EXPECT_EQ(server.Wait(1), std::nullopt);  // stays; the destructor ends it
      // A second server for the class has nobody to serve: it ends at once.
      EXPECT_EQ(VeskMath({"/Automation", "-Embedding"}).Status, 1);
    }
    EXPECT_EQ(server.Out(), "") << mode;  // the dialog stays hidden
  }
}

// The rights of the user nobody (or a read-only file, for a user who is not root).
TEST_F(VeskMathProcess, RegistryWithoutTheRightToWrite) {
  win::RegistryFile file(scratch.Registry());
  file.CreateKey(HKEY_LOCAL_MACHINE, kEntry01);
  file.SetValue(HKEY_LOCAL_MACHINE, kEntry01, "ID", win::RegValue::String("Other"));
  ::chmod(scratch.Registry().c_str(), ::geteuid() == 0 ? 0644 : 0444);
  // A copy that the user nobody may run wherever the build tree lies.
  const std::string program = scratch.Root() + "/veskmath";
  std::filesystem::copy_file(VESKMATH_VESKMATH_PATH, program);
  ::chmod(program.c_str(), 0755);
  TResult r = Run(program, {}, "i\nu\n", /*asNobody=*/true);
  EXPECT_EQ(r.Status, 0) << r.Err;
  // The dialog's own message, then why: the file's explanation.
  EXPECT_NE(r.Out.find("レジストリに登録できません。\nPowerUser以上の権限が必要です。\n"
                       "Cannot write registry file '" +
                       scratch.Registry() + "': " + std::strerror(EACCES) +
                       "\nインストールされていません。\n"),
            std::string::npos)
      << r.Out;

  // Our entry cannot be deleted: an error, not "uninstalled", and the class stays registered.
  ::chmod(scratch.Registry().c_str(), 0644);
  ASSERT_EQ(VeskMath({"/regserver"}).Status, 0);
  const std::string entry02 = "SOFTWARE\\Orbanel\\Vesk\\02";
  win::RegistryFile(scratch.Registry()).CreateKey(HKEY_LOCAL_MACHINE, entry02);
  win::RegistryFile(scratch.Registry())
      .SetValue(HKEY_LOCAL_MACHINE, entry02, "ID", win::RegValue::String(kVeskMathProgID));
  ::chmod(scratch.Registry().c_str(), ::geteuid() == 0 ? 0644 : 0444);
  r = Run(program, {}, "u\n", /*asNobody=*/true);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("レジストリへのアクセスでエラーが発生しました。\n"), std::string::npos)
      << r.Out;
  // Nothing goes on to remove the entries.
  EXPECT_FALSE(WaitFor(
      [&] { return !RegKey(HKEY_LOCAL_MACHINE, entry02) || !RegKey(HKEY_CLASSES_ROOT, kClassKey); },
      0.3));
}

}  // namespace
}  // namespace veskmath::server
