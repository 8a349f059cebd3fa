// The run-parameters record: the dialogue answers, the scattering-factor coefficients, the
// orientation matrix and the intermediate results that the calculation steps hand to one another
// for the reflection being worked on. One instance per run, owned by main.
#pragma once

#include <cstdint>

struct InputStruct {
    std::int32_t structure;      // 1 sc, 2 bcc, 3 fcc, 4 diamond; other numbers stored as typed
    char factorFile[380];        // scattering-factor coefficient file, one word
    float latticeA;              // angstrom
    std::int32_t hMax;           // bounds the survey
    std::int32_t kMax;           // echoed in the table header only
    std::int32_t lMax;           // echoed in the table header only
    float psiMin;                // degrees, window of the intersection search
    float psiMax;                // degrees
    float lambda;                // angstrom, centre of the band
    double structureFactor;      // F(hkl) of the reflection being surveyed
    double intensity;            // intensity of the reflection being surveyed
    char symbol[80];             // key into the coefficient file, upper-cased after the lookup
    std::int32_t betaValid;      // 1 when the last beta calculation found a beta
    std::int32_t psiValid;       // 1 when the last psi calculation kept a psi
    float f0Coef[9];             // a1 b1 a2 b2 a3 b3 a4 b4 c
    std::int32_t primaryH;
    std::int32_t primaryK;
    std::int32_t primaryL;
    std::int32_t nbPsi;          // psi solutions kept by the last psi calculation, 1 or 2
    double psi1;                 // degrees
    double psi2;                 // degrees, meaningful only when nbPsi is 2
    double beta;                 // degrees
    double psi01;                // degrees, psi0 of the current reflection
    double psi02;                // degrees, its second representative
    float userMatrix[9];         // m11 m12 m13 m21 m22 m23 m31 m32 m33
    float psiCalibration;        // degrees, echoed in the table header only
    float deltaLambda;           // angstrom, full width of the band
};
