#include "planning/sphere_reflections.h"

#include <climits>
#include <cmath>

#include "geometry/beta_psi0.h"
#include "geometry/curve_coefficients.h"
#include "geometry/equivalents.h"
#include "geometry/frame_coordinates.h"
#include "setup/user_matrix.h"
#include "survey/families.h"
#include "survey/structure_factor.h"
#include "survey/survey_driver.h"

double StructureFactorModulus(const InputStruct* record, long long h, long long k, long long l)
{
    const auto fits = [](long long v) { return v >= INT_MIN && v <= INT_MAX; };
    if (!fits(h) || !fits(k) || !fits(l)) return 0.0;
    const int ih = static_cast<int>(h), ik = static_cast<int>(k), il = static_cast<int>(l);
    if ((ih == 0 && ik == 0 && il == 0) || ConditionOnSphere(record->structure, ih, ik, il) == 0) return 0.0;
    const double a = record->latticeA;
    const double s2 = (static_cast<double>(h) * static_cast<double>(h) + static_cast<double>(k) * static_cast<double>(k) +
                       static_cast<double>(l) * static_cast<double>(l)) / (4.0 * a * a);
    double F = 0.0;
    return StructureFactorAt(record->structure, s2, record->f0Coef, ih, ik, il, &F) ? std::fabs(F) : 0.0;
}

std::vector<SphereReflection> CollectSphereReflections(InputStruct* record)
{
    GetUserMatrix(record);
    double nLow = 0.0, nHigh = 0.0;
    LimitingSphere(record, &nLow, &nHigh);
    std::vector<SphereReflection> found;
    ForEachFamily(record->hMax, nLow, nHigh, [&](int fh, int fk, int fl, double) {
        if (ConditionOnSphere(record->structure, fh, fk, fl) == 0) return;
        const double F = StructureFactorModulus(record, fh, fk, fl);
        ForEachEquivalent(fh, fk, fl, [&](int h, int k, int l) {
            const float x = GetCoordinateTransformationH(record, h, k, l);
            const float y = GetCoordinateTransformationK(record, h, k, l);
            const float z = GetCoordinateTransformationL(record, h, k, l);
            if (y * y + z * z == 0.0f) return;  // on the line of the primary reflection
            CalculPsi0(y, z, record);
            CalculBeta(x, y, z, record);
            if (record->betaValid != 1) return;
            const CurveCoefficients curve = CurveOf(record, x, y, z);
            SphereReflection r{};
            r.h = h, r.k = k, r.l = l;
            const long long ch = static_cast<long long>(record->primaryH) - h;
            const long long ck = static_cast<long long>(record->primaryK) - k;
            const long long cl = static_cast<long long>(record->primaryL) - l;
            r.ch = static_cast<int>(ch), r.ck = static_cast<int>(ck), r.cl = static_cast<int>(cl);
            r.psi01 = static_cast<float>(record->psi01);
            r.psi02 = static_cast<float>(record->psi02);
            r.k2 = curve.k2;
            r.p2 = curve.p2;
            r.F = F;
            r.couplingF = StructureFactorModulus(record, ch, ck, cl);
            found.push_back(r);
        });
    });
    return found;
}
