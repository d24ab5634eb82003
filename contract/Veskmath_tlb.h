// The type library "VeskMath" 1.0 as a description for the automation runtime: the dual
// interface IFuVeskMath with its four members and their DISPIDs, and the creatable class
// FuVeskMath. The server registers it (RegisterTypeLib) and clients make it known
// (AddKnownTypeLib) so that their proxies resolve member names without asking the server.
// The identifiers are those of VeskMathTypes.h.
#pragma once

#include "platform/win/TypeLib.h"

namespace veskmath::server {

// Library "VeskMath", help string "Vesk Math Parser", version 1.0, locale 1033.
extern const win::TTypeLibDesc kVeskMathLibrary;
// IFuVeskMath, as the library lists it.
extern const win::TInterfaceDesc kIFuVeskMathDesc;
// FuVeskMath, whose default interface is IFuVeskMath.
extern const win::TCoClassDesc& kFuVeskMathDesc;

}  // namespace veskmath::server
