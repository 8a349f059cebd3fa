// Systematic extinctions of the four cubic structure types, and the structure factor F(hkl).
#pragma once

#include "setup/input_struct.h"

// Non-zero when the structure type lets the reflection occur. Structure numbers outside 1 to 4
// are passed through: every reflection is admitted unless the number is 0.
int ConditionOnSphere(int structure, int h, int k, int l);

// Leaves F(hkl) at the Bragg angle theta (radians) in `structureFactor`; for a structure number
// outside 1 to 4 the field is left unchanged.
void CalculStrucFactors(int structure, float theta, InputStruct* record, int h, int k, int l);

// F at s^2 = (sin theta / lambda)^2 in 1/angstrom^2 from the nine coefficients of f0: true and F
// stored, or false and nothing stored for a structure number outside 1 to 4 or a diamond
// reflection of mixed parity (which the reflection conditions forbid).
bool StructureFactorAt(int structure, double s2, const float* f0Coef, int h, int k, int l, double* F);
