#include "scan/sphere_reflections.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

#include "io/run_error.h"
#include "setup/units.h"

namespace {

// Rounding noise in |X|^2 - X.G below this share of its terms means X is exactly on the sphere
// at every wavelength: for integer indices of a cubic cell the sum is an integer over a^2, and a
// true non-zero n is many orders of magnitude above it.
constexpr double kZeroShare = 1e-12;

}  // namespace

SphereReflection DescribeReflection(const Lattice& lattice, const ScanFrame& frame, Miller m)
{
    SphereReflection r{};
    r.x = m;
    r.coupling = Miller{frame.primary.h - m.h, frame.primary.k - m.k, frame.primary.l - m.l};
    const Vec3 x = lattice.Reciprocal(m);
    const Vec3 d = x - frame.G;  // -(G - X)
    const double twiceN = Dot(x, d);
    r.n = std::fabs(twiceN) <= kZeroShare * Length(x) * Length(d) ? 0.0 : twiceN / 2.0;
    const Vec3 across = x - Dot(x, frame.along) * frame.along;
    r.azimuth = std::atan2(Dot(across, frame.e3), Dot(across, frame.e2)) * kDegreesPerRadian;
    // X is on the sphere where beam cos(psi - azimuth) has the sign of -n.
    r.centre = -frame.beam * r.n > 0.0 ? r.azimuth : r.azimuth + 180.0;
    r.spread = std::fabs(r.n) / Length(across);
    return r;
}

double SphereReflection::TopWavelength(const ScanFrame& frame) const
{
    return 1.0 / std::sqrt(frame.length * frame.length / 4.0 + spread * spread);
}

double SphereReflection::HalfWidth(const ScanFrame& frame, double lambda) const
{
    if (!(lambda > 0.0)) return 90.0;
    const double c = spread / frame.BeamAcross(lambda);
    if (!(c <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
    return std::acos(c) * kDegreesPerRadian;
}

PlanningEstimate EstimatePlanning(const Lattice& lattice, double radius)
{
    // The count from logarithms as well, for spheres whose radius cubed alone is beyond the doubles.
    const double log10Count = std::log10(4.0 / 3.0 * std::numbers::pi) + 3.0 * std::log10(radius) + std::log10(lattice.Volume());
    PlanningEstimate e{};
    e.reflections = lattice.PointsWithin(radius);
    if (!std::isfinite(e.reflections)) e.reflections = std::pow(10.0, log10Count);
    e.rows = e.reflections / 4.0;
    e.bytes = e.rows * 150.0;
    e.memory = 16.0 * 1024 * 1024 + e.rows * (sizeof(SphereReflection) + 160.0);
    if (!std::isfinite(e.bytes) || !std::isfinite(e.memory)) {
        // Too many for a double (a wavelength or a cell far beyond any crystal's): the count from
        // the logarithms is all a message can give.
        const std::string count = std::isfinite(log10Count) ? "about " + PowerOfTen(log10Count) : std::string("more than 1e+308");
        throw RunError::Refusal(Printed("The limiting sphere holds %s reflections, beyond what kelto can compute with\n", count.c_str()));
    }
    return e;
}
