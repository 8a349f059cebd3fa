#include "crystal/thermal_expansion.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

// Silicon, Y. Okada & Y. Tokumaru, J. Appl. Phys. 56, 314 (1984), 120-1500 K:
//   alpha(T) = (3.725 {1 - exp[-5.88e-3 (T - 124)]} + 5.548e-4 T) 1e-6 / K,
// whose integral is closed:
//   int alpha dT = 1e-6 (3.725 (T + exp[-c (T - 124)] / c) + 5.548e-4 T^2 / 2),  c = 5.88e-3.
// The shipped cell is the CODATA 2018 value at 22.5 C (295.65 K), which anchors a(T).
double SiliconStrainIntegral(double kelvin)
{
    constexpr double kA = 3.725, kC = 5.88e-3, kT0 = 124.0, kB = 5.548e-4;
    return 1e-6 * (kA * (kelvin + std::exp(-kC * (kelvin - kT0)) / kC) + kB * kelvin * kelvin / 2.0);
}

struct Law {
    ThermalExpansion expansion;
    double (*strainIntegral)(double kelvin);  // an antiderivative of alpha(T), 1/K times K
};

const Law kLaws[] = {
    {{"Si", 120.0, 1500.0, 295.65, "Y. Okada & Y. Tokumaru, J. Appl. Phys. 56, 314 (1984)"}, SiliconStrainIntegral},
};

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const Law& LawOf(const std::string& name)
{
    std::string known;
    for (const Law& law : kLaws) {
        if (Lower(law.expansion.crystal) == Lower(name)) return law;
        known += (known.empty() ? "" : ", ") + std::string(law.expansion.crystal);
    }
    throw TemperatureError("kelto knows the thermal expansion of " + known + " only, not of '" + name + "'");
}

}  // namespace

const ThermalExpansion& ThermalExpansionOf(const std::string& name) { return LawOf(name).expansion; }

double LatticeRatioAt(const std::string& name, double kelvin)
{
    const Law& law = LawOf(name);
    const ThermalExpansion& e = law.expansion;
    if (!(kelvin >= e.lowestK && kelvin <= e.highestK)) {
        char range[160];
        std::snprintf(range, sizeof range, "the thermal expansion of %s is known from %g to %g K (%s)", e.crystal, e.lowestK,
                      e.highestK, e.source);
        throw TemperatureError(range);
    }
    return std::exp(law.strainIntegral(kelvin) - law.strainIntegral(e.shippedK));
}
