#include "platform/rtl/List.h"

#include <algorithm>

#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {

TList::~TList() = default;  // Items are not owned; subclasses free theirs before this runs.

void TList::Error(const char* message, int32_t data) { throw EListError(Format(message, data)); }

void TList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
}

void TList::SetCapacity(int32_t capacity) {
  if (capacity < Count()) Error("List capacity out of bounds (%d)", capacity);
  FItems.reserve(static_cast<size_t>(capacity));  // never shrinks
}

void TList::SetCount(int32_t count) {
  if (count < 0) Error("List count out of bounds (%d)", count);
  FItems.resize(static_cast<size_t>(count), nullptr);
}

void* TList::Get(int32_t index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)];
}

void TList::Put(int32_t index, void* item) {
  CheckIndex(index);
  void* old = FItems[static_cast<size_t>(index)];
  if (old == item) return;
  FItems[static_cast<size_t>(index)] = item;
  if (old) Notify(old, TListNotification::lnDeleted);
  if (item) Notify(item, TListNotification::lnAdded);
}

int32_t TList::Add(void* item) {
  FItems.push_back(item);
  if (item) Notify(item, TListNotification::lnAdded);
  return Count() - 1;
}

void TList::AddRange(void* const* items, int32_t count) {
  if (count <= 0) return;
  FItems.insert(FItems.end(), items, items + count);
  for (int32_t k = 0; k < count; ++k)
    if (items[k]) Notify(items[k], TListNotification::lnAdded);
}

void TList::Insert(int32_t index, void* item) {
  if (index < 0 || index > Count()) Error("List index out of bounds (%d)", index);
  FItems.insert(FItems.begin() + index, item);
  if (item) Notify(item, TListNotification::lnAdded);
}

void TList::Delete(int32_t index) {
  CheckIndex(index);
  void* item = FItems[static_cast<size_t>(index)];
  FItems.erase(FItems.begin() + index);
  if (item) Notify(item, TListNotification::lnDeleted);
}

int32_t TList::Remove(void* item) {
  const int32_t index = IndexOfPointer(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  const int32_t index = IndexOfPointer(item);
  if (index < 0) return nullptr;
  FItems.erase(FItems.begin() + index);
  Notify(item, TListNotification::lnExtracted);
  return item;
}

int32_t TList::IndexOfPointer(const void* item) const {
  const auto it = std::ranges::find(FItems, item);
  return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

void TList::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

void TList::Clear() {
  // Notify each removal, last first, as the component library does.
  while (!FItems.empty()) Delete(Count() - 1);
  FItems.shrink_to_fit();
}

}  // namespace veskmath::rtl
