// The azimuths psi0 - beta and psi0 + beta at which a reflection is excited together with the
// primary reflection, and its calibration wavelength (its dispersion curve at the azimuth 0).
#pragma once

#include "geometry/psi_solution.h"
#include "setup/input_struct.h"

// The psi solutions psi0 -/+ beta kept by CalculPsi, each handed to `sink` with its calibration
// wavelength and curve.
void GetPsiCalculation(InputStruct* record, int h, int k, int l, float psi0, PsiSolutionSink& sink);
void CalculPsi(float psi0, float beta, InputStruct* record);
float GetLambdaCalibration(const InputStruct* record, float x, float y, float z, float psi0);
