#include "crystal/lattice.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "io/run_error.h"
#include "setup/units.h"

namespace {

double Cosine(double degrees)
{
    // Right angles give an exact 0, so that orthogonal cells have exactly orthogonal axes.
    if (degrees == 90.0) return 0.0;
    return std::cos(Radians(degrees));
}

std::invalid_argument VolumeBeyondDoubles(double log10Volume)
{
    return std::invalid_argument("its volume " + PowerOfTen(log10Volume) + " angstrom^3 is beyond what kelto can compute with");
}

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

Lattice::Lattice(double a, double b, double c, double alpha, double beta, double gamma)
    : a_(a), b_(b), c_(c), alpha_(alpha), beta_(beta), gamma_(gamma)
{
    const auto positive = [](double v) { return std::isfinite(v) && v > 0.0; };
    const auto angle = [](double v) { return std::isfinite(v) && v > 0.0 && v < 180.0; };
    if (!positive(a) || !positive(b) || !positive(c) || !angle(alpha) || !angle(beta) || !angle(gamma)) {
        throw std::invalid_argument("it needs positive lengths and angles between 0 and 180 degrees");
    }
    const double ca = Cosine(alpha), cb = Cosine(beta), cg = Cosine(gamma);
    // (V / abc)^2: the angles alone decide whether the axes span a volume.
    const double angular = 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg;
    if (!(angular > 0.0)) throw std::invalid_argument("its angles leave no volume");
    // The volume from logarithms, right however far beyond the doubles it lies: such a cell is
    // refused with its volume instead of being computed into infinities and NaNs, and so is a
    // length whose square (in the axes and |X|^2) the doubles cannot hold.
    const double log10Volume = std::log10(a) + std::log10(b) + std::log10(c) + 0.5 * std::log10(angular);
    if (!std::isnormal(std::pow(10.0, log10Volume))) throw VolumeBeyondDoubles(log10Volume);
    for (const double length : {a, b, c}) {
        if (!std::isnormal(length * length)) {
            throw std::invalid_argument(Printed("its length %g angstrom is beyond what kelto can compute with", length));
        }
    }
    const double sg = gamma == 90.0 ? 1.0 : std::sin(Radians(gamma));
    // Direct axes: a along x, b in the x-y plane, c completing them.
    const Vec3 va{a, 0.0, 0.0};
    const Vec3 vb{b * cg, b * sg, 0.0};
    const double cx = c * cb;
    const double cy = c * (ca - cb * cg) / sg;
    const double cz2 = c * c - cx * cx - cy * cy;
    if (!(cz2 > 0.0)) throw std::invalid_argument("its angles leave no volume");
    const Vec3 vc{cx, cy, std::sqrt(cz2)};
    a_axis_ = va, b_axis_ = vb, c_axis_ = vc;
    volume_ = Dot(va, Cross(vb, vc));
    aStar_ = (1.0 / volume_) * Cross(vb, vc);
    bStar_ = (1.0 / volume_) * Cross(vc, va);
    cStar_ = (1.0 / volume_) * Cross(va, vb);
    if (alpha == 90.0 && beta == 90.0 && gamma == 90.0) {
        // Orthogonal cells: the reciprocal axes exactly 1/a, 1/b, 1/c.
        aStar_ = {1.0 / a, 0.0, 0.0};
        bStar_ = {0.0, 1.0 / b, 0.0};
        cStar_ = {0.0, 0.0, 1.0 / c};
    }
    if (!std::isnormal(volume_)) throw VolumeBeyondDoubles(log10Volume);
    if (!Finite(aStar_) || !Finite(bStar_) || !Finite(cStar_) || !Finite(c_axis_)) {
        throw std::invalid_argument("its reciprocal axes are beyond what kelto can compute with");
    }
}

Vec3 Lattice::Reciprocal(double h, double k, double l) const
{
    return h * aStar_ + k * bStar_ + l * cStar_;
}

void Lattice::IndexBounds(double radius, double bounds[3]) const
{
    bounds[0] = radius * a_;
    bounds[1] = radius * b_;
    bounds[2] = radius * c_;
}

double Lattice::PointsWithin(double radius) const
{
    return 4.0 / 3.0 * std::numbers::pi * radius * radius * radius * volume_;
}
