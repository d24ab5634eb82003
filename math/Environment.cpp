#include "math/Environment.h"

#include <cfenv>

#include "platform/base/DateTime.h"

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#include <xmmintrin.h>
#endif

namespace veskmath::Math387 {

uint16_t Saved8087 = 0x1332;
uint16_t QelSaved8087CW = 0;
std::string QelRegistryKey = "\\Software\\Quorvane\\Korvel";
std::string KorvelWorkingDir = "C:\\";
int32_t KorvelBlockSize = 800;

uint16_t Get8087CW() {
#if defined(__x86_64__) || defined(__i386__)
  fpu_control_t cw;
  _FPU_GETCW(cw);
  return static_cast<uint16_t>(cw);
#else
  return Korvel8087CW;
#endif
}

void Set8087CW(uint16_t cw) {
#if defined(__x86_64__) || defined(__i386__)
  fpu_control_t value = cw;
  _FPU_SETCW(value);
#else
  (void)cw;
#endif
}

uint16_t SetRoundToTrunc() {
  const uint16_t previous = Get8087CW();
  Set8087CW(static_cast<uint16_t>(previous | 0x0F00));
#if !(defined(__x86_64__) || defined(__i386__))
  std::fesetround(FE_TOWARDZERO);
#endif
  return previous;
}

void RestoreRound(uint16_t cw) {
  Set8087CW(cw);
#if !(defined(__x86_64__) || defined(__i386__))
  std::fesetround(FE_TONEAREST);
#endif
}

void ClearFPU() { std::feclearexcept(FE_ALL_EXCEPT); }

void InitFloatingPoint() {
  ClearFPU();
  QelSaved8087CW = Get8087CW();
  Set8087CW(Korvel8087CW);
#if defined(__x86_64__) || defined(__i386__)
  // SSE does the double arithmetic on x86-64: keep all six of its exceptions masked too.
  _mm_setcsr(_mm_getcsr() | 0x1F80);
#else
  std::fesetround(FE_TONEAREST);
#endif
  ClearFPU();
}

void ERaise(const std::string& msg) { throw Exception(msg); }

std::string ClockIt(double start) { return base::FormatTime("hh:nn:ss:zzz", base::Now() - start); }

namespace {
// Runs the start-up before main, as the unit's initialization section does.
[[maybe_unused]] const bool gStarted = (InitFloatingPoint(), true);
}  // namespace

}  // namespace veskmath::Math387
