#include "geometry/psi_calculation.h"

#include <cmath>

#include "geometry/curve_coefficients.h"
#include "geometry/frame_coordinates.h"

namespace {

// The fixed azimuth window of the psi solutions, both bounds included; NaN lies outside.
bool InPsiWindow(float psi) { return psi >= -360.0f && psi <= 360.0f; }

}  // namespace

void GetPsiCalculation(InputStruct* record, int h, int k, int l, float psi0, PsiSolutionSink& sink)
{
    const float x = GetCoordinateTransformationH(record, h, k, l);
    const float y = GetCoordinateTransformationK(record, h, k, l);
    const float z = GetCoordinateTransformationL(record, h, k, l);
    const float b = static_cast<float>(record->beta);
    CalculPsi(psi0, b, record);
    if (record->psiValid != 1) return;
    PsiSolution solution{h, k, l, b, psi0, static_cast<float>(record->psi1), GetLambdaCalibration(record, x, y, z, psi0),
                         CurveOf(record, x, y, z), record->psi01, record->psi02, record->psi1};
    sink.Solved(solution);
    if (record->nbPsi == 2) {
        solution.psi = static_cast<float>(record->psi2);
        sink.Solved(solution);
    }
}

void CalculPsi(float psi0, float beta, InputStruct* record)
{
    record->nbPsi = 1;
    record->psiValid = 1;
    const float d = psi0 - beta;
    const float s = psi0 + beta;
    if (InPsiWindow(d) && InPsiWindow(s)) {
        record->nbPsi = 2;
        record->psi1 = static_cast<double>(d);
        record->psi2 = static_cast<double>(s);
    } else if (InPsiWindow(d)) {
        record->psi1 = static_cast<double>(d);
    } else if (InPsiWindow(s)) {
        record->psi1 = static_cast<double>(s);
    } else {
        record->psiValid = 0;
    }
}

float GetLambdaCalibration(const InputStruct* record, float x, float y, float z, float psi0)
{
    const float radians = (psi0 * 3.1415927f) / 180.0f;
    const CurveCoefficients curve = CurveOf(record, x, y, z);
    const double c2 = std::pow(std::cos(static_cast<double>(radians) - 0.0), 2.0);
    return static_cast<float>(static_cast<double>(record->latticeA) / std::sqrt(curve.k2Wide / c2 + curve.p2Wide));
}
