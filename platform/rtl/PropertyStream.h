// The component block: a component's published properties as a byte stream, the form in
// which components are saved, loaded and copied.
//
// Encoding (all integers little-endian; "ShortStr" is one length byte and that many bytes):
//   Block        := "TPF0" ClassName:ShortStr ObjectName:ShortStr PropertyList
//   PropertyList := { PropName:ShortStr (1..255 bytes) Value }  0x00
//   Value        := 0x01 int32                   integer (and any ordinal without names)
//                 | 0x02 int64                   64-bit integer
//                 | 0x03 double                  floating point, 8 bytes IEEE-754
//                 | 0x04 uint32 N, N bytes       string
//                 | 0x05 ShortStr                enumeration value or boolean, by name
//                 | 0x06 { ShortStr } 0x00       set: the names of its elements
//                 | 0x07 1 byte                  character
//                 | 0x08 PropertyList            sub-object held by a class-typed property
//
// The writer records, in declaration order (inherited first), every published property that
// is stored, has a setter (or is class-typed) and differs from its default: the declared one for
// ordinal kinds (none declared: always written), 0 for floats (-0.0 is written) and 64-bit
// integers, "" for strings. A class-typed property holding a sub-component or a non-component
// persistent is written as a sub-object if that records anything; other references are not.
//
// The reader sets the recorded properties (names ASCII case-insensitive) on an EXISTING object
// and touches nothing else. It checks the whole block first: a block that is truncated or breaks
// the grammar, a wrong class name, too deep nesting, an unknown or read-only property, a value of
// the wrong kind or an unknown name raises EReadError and leaves the object as it was. Setters'
// own errors propagate unchanged; a non-empty object name in the block goes through SetName.
#pragma once

#include "platform/rtl/Component.h"
#include "platform/rtl/Streams.h"

namespace veskmath::rtl {

inline constexpr char kFilerSignature[4] = {'T', 'P', 'F', '0'};

// Both work at the stream's position; ReadComponent leaves it right after the block.
void WriteComponent(TStream& stream, TComponent& instance);
void ReadComponent(TStream& stream, TComponent& instance);

}  // namespace veskmath::rtl
