// TList: the component library's growable list of untyped pointers. It owns nothing; the
// collections built on it decide ownership by class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veskmath::rtl {

enum class TListNotification { lnAdded, lnExtracted, lnDeleted };

class TList {
 public:
  TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;
  virtual ~TList();

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  void SetCapacity(int32_t capacity);
  // Growing the count fills with nil; shrinking drops the tail without notification.
  void SetCount(int32_t count);

  void* Get(int32_t index) const;
  void Put(int32_t index, void* item);
  void* operator[](int32_t index) const { return Get(index); }
  // Unchecked access for callers that have checked the index themselves.
  void* At(int32_t index) const { return FItems[static_cast<std::size_t>(index)]; }

  int32_t Add(void* item);
  // Appends count items in one step (each is notified as added).
  void AddRange(void* const* items, int32_t count);
  void Insert(int32_t index, void* item);
  void Delete(int32_t index);
  int32_t Remove(void* item);
  void* Extract(void* item);
  // Plain identity search from the front; -1 when absent.
  int32_t IndexOfPointer(const void* item) const;
  void Exchange(int32_t index1, int32_t index2);
  virtual void Clear();

  void* const* List() const { return FItems.data(); }

 protected:
  virtual void Notify(void* /*item*/, TListNotification /*action*/) {}
  [[noreturn]] static void Error(const char* message, int32_t data);
  void CheckIndex(int32_t index) const;

 private:
  std::vector<void*> FItems;
};

}  // namespace veskmath::rtl
