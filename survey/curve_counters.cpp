// The curve counters of the survey: `cpi` counts the curves recorded so far, `nbCurves` freezes
// that count for the intersection search. 64-bit, so that no survey can overflow them.
#include "output/curve_table.h"

std::int64_t cpi = 0;
std::int64_t nbCurves = 0;
