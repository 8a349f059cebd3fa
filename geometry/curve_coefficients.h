// The coefficients of a reflection's dispersion curve lambda(psi) = a / sqrt(k2 / cos^2(psi -
// psi0) + p2), k2 = (|h|^2 - h.H)^2 / (4 |h across H|^2) and p2 = |H|^2 / 4, from the reflection's
// frame coordinates x, y, z and the primary reflection H. Every step that uses them takes them
// from here, each in the precision its step uses.
#pragma once

#include "setup/input_struct.h"

struct CurveCoefficients {
    float x0;       // frame coordinate x of the primary reflection
    float u;        // |h|^2 - h.H = ((x x + y y) + z z) - x x0, in single precision (beta)
    // The curve as the curve table records it and the spaghetti macro draws it: the square and
    // the quotient in double, rounded to single precision.
    float k2;       // u^2 / ((y y + z z) 4)
    float p2;       // ((H0^2 + K0^2) + L0^2) / 4
    // The curve as the calibration wavelength evaluates it, in double: |h|^2 in single precision,
    // the rest widened.
    double k2Wide;  // (|h|^2 - x x0)^2 / ((y y + z z) 4)
    double p2Wide;  // ((H0^2 + K0^2) + L0^2) / 4
};

CurveCoefficients CurveOf(const InputStruct* record, float x, float y, float z);

// p2 as beta forms it, in double from the primary's indices rounded to single precision:
// ((H0^2 + K0^2) + L0^2) / 4.
double BetaP2(const InputStruct* record);
