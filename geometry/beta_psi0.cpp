#include "geometry/beta_psi0.h"

#include <cmath>

#include "geometry/curve_coefficients.h"
#include "geometry/frame_coordinates.h"
#include "geometry/psi_calculation.h"

namespace {
constexpr double kPi = 3.14159265;  // the pi of psi0 and beta (the files' azimuths carry it)
}

void CalculBetaPsi0(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink)
{
    const float x = GetCoordinateTransformationH(record, h, k, l);
    const float y = GetCoordinateTransformationK(record, h, k, l);
    const float z = GetCoordinateTransformationL(record, h, k, l);
    // Exactly on the line of the primary reflection: no azimuth to speak of.
    if (y * y + z * z == 0.0f) return;
    CalculPsi0(y, z, record);
    CalculBeta(x, y, z, record);
    if (record->betaValid != 1) return;
    GetPsiCalculation(record, h, k, l, static_cast<float>(record->psi01), sink);
    GetPsiCalculation(record, h, k, l, static_cast<float>(record->psi02), sink);
}

void CalculPsi0(float y, float z, InputStruct* record)
{
    // The quotient is formed before the quadrant is known; for y = 0 it is infinite or NaN and
    // only the rows that do not use it apply.
    const float quotient = z / y;
    const double t = std::atan(static_cast<double>(quotient));
    const double tDeg = (t * 180.0) / kPi;
    const bool zNonZero = z > 0.0f || z < 0.0f;
    if (y > 0.0f && zNonZero) {
        record->psi01 = tDeg;
        record->psi02 = tDeg + (-360.0);
    } else if (y < 0.0f && zNonZero) {
        record->psi01 = tDeg + 180.0;
        record->psi02 = (tDeg + 180.0) + (-360.0);
    } else if (y > 0.0f && z == 0.0f) {
        record->psi01 = 0.0;
        record->psi02 = 360.0;
    } else if (y < 0.0f && z == 0.0f) {
        record->psi01 = 180.0;
        record->psi02 = -180.0;
    } else if (y == 0.0f && z > 0.0f) {
        record->psi01 = 90.0;
        record->psi02 = -270.0;
    } else if (y == 0.0f && z < 0.0f) {
        record->psi01 = 270.0;
        record->psi02 = -90.0;
    }
}

void CalculBeta(float x, float y, float z, InputStruct* record)
{
    record->betaValid = 0;
    // |h|^2 - h.H over 2, divided by the length of h across H ...
    const float n = CurveOf(record, x, y, z).u / 2.0f;
    double c = static_cast<double>(n) / std::sqrt(static_cast<double>(y * y + z * z));
    // ... and by the length of the wave vector across H with the primary in its Bragg position.
    const double q = static_cast<double>(record->latticeA / record->lambda);
    const double kPerp2 = std::pow(q, 2.0) - BetaP2(record);
    c = c / std::sqrt(kPerp2);
    if (c < -1.0 || c > 1.0 || std::isnan(c)) return;
    record->betaValid = 1;
    record->beta = (std::acos(c) * 180.0) / kPi;
}
