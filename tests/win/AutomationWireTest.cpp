#include "platform/win/AutomationWire.h"

#include <gtest/gtest.h>

#include "platform/win/Automation.h"

namespace veskmath::win {
namespace {

using wire::DecodeFrame;
using wire::EncodeFrame;
using wire::FrameStatus;

constexpr IID kSomeIid = GuidLiteral("{12345678-9ABC-DEF0-1122-334455667788}");

VARIANT Int(std::int32_t v) {
  VARIANT x;
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}
VARIANT Text(std::u16string_view s) {
  VARIANT x;
  x.vt = VT_BSTR;
  x.bstrVal = BSTR(s);
  return x;
}
VARIANT NullText() {
  VARIANT x;
  x.vt = VT_BSTR;
  return x;
}
VARIANT Bool(bool b) {
  VARIANT x;
  x.vt = VT_BOOL;
  x.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return x;
}

std::vector<std::uint8_t> Frame(const wire::Message& m) {
  const auto bytes = EncodeFrame(m);
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(std::vector<std::uint8_t>{});
}

// Every kind of message, with the values that are easy to get wrong: null against empty
// texts, negative numbers, non-ASCII units, empty and full optional parts.
std::vector<wire::Message> SampleMessages() {
  wire::InvokeRequest invoke;
  invoke.object = 7;
  invoke.dispId = -3;
  invoke.iid = kSomeIid;
  invoke.lcid = 1033;
  invoke.flags = DISPATCH_PROPERTYPUT;
  invoke.wantResult = true;
  invoke.args = {Int(-5), Text(u"数式 x"), NullText(), Text(u""), Bool(true), VARIANT{}};
  invoke.namedArgs = {DISPID_PROPERTYPUT};

  wire::Reply full;
  full.hr = DISP_E_EXCEPTION;
  full.object = 3;
  full.value = 2;
  full.dispIds = {1, DISPID_UNKNOWN};
  full.result = Text(u"結果");
  EXCEPINFO e;
  e.wCode = 0;
  e.bstrSource = BSTR(u"VeskMath.FuVeskMath");
  e.bstrDescription = BSTR(u"boom");
  e.dwHelpContext = 9;
  e.scode = E_FAIL;
  full.excepInfo = e;
  full.errorInfo = wire::ErrorInfoData{kSomeIid, BSTR(u"src"), BSTR(u""), BSTR(), 4};

  return {
      wire::CreateInstanceRequest{IID_IDispatch},
      wire::LockServerRequest{true},
      wire::LockServerRequest{false},
      wire::QueryInterfaceRequest{0xFFFFFFFFu, kSomeIid},
      wire::ReleaseRequest{42},
      wire::GetTypeInfoCountRequest{1},
      wire::GetIDsOfNamesRequest{1, GUID_NULL, 0, {u"Count", u"", u"Amount"}},
      invoke,
      wire::InvokeRequest{},
      wire::Reply{},
      full,
  };
}

TEST(AutomationWire, EveryMessageRoundTrips) {
  for (const wire::Message& m : SampleMessages()) {
    const std::vector<std::uint8_t> bytes = Frame(m);
    const wire::DecodeResult r = DecodeFrame(bytes);
    ASSERT_EQ(r.status, FrameStatus::Complete) << "kind " << m.index();
    EXPECT_EQ(r.size, bytes.size());
    EXPECT_TRUE(*r.message == m) << "kind " << m.index();
  }
}

TEST(AutomationWire, NullAndEmptyTextsStayApart) {
  wire::InvokeRequest m;
  m.args = {NullText(), Text(u"")};
  const wire::DecodeResult r = DecodeFrame(Frame(m));
  ASSERT_EQ(r.status, FrameStatus::Complete);
  const auto& args = std::get<wire::InvokeRequest>(*r.message).args;
  EXPECT_TRUE(args[0].bstrVal.IsNull());
  EXPECT_FALSE(args[1].bstrVal.IsNull());
}

TEST(AutomationWire, TwoFramesInOneBufferAreReadOneAtATime) {
  std::vector<std::uint8_t> bytes = Frame(wire::ReleaseRequest{1});
  const std::vector<std::uint8_t> second = Frame(wire::ReleaseRequest{2});
  const std::size_t firstSize = bytes.size();
  bytes.insert(bytes.end(), second.begin(), second.end());
  const wire::DecodeResult r1 = DecodeFrame(bytes);
  ASSERT_EQ(r1.status, FrameStatus::Complete);
  EXPECT_EQ(r1.size, firstSize);
  const wire::DecodeResult r2 = DecodeFrame(std::span(bytes).subspan(r1.size));
  ASSERT_EQ(r2.status, FrameStatus::Complete);
  EXPECT_EQ(std::get<wire::ReleaseRequest>(*r2.message).object, 2u);
}

TEST(AutomationWire, EveryTruncationIsIncompleteNeverAMessage) {
  for (const wire::Message& m : SampleMessages()) {
    const std::vector<std::uint8_t> bytes = Frame(m);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      const wire::DecodeResult r = DecodeFrame(std::span(bytes).first(n));
      EXPECT_EQ(r.status, FrameStatus::Incomplete) << "kind " << m.index() << " cut at " << n;
    }
  }
}

// A payload whose length field says less than its fields need: the decoder must stop at the
// frame's end, not read into what follows.
TEST(AutomationWire, ShortenedPayloadsAreMalformed) {
  for (const wire::Message& m : SampleMessages()) {
    std::vector<std::uint8_t> bytes = Frame(m);
    const std::size_t payload = bytes.size() - wire::kFrameHeaderSize;
    for (std::size_t cut = 1; cut < payload; ++cut) {
      std::vector<std::uint8_t> shortened = bytes;
      const std::size_t length = payload - cut;
      for (std::size_t i = 0; i < 4; ++i)
        shortened[i] = static_cast<std::uint8_t>(length >> (8 * i));
      const wire::DecodeResult r = DecodeFrame(shortened);
      EXPECT_EQ(r.status, FrameStatus::Malformed) << "kind " << m.index() << " cut " << cut;
    }
  }
}

TEST(AutomationWire, OversizedHeaderIsRefusedBeforeThePayloadArrives) {
  const std::size_t tooLong = wire::kMaxFramePayload + 1;
  const std::vector<std::uint8_t> header = {
      static_cast<std::uint8_t>(tooLong), static_cast<std::uint8_t>(tooLong >> 8),
      static_cast<std::uint8_t>(tooLong >> 16), static_cast<std::uint8_t>(tooLong >> 24)};
  EXPECT_EQ(DecodeFrame(header).status, FrameStatus::Oversized);
  const std::vector<std::uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFF, 1};
  EXPECT_EQ(DecodeFrame(huge).status, FrameStatus::Oversized);
}

