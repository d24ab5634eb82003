// QelBaseComp: the persistence base of the library's components.
//
// TQelComponent saves its published properties behind a class-name header, loads them back
// only into an object of the same class, copies one component's settings onto another and
// offers each of these as a template operation (done with BlockAssign set, which
// descendants may consult).
//
// Stream layout of SaveToStream (little-endian):
//   int32 N | N bytes: the writer's class name | the component block ("TPF0" ..., see
//   platform/rtl/PropertyStream.h), written with Name blanked so the block names no
//   component.
// Loading clamps N to 0..254 and refuses another class with the general exception
// "Data format type missmatch: <stored> <> <own>".
//
// Every operation here restores the component's Name when it ends, also when it fails, and
// every template operation clears BlockAssign again, also when it fails.
#pragma once

#include <string>
#include <typeinfo>

#include "platform/rtl/Component.h"
#include "platform/rtl/Streams.h"

namespace veskmath::qel {

class TQelComponent : public rtl::TComponent {
 public:
  explicit TQelComponent(rtl::TComponent* owner = nullptr);
  ~TQelComponent() override;

  // From an object of the same class (by class name): every stored property becomes the
  // source's, including those the source holds at their defaults. Otherwise the inherited
  // assignment (which raises "Cannot assign a <source> to a <this>").
  void Assign(rtl::TPersistent* source) override;

  virtual void SetBlockAssign(bool value);
  // Hook for descendants: the base answers true and does nothing.
  virtual bool Update();
  // The design-time editor of the component; the base has none (null).
  virtual const std::type_info* EditorClass() const;
  virtual void SaveToStream(rtl::TStream& stream);
  virtual void LoadFromStream(rtl::TStream& stream);
  // Creates or replaces the file.
  virtual void SaveToFile(const std::string& fileName);
  // A path that is not an existing regular file is ignored; the file is held open denying
  // other writers while it is read.
  virtual void LoadFromFile(const std::string& fileName);
  // Assign with BlockAssign set on this object and on source (when it is a TQelComponent).
  virtual void AssignTemplate(rtl::TPersistent* source);
  virtual void LoadTemplateFromStream(rtl::TStream& stream);
  virtual void LoadTemplateFromFile(const std::string& fileName);
  virtual void SaveTemplateToStream(rtl::TStream& stream);
  virtual void SaveTemplateToFile(const std::string& fileName);

  void SetEditorActive(bool value) { FEditorActive = value; }
  bool EditorActive() const { return FEditorActive; }
  bool BlockAssign() const { return FBlockAssign; }

 private:
  bool FEditorActive = false;
  bool FBlockAssign = false;
};

// Sets the stored published properties of instance back to their defaults, recursing into
// the persistent sub-objects its class-typed properties hold (non-components and
// sub-components): ordinal kinds to their declared default (left alone without one),
// floats and 64-bit integers to 0, strings to the empty text; everything else is left.
void ResetProperties(rtl::TPersistent& instance);

// Copies every stored published property of source onto dest, which must be of the same
// class (else the general exception "<source class> <> <dest class>").
void AssignComponent(rtl::TComponent& source, rtl::TComponent& dest);

}  // namespace veskmath::qel
