#include "platform/rtl/PropertyStream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
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

// The value type of each TTypeKind, in its order (a 64-bit integer also reads vaInt32).
constexpr TValueType kValueTypeOf[] = {vaInt32, vaChar,  vaIdent,  vaSet,   vaIdent,
                                       vaFloat, vaInt64, vaString, vaObject};
static_assert(std::size(kValueTypeOf) == tkClass + 1);

bool IsStreamedObject(TPersistent* object) {
  if (!object) return false;
  auto* component = dynamic_cast<TComponent*>(object);
  return !component || component->IsSubComponent();
}

std::string Where(const TPersistent& instance, const std::string& propName) {
  return instance.ClassName() + "." + propName;
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

  void Properties(TPersistent& instance, int depth) {
    if (depth > kMaxDepth) throw EWriteError("Sub-objects nested too deeply to write");
    for (const TPropInfo* prop : GetPropList(instance))
      if (prop->IsStored(instance) && (prop->Kind == tkClass || prop->HasSetter()))
        Property(instance, *prop, depth);
    Byte(vaNull);
  }

 private:
  void Head(const TPropInfo& prop) {
    ShortStr(prop.Name);
    Byte(kValueTypeOf[prop.Kind]);
  }

  void Property(TPersistent& instance, const TPropInfo& prop, int depth) {
    if (IsOrdinalKind(prop.Kind)) {
      const int32_t value = prop.GetOrd(instance);
      if (!prop.Default || value != *prop.Default) Ordinal(instance, prop, value);
      return;
    }
    switch (prop.Kind) {
      case tkFloat:
        return WriteUnlessZero(prop, prop.GetFloat(instance));
      case tkInt64:
        return WriteUnlessZero(prop, prop.GetInt64(instance));
      case tkString: {
        const std::string value = prop.GetString(instance);
        if (value.empty()) return;
        if (value.size() > INT32_MAX)
          throw EWriteError("String too long to write: " + Where(instance, prop.Name));
        Head(prop);
        WriteLittleEndian(FStream, static_cast<uint32_t>(value.size()));
        FStream.WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
        return;
      }
      default: {
        TPersistent* object = prop.GetObject(instance);
        if (!IsStreamedObject(object)) return;
        // Only a sub-object with something to record appears in the block.
        TMemoryStream nested;
        Writer(nested).Properties(*object, depth + 1);
        if (nested.Size() == 1) return;
        Head(prop);
        nested.SaveToStream(FStream);
        return;
      }
    }
  }

  // Zero is judged by the bits, so a float's -0.0 is written.
  template <class V>
  void WriteUnlessZero(const TPropInfo& prop, V value) {
    if (std::bit_cast<uint64_t>(value) == 0) return;
    Head(prop);
    WriteLittleEndian(FStream, value);
  }

  void Ordinal(const TPersistent& instance, const TPropInfo& prop, int32_t value) {
    const std::vector<std::string>& names = prop.ElementNames;
    switch (prop.Kind) {
      case tkChar:
        Head(prop);
        Byte(static_cast<uint8_t>(value));
        return;
      case tkEnumeration:
      case tkBoolean:
        if (value < 0 || static_cast<size_t>(value) >= names.size())
          throw EWriteError(
              Format("Value %d of %s has no name", value, Where(instance, prop.Name).c_str()));
        Head(prop);
        ShortStr(names[static_cast<size_t>(value)]);
        return;
      case tkSet: {
        const auto mask = static_cast<uint32_t>(value);
        if (names.size() < 32 && (mask >> names.size()) != 0)
          throw EWriteError("Set value of " + Where(instance, prop.Name) +
                            " holds elements without names");
        Head(prop);
        for (size_t i = 0; i < names.size() && i < 32; ++i)
          if (mask & (1u << i)) ShortStr(names[i]);
        Byte(vaNull);
        return;
      }
      default:
        Head(prop);
        WriteLittleEndian(FStream, value);
        return;
    }
  }

  TStream& FStream;
};

// ---------------------------------------------------------------------------------------
// Reader: parse the whole block into records, check them all against the object, then apply.

struct TPropRec;
struct TValueRec {
  uint8_t Type = vaNull;
  int64_t Int = 0;  // integer, character
  double Float = 0;
  std::string Text;                   // string, identifier
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

  uint8_t Byte() { return ReadLittleEndian<uint8_t>(FStream); }
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

  std::vector<TPropRec> Properties(int depth) {
    if (depth > kMaxDepth) Malformed("sub-objects nested too deeply");
    std::vector<TPropRec> list;
    for (std::string name = ShortStr(); !name.empty(); name = ShortStr())
      list.push_back(TPropRec{std::move(name), Value(depth)});
    return list;
  }

 private:
  TValueRec Value(int depth) {
    TValueRec v;
    v.Type = Byte();
    switch (v.Type) {
      case vaInt32:
        v.Int = ReadLittleEndian<int32_t>(FStream);
        break;
      case vaInt64:
        v.Int = ReadLittleEndian<int64_t>(FStream);
        break;
      case vaFloat:
        v.Float = ReadLittleEndian<double>(FStream);
        break;
      case vaString:
        v.Text = Bytes(ReadLittleEndian<uint32_t>(FStream));
        break;
      case vaIdent:
        v.Text = ShortStr();
        break;
      case vaChar:
        v.Int = Byte();
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
  const auto it = std::ranges::find_if(names, [&](const auto& n) { return SameText(n, name); });
  return it == names.end() ? -1 : static_cast<int32_t>(it - names.begin());
}

// An ordinal record's value as it travels; nothing for a name the property does not have.
std::optional<int32_t> OrdinalValue(const TPropInfo& prop, const TValueRec& v) {
  if (prop.Kind == tkEnumeration || prop.Kind == tkBoolean) {
    const int32_t index = IndexOfName(prop.ElementNames, v.Text);
    return index < 0 ? std::nullopt : std::optional(index);
  }
  if (prop.Kind != tkSet) return static_cast<int32_t>(v.Int);
  uint32_t mask = 0;
  for (const std::string& element : v.Elements) {
    const int32_t bit = IndexOfName(prop.ElementNames, element);
    if (bit < 0 || bit >= 32) return std::nullopt;
    mask |= 1u << bit;
  }
  return static_cast<int32_t>(mask);
}

using TActions = std::vector<std::function<void()>>;

// Checks every record against instance and queues the assignment it stands for.
void Resolve(TPersistent& instance, const std::vector<TPropRec>& records, TActions& actions) {
  for (const TPropRec& rec : records) {
    const auto fail = [&](const char* detail) {
      throw EReadError("Error reading " + Where(instance, rec.Name) + ": " + detail);
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
    if (v.Type != kValueTypeOf[prop->Kind] && !(prop->Kind == tkInt64 && v.Type == vaInt32))
      fail("invalid property value");
    TPersistent* target = &instance;
    if (prop->Kind == tkFloat) {
      actions.push_back([prop, target, value = v.Float] { prop->SetFloat(*target, value); });
    } else if (prop->Kind == tkInt64) {
      actions.push_back([prop, target, value = v.Int] { prop->SetInt64(*target, value); });
    } else if (prop->Kind == tkString) {
      // The records outlive the actions.
      actions.push_back([prop, target, text = &v.Text] { prop->SetString(*target, *text); });
    } else {
      const std::optional<int32_t> value = OrdinalValue(*prop, v);
      if (!value) fail("invalid property value");
      actions.push_back([prop, target, value = *value] { prop->SetOrd(*target, value); });
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
