#include "planning/glitch_depth.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "planning/darwin_width.h"
#include "planning/parallel_for.h"
#include "setup/units.h"

namespace {

// |k_perp| at the wavelength, 0 at G's cut-off even where rounding puts the wavelength a hair
// beyond it (an energy given as the cut-off itself).
double BeamAcrossAt(const ScanFrame& frame, double lambda)
{
    const double across = frame.BeamAcross(lambda);
    return across > 0.0 ? across : 0.0;
}

// The distribution function of u + v, u and v even over [-su/2, su/2] and [-sv/2, sv/2].
double SumBelow(double t, double su, double sv)
{
    const double small = std::min(su, sv), large = std::max(su, sv);
    const double s = t + (small + large) / 2.0;  // the sum of two spreads starting at 0
    if (s <= 0.0) return 0.0;
    if (s >= small + large) return 1.0;
    if (small == 0.0) return s / large;  // one spread alone (large > 0 here)
    if (s < small) return s * s / (2.0 * small * large);
    if (s <= large) return (s - small / 2.0) / large;
    const double rest = small + large - s;
    return 1.0 - rest * rest / (2.0 * small * large);
}

Vec3 Unit(Vec3 v) { return (1.0 / Length(v)) * v; }

// The unit tilts of a ray across and along G's scattering plane. At G's cut-off the beam runs
// back along G and every plane through G is one: the frame's psi = 90 direction stands in.
struct Tilts {
    Vec3 across, along;
};
Tilts TiltsOf(const Vec3& k0, const ScanFrame& frame)
{
    const Vec3 normal = Cross(k0, frame.G);
    const Vec3 across = Length(normal) > 0.0 ? Unit(normal) : Unit(Cross(frame.along, frame.e2));
    return {across, Unit(Cross(across, k0))};
}

// The share of the beam's intensity along X's sigma direction, for the beam's polarisation given
// relative to G's scattering plane.
double SigmaShareOf(const Beam& beam, const Vec3& k0, const Tilts& tilts, const Vec3& x)
{
    if (beam.polarisation == Polarisation::kUnpolarised) return 0.5;
    return SigmaShare(beam.polarisation == Polarisation::kSigma ? tilts.across : tilts.along, Unit(k0), x);
}

}  // namespace

double BoxOverlap(double c, double su, double sv, double half)
{
    if (su == 0.0 && sv == 0.0) return std::fabs(c) <= half ? 1.0 : 0.0;
    return SumBelow(half - c, su, sv) - SumBelow(-half - c, su, sv);
}

GlitchShape ShapeOfGlitch(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    const Lattice& lattice = crystal.lattice();
    const double lambda = kHcKeVAngstrom / keV, radians = Radians(psi);
    const Vec3 k0 = (-frame.length / 2.0) * frame.along +
                    (frame.beam * BeamAcrossAt(frame, lambda)) * (std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3);
    const Vec3 v = lattice.Reciprocal(x), kh = k0 + v;
    // The surface's inward normal: against its reciprocal vector, G's for a symmetric cut.
    const Vec3 inward = -1.0 * Unit(Length(beam.surface) > 0.0 ? beam.surface : frame.G);
    const double gamma0 = Dot(Unit(k0), inward);
    const Vec3 gh = k0 + frame.G;
    const Tilts tilts = TiltsOf(k0, frame);
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    const DarwinWidth primary = DarwinWidthOf(lattice, *scattering, frame.primary, keV, SigmaShareOf(beam, k0, tilts, frame.G),
                                              gamma0, Dot(Unit(gh), inward));
    const DarwinWidth secondary =
        DarwinWidthOf(lattice, *scattering, x, keV, SigmaShareOf(beam, k0, tilts, v), gamma0, Dot(Unit(kh), inward));
    const Vec3 &across = tilts.across, &along = tilts.along;
    const double spreadAlong = beam.along > 0.0 ? std::min(beam.along, primary.angle) : primary.angle;
    const double su = std::fabs(2.0 * lambda * Dot(along, v)) * spreadAlong, sv = std::fabs(2.0 * lambda * Dot(across, v)) * beam.across;
    const double half = secondary.deviation / 2.0;
    GlitchShape shape{};
    shape.su = su, shape.sv = sv, shape.half = half;
    shape.depth = BoxOverlap(0.0, su, sv, half);
    // Half depth: the profile falls monotonically away from its centre, at the latest by the
    // edge of its support.
    double low = 0.0, high = half + (su + sv) / 2.0;
    for (int i = 0; i < 100 && high > 0.0; ++i) {
        const double mid = (low + high) / 2.0;
        (BoxOverlap(mid, su, sv, half) > shape.depth / 2.0 ? low : high) = mid;
    }
    const double halfDepthAlpha = (low + high) / 2.0;
    shape.halfDepth = halfDepthAlpha;
    if (!(BeamAcrossAt(frame, lambda) > 0.0)) {
        // At G's cut-off alpha grows as the root of E - Ec, on the side above it only.
        const Vec3 u = std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3;
        const double acrossX = std::fabs(Dot(u, v));
        const double across = halfDepthAlpha / (lambda * lambda) / (2.0 * acrossX);
        shape.widthEV = acrossX > 0.0 ? kHcKeVAngstrom * 1000.0 *
                                            (std::sqrt(across * across + frame.length * frame.length / 4.0) - frame.length / 2.0)
                                      : std::numeric_limits<double>::infinity();
        // The profile taken as linear, with the same width at half depth.
        shape.rate = std::isfinite(shape.widthEV) && shape.widthEV > 0.0 ? 2.0 * halfDepthAlpha / shape.widthEV : 0.0;
        return shape;
    }
    const double rate = DeviationRate(frame, lattice, x, psi, keV);
    shape.rate = rate;
    shape.widthEV = rate == 0.0 ? std::numeric_limits<double>::infinity() : 2.0 * halfDepthAlpha / std::fabs(rate);
    return shape;
}

