// The run-parameters record: the answers, the scattering-factor coefficients, the orientation
// matrix and the intermediate results that the calculation steps hand to one another for the
// reflection being worked on. One instance per run, owned by main.
//
// Each field names the routine that writes it and those that read it. Fields marked "per
// reflection" only carry one reflection's values from one routine to the next: they are
// overwritten for every reflection and mean nothing between reflections.
#pragma once

#include <cstdint>

struct InputStruct {
    // 1 sc, 2 bcc, 3 fcc, 4 diamond. Written by the dialogue (GetStructureInput) or the command
    // line; read by CalculHKL, which hands it to ConditionOnSphere and CalculStrucFactors, and by
    // the planning of a scan.
    std::int32_t structure;
    // Coefficient file, one word. Written by the dialogue or the command line; read by ReadFParam.
    char factorFile[380];
    // Angstrom. Written by the dialogue or the command line; read by the limiting sphere,
    // CalculHKL, CalculBeta, GetLambdaCalibration, GetUserGraphics, CalcIntersections.
    float latticeA;
    // Bounds of the survey (hMax only; kMax and lMax are echoed in the table header). Written by
    // the dialogue or the command line; read by CalculHKL and WriteReflectionTableHeader.
    std::int32_t hMax;
    std::int32_t kMax;
    std::int32_t lMax;
    // Degrees, the window of the band-crossing search. Written by the dialogue or the command
    // line; read by CalcIntersections and the planning of a scan.
    float psiMin;
    float psiMax;
    // Angstrom, the centre of the band. Written by the dialogue or the command line; read by the
    // limiting sphere, CalculHKL, CalculStrucFactors, CalculBeta, the writers of the headers and
    // CalcIntersections.
    float lambda;
    // Per reflection: F(hkl), written by CalculStrucFactors, read by CalculIntensity and CalculHKL.
    double structureFactor;
    // Per reflection: the intensity, written by CalculIntensity, read by CalculHKL.
    double intensity;
    // The key into the coefficient file. Written by the dialogue or the command line, upper-cased
    // by ReadFParam; read by ReadFParam and WriteReflectionTableHeader.
    char symbol[80];
    // Per reflection: 1 when CalculBeta found a beta; read by CalculBetaPsi0.
    std::int32_t betaValid;
    // Per reflection: 1 when CalculPsi kept a psi; read by GetPsiCalculation.
    std::int32_t psiValid;
    // a1 b1 a2 b2 a3 b3 a4 b4 c. Written by ReadFParam; read by CalculStrucFactors.
    float f0Coef[9];
    // The primary reflection. Written by the dialogue or the command line; read by GetUserMatrix,
    // CurveOf, CalculBeta, WriteReflectionTableHeader and the checks of a run.
    std::int32_t primaryH;
    std::int32_t primaryK;
    std::int32_t primaryL;
    // Per reflection: the psi solutions kept by CalculPsi (1 or 2), read by GetPsiCalculation.
    std::int32_t nbPsi;
    // Per reflection: degrees, written by CalculPsi; psi1 is read by GetPsiCalculation and
    // GetUserGraphics, psi2 (meaningful only when nbPsi is 2) by GetPsiCalculation.
    double psi1;
    double psi2;
    // Per reflection: degrees, written by CalculBeta, read by GetPsiCalculation.
    double beta;
    // Per reflection: degrees, psi0 and its second representative, written by CalculPsi0, read by
    // CalculBetaPsi0 and GetUserGraphics.
    double psi01;
    double psi02;
    // m11 m12 m13 m21 m22 m23 m31 m32 m33. Written by GetUserMatrix; read by the frame
    // coordinates and the matrix block of CalculHKL.
    float userMatrix[9];
    // Degrees; no step sets it (0). Read by WriteReflectionTableHeader, which echoes it.
    float psiCalibration;
    // Angstrom, the full width of the band. Written by the dialogue or the command line; read by
    // WriteSpaghettiPreamble and CalcIntersections.
    float deltaLambda;
};
