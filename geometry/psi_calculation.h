// The azimuths psi0 - beta and psi0 + beta at which a reflection is excited together with the
// primary reflection, and its calibration wavelength (its dispersion curve at the azimuth 0).
#pragma once

#include <cstdio>

#include "setup/input_struct.h"

void GetPsiCalculation(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h, int k,
                       int l, float theta, float F, float intensity, float psi0);
void CalculPsi(float psi0, float beta, InputStruct* record);
float GetLambdaCalibration(const InputStruct* record, float x, float y, float z, float psi0);
