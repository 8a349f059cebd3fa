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

}  // namespace

// Below 120 K, where a liquid-nitrogen-cooled crystal sits (77-100 K), silicon's alpha(T) of the
// NIST Cryogenic Technologies Group's material properties (Silicon, linear expansion coefficient,
// trc.nist.gov/cryogenics/materials/Silicon/Silicon.htm), in 1e-8 / K: a low-temperature power
// series, a middle term about silicon's negative minimum near 80 K and a high-temperature series,
// joined by error-function steps at 52 K and 200 K. Between 77 and 120 K only the middle term
// counts (the steps' other terms are below 1e-20 of it).
double SiliconCryogenicAlpha(double kelvin)
{
    const double x = kelvin, u = x - 76.0;
    const double low = 4.8e-5 * x * x * x +
                       (1.005e-5 * std::pow(x, 5.0) - 5.99688e-6 * std::pow(x, 5.5) + 1.25574e-6 * std::pow(x, 6.0) -
                        1.12086e-7 * std::pow(x, 6.5) + 3.63225e-9 * std::pow(x, 7.0)) * (1.0 + std::erf(x - 15.0)) / 2.0;
    const double middle = -47.6 + 2.67708e-2 * u * u - 1.22829e-4 * u * u * u + 1.62544e-18 * std::pow(u, 9.0);
    const double high = 4.72374e2 - 3.58796e4 / x - 1.24191e7 / (x * x) + 1.25972e9 / (x * x * x);
    const double pastLow = (1.0 + std::erf(0.2 * (x - 52.0))) / 2.0, pastMiddle = (1.0 + std::erf(0.1 * (x - 200.0))) / 2.0;
    return 1e-8 * (low * (1.0 - pastLow) + middle * pastLow * (1.0 - pastMiddle) + high * pastMiddle);
}

namespace {

// Where the two sources meet: Okada & Tokumaru's law from 120 K up, NIST's below.
constexpr double kSiliconJoinK = 120.0;

// The antiderivative of silicon's alpha over both ranges: Okada & Tokumaru's closed form, less
// NIST's alpha integrated from T up to the join (Simpson's rule; the integrand is smooth there).
double SiliconStrainFromBothSources(double kelvin)
{
    if (kelvin >= kSiliconJoinK) return SiliconStrainIntegral(kelvin);
    const int steps = 400;
    const double h = (kSiliconJoinK - kelvin) / steps;
    double sum = SiliconCryogenicAlpha(kelvin) + SiliconCryogenicAlpha(kSiliconJoinK);
    for (int i = 1; i < steps; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * SiliconCryogenicAlpha(kelvin + i * h);
    return SiliconStrainIntegral(kSiliconJoinK) - sum * h / 3.0;
}

// Germanium: T. Manjo & A. Q. R. Baron's fit (SPring-8, 2022) of the lattice parameters of
// R. Colella et al. below 70 K and of H. P. Singh, Acta Cryst. A24, 469 (1968), above 300 K, in
// the Einstein form of T. Middelmann et al., Phys. Rev. B 92, 174113 (2015):
//   a(T) = l0 + sum_i a_i theta_i / (exp(theta_i / T) - 1),  l0 = 5.6523642 angstrom,
// whose logarithm is the strain integral. Between 70 and 300 K the form interpolates.
double GermaniumStrainIntegral(double kelvin)
{
    constexpr double kL0 = 5.6523642;
    constexpr double kA[] = {3.8323969e-5, -1.1478089e-6, 1.8409071e-5};  // angstrom / K
    constexpr double kTheta[] = {368.89770, 105.43187, 2564.3340};         // K
    double a = kL0;
    for (int i = 0; i < 3; ++i) a += kA[i] * kTheta[i] / std::expm1(kTheta[i] / kelvin);
    return std::log(a);
}

// Diamond: P. Jacobson & S. Stoupin, Diamond Relat. Mater. 97, 107469 (2019), four Einstein
// oscillators fitted to the data from 10 to 1000 K:
//   alpha(T) = sum_i X_i E(theta_i / T),  E(x) = x^2 e^x / (e^x - 1)^2,
// and theta / (exp(theta / T) - 1) has the derivative E(theta / T) in T: the strain integral is
//   sum_i X_i theta_i / (exp(theta_i / T) - 1).
double DiamondStrainIntegral(double kelvin)
{
    constexpr double kX[] = {0.0096e-6, 0.2656e-6, 2.6799e-6, 2.3303e-6};  // 1 / K
    constexpr double kTheta[] = {159.3, 548.5, 1237.9, 2117.8};            // K
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) sum += kX[i] * kTheta[i] / std::expm1(kTheta[i] / kelvin);
    return sum;
}

struct Law {
    ThermalExpansion expansion;
    double (*strainIntegral)(double kelvin);  // an antiderivative of alpha(T), 1/K times K
};

const Law kLaws[] = {
    {{"Si", 77.0, 1500.0, 295.65,
      "Y. Okada & Y. Tokumaru, J. Appl. Phys. 56, 314 (1984), from 120 K; below, the NIST Cryogenic Technologies Group's "
      "silicon"},
     SiliconStrainFromBothSources},
    // The shipped germanium and diamond cells are those of 298 K.
    {{"Ge", 10.0, 1085.0, 298.0,
      "T. Manjo & A. Q. R. Baron's fit of R. Colella et al. (below 70 K) and H. P. Singh, Acta Cryst. A24, 469 (1968) "
      "(above 300 K)"},
     GermaniumStrainIntegral},
    {{"diamond", 10.0, 1000.0, 298.0, "P. Jacobson & S. Stoupin, Diamond Relat. Mater. 97, 107469 (2019)"}, DiamondStrainIntegral},
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
        char range[80];
        std::snprintf(range, sizeof range, "the thermal expansion of %s is known from %g to %g K", e.crystal, e.lowestK, e.highestK);
        throw TemperatureError(std::string(range) + " (" + e.source + ")");
    }
    return std::exp(law.strainIntegral(kelvin) - law.strainIntegral(e.shippedK));
}
