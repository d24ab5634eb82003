// The component block: a component's published properties as a byte stream, the form in
// which components are saved, loaded and copied.
//
// Encoding (all integers little-endian; "ShortStr" is one length byte and that many bytes):
//
//   Block        := "TPF0" ClassName:ShortStr ObjectName:ShortStr PropertyList
//   PropertyList := { PropName:ShortStr (1..255 bytes) Value }  0x00
//   Value        := 0x01 int32                   integer (and any ordinal without names)
//                 | 0x02 int64                   64-bit integer
//                 | 0x03 double                  floating point, 8 bytes IEEE-754
//                 | 0x04 uint32 N, N bytes       string
//                 | 0x05 ShortStr                enumeration value or boolean, by name
//                 | 0x06 { ShortStr } 0x00       set: the names of its elements
//                 | 0x07 1 byte                  character
//                 | 0x08 PropertyList            sub-object: the properties of the object
//                                                that a class-typed property holds
//
// The writer records, in declaration order (inherited first), every published property
// that is stored, has a setter (or is class-typed), and differs from its default: the
// declared default for ordinal kinds (no declared default: always written), 0 for floats
// (a negative zero is written) and 64-bit integers, the empty text for strings. A class-typed
// property holding a persistent that is not a component, or a component marked as a
// sub-component, is written as a sub-object when that object has anything to record; other
// component references are not written.
//
// The reader sets the recorded properties on an EXISTING object (names matched ASCII
// case-insensitively) and touches nothing else. It checks the whole block before it changes
// anything: a malformed block (bad signature or class name, unknown value type, truncated
// data or a length beyond it, too deep nesting, an unknown or read-only property, a value of
// the wrong kind or an unknown name) raises EReadError and leaves the object as it was. The
// object's own setters' errors propagate unchanged; a non-empty object name in the block is
// given to the component through SetName.
#pragma once

#include "platform/rtl/Component.h"
#include "platform/rtl/Streams.h"

namespace veskmath::rtl {

inline constexpr char kFilerSignature[4] = {'T', 'P', 'F', '0'};

// Writes instance's component block at the stream's position.
void WriteComponent(TStream& stream, TComponent& instance);
// Reads one component block from the stream's position into instance; the position ends
// right after the block.
void ReadComponent(TStream& stream, TComponent& instance);

}  // namespace veskmath::rtl
