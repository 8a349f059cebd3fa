// Intensity of a reflection: multiplicity of its form, Lorentz-polarisation factor and F squared.
#pragma once

#include "setup/input_struct.h"

// Leaves the intensity at the Bragg angle theta (radians) in `intensity`; reads `structureFactor`.
void CalculIntensity(float theta, InputStruct* record, int h, int k, int l);

// Number of reflections of the cubic form of (h, k, l), for h >= k >= l >= 0 not all zero;
// 0 for indices outside that order.
int Multiplicity(int h, int k, int l);
