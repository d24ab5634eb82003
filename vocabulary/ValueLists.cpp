#include "vocabulary/ValueLists.h"

#include <memory>

namespace veskmath::qel {

template <class V>
TValueList<V>::~TValueList() {
  // The base destructor cannot reach our Clear: free the blocks here, silently.
  OnChange = nullptr;
  OnChanging = nullptr;
  Clear();
}

template <class V>
int32_t TValueList<V>::Add(const std::string& name) {
  return AddValue(name, V{});
}

template <class V>
int32_t TValueList<V>::AddObject(const std::string& name, void* /*object*/) {
  // The object slot belongs to the list: a foreign object would be freed as a value block.
  return AddValue(name, V{});
}

template <class V>
void TValueList<V>::Insert(int32_t index, const std::string& name) {
  InsertValue(index, name, V{});
}

template <class V>
void TValueList<V>::InsertObject(int32_t index, const std::string& name, void* /*object*/) {
  InsertValue(index, name, V{});
}

template <class V>
int32_t TValueList<V>::AddValue(const std::string& name, const V& value) {
  auto block = std::make_unique<V>(value);
  const int32_t before = Count();
  const int32_t index = rtl::TStringList::AddObject(name, block.get());
  // A sorted list may refuse a duplicate: then the block was not taken and is freed here.
  if (Count() > before) block.release();
  return index;
}

template <class V>
void TValueList<V>::InsertValue(int32_t index, const std::string& name, const V& value) {
  auto block = std::make_unique<V>(value);
  rtl::TStringList::InsertObject(index, name, block.get());  // raises before taking it
  block.release();
}

template <class V>
V TValueList<V>::GetValue(int32_t index) const {
  const auto* block = static_cast<const V*>(GetObject(index));
  return block ? *block : V{};
}

template <class V>
void TValueList<V>::PutValue(int32_t index, const V& value) {
  auto* block = static_cast<V*>(GetObject(index));
  if (block) {
    *block = value;
  } else {
    PutObject(index, new V(value));
  }
}

template <class V>
void TValueList<V>::Delete(int32_t index) {
  auto* block = static_cast<V*>(GetObject(index));  // checks the index first
  rtl::TStringList::Delete(index);
  delete block;
}

template <class V>
void TValueList<V>::Clear() {
  if (Count() == 0) return;
  BeginUpdate();
  try {
    for (int32_t i = Count() - 1; i >= 0; --i) Delete(i);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

template <class V>
void TValueList<V>::Assign(const rtl::TStringList& source) {
  const auto* values = dynamic_cast<const TValueList<V>*>(&source);
  if (!values || values == this) {
    rtl::TStringList::Assign(source);
    return;
  }
  BeginUpdate();
  try {
    Clear();
    for (int32_t i = 0; i < values->Count(); ++i) AddValue(values->Get(i), values->GetValue(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

template class TValueList<double>;
template class TValueList<TCplx>;

}  // namespace veskmath::qel
