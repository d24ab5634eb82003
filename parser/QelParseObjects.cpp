#include "parser/QelParseObjects.h"

#include <cstring>

#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::qel {

TObject::~TObject() = default;

// --- TOCollection -------------------------------------------------------------------------

TOCollection::TOCollection(int32_t capacity) { SetCapacity(capacity); }

TOCollection::~TOCollection() { FreeAll(); }

void TOCollection::AtFree(int32_t index) {
  void* item = Get(index);
  Delete(index);
  FreeItem(item);
}

void TOCollection::FreeAll() {
  // The count drops to 0 even when a FreeItem fails.
  const rtl::ScopeExit countToZero([this] { SetCount(0); });
  for (int32_t i = Count() - 1; i >= 0; --i) FreeItem(At(i));
}

void TOCollection::DoFree(void* item) { AtFree(IndexOfPointer(item)); }

void TOCollection::FreeItem(void* item) { delete static_cast<TObject*>(item); }

// --- TNoOwnerCollection -------------------------------------------------------------------

TNoOwnerCollection::~TNoOwnerCollection() { SetCount(0); }

void TNoOwnerCollection::FreeItem(void* /*item*/) {}

// --- TSortedCollection --------------------------------------------------------------------

TSortedCollection::TSortedCollection(int32_t capacity) : TOCollection(capacity) {}

int32_t TSortedCollection::Compare(const void* /*key1*/, const void* /*key2*/) const {
  throw rtl::EAbstractError("Abstract Error");
}

const void* TSortedCollection::KeyOf(void* item) const { return item; }

bool TSortedCollection::Search(const void* key, int32_t& index) const {
  int32_t lo = 0;
  int32_t hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int32_t mid = static_cast<int32_t>(static_cast<uint32_t>(lo + hi) >> 1);
    const int32_t c = Compare(KeyOf(At(mid)), key);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (!Duplicates) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int32_t TSortedCollection::IndexOf(void* item) const {
  int32_t index;
  if (!Search(KeyOf(item), index)) return -1;
  if (Duplicates) {
    // The walk is not limited to equal keys: identity decides.
    while (index < Count() && At(index) != item) ++index;
    if (index == Count()) return -1;
  }
  return index;
}

bool TSortedCollection::Add(void* item) {
  int32_t index;
  if (Search(KeyOf(item), index) && !Duplicates) return false;
  Insert(index, item);
  return true;
}

bool TSortedCollection::AddReplace(void* item) {
  int32_t index;
  if (Search(KeyOf(item), index)) Delete(index);
  return Add(item);
}

// --- TStrCollection -----------------------------------------------------------------------

TStrCollection::~TStrCollection() { FreeAll(); }

int32_t TStrCollection::Compare(const void* key1, const void* key2) const {
  const int c = std::strcmp(static_cast<const char*>(key1), static_cast<const char*>(key2));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void TStrCollection::FreeItem(void* item) { StrDispose(static_cast<char*>(item)); }

char* NewStr(const char* text) {
  const std::size_t n = std::strlen(text);
  char* copy = new char[n + 1];
  std::memcpy(copy, text, n + 1);
  return copy;
}

void StrDispose(char* text) { delete[] text; }

}  // namespace veskmath::qel
