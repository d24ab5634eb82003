// Date-time values of the component library, below both the numeric library and the platform
// layer: days since 1899-12-30 as a double, the fraction being the time of day.
#pragma once

#include <string>

namespace veskmath::base {

inline constexpr double kMSecsPerDay = 86400000.0;

// The current local date and time.
double Now();

// Formats the time part of a date-time value after a picture of hh, nn, ss and zzz
// fields (hours, minutes, seconds, milliseconds); other characters are copied.
std::string FormatTime(const std::string& picture, double dateTime);

}  // namespace veskmath::base
