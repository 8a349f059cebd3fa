#include "crystal/cubic_crystal.h"

#include <algorithm>

// The survey's own reflection conditions and structure factor, not a copy of them: the F of a cubic
// crystal in the planning tables is the F of the reflection table. This include is why crystal/
// stands above survey/.
#include "survey/structure_factor.h"

namespace {

class CubicScattering : public Scattering {
public:
    CubicScattering(int structure, double a, const float* f0Coef) : structure_(structure), a_(a), f0Coef_(f0Coef) {}

    bool Allows(Miller m) const override
    {
        return !IsZero(m) && ConditionOnSphere(structure_, m.h, m.k, m.l) != 0;
    }

    // F(0 0 0), the forward scattering that refracts and (with f'') absorbs every beam, is the
    // cell's electrons at s = 0, though 0 0 0 is no reflection.
    std::complex<double> F(Miller m) const override
    {
        if (!IsZero(m) && !Allows(m)) return 0.0;
        const auto square = [](int v) { return static_cast<double>(v) * static_cast<double>(v); };
        const double s2 = (square(m.h) + square(m.k) + square(m.l)) / (4.0 * a_ * a_);
        double F = 0.0;
        return StructureFactorAt(structure_, s2, f0Coef_, m.h, m.k, m.l, &F) ? F : 0.0;
    }

private:
    int structure_;
    double a_;
    const float* f0Coef_;
};

}  // namespace

CubicCrystal::CubicCrystal(int structure, double a, const float f0Coef[9], std::string symbol)
    : Crystal(Lattice::Cubic(a), std::move(symbol)), structure_(structure)
{
    std::copy(f0Coef, f0Coef + 9, f0Coef_);
}

std::unique_ptr<Scattering> CubicCrystal::At(double) const
{
    return std::make_unique<CubicScattering>(structure_, lattice().a(), f0Coef_);
}

bool CubicCrystal::Extinct(Miller m) const { return IsZero(m) || ConditionOnSphere(structure_, m.h, m.k, m.l) == 0; }
