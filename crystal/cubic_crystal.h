// A cubic crystal of one element (simple, body-centred or face-centred cubic, or diamond) with
// the structure factor of the reflection table: f0 from the nine coefficients of the element's
// record at s = |X| / 2, times the structure's factor and the temperature factor exp(-0.117 s^2).
// It does not depend on the energy.
#pragma once

#include "crystal/crystal.h"

class CubicCrystal : public Crystal {
public:
    // `structure` 1 sc, 2 bcc, 3 fcc, 4 diamond; `f0Coef` a1 b1 a2 b2 a3 b3 a4 b4 c.
    CubicCrystal(int structure, double a, const float f0Coef[9], std::string symbol);

    std::unique_ptr<Scattering> At(double keV) const override;
    bool Extinct(Miller m) const override;
    std::vector<MillerRotation> PointGroup() const override { return CubicPointGroup(); }

private:
    int structure_;
    float f0Coef_[9];
};
