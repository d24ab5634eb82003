// Encoding and decoding of the automation wire messages.
#include "platform/win/AutomationWire.h"

#include <algorithm>

#include "platform/rtl/ByteOrder.h"

namespace veskmath::win::wire {

namespace {

enum Kind : std::uint8_t {
  kCreateInstance = 1,
  kLockServer = 2,
  kQueryInterface = 3,
  kRelease = 4,
  kGetTypeInfoCount = 5,
  kGetIDsOfNames = 6,
  kInvoke = 7,
  kReply = 128,
};

// ---------------------------------------------------------------------------------------
// Writing

class Writer {
 public:
  Writer() { FBytes.resize(kFrameHeaderSize); }

  void U8(std::uint8_t v) { FBytes.push_back(v); }
  void U16(std::uint16_t v) { Append(rtl::ToLittleEndian(v)); }
  void U32(std::uint32_t v) { Append(rtl::ToLittleEndian(v)); }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Guid(const GUID& g) {
    U32(g.Data1);
    U16(g.Data2);
    U16(g.Data3);
    for (const std::uint8_t b : g.Data4) U8(b);
  }
  void Text(const BSTR& s) {
    U8(s.IsNull() ? 0 : 1);
    U32(s.Length());
    for (const char16_t c : s.View()) U16(static_cast<std::uint16_t>(c));
  }
  void Text(const std::u16string& s) {
    U8(1);
    U32(static_cast<std::uint32_t>(s.size()));
    for (const char16_t c : s) U16(static_cast<std::uint16_t>(c));
  }
  // Unknown types are written as VT_EMPTY: only what the decoder accepts goes out.
  void Variant(const VARIANT& v) {
    switch (v.vt) {
      case VT_I4:
        U16(VT_I4);
        I32(v.lVal);
        break;
      case VT_BOOL:
        U16(VT_BOOL);
        U16(static_cast<std::uint16_t>(v.boolVal));
        break;
      case VT_ERROR:
        U16(VT_ERROR);
        I32(v.scode);
        break;
      case VT_BSTR:
        U16(VT_BSTR);
        Text(v.bstrVal);
        break;
      case VT_NULL:
        U16(VT_NULL);
        break;
      default:
        U16(VT_EMPTY);
        break;
    }
  }

  // Fills in the header; nullopt when the payload is too long.
  std::optional<std::vector<std::uint8_t>> Finish() {
    const std::size_t payload = FBytes.size() - kFrameHeaderSize;
    if (payload > kMaxFramePayload) return std::nullopt;
    static_assert(kFrameHeaderSize == sizeof(std::uint32_t));
    const auto header = rtl::ToLittleEndian(static_cast<std::uint32_t>(payload));
    std::copy(header.begin(), header.end(), FBytes.begin());
    return std::move(FBytes);
  }

 private:
  template <std::size_t N>
  void Append(const std::array<std::uint8_t, N>& bytes) {
    FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
  }

  std::vector<std::uint8_t> FBytes;
};

void Encode(Writer& w, const CreateInstanceRequest& m) {
  w.U8(kCreateInstance);
  w.Guid(m.iid);
}
void Encode(Writer& w, const LockServerRequest& m) {
  w.U8(kLockServer);
  w.U8(m.lock ? 1 : 0);
}
void Encode(Writer& w, const QueryInterfaceRequest& m) {
  w.U8(kQueryInterface);
  w.U32(m.object);
  w.Guid(m.iid);
}
void Encode(Writer& w, const ReleaseRequest& m) {
  w.U8(kRelease);
  w.U32(m.object);
}
void Encode(Writer& w, const GetTypeInfoCountRequest& m) {
  w.U8(kGetTypeInfoCount);
  w.U32(m.object);
}
void Encode(Writer& w, const GetIDsOfNamesRequest& m) {
  w.U8(kGetIDsOfNames);
  w.U32(m.object);
  w.Guid(m.iid);
  w.U32(m.lcid);
  w.U32(static_cast<std::uint32_t>(m.names.size()));
  for (const std::u16string& name : m.names) w.Text(name);
}
void Encode(Writer& w, const InvokeRequest& m) {
  w.U8(kInvoke);
  w.U32(m.object);
  w.I32(m.dispId);
  w.Guid(m.iid);
  w.U32(m.lcid);
  w.U16(m.flags);
  w.U8(m.wantResult ? 1 : 0);
  w.U32(static_cast<std::uint32_t>(m.args.size()));
  for (const VARIANT& v : m.args) w.Variant(v);
  w.U32(static_cast<std::uint32_t>(m.namedArgs.size()));
  for (const DISPID id : m.namedArgs) w.I32(id);
}
void Encode(Writer& w, const Reply& m) {
  w.U8(kReply);
  w.I32(m.hr);
  w.U32(m.object);
  w.U32(m.value);
  w.U32(static_cast<std::uint32_t>(m.dispIds.size()));
  for (const DISPID id : m.dispIds) w.I32(id);
  w.U8(m.result ? 1 : 0);
  if (m.result) w.Variant(*m.result);
  w.U8(m.excepInfo ? 1 : 0);
  if (m.excepInfo) {
    w.U16(m.excepInfo->wCode);
    w.Text(m.excepInfo->bstrSource);
    w.Text(m.excepInfo->bstrDescription);
    w.Text(m.excepInfo->bstrHelpFile);
    w.U32(m.excepInfo->dwHelpContext);
    w.I32(m.excepInfo->scode);
  }
  w.U8(m.errorInfo ? 1 : 0);
  if (m.errorInfo) {
    w.Guid(m.errorInfo->guid);
    w.Text(m.errorInfo->source);
    w.Text(m.errorInfo->description);
    w.Text(m.errorInfo->helpFile);
    w.U32(m.errorInfo->helpContext);
  }
}

bool WithinLimits(const Message& message) {
  if (const auto* m = std::get_if<GetIDsOfNamesRequest>(&message)) {
    return m->names.size() <= kMaxNames;
  }
  if (const auto* m = std::get_if<InvokeRequest>(&message)) {
    return m->args.size() <= kMaxArguments && m->namedArgs.size() <= kMaxArguments;
  }
  if (const auto* m = std::get_if<Reply>(&message)) return m->dispIds.size() <= kMaxNames;
  return true;
}

// ---------------------------------------------------------------------------------------
// Reading: every read checks the bytes left first; a failed read poisons the reader.

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : FBytes(bytes) {}

