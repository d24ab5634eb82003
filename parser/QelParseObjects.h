// QelParseObjects: the pointer collections the expression engine keeps its words in.
//
// All are built on the component library's growable pointer list (rtl::TList) and differ
// in one decision each: whether the collection owns (frees) its items, and whether it stays
// sorted by a key and is searched by bisection.
//
//   TOCollection        owns its items (TObject descendants), unsorted
//   TNoOwnerCollection  owns nothing, unsorted
//   TSortedCollection   owns, sorted by KeyOf/Compare, optional duplicates
//   TStrCollection      owns heap strings (NewStr), sorted case-sensitively
//
// The list's own operations (Add, Insert, Delete, Clear, ...) stay as the platform defines
// them: in particular Delete and Clear remove pointers without freeing anything. Freeing
// goes through AtFree, DoFree, FreeAll and destruction.
#pragma once

#include <cstdint>

#include "platform/rtl/List.h"

namespace veskmath::qel {

// The root of the objects an owning collection may hold: freeing one is a virtual delete.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
};

class TOCollection : public rtl::TList {
 public:
  explicit TOCollection(int32_t capacity);
  ~TOCollection() override;

  // Removes the item at index from the list, then frees it.
  void AtFree(int32_t index);
  // Frees every item from the last to the first, then empties the list (also when freeing
  // fails).
  void FreeAll();
  // Frees the item found by identity (the plain list search, not a sorted one).
  void DoFree(void* item);

  // Frees one item the way this collection owns it (nil is ignored).
  virtual void FreeItem(void* item);
};

// Holds pointers it does not own: FreeItem does nothing, so destruction frees no item.
class TNoOwnerCollection : public TOCollection {
 public:
  using TOCollection::TOCollection;
  // Runs before the base destructor so that no item reaches the owning FreeItem.
  ~TNoOwnerCollection() override;
  void FreeItem(void* item) override;
};

class TSortedCollection : public TOCollection {
 public:
  explicit TSortedCollection(int32_t capacity);

  bool Duplicates = false;

  // Orders two keys: negative, 0 or positive. The bare class has no order and raises
  // rtl::EAbstractError.
  virtual int32_t Compare(const void* key1, const void* key2) const;
  // Position of item: by key, and with Duplicates by identity from the first equal key on;
  // -1 when absent.
  virtual int32_t IndexOf(void* item) const;
  // Inserts item in key order (before equal keys). Without Duplicates a present key answers
  // false and leaves item untouched: neither inserted nor freed, the caller decides.
  virtual bool Add(void* item);
  // Takes the entry with item's key out of the list (without freeing it: it stays the
  // caller's), then Add.
  virtual bool AddReplace(void* item);
  virtual const void* KeyOf(void* item) const;
  // Bisection: true on a hit. index is the hit (the first of equal keys with Duplicates) or
  // the insertion point on a miss.
  virtual bool Search(const void* key, int32_t& index) const;
};

// Heap strings made by NewStr, sorted case-sensitively by their bytes.
class TStrCollection : public TSortedCollection {
 public:
  using TSortedCollection::TSortedCollection;
  // Frees the strings here: the base destructor would free them as objects.
  ~TStrCollection() override;
  int32_t Compare(const void* key1, const void* key2) const override;
  void FreeItem(void* item) override;
};

// A heap copy of a NUL-terminated string for TStrCollection; StrDispose releases it (nil is
// ignored).
char* NewStr(const char* text);
void StrDispose(char* text);

}  // namespace veskmath::qel
