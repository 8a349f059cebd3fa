#include "survey/structure_factor.h"

#include <cmath>
#include <cstdint>

namespace {

bool IsOdd(std::int64_t v) { return v % 2 != 0; }

bool AllOdd(int h, int k, int l) { return IsOdd(h) && IsOdd(k) && IsOdd(l); }

bool AllEven(int h, int k, int l) { return !IsOdd(h) && !IsOdd(k) && !IsOdd(l); }

// Index sums in 64 bits, so that no index triple can overflow them.
std::int64_t IndexSum(int h, int k, int l)
{
    return std::int64_t{h} + std::int64_t{k} + std::int64_t{l};
}

bool DiamondEvenAllowed(int h, int k, int l)
{
    return AllEven(h, k, l) && IndexSum(h, k, l) % 4 == 0;
}

constexpr double kTemperatureCoefficient = 0.117;  // square angstrom, the same for every crystal

}  // namespace

int ConditionOnSphere(int structure, int h, int k, int l)
{
    switch (structure) {
        case 1: return 1;
        case 2: return IsOdd(IndexSum(h, k, l)) ? 0 : 1;
        case 3: return (AllEven(h, k, l) || AllOdd(h, k, l)) ? 1 : 0;
        case 4: return (AllOdd(h, k, l) || DiamondEvenAllowed(h, k, l)) ? 1 : 0;
        default: return structure;
    }
}

bool StructureFactorAt(int structure, double s2, const float* f0Coef, int h, int k, int l, double* F)
{
    const double t = std::exp(-kTemperatureCoefficient * s2);
    const float* c = f0Coef;
    const auto term = [s2](float a, float b) {
        return static_cast<double>(a) * std::exp(-static_cast<double>(b) * s2);
    };
    const double f0 = term(c[0], c[1]) + term(c[2], c[3]) + term(c[4], c[5]) + term(c[6], c[7]) +
                      static_cast<double>(c[8]);

    switch (structure) {
        case 1: *F = f0 * t; return true;
        case 2: *F = (f0 + f0) * t; return true;
        case 3: *F = (f0 * 4.0) * t; return true;
        case 4:
            if (AllOdd(h, k, l)) {
                *F = (std::sqrt(32.0) * f0) * t;
                return true;
            }
            if (DiamondEvenAllowed(h, k, l)) {
                *F = (f0 * 8.0) * t;
                return true;
            }
            return false;
        default: return false;
    }
}

void CalculStrucFactors(int structure, float theta, InputStruct* record, int h, int k, int l)
{
    const double sinTheta = std::sin(static_cast<double>(theta));
    const float lambdaSquared = record->lambda * record->lambda;
    const double s2 = (sinTheta * sinTheta) / static_cast<double>(lambdaSquared);
    StructureFactorAt(structure, s2, record->f0Coef, h, k, l, &record->structureFactor);
}
