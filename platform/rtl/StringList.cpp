#include "platform/rtl/StringList.h"

#include <algorithm>

#include "platform/rtl/ScopeExit.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

namespace veskmath::rtl {

namespace {
constexpr const char* kIndexError = "List index out of bounds (%d)";
constexpr const char* kSortedListError = "Operation not allowed on sorted list";
constexpr const char* kDuplicateString = "String list does not allow duplicates";

auto UpdateGuard(TStringList& list) {
  list.BeginUpdate();
  return ScopeExit([&list] { list.EndUpdate(); });
}
}  // namespace

void TStringList::Error(const char* message, int32_t data) {
  throw EStringListError(Format(message, data));
}

void TStringList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) Error(kIndexError, index);
}

std::string TStringList::Get(int32_t index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].Text;
}

void TStringList::Put(int32_t index, const std::string& s) {
  if (FSorted) Error(kSortedListError, 0);
  CheckIndex(index);
  Change([&] { FItems[static_cast<size_t>(index)].Text = s; });
}

void* TStringList::GetObject(int32_t index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].Object;
}

void TStringList::PutObject(int32_t index, void* object) {
  CheckIndex(index);
  Change([&] { FItems[static_cast<size_t>(index)].Object = object; });
}

int32_t TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int32_t TStringList::AddObject(const std::string& s, void* object) {
  int32_t index = Count();
  if (FSorted && Find(s, index)) {
    switch (FDuplicates) {
      case dupIgnore:
        return index;
      case dupError:
        Error(kDuplicateString, 0);
      case dupAccept:
        break;
    }
  }
  InsertItem(index, s, object);
  return index;
}

void TStringList::Insert(int32_t index, const std::string& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int32_t index, const std::string& s, void* object) {
  if (FSorted) Error(kSortedListError, 0);
  if (index < 0 || index > Count()) Error(kIndexError, index);
  InsertItem(index, s, object);
}

void TStringList::InsertItem(int32_t index, const std::string& s, void* object) {
  Change([&] { FItems.insert(FItems.begin() + index, Item{s, object}); });
}

void TStringList::Delete(int32_t index) {
  CheckIndex(index);
  Change([&] { FItems.erase(FItems.begin() + index); });
}

void TStringList::Clear() {
  if (!FItems.empty()) Change([this] { FItems.clear(); });
}

void TStringList::LoadFromStream(TStream& stream) {
  const auto guard = UpdateGuard(*this);
  const int64_t remaining = stream.Size() - stream.Position();
  std::string text;
  if (remaining > 0) {
    if (remaining > INT32_MAX) throw EReadError("Stream read error");
    text.resize(static_cast<size_t>(remaining));
    // A stream that delivers less than it announced keeps what arrived.
    text.resize(static_cast<size_t>(stream.Read(text.data(), static_cast<int32_t>(remaining))));
  }
  SetText(text);
}

void TStringList::SaveToStream(TStream& stream) {
  const std::string text = GetText();
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStringList::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

std::string TStringList::GetText() const {
  std::string text;
  for (const Item& item : FItems) text.append(item.Text).append("\r\n");
  return text;
}

void TStringList::SetText(std::string_view text) {
  const auto guard = UpdateGuard(*this);
  Clear();
  const size_t end = std::min(text.find('\0'), text.size());
  size_t p = 0;
  while (p < end) {
    const size_t start = p;
    while (p < end && text[p] != '\r' && text[p] != '\n') ++p;
    Add(std::string(text.substr(start, p - start)));
    // "a\r\nb" is two lines, "a\n\rb" three: CR LF is one break, LF CR two.
    if (p < end && text[p] == '\r') ++p;
    if (p < end && text[p] == '\n') ++p;
  }
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  const auto fold = [this](char c) {
    return static_cast<unsigned char>(FCaseSensitive ? c : LowerChar(c));
  };
  const auto order = std::lexicographical_compare_three_way(
      a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return fold(x) <=> fold(y); });
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int32_t TStringList::IndexOf(const std::string& s) const {
  int32_t index = -1;
  if (FSorted) return Find(s, index) ? index : -1;
  const auto it = std::find_if(FItems.begin(), FItems.end(),
                               [&](const Item& item) { return CompareStrings(item.Text, s) == 0; });
  return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

bool TStringList::Find(const std::string& s, int32_t& index) const {
  const auto it = std::lower_bound(FItems.begin(), FItems.end(), s,
                                   [this](const Item& item, const std::string& text) {
                                     return CompareStrings(item.Text, text) < 0;
                                   });
  index = static_cast<int32_t>(it - FItems.begin());
  return it != FItems.end() && CompareStrings(it->Text, s) == 0;
}

void TStringList::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStringList::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0) SetUpdateState(false);
}

void TStringList::SetUpdateState(bool updating) { updating ? Changing() : Changed(); }

template <class F>
void TStringList::Change(F&& change) {
  Changing();
  change();
  Changed();
}

void TStringList::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(*this);
}

void TStringList::Changing() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(*this);
}

void TStringList::SetSorted(bool value) {
  if (FSorted == value) return;
  if (value) Sort();
  FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
  if (FCaseSensitive == value) return;
  FCaseSensitive = value;
  if (FSorted) {
    // Sort() skips a Sorted list: lower the flag to re-sort under the new comparison.
    FSorted = false;
    Sort();
    FSorted = true;
  }
}

void TStringList::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  Change(
      [&] { std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]); });
}

void TStringList::Sort() {
  if (FSorted || FItems.size() < 2) return;
  Change([this] {
    std::stable_sort(FItems.begin(), FItems.end(), [this](const Item& a, const Item& b) {
      return CompareStrings(a.Text, b.Text) < 0;
    });
  });
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  const auto guard = UpdateGuard(*this);
  Clear();
  AddStrings(source);
}

void TStringList::AddStrings(const TStringList& source) {
  const auto guard = UpdateGuard(*this);
  // Copy first: source may be this list.
  const std::vector<Item> items = source.FItems;
  for (const Item& item : items) AddObject(item.Text, item.Object);
}

}  // namespace veskmath::rtl
