// Reflections that a space group makes equivalent, so that the sums over the atoms are made once for
// each set. An operation x -> R x + t maps the structure onto itself, so
//   F(h) = exp(2 pi i h . t) F(h R)
// (h a row, h R the equivalent reflection): equivalent reflections have one |F| and phases apart by
// the translation, anomalous scattering and all. The sums over atoms of one element and displacement
// of the Friedel mate -h are the complex conjugates of those of h; with f'' its F is not the
// conjugate of F(h), so mates share their sums, not their F. Each set is represented by the
// lexically largest of h R and -h R over the point group's rotations.
#pragma once

#include <complex>
#include <vector>

#include "crystal/vec3.h"

namespace gemmi {
struct Op;
}  // namespace gemmi

struct ReflectionClass {
    Miller representative;
    bool mate;   // h is equivalent to -representative: its sums are the conjugates of the representative's
    int phase;   // F(h) = exp(2 pi i phase / 24) F(+/-representative)
};

class ReflectionClasses {
public:
    // `ops`: every operation of the group, centrings included (a centring's rotation is the identity).
    explicit ReflectionClasses(const std::vector<gemmi::Op>& ops);

    ReflectionClass Of(Miller h) const;

private:
    struct Rotation {
        int r[3][3];  // the rotation, integer
        int t[3];     // the translation of one operation with it, in 24ths
    };
    std::vector<Rotation> rotations_;
};

// exp(2 pi i n / 24), exact for multiples of a quarter turn.
std::complex<double> TwentyFourthTurn(int n);
