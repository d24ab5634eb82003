// The server module inside this process: switches, the registered command line, the class
// entries and their removal, the class factory's refusals and locks, and the type library's
// agreement with the object.
#include "server/ServerModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServerProcessUtil.h"
#include "contract/VeskMathTypes.h"
#include "contract/Veskmath_tlb.h"
#include "platform/win/CodePage.h"
#include "server/FuVeskMathImpl.h"

namespace veskmath::server {
namespace {

using testing::RegKey;
using testing::RegText;
using testing::TScratch;
using win::HKEY_CLASSES_ROOT;

struct SwitchCase {
  std::vector<std::string> args;
  TStartMode mode;
};

TEST(ServerModule, SwitchesDecideTheStartMode) {
  const std::vector<SwitchCase> cases = {
      {{"/regserver"}, TStartMode::RegServer},
      {{"-RegServer"}, TStartMode::RegServer},
      {{"/UnRegserver"}, TStartMode::UnregServer},
      {{"-UNREGSERVER"}, TStartMode::UnregServer},
      {{"/unregserver", "-regserver"}, TStartMode::RegServer},  // REGSERVER is tested first
      {{"/Automation", "-Embedding"}, TStartMode::Automation},  // what the runtime starts
      {{"-Embedding"}, TStartMode::Embedding},
      {{}, TStartMode::Interactive},
      {{"regserver"}, TStartMode::Interactive},    // no "-" or "/"
      {{"--regserver"}, TStartMode::Interactive},  // the name is "-regserver"
      {{"/regserverx"}, TStartMode::Interactive},  // another name
      {{"\\regserver"}, TStartMode::Interactive},
  };
  for (const SwitchCase& c : cases) {
    EXPECT_EQ(StartModeOf(c.args), c.mode) << (c.args.empty() ? "(none)" : c.args[0]);
  }
}

TEST(ServerModule, RegisteredCommandLineGivesThePathBack) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/opt/vesk/veskmath", "/opt/vesk/veskmath /Automation"},
      {"/opt/vesk math/veskmath", "\"/opt/vesk math/veskmath\" /Automation"},
      {"/opt/tab\there/veskmath", "\"/opt/tab\there/veskmath\" /Automation"},
      {"/opt/a \"b\"/veskmath", "\"/opt/a \\\"b\\\"/veskmath\" /Automation"},
      {"/opt/dir\\ x\\/veskmath", "\"/opt/dir\\ x\\/veskmath\" /Automation"},
  };
  for (const auto& [path, line] : cases) {
    EXPECT_EQ(LocalServerCommandLine(path), line);
    const auto args = win::SplitCommandLine(LocalServerCommandLine(path));
    ASSERT_TRUE(args.has_value()) << path;
    EXPECT_EQ(*args, (std::vector<std::string>{path, "/Automation"}));
  }
}

TEST(ServerModule, RegisterWritesTheClassAndUnregisterLeavesTheTypeLibrary) {
  TScratch scratch;
  const std::string clsid = "CLSID\\" + win::GUIDToString(CLSID_FuVeskMath);
  const std::string other = "CLSID\\{00000000-1111-2222-3333-444444444444}";
  win::RegistryFile(scratch.Registry()).CreateKey(HKEY_CLASSES_ROOT, other);

  EXPECT_TRUE(RegisterServer("/opt/vesk math/veskmath"));
  struct Entry {
    std::string key, name, data;
  };
  const std::vector<Entry> entries = {
      {clsid, "", "VESK数式処理"},
      {clsid + "\\LocalServer32", "", "\"/opt/vesk math/veskmath\" /Automation"},
      {clsid + "\\LocalServer32", "ThreadingModel", "Apartment"},
      {"VeskMath.FuVeskMath", "", "VESK数式処理"},
      {"VeskMath.FuVeskMath\\CLSID", "", win::GUIDToString(CLSID_FuVeskMath)},
      {clsid + "\\ProgID", "", "VeskMath.FuVeskMath"},
      {clsid + "\\Version", "", "1.0"},
      {clsid + "\\Typelib", "", win::GUIDToString(LIBID_VeskMath)},
      {win::TypeLibVersionKey(kVeskMathLibrary) + "\\409\\win32", "", "/opt/vesk math/veskmath"},
      {win::TypeLibVersionKey(kVeskMathLibrary) + "\\HELPDIR", "", "/opt/vesk math"},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, e.key, e.name), e.data) << e.key << " " << e.name;
  }
  // Registering again (every plain start does) changes nothing.
  const std::string before = testing::ReadFile(scratch.Registry());
  EXPECT_TRUE(RegisterServer("/opt/vesk math/veskmath"));
  EXPECT_EQ(testing::ReadFile(scratch.Registry()), before);

  EXPECT_TRUE(UnregisterServer());
  EXPECT_FALSE(RegKey(HKEY_CLASSES_ROOT, clsid));
  EXPECT_FALSE(RegKey(HKEY_CLASSES_ROOT, "VeskMath.FuVeskMath"));
  EXPECT_TRUE(RegKey(HKEY_CLASSES_ROOT, win::TypeLibVersionKey(kVeskMathLibrary)));
  EXPECT_TRUE(RegKey(HKEY_CLASSES_ROOT, other));
  EXPECT_TRUE(UnregisterServer());  // nothing left to remove is no failure
}

