// Coordinates of a reflection in the frame of the primary reflection: (h, k, l) times userMatrix,
// in single precision. x lies along the primary reflection, y and z across it.
#pragma once

#include "setup/input_struct.h"

float GetCoordinateTransformationH(const InputStruct* record, int h, int k, int l);
float GetCoordinateTransformationK(const InputStruct* record, int h, int k, int l);
float GetCoordinateTransformationL(const InputStruct* record, int h, int k, int l);
