#include "vocabulary/QelBaseComp.h"

#include <algorithm>
#include <filesystem>

#include "platform/rtl/ByteOrder.h"
#include "platform/rtl/PropertyStream.h"
#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::qel {

namespace {

// The longest class name a header may announce; longer lengths are read as this many bytes.
constexpr int32_t kMaxClassNameLength = 254;
// Sub-objects deeper than this are not reset (the block writer refuses them anyway).
constexpr int kMaxResetDepth = 32;

// Sets BlockAssign on a component (if any) until the scope ends.
auto BlockAssignGuard(TQelComponent* component) {
  if (component) component->SetBlockAssign(true);
  return rtl::ScopeExit([component] {
    if (component) component->SetBlockAssign(false);
  });
}

void Reset(rtl::TPersistent& instance, int depth) {
  for (const rtl::TPropInfo* prop : rtl::GetPropList(instance)) {
    if (!prop->IsStored(instance)) continue;
    if (prop->Kind != rtl::tkClass && !prop->HasSetter()) continue;
    switch (prop->Kind) {
      case rtl::tkInteger:
      case rtl::tkChar:
      case rtl::tkEnumeration:
      case rtl::tkSet:
      case rtl::tkBoolean:
        if (prop->Default) prop->SetOrd(instance, *prop->Default);
        break;
      case rtl::tkFloat:
        prop->SetFloat(instance, 0.0);
        break;
      case rtl::tkInt64:
        prop->SetInt64(instance, 0);
        break;
      case rtl::tkString:
        // The block omits empty strings, so a copy is only complete when they are reset too.
        prop->SetString(instance, std::string());
        break;
      case rtl::tkClass: {
        rtl::TPersistent* object = prop->GetObject(instance);
        if (!object || depth >= kMaxResetDepth) break;
        auto* component = dynamic_cast<rtl::TComponent*>(object);
        if (!component || component->IsSubComponent()) Reset(*object, depth + 1);
        break;
      }
    }
  }
}

}  // namespace

void ResetProperties(rtl::TPersistent& instance) { Reset(instance, 0); }

void AssignComponent(rtl::TComponent& source, rtl::TComponent& dest) {
  if (source.ClassName() != dest.ClassName())
    throw rtl::Exception(source.ClassName() + " <> " + dest.ClassName());
  rtl::TMemoryStream stream;
  {
    rtl::TNameSuspender blank(source);
    rtl::WriteComponent(stream, source);
  }
  stream.SetPosition(0);
  rtl::TNameSuspender keep(dest);
  ResetProperties(dest);
  rtl::ReadComponent(stream, dest);
}

// ---------------------------------------------------------------------------------------
// TQelComponent

TQelComponent::TQelComponent(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TQelComponent::~TQelComponent() = default;

void TQelComponent::SetBlockAssign(bool value) { FBlockAssign = value; }

bool TQelComponent::Update() { return true; }

const std::type_info* TQelComponent::EditorClass() const { return nullptr; }

void TQelComponent::SaveToStream(rtl::TStream& stream) {
  const std::string className = ClassName();
  const auto length = static_cast<int32_t>(className.size());
  rtl::WriteLittleEndian(stream, length);
  stream.WriteBuffer(className.data(), length);
  rtl::TNameSuspender blank(*this);
  rtl::WriteComponent(stream, *this);
}

void TQelComponent::LoadFromStream(rtl::TStream& stream) {
  const int32_t length = std::clamp(rtl::ReadLittleEndian<int32_t>(stream), 0, kMaxClassNameLength);
  std::string stored(static_cast<size_t>(length), '\0');
  stream.ReadBuffer(stored.data(), length);
  // Case-sensitive: data of "tsample" is not data of "TSample".
  if (stored != ClassName())
    throw rtl::Exception("Data format type missmatch: " + stored + " <> " + ClassName());
  rtl::TNameSuspender keep(*this);
  rtl::ReadComponent(stream, *this);
}

void TQelComponent::SaveToFile(const std::string& fileName) {
  rtl::TFileStream stream(fileName, rtl::fmCreate);
  SaveToStream(stream);
}

void TQelComponent::LoadFromFile(const std::string& fileName) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(fileName, error)) return;
  rtl::TFileStream stream(fileName, rtl::fmOpenRead | rtl::fmShareDenyWrite);
  LoadFromStream(stream);
}

void TQelComponent::Assign(rtl::TPersistent* source) {
  auto* other = dynamic_cast<TQelComponent*>(source);
  if (!other || other->ClassName() != ClassName()) {
    rtl::TComponent::Assign(source);
    return;
  }
  rtl::TMemoryStream stream;
  {
    rtl::TNameSuspender blank(*other);
    other->SaveToStream(stream);
  }
  stream.SetPosition(0);
  rtl::TNameSuspender keep(*this);
  ResetProperties(*this);
  LoadFromStream(stream);
}

void TQelComponent::AssignTemplate(rtl::TPersistent* source) {
  const auto self = BlockAssignGuard(this);
  const auto other = BlockAssignGuard(dynamic_cast<TQelComponent*>(source));
  Assign(source);
}

void TQelComponent::LoadTemplateFromStream(rtl::TStream& stream) {
  const auto guard = BlockAssignGuard(this);
  LoadFromStream(stream);
}

void TQelComponent::LoadTemplateFromFile(const std::string& fileName) {
  const auto guard = BlockAssignGuard(this);
  LoadFromFile(fileName);
}

void TQelComponent::SaveTemplateToStream(rtl::TStream& stream) {
  const auto guard = BlockAssignGuard(this);
  SaveToStream(stream);
}

void TQelComponent::SaveTemplateToFile(const std::string& fileName) {
  const auto guard = BlockAssignGuard(this);
  SaveToFile(fileName);
}

}  // namespace veskmath::qel
