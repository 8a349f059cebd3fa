// A psi solution of an equivalent reflection, handed back to the caller of the geometry with
// what the reflection table and the curve record need of it.
#pragma once

#include "geometry/curve_coefficients.h"

struct PsiSolution {
    int h, k, l;
    float beta;        // degrees
    float psi0;        // degrees: the psi0 representative it was found for
    float psi;         // degrees: the solution
    float calib;       // angstrom: the calibration wavelength
    CurveCoefficients curve;
    double psi01;      // degrees: psi0 and its second representative, as CalculPsi0 left them
    double psi02;
    double psi1;       // degrees: the reflection's first solution at this representative
};

// Receives the psi solutions in survey order.
class PsiSolutionSink {
public:
    virtual void Solved(const PsiSolution& solution) = 0;

protected:
    ~PsiSolutionSink() = default;
};
