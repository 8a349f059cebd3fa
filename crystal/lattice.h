// The lattice of a crystal: its cell a, b, c, alpha, beta, gamma and the reciprocal lattice in a
// Cartesian frame (a along x, b in the x-y plane), in 1/angstrom without the factor 2 pi, so that
// a reflection h k l lies at |X| = 1/d and diffracts at sin(theta) = lambda |X| / 2.
#pragma once

#include <cstdint>

#include "crystal/vec3.h"

class Lattice {
public:
    // Lengths in angstrom, angles in degrees. Throws std::invalid_argument when they make no cell.
    Lattice(double a, double b, double c, double alpha, double beta, double gamma);
    static Lattice Cubic(double a) { return Lattice(a, a, a, 90.0, 90.0, 90.0); }

    // The reciprocal-lattice vector h a* + k b* + l c*.
    Vec3 Reciprocal(double h, double k, double l) const;
    Vec3 Reciprocal(Miller m) const { return Reciprocal(m.h, m.k, m.l); }
    // The direct-lattice vector of fractional coordinates x, y, z, angstrom.
    Vec3 Direct(double x, double y, double z) const { return x * a_axis_ + y * b_axis_ + z * c_axis_; }

    double a() const { return a_; }
    double b() const { return b_; }
    double c() const { return c_; }
    double alpha() const { return alpha_; }
    double beta() const { return beta_; }
    double gamma() const { return gamma_; }
    double Volume() const { return volume_; }

    // The largest |h|, |k| and |l| of a reciprocal-lattice vector no longer than `radius`
    // (1/angstrom): h = X . a, so |h| <= radius a, and likewise for k and l.
    void IndexBounds(double radius, double bounds[3]) const;

    // Reciprocal-lattice vectors no longer than `radius` (a rough count, from the volume of the
    // sphere in units of the reciprocal cell), for refusing surveys that would not fit.
    double PointsWithin(double radius) const;

private:
    double a_, b_, c_, alpha_, beta_, gamma_, volume_;
    Vec3 a_axis_, b_axis_, c_axis_;
    Vec3 aStar_, bStar_, cStar_;
};
