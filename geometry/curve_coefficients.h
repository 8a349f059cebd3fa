// The coefficients of a reflection's dispersion curve lambda(psi) = a / sqrt(k2 / cos^2(psi -
// psi0) + p2), with k2 = (|h|^2 - h.H)^2 / (4 |h across H|^2) and p2 = |H|^2 / 4, formed from the
// reflection's frame coordinates x, y, z and the primary reflection's own x0.
#pragma once

#include "setup/input_struct.h"

struct CurveCoefficients {
    float x0;  // frame coordinate x of the primary reflection
    float k2;
    float p2;
};

// As the curve table records them: u = ((x x + y y) + z z) - x x0 in single precision, k2 =
// u^2 / ((y y + z z) 4) with the square and the quotient in double, then rounded to single
// precision; p2 = ((H0^2 + K0^2) + L0^2) / 4 in double, rounded to single precision.
CurveCoefficients RecordedCurveOf(const InputStruct* record, int h, int k, int l);