  bool Ok() const { return FOk; }
  bool AtEnd() const { return FPos == FBytes.size(); }

  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return FBytes[FPos++];
  }
  std::uint16_t U16() {
    if (!Need(2)) return 0;
    const auto v = rtl::FromLittleEndian<std::uint16_t>(&FBytes[FPos]);
    FPos += 2;
    return v;
  }
  std::uint32_t U32() {
    if (!Need(4)) return 0;
    const auto v = rtl::FromLittleEndian<std::uint32_t>(&FBytes[FPos]);
    FPos += 4;
    return v;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  bool Bool() {
    const std::uint8_t b = U8();
    if (b > 1) Fail();
    return b == 1;
  }
  GUID Guid() {
    GUID g;
    g.Data1 = U32();
    g.Data2 = U16();
    g.Data3 = U16();
    for (std::uint8_t& b : g.Data4) b = U8();
    return g;
  }
  // A text's units; `isNull` tells a null text (which has no units) from an empty one.
  std::optional<std::u16string> Units(bool& isNull) {
    const std::uint8_t present = U8();
    if (present > 1) Fail();
    const std::uint32_t count = U32();
    if (!Ok() || !Need(static_cast<std::size_t>(count) * 2)) return std::nullopt;
    isNull = present == 0;
    if (isNull && count != 0) {
      Fail();
      return std::nullopt;
    }
    std::u16string text(count, u'\0');
    for (std::uint32_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(U16());
    return text;
  }
  BSTR Text() {
    bool isNull = false;
    std::optional<std::u16string> units = Units(isNull);
    if (!units || isNull) return BSTR();
    return BSTR(*units);
  }
  std::u16string Name() {
    bool isNull = false;
    std::optional<std::u16string> units = Units(isNull);
    if (isNull) Fail();
    return units ? *units : std::u16string();
  }
  VARIANT Variant() {
    VARIANT v;
    const VARTYPE vt = U16();
    switch (vt) {
      case VT_EMPTY:
      case VT_NULL:
        v.vt = vt;
        break;
      case VT_I4:
        v.vt = VT_I4;
        v.lVal = I32();
        break;
      case VT_BOOL: {
        v.vt = VT_BOOL;
        v.boolVal = static_cast<VARIANT_BOOL>(U16());
        break;
      }
      case VT_ERROR:
        v.vt = VT_ERROR;
        v.scode = I32();
        break;
      case VT_BSTR:
        v.vt = VT_BSTR;
        v.bstrVal = Text();
        break;
      default:
        Fail();  // a type this transport does not carry
        break;
    }
    return v;
  }
  // A list count, refused beyond `limit` or beyond what the bytes left could hold
  // (`minItemSize` bytes each), so a forged count never drives an allocation.
  std::uint32_t Count(std::size_t limit, std::size_t minItemSize) {
    const std::uint32_t n = U32();
    if (!Ok()) return 0;
    if (n > limit || static_cast<std::size_t>(n) * minItemSize > FBytes.size() - FPos) {
      Fail();
      return 0;
    }
    return n;
  }

  void Fail() { FOk = false; }

 private:
  bool Need(std::size_t n) {
    if (!FOk || FBytes.size() - FPos < n) {
      FOk = false;
      return false;
    }
    return true;
  }

  std::span<const std::uint8_t> FBytes;
  std::size_t FPos = 0;
  bool FOk = true;
};

std::optional<Message> DecodePayload(std::span<const std::uint8_t> payload) {
  Reader r(payload);
  std::optional<Message> result;
  switch (r.U8()) {
    case kCreateInstance:
      result = CreateInstanceRequest{r.Guid()};
      break;
    case kLockServer:
      result = LockServerRequest{r.Bool()};
      break;
    case kQueryInterface: {
      QueryInterfaceRequest m;
      m.object = r.U32();
      m.iid = r.Guid();
      result = m;
      break;
    }
    case kRelease:
      result = ReleaseRequest{r.U32()};
      break;
    case kGetTypeInfoCount:
      result = GetTypeInfoCountRequest{r.U32()};
      break;
    case kGetIDsOfNames: {
      GetIDsOfNamesRequest m;
      m.object = r.U32();
      m.iid = r.Guid();
      m.lcid = r.U32();
      const std::uint32_t n = r.Count(kMaxNames, 5);
      for (std::uint32_t i = 0; i < n && r.Ok(); ++i) m.names.push_back(r.Name());
      result = std::move(m);
      break;
    }
    case kInvoke: {
      InvokeRequest m;
      m.object = r.U32();
      m.dispId = r.I32();
      m.iid = r.Guid();
      m.lcid = r.U32();
      m.flags = r.U16();
      m.wantResult = r.Bool();
      const std::uint32_t n = r.Count(kMaxArguments, 2);
      for (std::uint32_t i = 0; i < n && r.Ok(); ++i) m.args.push_back(r.Variant());
      const std::uint32_t named = r.Count(kMaxArguments, 4);
      for (std::uint32_t i = 0; i < named && r.Ok(); ++i) m.namedArgs.push_back(r.I32());
      result = std::move(m);
      break;
    }
    case kReply: {
      Reply m;
      m.hr = r.I32();
      m.object = r.U32();
      m.value = r.U32();
      const std::uint32_t n = r.Count(kMaxNames, 4);
      for (std::uint32_t i = 0; i < n && r.Ok(); ++i) m.dispIds.push_back(r.I32());
      if (r.Bool()) m.result = r.Variant();
      if (r.Bool()) {
        EXCEPINFO e;
        e.wCode = r.U16();
        e.bstrSource = r.Text();
        e.bstrDescription = r.Text();
        e.bstrHelpFile = r.Text();
        e.dwHelpContext = r.U32();
        e.scode = r.I32();
        m.excepInfo = std::move(e);
      }
      if (r.Bool()) {
        ErrorInfoData e;
        e.guid = r.Guid();
        e.source = r.Text();
        e.description = r.Text();
        e.helpFile = r.Text();
        e.helpContext = r.U32();
        m.errorInfo = std::move(e);
      }
      result = std::move(m);
      break;
    }
    default:
      return std::nullopt;
  }
  if (!r.Ok() || !r.AtEnd()) return std::nullopt;
  return result;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeFrame(const Message& message) {
  if (!WithinLimits(message)) return std::nullopt;
  Writer w;
  std::visit([&w](const auto& m) { Encode(w, m); }, message);
  return w.Finish();
}

DecodeResult DecodeFrame(std::span<const std::uint8_t> buffer) {
  DecodeResult result;
  if (buffer.size() < kFrameHeaderSize) return result;  // Incomplete
  const std::size_t length = rtl::FromLittleEndian<std::uint32_t>(buffer.data());
  if (length > kMaxFramePayload) {
    result.status = FrameStatus::Oversized;
    return result;
  }
  if (buffer.size() - kFrameHeaderSize < length) return result;  // Incomplete
  result.size = kFrameHeaderSize + length;
  result.message = DecodePayload(buffer.subspan(kFrameHeaderSize, length));
  result.status = result.message ? FrameStatus::Complete : FrameStatus::Malformed;
  return result;
}

bool VariantEquals(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_I4:
      return a.lVal == b.lVal;
    case VT_BOOL:
      return a.boolVal == b.boolVal;
    case VT_ERROR:
      return a.scode == b.scode;
    case VT_BSTR:
      return a.bstrVal == b.bstrVal;
    default:
      return true;
  }
}

bool ExcepInfoEquals(const EXCEPINFO& a, const EXCEPINFO& b) {
  return a.wCode == b.wCode && a.bstrSource == b.bstrSource &&
         a.bstrDescription == b.bstrDescription && a.bstrHelpFile == b.bstrHelpFile &&
         a.dwHelpContext == b.dwHelpContext && a.scode == b.scode;
}

bool InvokeRequest::operator==(const InvokeRequest& o) const {
  if (object != o.object || dispId != o.dispId || iid != o.iid || lcid != o.lcid ||
      flags != o.flags || wantResult != o.wantResult || namedArgs != o.namedArgs ||
      args.size() != o.args.size()) {
    return false;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!VariantEquals(args[i], o.args[i])) return false;
  }
  return true;
}

bool Reply::operator==(const Reply& o) const {
  if (hr != o.hr || object != o.object || value != o.value || dispIds != o.dispIds ||
      errorInfo != o.errorInfo || result.has_value() != o.result.has_value() ||
      excepInfo.has_value() != o.excepInfo.has_value()) {
    return false;
  }
  if (result && !VariantEquals(*result, *o.result)) return false;
  if (excepInfo && !ExcepInfoEquals(*excepInfo, *o.excepInfo)) return false;
  return true;
}

}  // namespace veskmath::win::wire
