// The curve counters of the survey: `cpi` counts the curves recorded so far, `nbCurves` freezes
// that count for the intersection search.
#include "output/curve_table.h"

int cpi = 0;
int nbCurves = 0;
