#include "planning/sphere_reflections.h"

#include <climits>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

// Rounding noise in |X|^2 - X.G below this share of its terms means X is exactly on the sphere
// at every wavelength: for integer indices of a cubic cell the sum is an integer over a^2, and a
// true non-zero n is many orders of magnitude above it.
constexpr double kZeroShare = 1e-12;

SphereReflection Describe(const Lattice& lattice, const ScanFrame& frame, Miller m)
{
    SphereReflection r{};
    r.x = m;
    r.coupling = Miller{frame.primary.h - m.h, frame.primary.k - m.k, frame.primary.l - m.l};
    const Vec3 x = lattice.Reciprocal(m);
    const Vec3 d = x - frame.G;  // -(G - X)
    const double twiceN = Dot(x, d);
    r.n = std::fabs(twiceN) <= kZeroShare * Length(x) * Length(d) ? 0.0 : twiceN / 2.0;
    const Vec3 across = x - Dot(x, frame.along) * frame.along;
    r.azimuth = std::atan2(Dot(across, frame.e3), Dot(across, frame.e2)) * kDegrees;
    // X is on the sphere where beam cos(psi - azimuth) has the sign of -n.
    r.centre = -frame.beam * r.n > 0.0 ? r.azimuth : r.azimuth + 180.0;
    r.spread = std::fabs(r.n) / Length(across);
    return r;
}

}  // namespace

double SphereReflection::TopWavelength(const ScanFrame& frame) const
{
    return 1.0 / std::sqrt(frame.length * frame.length / 4.0 + spread * spread);
}

double SphereReflection::HalfWidth(const ScanFrame& frame, double lambda) const
{
    if (!(lambda > 0.0)) return 90.0;
    const double c = spread / frame.BeamAcross(lambda);
    if (!(c <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
    return std::acos(c) * kDegrees;
}

std::vector<SphereReflection> ReflectionsWithin(const Lattice& lattice, const ScanFrame& frame, double radius)
{
    double bounds[3];
    lattice.IndexBounds(radius, bounds);
    for (double b : bounds) {
        if (!(b < INT_MAX / 4)) throw std::length_error("the limiting sphere holds indices beyond the integer range");
    }
    const int hMax = static_cast<int>(bounds[0]) + 1, kMax = static_cast<int>(bounds[1]) + 1;
    const Vec3 cStar = lattice.Reciprocal(0, 0, 1);
    const double c2 = Dot(cStar, cStar);
    const double r2 = radius * radius;
    std::vector<SphereReflection> found;
    found.reserve(static_cast<std::size_t>(lattice.PointsWithin(radius) * 1.1) + 16);
    for (int h = -hMax; h <= hMax; ++h) {
        for (int k = -kMax; k <= kMax; ++k) {
            // |P + l c*|^2 <= r^2, P = h a* + k b*: a quadratic in l.
            const Vec3 p = lattice.Reciprocal(h, k, 0);
            const double pc = Dot(p, cStar);
            const double disc = pc * pc - c2 * (Dot(p, p) - r2);
            if (disc < 0.0) continue;
            const double root = std::sqrt(disc);
            const int lLow = static_cast<int>(std::floor((-pc - root) / c2)) - 1;
            const int lHigh = static_cast<int>(std::ceil((-pc + root) / c2)) + 1;
            for (int l = lLow; l <= lHigh; ++l) {
                const Miller m{h, k, l};
                const Vec3 x = lattice.Reciprocal(m);
                if (Dot(x, x) > r2 || Parallel(m, frame.primary)) continue;
                found.push_back(Describe(lattice, frame, m));
            }
        }
    }
    return found;
}

double SurveyBytes(const Lattice& lattice, double radius)
{
    constexpr double kBytesPerReflection = sizeof(SphereReflection) + 160.0;
    return lattice.PointsWithin(radius) * kBytesPerReflection;
}
