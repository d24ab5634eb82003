#include "platform/rtl/Component.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace veskmath::rtl {

namespace {

// "veskmath::rtl::TComponent" -> "TComponent"; "(anonymous namespace)::TSample" -> "TSample".
// Only "::" outside template arguments separates a namespace.
std::string StripNamespaces(const std::string& name) {
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    const char c = name[i];
    if (c == '<' || c == '(') ++depth;
    if (c == '>' || c == ')') --depth;
    if (depth == 0 && c == ':' && name[i + 1] == ':') start = i + 2;
  }
  return name.substr(start);
}

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsValidIdent(const std::string& name) {
  const auto identChar = [](char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); };
  return name.empty() || (IsIdentStart(name[0]) && std::ranges::all_of(name, identChar));
}

}  // namespace

bool TPropInfo::HasSetter() const {
  switch (Kind) {
    case tkFloat:
      return static_cast<bool>(SetFloat);
    case tkInt64:
      return static_cast<bool>(SetInt64);
    case tkString:
      return static_cast<bool>(SetString);
    case tkClass:
      return static_cast<bool>(SetObject);
    default:
      return static_cast<bool>(SetOrd);
  }
}

// ---------------------------------------------------------------------------------------
// TPersistent

TPersistent::~TPersistent() = default;

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo info{nullptr, {}};
  return info;
}

std::string TPersistent::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return StripNamespaces(status == 0 && demangled ? demangled.get() : mangled);
}

void TPersistent::Assign(TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) { dest.AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  const std::string sourceName = source ? source->ClassName() : "nil";
  throw EConvertError(Format(kAssignError, sourceName.c_str(), ClassName().c_str()));
}

std::vector<const TPropInfo*> GetPropList(const TPersistent& instance) {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* info = &instance.ClassInfo(); info; info = info->Parent)
    chain.push_back(info);
  std::vector<const TPropInfo*> list;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const TPropInfo& prop : (*it)->Properties) list.push_back(&prop);
  return list;
}

const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name) {
  for (const TPropInfo* prop : GetPropList(instance))
    if (SameText(prop->Name, name)) return prop;
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// TComponent

const TClassInfo& TComponent::StaticClassInfo() {
  using P = TPublished<TComponent>;
  // Name travels in the component block's header, not as a property.
  static const TClassInfo info{
      &TPersistent::StaticClassInfo(),
      {
          P::String("Name", &TComponent::Name, &TComponent::SetName).StoredWhen(false),
          P::Integer("Tag", &TComponent::Tag, &TComponent::SetTag, 0),
      }};
  return info;
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!IsValidIdent(name)) throw EComponentError("'" + name + "' is not a valid component name");
  if (FOwner && !name.empty()) {
    const TComponent* other = FOwner->FindComponent(name);
    if (other && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  ChangeName(name);
}

TComponent* TComponent::Components(int32_t index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(Format("List index out of bounds (%d)", index));
  return FComponents[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : FComponents)
    if (SameText(component->FName, name)) return component;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->FOwner == this) return;
  if (!component->FName.empty() && FindComponent(component->FName))
    throw EComponentError("A component named " + component->FName + " already exists");
  if (component->FOwner) component->FOwner->RemoveComponent(component);
  FComponents.push_back(component);
  component->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->FOwner != this) return;
  std::erase(FComponents, component);
  component->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* component = FComponents.back();
    RemoveComponent(component);
    delete component;
  }
}

}  // namespace veskmath::rtl