namespace {

// The width in azimuth (degrees) over which X's deviation stays within `h` (the half-depth distance
// of its profile) of 0 as psi turns the beam about G from psi.
double AzimuthWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, double h)
{
    const double lambda = kHcKeVAngstrom / keV, radians = Radians(psi), perDegree = kRadiansPerDegree;
    const double across = frame.beam * BeamAcrossAt(frame, lambda);
    const Vec3 v = crystal.lattice().Reciprocal(x);
    // k_perp turns with psi: its first and second derivatives, per degree.
    const Vec3 turning = (across * perDegree) * (-std::sin(radians) * frame.e2 + std::cos(radians) * frame.e3);
    const Vec3 bending = (-across * perDegree * perDegree) * (std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3);
    const double rate = 2.0 * lambda * lambda * Dot(turning, v), curvature = 2.0 * lambda * lambda * Dot(bending, v);
    // alpha(psi + d) = rate d + curvature d^2 / 2 reaches -/+ h first at the width's ends:
    // the nearest root on either side (the quadratic matters where X only touches the sphere).
    double ends[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (const double target : {h, -h}) {
        double roots[2] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
        if (curvature == 0.0) {
            if (rate != 0.0) roots[0] = target / rate;
        } else {
            const double discriminant = rate * rate + 2.0 * curvature * target;
            if (discriminant >= 0.0) {
                // The root of the smaller magnitude without cancellation, then the other from the product.
                const double q = -(rate + std::copysign(std::sqrt(discriminant), rate == 0.0 ? 1.0 : rate)) / 2.0;
                roots[0] = q != 0.0 ? -target / q : 0.0;
                roots[1] = q / (curvature / 2.0);
            }
        }
        for (const double d : roots) {
            if (d > 0.0) ends[0] = std::min(ends[0], d);
            if (d < 0.0) ends[1] = std::min(ends[1], -d);
        }
    }
    return ends[0] + ends[1];
}

}  // namespace

double EventWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    return AzimuthWidth(crystal, frame, x, psi, keV, ShapeOfGlitch(crystal, frame, x, psi, keV, beam).halfDepth);
}

void ShapeEvent(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, Event* event)
{
    const GlitchShape shape = ShapeOfGlitch(crystal, frame, event->x, event->psi, keV, beam);
    event->depth = shape.depth;
    event->widthDeg = AzimuthWidth(crystal, frame, event->x, event->psi, keV, shape.halfDepth);
}

void SetEventWidths(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, std::vector<Event>* events)
{
    ParallelFor(events->size(), [&](std::size_t i) { ShapeEvent(crystal, frame, keV, beam, &(*events)[i]); });
}
