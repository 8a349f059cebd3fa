// Coordinates of a reflection in the frame of the primary reflection: (h, k, l) times userMatrix,
// in single precision. x lies along the primary reflection, y and z across it.
#pragma once

#include "setup/input_struct.h"

float GetCoordinateTransformationH(const InputStruct* record, int h, int k, int l);
float GetCoordinateTransformationK(const InputStruct* record, int h, int k, int l);
float GetCoordinateTransformationL(const InputStruct* record, int h, int k, int l);

// Miller indices travel as floats between some steps; this converts such a whole number back to
// int, clamping where the float has rounded past the 32-bit range.
int IndexFromFloat(float index);
