#include "survey/families.h"

#include <climits>

namespace {
constexpr double kLowerBraggLimit = 0.0;        // radians
constexpr double kUpperBraggLimit = M_PI / 2.0;  // 90 degrees, sin = 1
}  // namespace

LimitingSphereRadii LimitingSphere(float latticeA, float lambda)
{
    const double twoA = static_cast<double>(latticeA + latticeA);
    const double wavelength = static_cast<double>(lambda);
    const double radius = twoA * std::sin(kUpperBraggLimit) / wavelength;
    return {std::pow(twoA * std::sin(kLowerBraggLimit) / wavelength, 2.0), std::pow(radius, 2.0), radius};
}

int LimitingSphereReach(float latticeA, float lambda)
{
    const double reach = std::ceil(LimitingSphere(latticeA, lambda).radius);
    if (!(reach >= 0.0)) return 0;
    return reach >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(reach);
}
