// kelto_spaghetti.mac: the IDL macro that draws every dispersion curve against the azimuth,
// together with the wavelength band.
#pragma once

#include <cstdio>

#include "geometry/curve_coefficients.h"
#include "setup/input_struct.h"

void WriteSpaghettiPreamble(std::FILE* fileMac, const InputStruct* record);

// Records the curve of reflection (h, k, l), with the coefficients `curve`, in the curve table,
// echoes it on standard output and appends its macro blocks.
void GetUserGraphics(std::FILE* fileMac, const InputStruct* record, float h, float k, float l,
                     const CurveCoefficients& curve);
