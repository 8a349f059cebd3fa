#include "output/band_crossing.h"

#include <cmath>

namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.1415926;

bool IsSquaredCosine(double c2) { return c2 >= 0.0 && c2 <= 1.0; }

}  // namespace

BandEdges BandOf(const InputStruct* record)
{
    return BandEdges{static_cast<double>(record->latticeA * record->latticeA),
                static_cast<double>(record->lambda - record->deltaLambda / 2.0f),
                static_cast<double>(record->deltaLambda / 2.0f + record->lambda)};
}

BandCrossing CrossBand(double k2, double p2, double psi0, double aSquared, double lower, double upper)
{
    const double c1Squared = k2 / ((aSquared / lower) / lower - p2);
    const double c2Squared = k2 / ((aSquared / upper) / upper - p2);
    if (!IsSquaredCosine(c1Squared) || !IsSquaredCosine(c2Squared)) return BandCrossing{false, {}};
    const double c1 = std::sqrt(c1Squared);
    const double c2 = std::sqrt(c2Squared);
    return BandCrossing{true,
                        {{std::acos(c1) * kDegreesPerRadian + psi0, std::acos(c2) * kDegreesPerRadian + psi0},
                         {std::acos(c1) * (-kDegreesPerRadian) + psi0, std::acos(c2) * (-kDegreesPerRadian) + psi0},
                         {std::acos(-c1) * kDegreesPerRadian + psi0, std::acos(-c2) * kDegreesPerRadian + psi0},
                         {std::acos(-c1) * (-kDegreesPerRadian) + psi0, std::acos(-c2) * (-kDegreesPerRadian) + psi0}}};
}
