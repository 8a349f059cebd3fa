#include "crystal/lattice.h"

#include <numbers>
#include <stdexcept>

namespace {

double Cosine(double degrees)
{
    // Right angles give an exact 0, so that orthogonal cells have exactly orthogonal axes.
    if (degrees == 90.0) return 0.0;
    return std::cos(degrees * std::numbers::pi / 180.0);
}

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
    const double sg = gamma == 90.0 ? 1.0 : std::sin(gamma * std::numbers::pi / 180.0);
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
}

Vec3 Lattice::Reciprocal(double h, double k, double l) const
{
    return h * aStar_ + k * bStar_ + l * cStar_;
}

bool Lattice::IsCubic() const
{
    return a_ == b_ && b_ == c_ && alpha_ == 90.0 && beta_ == 90.0 && gamma_ == 90.0;
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
