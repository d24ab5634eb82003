// Math387, the numeric library: the floating-point environment and constants, small
// numeric utilities, complex numbers, elementary and special functions, and the text
// forms of numbers. Include this umbrella header, or the header of one concept.
#pragma once

#include "math/Complex.h"
#include "math/Constants.h"
#include "math/Elementary.h"
#include "math/Environment.h"
#include "math/NumberText.h"
#include "math/Special.h"
#include "math/Utilities.h"
