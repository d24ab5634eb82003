// Named value lists: string lists whose every line (a name) carries a real (TRealList) or
// complex (TCplxList) value, suited to holding named variables for expressions.
//
// The value of line i lives in a block of its own that the list allocates and frees; the
// block's address sits in the line's object slot, which callers must not use for anything
// else. Every way of adding or removing lines keeps blocks and lines paired:
//   - Add / Insert (also every line of SetText, LoadFromStream, LoadFromFile) get a block
//     holding 0 (C_ZERO);
//   - AddObject / InsertObject (also Assign and AddStrings from a plain string list) ignore
//     the given object and attach a zero block; Assign from a list of the same kind copies
//     the values;
//   - Delete frees the line's block; Clear deletes every line, last first; the destructor
//     clears.
//
// Sorted lists: a line refused as a duplicate (Duplicates = dupIgnore) adds nothing. The
// existing entry keeps its block and its value, no block is allocated for the refused
// name, and the existing line's index is answered. Use IndexOf + PutValue to update a value
// by name. With dupError the refusal raises and, again, no block is left behind.
#pragma once

#include <cstdint>
#include <string>

#include "math/Complex.h"
#include "platform/rtl/StringList.h"

namespace veskmath::qel {

using Math387::TCplx;

// The pairing of lines and value blocks shared by both lists; V is the value type.
template <class V>
class TValueList : public rtl::TStringList {
 public:
  TValueList() = default;
  ~TValueList() override;

  int32_t Add(const std::string& name) override;
  int32_t AddObject(const std::string& name, void* object) override;
  void Insert(int32_t index, const std::string& name) override;
  void InsertObject(int32_t index, const std::string& name, void* object) override;
  void Delete(int32_t index) override;
  void Clear() override;
  void Assign(const rtl::TStringList& source) override;

  // Adds name holding value; answers the index the string list gave (see the header
  // comment for a refused duplicate).
  int32_t AddValue(const std::string& name, const V& value);
  // Inserts name holding value at index (0..Count).
  void InsertValue(int32_t index, const std::string& name, const V& value);
  // Index errors: EStringListError "List index out of bounds (<i>)"; no block is touched.
  V GetValue(int32_t index) const;
  void PutValue(int32_t index, const V& value);
};

extern template class TValueList<double>;
extern template class TValueList<TCplx>;

class TRealList : public TValueList<double> {};

class TCplxList : public TValueList<TCplx> {};

}  // namespace veskmath::qel
