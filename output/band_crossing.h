// Where a dispersion curve lambda(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2) crosses two
// wavelengths: solved for cos^2 at each, c^2 = k2 / ((a^2 / lambda) / lambda - p2).
#pragma once

#include "setup/input_struct.h"

// The wavelength band of the record: a^2 and the edges lambda -/+ delta lambda / 2, each formed
// in single precision and widened.
struct BandEdges {
    double aSquared;
    double lower;
    double upper;
};
BandEdges BandOf(const InputStruct* record);

// The four candidate pairs (psi at `lower`, psi at `upper`), in degrees, when the curve reaches
// both wavelengths (both c^2 in [0, 1]): acos(c) D + psi0, acos(c) (-D) + psi0, acos(-c) D + psi0
// and acos(-c) (-D) + psi0, with D = 180 / 3.1415926. Pairs 1 and 2 lie on the near branch,
// cos(psi - psi0) >= 0, where the curve falls (1) and rises (2) as psi grows; 3 and 4 on the far
// branch.
struct BandCrossing {
    bool reached;
    double pairs[4][2];
};
BandCrossing CrossBand(double k2, double p2, double psi0, double aSquared, double lower, double upper);
