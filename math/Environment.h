// The floating-point environment of Math387, the error-raising convention and the
// library settings.
//
// At program start (before main) the unit clears the exception flags, saves the control
// word in QelSaved8087CW and loads Korvel8087CW: every floating-point exception masked,
// 64-bit mantissas, round to nearest. SSE arithmetic keeps its exceptions masked too, so
// no floating-point operation ever traps: faults become infinities and NaNs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/SysBase.h"

namespace veskmath::Math387 {

using Exception = base::Exception;  // what ERaise raises

inline constexpr uint16_t Korvel8087CW = 0x133F;   // masked, extended, nearest
inline constexpr uint16_t Fortran8087CW = 0x123F;  // masked, double precision, nearest
extern uint16_t Saved8087;                         // 0x1332: a few exceptions unmasked
extern uint16_t QelSaved8087CW;                    // the control word found at start-up

// Library settings: exported for callers, read by nothing in the system.
extern std::string QelRegistryKey;    // "\Software\Quorvane\Korvel"
extern std::string KorvelWorkingDir;  // "C:\"
extern int32_t KorvelBlockSize;       // 800

// Runs the start-up steps; called automatically before main, safe to call again (for
// example at the start of a new thread).
void InitFloatingPoint();

uint16_t Get8087CW();
void Set8087CW(uint16_t cw);
// Loads the current word with bits 8-11 set (extended precision, round toward zero) and
// answers the previous word.
uint16_t SetRoundToTrunc();
void RestoreRound(uint16_t cw);
// Clears pending exception flags; the control word is untouched.
void ClearFPU();

// Raises the general exception with the message text.
[[noreturn]] void ERaise(const std::string& msg);

// Elapsed time since Start (a date-time in days) as "hh:nn:ss:zzz".
std::string ClockIt(double start);

// Restores a control word when the scope ends (round-toward-zero sections).
class RoundToTruncScope {
 public:
  RoundToTruncScope() : FSaved(SetRoundToTrunc()) {}
  ~RoundToTruncScope() { RestoreRound(FSaved); }
  RoundToTruncScope(const RoundToTruncScope&) = delete;
  RoundToTruncScope& operator=(const RoundToTruncScope&) = delete;

 private:
  uint16_t FSaved;
};

}  // namespace veskmath::Math387
