// A class that publishes properties declares them in a static StaticClassInfo() and overrides
// ClassInfo() to answer it; Parent chains to the inherited properties, which come first. A class
// that adds none answers its parent's table. Getters and setters are member-function pointers or
// callables taking the object; a nullptr setter makes the property read-only. In TSample:
//   static const rtl::TClassInfo info{&rtl::TComponent::StaticClassInfo(), {
//       rtl::TPublished<TSample>::Integer("Count", &TSample::Count, &TSample::SetCount, 5)}};
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {

class TPersistent;

// The ordinal kinds, tkInteger to tkBoolean, travel as 32-bit integers: a set as a bit mask of
// up to 32 elements (bit i = element i), a boolean as 0/1.
enum TTypeKind : uint8_t {
  tkInteger,
  tkChar,
  tkEnumeration,
  tkSet,
  tkBoolean,
  tkFloat,
  tkInt64,
  tkString,
  tkClass,
};

inline bool IsOrdinalKind(TTypeKind kind) { return kind <= tkBoolean; }

class EComponentError : public Exception {
  using Exception::Exception;
};

struct TPropInfo {
  using TStoredTest = std::function<bool(const TPersistent&)>;

  std::string Name;
  TTypeKind Kind = tkInteger;
  // Enumeration values / set elements, in ordinal order; "False", "True" for booleans.
  std::vector<std::string> ElementNames;
  // Declared default (ordinal kinds only).
  std::optional<int32_t> Default;
  TStoredTest Stored;

  // Accessors of the kind's value type; the setter is empty for a read-only property.
  std::function<int32_t(const TPersistent&)> GetOrd;
  std::function<void(TPersistent&, int32_t)> SetOrd;
  std::function<double(const TPersistent&)> GetFloat;
  std::function<void(TPersistent&, double)> SetFloat;
  std::function<int64_t(const TPersistent&)> GetInt64;
  std::function<void(TPersistent&, int64_t)> SetInt64;
  std::function<std::string(const TPersistent&)> GetString;
  std::function<void(TPersistent&, const std::string&)> SetString;
  std::function<TPersistent*(TPersistent&)> GetObject;
  std::function<void(TPersistent&, TPersistent*)> SetObject;

  bool HasSetter() const;
  bool IsStored(const TPersistent& instance) const { return !Stored || Stored(instance); }

  // Whether the value is written: a const member function, a callable on the object, a constant.
  template <class R, class C, bool NoExcept>
  TPropInfo&& StoredWhen(R (C::*test)() const noexcept(NoExcept)) && {
    return std::move(*this).StoredWhen(
        [test](const TPersistent& o) -> bool { return (static_cast<const C&>(o).*test)(); });
  }
  template <class F>
  TPropInfo&& StoredWhen(F test) && {
    Stored = std::move(test);
    return std::move(*this);
  }
  TPropInfo&& StoredWhen(bool stored) && {
    Stored = [stored](const TPersistent&) { return stored; };
    return std::move(*this);
  }
};

struct TClassInfo {
  const TClassInfo* Parent = nullptr;
  std::vector<TPropInfo> Properties;
};

inline constexpr const char* kAssignError = "Cannot assign a %s to a %s";

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent();

  // Copies source's settings by asking source to AssignTo this object; when neither knows the
  // other: EConvertError "Cannot assign a <source> to a <this>" (a null source is "nil").
  virtual void Assign(TPersistent* source);

  // The class name of the dynamic type, without namespaces ("TSample").
  std::string ClassName() const;

  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }

 protected:
  virtual void AssignTo(TPersistent& dest);
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

std::vector<const TPropInfo*> GetPropList(const TPersistent& instance);
// The property of that name (ASCII case-insensitive), or null.
const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name);

// A named component. Its owner, if any, frees it when destroyed; a component destroyed earlier
// leaves its owner first. Components() hands out non-owning pointers.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  const std::string& Name() const { return FName; }
  // Empty or an identifier unique (ignoring case) among the owner's components: EComponentError
  // "'<name>' is not a valid component name" / "A component named <name> already exists".
  virtual void SetName(const std::string& name);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }

  TComponent* Owner() const { return FOwner; }
  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  TComponent* Components(int32_t index) const;
  TComponent* FindComponent(std::string_view name) const;
  // Takes component over from its previous owner; EComponentError on a name clash.
  void InsertComponent(TComponent* component);
  // Gives component up without freeing it.
  void RemoveComponent(TComponent* component);
  void DestroyComponents();

  // A sub-component is streamed and reset as part of the object whose property holds it.
  bool IsSubComponent() const { return FSubComponent; }
  void SetSubComponent(bool value) { FSubComponent = value; }

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  // Changes the name without any check.
  void ChangeName(const std::string& name) { FName = name; }

 private:
  friend class TNameSuspender;
  std::string FName;
  int32_t FTag = 0;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;  // owned
  bool FSubComponent = false;
};