TEST(ServerModule, RegistrationThatCannotWriteRaisesNothing) {
  TScratch scratch;
  // A registry file whose directory is a plain file cannot be written, not even by root.
  testing::WriteFile(scratch.Root() + "/plain", "");
  ::setenv("VESKMATH_REGISTRY", (scratch.Root() + "/plain/registry.reg").c_str(), 1);
  bool registered = true;
  EXPECT_NO_THROW(registered = RegisterServer("/opt/vesk/veskmath"));
  EXPECT_FALSE(registered);
  EXPECT_NO_THROW(UnregisterServer());
}

TEST(ServerModule, FactoryRefusesAggregationAndCountsLocks) {
  const win::ComPtr<win::IClassFactory> factory = MakeFuVeskMathFactory();
  ASSERT_TRUE(factory);
  int lastUnlocks = 0;
  SetLastUnlockHandler([&] { ++lastUnlocks; });
  const int32_t before = ServerLockCount();
  void* raw = &raw;
  for (const win::IID& iid : {win::IID_IUnknown, win::IID_IDispatch}) {
    EXPECT_EQ(factory->CreateInstance(factory.Get(), iid, &raw), win::CLASS_E_NOAGGREGATION);
    EXPECT_EQ(raw, nullptr);
  }
  {
    win::ComPtr<IFuVeskMath> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFuVeskMath,
                                      reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())),
              win::S_OK);
    EXPECT_EQ(ServerLockCount(), before + 1);
    EXPECT_EQ(factory->LockServer(win::TRUE), win::S_OK);
    EXPECT_EQ(ServerLockCount(), before + 2);
    EXPECT_EQ(factory->LockServer(win::FALSE), win::S_OK);
    EXPECT_EQ(lastUnlocks, 0);
  }
  EXPECT_EQ(ServerLockCount(), before);
  EXPECT_EQ(lastUnlocks, before == 0 ? 1 : 0);
  SetLastUnlockHandler(nullptr);
}

// Clients resolve names from the description, the server's object from its own table: both
// must give the same DISPIDs, or a late-bound call reaches the wrong member.
TEST(ServerModule, TypeLibraryAgreesWithTheObject) {
  win::ComPtr<IFuVeskMath> object;
  ASSERT_EQ(
      CreateFuVeskMath(IID_IFuVeskMath, reinterpret_cast<void**>(object.ReleaseAndGetAddressOf())),
      win::S_OK);
  ASSERT_EQ(kVeskMathLibrary.coclasses.size(), 1u);
  EXPECT_EQ(kVeskMathLibrary.coclasses[0].defaultInterface, &kIFuVeskMathDesc);
  for (const win::TFuncDesc& func : kIFuVeskMathDesc.funcs) {
    const std::u16string name = win::Utf8ToWide(func.name);
    const char16_t* names[] = {name.c_str()};
    win::DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(win::GUID_NULL, names, 1, 0, &id), win::S_OK);
    EXPECT_EQ(id, func.dispId) << func.name;
  }
  const char16_t* start[] = {u"VeskStart", u"hWnd"};
  win::DISPID ids[2] = {};
  EXPECT_EQ(win::DispGetIDsOfNames(kIFuVeskMathDesc, start, 2, ids), win::S_OK);
  EXPECT_EQ(ids[0], DISPID_VeskStart);
  EXPECT_EQ(ids[1], 0);
}

}  // namespace
}  // namespace veskmath::server
