#include "platform/rtl/PropertyStream.h"

#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/ByteOrder.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {

namespace {

enum TValueType : uint8_t {
  vaNull = 0x00,  // ends a property list or a set
  vaInt32 = 0x01,
  vaInt64 = 0x02,
  vaFloat = 0x03,
  vaString = 0x04,
  vaIdent = 0x05,
  vaSet = 0x06,
  vaChar = 0x07,
  vaObject = 0x08,
};

// Deep enough for any sensible object, shallow enough to stop cycles and hostile data.
constexpr int kMaxDepth = 32;

bool IsStreamedObject(TPersistent* object) {
  if (!object) return false;
  auto* component = dynamic_cast<TComponent*>(object);
  return !component || component->IsSubComponent();
}

// ---------------------------------------------------------------------------------------
// Writer

class Writer {
 public:
  explicit Writer(TStream& stream) : FStream(stream) {}

  void Byte(uint8_t b) { FStream.WriteBuffer(&b, 1); }
  void ShortStr(const std::string& s) {
    if (s.size() > 255) throw EWriteError("Name too long for the component block: " + s);
    Byte(static_cast<uint8_t>(s.size()));
    FStream.WriteBuffer(s.data(), static_cast<int32_t>(s.size()));
  }
  template <class V>
  void Raw(V value) {
    WriteLittleEndian(FStream, value);
  }

  void Properties(TPersistent& instance, int depth) {
    if (depth > kMaxDepth) throw EWriteError("Sub-objects nested too deeply to write");
    for (const TPropInfo* prop : GetPropList(instance)) {
      if (!prop->IsStored(instance)) continue;
      if (prop->Kind != tkClass && !prop->HasSetter()) continue;
      Property(instance, *prop, depth);
    }
    Byte(vaNull);
  }

 private:
  void Property(TPersistent& instance, const TPropInfo& prop, int depth) {
    const std::string where = instance.ClassName() + "." + prop.Name;
    if (IsOrdinalKind(prop.Kind)) {
      const int32_t value = prop.GetOrd(instance);
      if (prop.Default && value == *prop.Default) return;
      ShortStr(prop.Name);
      Ordinal(prop, value, where);
      return;
    }
    switch (prop.Kind) {
      case tkFloat: {
        const double value = prop.GetFloat(instance);
        if (std::bit_cast<uint64_t>(value) == 0) return;
        ShortStr(prop.Name);
        Byte(vaFloat);
        Raw(value);
        return;
      }
      case tkInt64: {
        const int64_t value = prop.GetInt64(instance);
        if (value == 0) return;
        ShortStr(prop.Name);
        Byte(vaInt64);
        Raw(value);
        return;
      }
      case tkString: {
        const std::string value = prop.GetString(instance);
        if (value.empty()) return;
        if (value.size() > INT32_MAX) throw EWriteError("String too long to write: " + where);
        ShortStr(prop.Name);
        Byte(vaString);
        Raw(static_cast<uint32_t>(value.size()));
        FStream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
        return;
      }
      case tkClass: {
        TPersistent* object = prop.GetObject(instance);
        if (!IsStreamedObject(object)) return;
        // Only a sub-object with something to record appears in the block.
        TMemoryStream nested;
        Writer(nested).Properties(*object, depth + 1);
        if (nested.Size() == 1) return;
        ShortStr(prop.Name);
        Byte(vaObject);
        nested.SaveToStream(FStream);
        return;
      }
      default:
        return;
    }
  }

  void Ordinal(const TPropInfo& prop, int32_t value, const std::string& where) {
    switch (prop.Kind) {
      case tkChar:
        Byte(vaChar);
        Byte(static_cast<uint8_t>(value));
        return;
      case tkEnumeration:
      case tkBoolean: {
        if (value < 0 || static_cast<size_t>(value) >= prop.ElementNames.size())
          throw EWriteError(Format("Value %d of %s has no name", value, where.c_str()));
        Byte(vaIdent);
        ShortStr(prop.ElementNames[static_cast<size_t>(value)]);
        return;
      }
      case tkSet: {
        const auto mask = static_cast<uint32_t>(value);
        if (prop.ElementNames.size() < 32 && (mask >> prop.ElementNames.size()) != 0)
          throw EWriteError("Set value of " + where + " holds elements without names");
        Byte(vaSet);
        for (size_t i = 0; i < prop.ElementNames.size() && i < 32; ++i)
          if (mask & (1u << i)) ShortStr(prop.ElementNames[i]);
        Byte(vaNull);
        return;
      }
      default:
        Byte(vaInt32);
        Raw(value);
        return;
    }
  }

  TStream& FStream;
};

// ---------------------------------------------------------------------------------------
// Reader: parse the whole block into records first, then check them against the object,
// then apply them.

struct TPropRec;
struct TValueRec {
  uint8_t Type = vaNull;
  int64_t Int = 0;
  double Float = 0;
  std::string Text;                   // string, identifier, character
  std::vector<std::string> Elements;  // set
  std::vector<TPropRec> Properties;   // sub-object
};
struct TPropRec {
  std::string Name;
  TValueRec Value;
};

[[noreturn]] void Malformed(const std::string& detail) {
  throw EReadError("Invalid stream format: " + detail);
}

class Parser {
 public:
  explicit Parser(TStream& stream) : FStream(stream) {}

  uint8_t Byte() {
    uint8_t b = 0;
    FStream.ReadBuffer(&b, 1);
    return b;
  }
  std::string Bytes(uint64_t count) {
    // Refuse a length beyond the data before allocating anything.
    const int64_t remaining = FStream.Size() - FStream.Position();
    if (count > static_cast<uint64_t>(std::max<int64_t>(remaining, 0)))
      Malformed(Format("length %llu exceeds the stream", static_cast<unsigned long long>(count)));
    std::string s(static_cast<size_t>(count), '\0');
    FStream.ReadBuffer(s.data(), static_cast<int32_t>(count));
    return s;
  }
  std::string ShortStr() { return Bytes(Byte()); }
  template <class V>
  V Raw() {
    return ReadLittleEndian<V>(FStream);
  }

