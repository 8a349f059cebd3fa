#include "geometry/psi_calculation.h"

#include <cmath>

#include "geometry/curve_coefficients.h"
#include "geometry/frame_coordinates.h"
#include "output/reflection_table.h"
#include "output/spaghetti_macro.h"

namespace {

// The fixed azimuth window of the psi solutions, both bounds included; NaN lies outside.
bool InPsiWindow(float psi) { return psi >= -360.0f && psi <= 360.0f; }

}  // namespace

void GetPsiCalculation(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h, int k,
                       int l, float theta, float F, float intensity, float psi0)
{
    const float x = GetCoordinateTransformationH(record, h, k, l);
    const float y = GetCoordinateTransformationK(record, h, k, l);
    const float z = GetCoordinateTransformationL(record, h, k, l);
    const float b = static_cast<float>(record->beta);
    CalculPsi(psi0, b, record);
    if (record->psiValid != 1) return;
    const float calib = GetLambdaCalibration(record, x, y, z, psi0);
    const CurveCoefficients curve = CurveOf(record, x, y, z);
    const float fh = static_cast<float>(h);
    const float fk = static_cast<float>(k);
    const float fl = static_cast<float>(l);

    // Each row is followed by its curve record: the row fills psi0 and intensity of the curve
    // row that GetUserGraphics then completes and counts.
    PrintResult(fileDat, h, k, l, theta, F, intensity, b, psi0, static_cast<float>(record->psi1),
                calib);
    GetUserGraphics(fileMac, record, fh, fk, fl, curve);
    if (record->nbPsi == 2) {
        PrintResult(fileDat, h, k, l, theta, F, intensity, b, psi0,
                    static_cast<float>(record->psi2), calib);
        GetUserGraphics(fileMac, record, fh, fk, fl, curve);
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
