// The converter's conversation with the server, over a scripted bus: the order of its calls,
// a "?" delivered before its reason, and a reason for a text that has changed since never
// delivered nor waited for.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "contract/VeskMathTypes.h"
#include "hostui/Converter.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::hostui {
namespace {

// Records the calls; the test answers each batch by hand.
class TScriptedBus final : public TBusTransport {
 public:
  std::vector<std::string> Members;  // every call's member and text, "SetVeskHyoki 1+"
  std::function<void(const std::vector<TBusReply>&)> Pending;
  int Cancels = 0;

  std::string Unavailable() const override { return {}; }
  void Call(const std::vector<TBusCall>& calls, std::chrono::milliseconds,
            std::function<void(const std::vector<TBusReply>&)> then) override {
    for (const TBusCall& c : calls) Members.push_back(c.Member + " " + c.Text.value_or(""));
    Pending = std::move(then);
  }
  void CancelCall() override {
    ++Cancels;
    Pending = nullptr;
  }
  void Send(const TBusCall&) override {}
  // Answers the batch in flight with these values.
  void Answer(std::vector<std::string> values) {
    std::vector<TBusReply> replies;
    for (std::string& v : values) replies.push_back({false, "", "", ":1.9", std::move(v)});
    auto then = std::move(Pending);
    then(replies);
  }
};

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The plug-in listed and its class registered, as the host looks them up.
    ::setenv("VESKMATH_REGISTRY", registry.c_str(), 1);
    win::RegistryFile file(registry);
    const std::string entry = std::string(server::kVeskHostKey) + "\\" + server::HostEntryName(1);
    file.CreateKey(win::HKEY_LOCAL_MACHINE, entry);
    file.SetValue(win::HKEY_LOCAL_MACHINE, entry, "ID",
                  win::RegValue::String(server::kVeskMathProgID));
    const std::string clsid = win::GUIDToString(server::CLSID_FuVeskMath);
    file.CreateKey(win::HKEY_CLASSES_ROOT, std::string(server::kVeskMathProgID) + "\\CLSID");
    file.SetValue(win::HKEY_CLASSES_ROOT, std::string(server::kVeskMathProgID) + "\\CLSID", "",
                  win::RegValue::String(clsid));
    file.CreateKey(win::HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\LocalServer32");
  }
  void TearDown() override {
    ::unsetenv("VESKMATH_REGISTRY");
    std::filesystem::remove(registry);
  }
  TRequest Preview(std::string notation) {
    return {TRequestKind::Preview, 1, std::move(notation),
            [this](TAnswer a) { answers.push_back(a.Result + "|" + a.Detail); }};
  }

  std::string registry = ::testing::TempDir() + "converter-registry.reg";
  TScriptedBus* bus = new TScriptedBus;
  TConverter converter{std::unique_ptr<TBusTransport>(bus)};
  std::vector<std::string> answers;  // "result|reason"
};

TEST_F(ConverterTest, QuestionMarkComesBeforeItsReason) {
  converter.Submit(Preview("1+"));
  bus->Answer({"/VeskMath/FuVeskMath/1"});  // CreateInstance
  bus->Answer({""});                        // SetVeskYomi
  bus->Answer({"", "?"});                   // SetVeskHyoki, GetVeskResult
  EXPECT_EQ(answers, std::vector<std::string>{"?|"});
  bus->Answer({"too few arguments"});  // FailureReason
  EXPECT_EQ(answers, (std::vector<std::string>{"?|", "?|too few arguments"}));
  EXPECT_EQ(bus->Members,
            (std::vector<std::string>{"CreateInstance ", "SetVeskYomi ", "SetVeskHyoki 1+",
                                      "GetVeskResult ", "FailureReason 1+"}));
}

TEST_F(ConverterTest, ReasonForAnOldTextIsDroppedWhenTheTextChanges) {
  converter.Submit(Preview("1+"));
  bus->Answer({"/VeskMath/FuVeskMath/1"});
  bus->Answer({""});
  bus->Answer({"", "?"});
  converter.Submit(Preview("1+2"));  // typed while the reason is on its way
  EXPECT_EQ(bus->Cancels, 1);
  bus->Answer({"", "3"});
  EXPECT_EQ(answers, (std::vector<std::string>{"?|", "3|"}));
  EXPECT_EQ(bus->Members.back(), "GetVeskResult ");
  EXPECT_EQ(bus->Members[bus->Members.size() - 2], "SetVeskHyoki 1+2");
}

}  // namespace
}  // namespace veskmath::hostui