// Blanks a component's Name for its lifetime; the destructor restores it, also on an exception.
class TNameSuspender {
 public:
  explicit TNameSuspender(TComponent& component) : FComponent(component), FSaved(component.Name()) {
    component.ChangeName(std::string());
  }
  ~TNameSuspender() { FComponent.ChangeName(FSaved); }
  TNameSuspender(const TNameSuspender&) = delete;
  TNameSuspender& operator=(const TNameSuspender&) = delete;

 private:
  TComponent& FComponent;
  std::string FSaved;
};

template <class T>
struct TPublished {
  template <class G, class S>
  static TPropInfo Integer(std::string name, G get, S set, std::optional<int32_t> def = {}) {
    return Ordinal<int32_t>(std::move(name), tkInteger, {}, get, set, def);
  }
  template <class G, class S>
  static TPropInfo Char(std::string name, G get, S set, std::optional<char> def = {}) {
    return Ordinal<char>(std::move(name), tkChar, {}, get, set, def);
  }
  // E is an enumeration whose values are 0..names.size()-1, named in that order.
  template <class E, class G, class S>
  static TPropInfo Enumeration(std::string name, std::vector<std::string> names, G get, S set,
                               std::optional<E> def = {}) {
    return Ordinal<E>(std::move(name), tkEnumeration, std::move(names), get, set, def);
  }
  template <class G, class S>
  static TPropInfo Set(std::string name, std::vector<std::string> names, G get, S set,
                       std::optional<uint32_t> def = {}) {
    return Ordinal<uint32_t>(std::move(name), tkSet, std::move(names), get, set, def);
  }
  template <class G, class S>
  static TPropInfo Boolean(std::string name, G get, S set, std::optional<bool> def = {}) {
    return Ordinal<bool>(std::move(name), tkBoolean, {"False", "True"}, get, set, def);
  }
  template <class G, class S>
  static TPropInfo Float(std::string name, G get, S set) {
    return Accessed<double>(std::move(name), tkFloat, get, set, &TPropInfo::GetFloat,
                            &TPropInfo::SetFloat);
  }
  template <class G, class S>
  static TPropInfo Int64(std::string name, G get, S set) {
    return Accessed<int64_t>(std::move(name), tkInt64, get, set, &TPropInfo::GetInt64,
                             &TPropInfo::SetInt64);
  }
  template <class G, class S>
  static TPropInfo String(std::string name, G get, S set) {
    return Accessed<std::string>(std::move(name), tkString, get, set, &TPropInfo::GetString,
                                 &TPropInfo::SetString);
  }
  // get answers a TPersistent* or null; set is usually nullptr: streaming uses the held object.
  template <class G, class S = std::nullptr_t>
  static TPropInfo Class(std::string name, G get, S set = nullptr) {
    return Accessed<TPersistent*>(std::move(name), tkClass, get, set, &TPropInfo::GetObject,
                                  &TPropInfo::SetObject);
  }

  static const T& Self(const TPersistent& o) { return static_cast<const T&>(o); }
  static T& Self(TPersistent& o) { return static_cast<T&>(o); }

 private:
  static TPropInfo Base(std::string name, TTypeKind kind) {
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = kind;
    return p;
  }
  // Fills the getter and, unless set is nullptr, the setter of a non-ordinal kind's value type V.
  template <class V, class G, class S, class Getter, class Setter>
  static TPropInfo Accessed(std::string name, TTypeKind kind, G get, S set,
                            Getter TPropInfo::*getter, Setter TPropInfo::*setter) {
    TPropInfo p = Base(std::move(name), kind);
    p.*getter = [get](auto& o) { return static_cast<V>(std::invoke(get, Self(o))); };
    if constexpr (!std::is_null_pointer_v<S>)
      p.*setter = [set](TPersistent& o, const V& v) { std::invoke(set, Self(o), v); };
    return p;
  }
  template <class V>
  static int32_t ToOrd(V v) {
    if constexpr (std::is_same_v<V, char>) return static_cast<unsigned char>(v);
    return static_cast<int32_t>(v);
  }
  template <class V, class G, class S, class D>
  static TPropInfo Ordinal(std::string name, TTypeKind kind, std::vector<std::string> names, G get,
                           S set, std::optional<D> def) {
    TPropInfo p = Base(std::move(name), kind);
    p.ElementNames = std::move(names);
    if (def) p.Default = ToOrd(static_cast<V>(*def));
    p.GetOrd = [get](const TPersistent& o) {
      return ToOrd(static_cast<V>(std::invoke(get, Self(o))));
    };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetOrd = [set](TPersistent& o, int32_t v) { std::invoke(set, Self(o), static_cast<V>(v)); };
    return p;
  }
};

}  // namespace veskmath::rtl