std::vector<std::uint8_t> WithPayload(std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> frame(4);
  for (std::size_t i = 0; i < 4; ++i)
    frame[i] = static_cast<std::uint8_t>(payload.size() >> (8 * i));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

struct MalformedCase {
  const char* what;
  std::vector<std::uint8_t> payload;
};

TEST(AutomationWire, MalformedPayloadsAreRefused) {
  const std::vector<MalformedCase> cases = {
      {"empty payload", {}},
      {"unknown kind", {0x09}},
      {"lock flag neither 0 nor 1", {2, 0x02}},
      {"trailing byte", {4, 1, 0, 0, 0, 0}},
      // GetIDsOfNames, object 0, GUID_NULL, lcid 0, 65 names: beyond the limit.
      {"too many names",
       [] {
         std::vector<std::uint8_t> p = {6, 0, 0, 0, 0};
         p.insert(p.end(), 16, 0);
         p.insert(p.end(), {0, 0, 0, 0, 65, 0, 0, 0});
         for (int i = 0; i < 65; ++i) p.insert(p.end(), {1, 0, 0, 0, 0});
         return p;
       }()},
      // Invoke with a count of 2^31 arguments and nothing behind it.
      {"forged argument count",
       [] {
         std::vector<std::uint8_t> p = {7, 0, 0, 0, 0, 0, 0, 0, 0};
         p.insert(p.end(), 16, 0);
         p.insert(p.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80});
         return p;
       }()},
      // Invoke with one argument of type VT_DATE (7), which the transport does not carry.
      {"unknown VARIANT type",
       [] {
         std::vector<std::uint8_t> p = {7, 0, 0, 0, 0, 0, 0, 0, 0};
         p.insert(p.end(), 16, 0);
         p.insert(p.end(), {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0, 0, 0});
         return p;
       }()},
      // Reply whose result is a null text that claims units.
      {"null text with units",
       [] {
         std::vector<std::uint8_t> p = {128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
         p.insert(p.end(), {1, 8, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0});
         return p;
       }()},
      // Reply whose text claims more units than the frame holds.
      {"text longer than the frame",
       [] {
         std::vector<std::uint8_t> p = {128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
         p.insert(p.end(), {1, 8, 0, 1, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0, 0, 0});
         return p;
       }()},
  };
  for (const MalformedCase& c : cases) {
    const wire::DecodeResult r = DecodeFrame(WithPayload(c.payload));
    EXPECT_EQ(r.status, FrameStatus::Malformed) << c.what;
    EXPECT_FALSE(r.message.has_value()) << c.what;
  }
}

TEST(AutomationWire, EncoderRefusesWhatTheDecoderWouldRefuse) {
  wire::InvokeRequest many;
  many.args.assign(wire::kMaxArguments + 1, Int(1));
  EXPECT_FALSE(EncodeFrame(many).has_value());

  wire::GetIDsOfNamesRequest names;
  names.names.assign(wire::kMaxNames + 1, u"x");
  EXPECT_FALSE(EncodeFrame(names).has_value());

  // A text of 600 000 units needs 1.2 MB: more than one frame may carry.
  wire::Reply big;
  big.result = Text(std::u16string(600000, u'x'));
  EXPECT_FALSE(EncodeFrame(big).has_value());
  big.result = Text(std::u16string(500000, u'x'));
  const auto fits = EncodeFrame(big);
  ASSERT_TRUE(fits.has_value());
  EXPECT_EQ(DecodeFrame(*fits).status, FrameStatus::Complete);
}

// Flipping any single byte of a valid frame must give a result, never a crash or a read
// beyond the buffer (the sanitizer build watches).
TEST(AutomationWire, CorruptedBytesNeverCrashTheDecoder) {
  for (const wire::Message& m : SampleMessages()) {
    const std::vector<std::uint8_t> bytes = Frame(m);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      for (const std::uint8_t x : {0x01, 0x80, 0xFF}) {
        std::vector<std::uint8_t> corrupt = bytes;
        corrupt[i] ^= x;
        const wire::DecodeResult r = DecodeFrame(corrupt);
        if (r.status == FrameStatus::Complete) {
          EXPECT_LE(r.size, corrupt.size());
        }
      }
    }
  }
}

// ---- LocalServer32 command lines

struct SplitCase {
  const char* line;
  std::vector<std::string> args;
};

TEST(AutomationCommandLine, SplitsByTheWindowsRules) {
  const std::vector<SplitCase> cases = {
      {"/usr/bin/veskmath /Automation", {"/usr/bin/veskmath", "/Automation"}},
      {"\"/opt/vesk math/veskmath\" /Automation", {"/opt/vesk math/veskmath", "/Automation"}},
      {"  a\t\tb  ", {"a", "b"}},
      {"\"\"", {""}},
      {"a\"b c\"d", {"ab cd"}},
      {"a\\\\b", {"a\\\\b"}},         // backslashes not before a quote are literal
      {"\"a\\\"b\"", {"a\"b"}},       // \" inside quotes: a literal quote
      {"\"a\\\\\" b", {"a\\", "b"}},  // \\" : one backslash, then the quote closes
      {"a\\\\\\\"b", {"a\\\"b"}},     // \\\" : one backslash and a literal quote
      {"", {}},
  };
  for (const SplitCase& c : cases) {
    const auto args = SplitCommandLine(c.line);
    ASSERT_TRUE(args.has_value()) << c.line;
    EXPECT_EQ(*args, c.args) << c.line;
  }
}

TEST(AutomationCommandLine, RefusesUnterminatedQuotesAndLineBreaks) {
  EXPECT_FALSE(SplitCommandLine("\"/opt/a b/prog /Automation"));
  EXPECT_FALSE(SplitCommandLine("/prog\n/evil"));
  EXPECT_FALSE(SplitCommandLine(std::string_view("/prog\0x", 7)));
}

TEST(AutomationCommandLine, QuotedArgumentsSplitBackUnchanged) {
  const std::vector<std::string> arguments = {
      "/usr/bin/veskmath", "/opt/vesk math/veskmath", "",     "tab\there", "quote\"inside",
      "trailing\\",        "dir with space\\",        "\\\"", "a\\\\\"b",  "/ü/数式 x"};
  for (const std::string& a : arguments) {
    const std::string line = QuoteCommandLineArg(a) + " /Automation";
    const auto args = SplitCommandLine(line);
    ASSERT_TRUE(args.has_value()) << line;
    ASSERT_EQ(args->size(), 2u) << line;
    EXPECT_EQ((*args)[0], a) << line;
  }
  EXPECT_EQ(QuoteCommandLineArg("/usr/bin/veskmath"), "/usr/bin/veskmath");
  EXPECT_EQ(QuoteCommandLineArg("/opt/vesk math/veskmath"), "\"/opt/vesk math/veskmath\"");
}

}  // namespace
}  // namespace veskmath::win