  std::vector<TPropRec> Properties(int depth) {
    if (depth > kMaxDepth) Malformed("sub-objects nested too deeply");
    std::vector<TPropRec> list;
    for (;;) {
      std::string name = ShortStr();
      if (name.empty()) return list;
      list.push_back(TPropRec{std::move(name), Value(depth)});
    }
  }

 private:
  TValueRec Value(int depth) {
    TValueRec v;
    v.Type = Byte();
    switch (v.Type) {
      case vaInt32:
        v.Int = Raw<int32_t>();
        break;
      case vaInt64:
        v.Int = Raw<int64_t>();
        break;
      case vaFloat:
        v.Float = Raw<double>();
        break;
      case vaString:
        v.Text = Bytes(Raw<uint32_t>());
        break;
      case vaIdent:
        v.Text = ShortStr();
        break;
      case vaChar:
        v.Text = Bytes(1);
        break;
      case vaSet:
        for (std::string element = ShortStr(); !element.empty(); element = ShortStr())
          v.Elements.push_back(std::move(element));
        break;
      case vaObject:
        v.Properties = Properties(depth + 1);
        break;
      default:
        Malformed(Format("unknown value type %d", v.Type));
    }
    return v;
  }

  TStream& FStream;
};

int32_t IndexOfName(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (LowerCase(names[i]) == LowerCase(name)) return static_cast<int32_t>(i);
  return -1;
}

using TActions = std::vector<std::function<void()>>;

// Checks every record against instance and queues the assignment it stands for.
void Resolve(TPersistent& instance, const std::vector<TPropRec>& records, TActions& actions) {
  for (const TPropRec& rec : records) {
    const std::string where = instance.ClassName() + "." + rec.Name;
    auto fail = [&](const char* detail) -> void {
      throw EReadError("Error reading " + where + ": " + detail);
    };
    const TPropInfo* prop = GetPropInfo(instance, rec.Name);
    if (!prop) fail("property does not exist");
    const TValueRec& v = rec.Value;
    if (prop->Kind == tkClass) {
      TPersistent* object = prop->GetObject(instance);
      if (v.Type != vaObject || !IsStreamedObject(object)) fail("invalid property value");
      Resolve(*object, v.Properties, actions);
      continue;
    }
    if (!prop->HasSetter()) fail("property is read-only");
    TPersistent* target = &instance;
    switch (prop->Kind) {
      case tkInteger:
        if (v.Type != vaInt32) fail("invalid property value");
        actions.push_back(
            [prop, target, value = static_cast<int32_t>(v.Int)] { prop->SetOrd(*target, value); });
        break;
      case tkChar:
        if (v.Type != vaChar) fail("invalid property value");
        actions.push_back([prop, target, value = static_cast<unsigned char>(v.Text[0])] {
          prop->SetOrd(*target, value);
        });
        break;
      case tkEnumeration:
      case tkBoolean: {
        const int32_t value = v.Type == vaIdent ? IndexOfName(prop->ElementNames, v.Text) : -1;
        if (value < 0) fail("invalid property value");
        actions.push_back([prop, target, value] { prop->SetOrd(*target, value); });
        break;
      }
      case tkSet: {
        if (v.Type != vaSet) fail("invalid property value");
        uint32_t mask = 0;
        for (const std::string& element : v.Elements) {
          const int32_t bit = IndexOfName(prop->ElementNames, element);
          if (bit < 0 || bit >= 32) fail("invalid property value");
          mask |= 1u << bit;
        }
        actions.push_back(
            [prop, target, mask] { prop->SetOrd(*target, static_cast<int32_t>(mask)); });
        break;
      }
      case tkFloat:
        if (v.Type != vaFloat) fail("invalid property value");
        actions.push_back([prop, target, value = v.Float] { prop->SetFloat(*target, value); });
        break;
      case tkInt64:
        if (v.Type != vaInt64 && v.Type != vaInt32) fail("invalid property value");
        actions.push_back([prop, target, value = v.Int] { prop->SetInt64(*target, value); });
        break;
      case tkString: {
        if (v.Type != vaString) fail("invalid property value");
        const std::string* text = &v.Text;  // the records outlive the actions
        actions.push_back([prop, target, text] { prop->SetString(*target, *text); });
        break;
      }
      default:
        fail("invalid property value");
    }
  }
}

}  // namespace

void WriteComponent(TStream& stream, TComponent& instance) {
  Writer writer(stream);
  stream.WriteBuffer(kFilerSignature, 4);
  writer.ShortStr(instance.ClassName());
  writer.ShortStr(instance.Name());
  writer.Properties(instance, 0);
}

void ReadComponent(TStream& stream, TComponent& instance) {
  Parser parser(stream);
  char signature[4] = {};
  stream.ReadBuffer(signature, 4);
  if (std::memcmp(signature, kFilerSignature, 4) != 0) Malformed("missing TPF0 signature");
  const std::string className = parser.ShortStr();
  const std::string objectName = parser.ShortStr();
  const std::vector<TPropRec> records = parser.Properties(0);
  if (className != instance.ClassName())
    Malformed("class " + className + " does not match " + instance.ClassName());

  TActions actions;
  if (!objectName.empty()) actions.push_back([&] { instance.SetName(objectName); });
  Resolve(instance, records, actions);
  for (const auto& action : actions) action();
}

}  // namespace veskmath::rtl
