#include "output/curve_table.h"

CurveRow calispe_param[kCurveTableRows];

namespace {
CurveRow g_overflowRow;
}

CurveRow& CurrentCurveRow()
{
    if (cpi >= 0 && cpi < kCurveTableRows) return calispe_param[cpi];
    return g_overflowRow;
}
