// TStringList: lines of text, each with an untyped object slot (NOT owned), optionally sorted.
//
// Subclasses attach per-line data by overriding the virtual operations, through which every
// inherited way of adding or removing lines goes:
//   - SetText, LoadFromStream, LoadFromFile: Clear(), then Add() for every line;
//   - Assign: Clear(), then AddObject() for every line of the source (with its object);
//   - AddStrings: AddObject() for every line; Add() -> AddObject(), Insert() -> InsertObject();
//   - Delete() and Clear() are the only removals (Clear does not call Delete).
// Overrides call the base Delete/Clear/AddObject/InsertObject qualified (TStringList::Delete).
// The base destructor cannot reach an override of Clear, so a subclass that owns per-line data
// frees it in its own destructor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veskmath::rtl {

class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
 public:
  using TNotifyEvent = std::function<void(TStringList& sender)>;

  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  virtual ~TStringList() = default;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // Strings[i]. Index errors: EStringListError "List index out of bounds (<i>)".
  std::string Get(int32_t index) const;
  // Replaces the text of line index (not allowed on a sorted list).
  void Put(int32_t index, const std::string& s);
  void* GetObject(int32_t index) const;
  void PutObject(int32_t index, void* object);

  // Appends (unsorted) or inserts at the sorted position. On a sorted list a duplicate is
  // handled by Duplicates: dupIgnore answers the existing line's index and adds nothing,
  // dupError raises EStringListError "String list does not allow duplicates".
  virtual int32_t Add(const std::string& s);
  virtual int32_t AddObject(const std::string& s, void* object);
  // Index may be Count. On a sorted list: EStringListError "Operation not allowed on sorted list".
  virtual void Insert(int32_t index, const std::string& s);
  virtual void InsertObject(int32_t index, const std::string& s, void* object);
  virtual void Delete(int32_t index);
  virtual void Clear();

  // Text with CR LF after every line.
  virtual void LoadFromStream(TStream& stream);  // reads from the position to the end
  virtual void SaveToStream(TStream& stream);
  // The file is opened denying other writers while it is read; SaveToFile creates/replaces.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  std::string GetText() const;
  // Lines end at CR, LF or CR LF; the text ends at its first NUL byte or at its end; a final
  // line without a break is added; a final break adds no empty line.
  void SetText(std::string_view text);

  // Sorted lists use a binary search; unsorted ones a linear one. -1 when absent.
  int32_t IndexOf(const std::string& s) const;
  // Sorted lists only: true with the first match's index, or false with the insertion point.
  bool Find(const std::string& s, int32_t& index) const;

  // Change notifications fire only outside a BeginUpdate/EndUpdate bracket; a bracket fires
  // OnChanging once when it opens and OnChange once when it closes.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return FUpdateCount; }

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  // False (the default): ASCII case-insensitive comparison.
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);

  void Exchange(int32_t index1, int32_t index2);
  // Sorts an unsorted list (stable); does nothing on a list that is already Sorted.
  virtual void Sort();
  // Both inside an update bracket (see the header comment).
  virtual void Assign(const TStringList& source);
  void AddStrings(const TStringList& source);

  // Compares two lines as this list does (by CaseSensitive): <0, 0, >0.
  int CompareStrings(const std::string& a, const std::string& b) const;

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  // Called when an update bracket opens (true) or closes (false).
  virtual void SetUpdateState(bool updating);
  [[noreturn]] static void Error(const char* message, int32_t data);
  void CheckIndex(int32_t index) const;
  // Makes a change between the Changing and Changed notifications.
  template <class F>
  void Change(F&& change);
  // Stores the line at index without any check and fires the change notifications.
  void InsertItem(int32_t index, const std::string& s, void* object);

 private:
  struct Item {
    std::string Text;
    void* Object;
  };
  std::vector<Item> FItems;
  int32_t FUpdateCount = 0;
  bool FSorted = false;
  bool FCaseSensitive = false;
  TDuplicates FDuplicates = dupIgnore;
};

}  // namespace veskmath::rtl
