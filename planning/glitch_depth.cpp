#include "planning/glitch_depth.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "planning/darwin_width.h"
#include "planning/parallel_for.h"
#include "setup/units.h"

namespace {

// Glitches deeper than this at the first sampling are sampled closely.
constexpr double kCloseDepth = 0.005;

// |k_perp| at the wavelength, 0 at G's cut-off even where rounding puts the wavelength a hair
// beyond it (an energy given as the cut-off itself).
double BeamAcrossAt(const ScanFrame& frame, double lambda)
{
    const double across = frame.BeamAcross(lambda);
    return across > 0.0 ? across : 0.0;
}

// A profile's samples at and beyond its last.
double End(const DipProfile& dip) { return dip.start + dip.step * static_cast<double>(dip.samples.size() - 1); }

// The samples' full width at half depth about the deepest, in the units of `at` (the abscissa of
// sample k), and the deepest's depth; 0 width for a dip of depth 0.
struct Measured {
    double depth, width, peak;
};
Measured MeasureSamples(const std::vector<double>& depth, const std::vector<double>& at, double shallowest)
{
    std::size_t deepest = 0;
    for (std::size_t k = 1; k < depth.size(); ++k) {
        if (depth[k] > depth[deepest]) deepest = k;
    }
    if (depth.empty() || !(depth[deepest] >= shallowest)) return {0.0, 0.0, at.empty() ? 0.0 : at[deepest]};
    const double level = depth[deepest] / 2.0;
    std::size_t left = deepest, right = deepest;
    while (left > 0 && depth[left - 1] > level) --left;
    while (right + 1 < depth.size() && depth[right + 1] > level) ++right;
    const auto crossing = [&](std::size_t inside, std::size_t outside) {
        const double t = depth[inside] != depth[outside] ? (depth[inside] - level) / (depth[inside] - depth[outside]) : 0.0;
        return at[inside] + t * (at[outside] - at[inside]);
    };
    const double low = left > 0 ? crossing(left, left - 1) : at.front();
    const double high = right + 1 < depth.size() ? crossing(right, right + 1) : at.back();
    return {depth[deepest], std::fabs(high - low), at[deepest]};
}

}  // namespace

double GlitchShape::Reach() const
{
    if (rate == 0.0 || dip.samples.empty()) return 0.0;
    return std::max(std::fabs(dip.start), std::fabs(End(dip))) / std::fabs(rate);
}

GlitchLoss::GlitchLoss(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
    : case_(DescribePassband(crystal, frame, x, psi, keV, beam)), rate_(0.0), cutoff_(false), cutoffRoot_(0.0)
{
    // A glitch that takes a share worth reading is sampled again, closely.
    map_.emplace(case_);
    if (map_->Dip(std::fabs(case_.alongRate) * case_.along, std::fabs(case_.acrossRate) * case_.across).depth > kCloseDepth) {
        map_.emplace(case_, kCloseSampling);
    }
    const double lambda = kHcKeVAngstrom / keV;
    if (BeamAcrossAt(frame, lambda) > 0.0) {
        rate_ = DeviationRate(frame, crystal.lattice(), x, psi, keV);
        if (!std::isfinite(rate_)) rate_ = 0.0;
        return;
    }
    // At G's cut-off k_perp = 0 and alpha_c = 2 lambda^2 beam |k_perp| (u.X) grows as the root of
    // E - Ec above it: |k_perp| = sqrt(2 E dE) / hc to first order.
    cutoff_ = true;
    const double radians = Radians(psi);
    const Vec3 u = std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3;
    const double hcEV = kHcKeVAngstrom * 1000.0, eV = keV * 1000.0;
    cutoffRoot_ = 2.0 * lambda * lambda * frame.beam * Dot(u, crystal.lattice().Reciprocal(x)) * std::sqrt(2.0 * eV) / hcEV;
}

GlitchShape GlitchLoss::Shape(double across) const
{
    GlitchShape shape;
    shape.dip = map_->Dip(std::fabs(case_.alongRate) * case_.along, std::fabs(case_.acrossRate) * across);
    const DipProfile& dip = shape.dip;
    if (cutoff_) {
        // alpha_c reaches the dip's far half-depth point at E - Ec = (alpha / root)^2; the profile
        // drawn as linear with the same width.
        const double far = std::max(std::fabs(dip.low), std::fabs(dip.high));
        const double width = cutoffRoot_ != 0.0 ? (far / cutoffRoot_) * (far / cutoffRoot_) : std::numeric_limits<double>::infinity();
        shape.depth = dip.depth;
        shape.widthEV = dip.high > dip.low ? width : 0.0;
        shape.rate = std::isfinite(width) && width > 0.0 ? std::copysign((dip.high - dip.low) / width, cutoffRoot_) : 0.0;
        return shape;
    }
    shape.rate = rate_;
    if (rate_ == 0.0) {
        // X stays on the sphere: the same share at every energy, and no width along the scan.
        shape.depth = std::max(0.0, dip.At(0.0));
        shape.widthEV = std::numeric_limits<double>::infinity();
        return shape;
    }
    shape.depth = dip.depth;
    shape.widthEV = (dip.high - dip.low) / std::fabs(rate_);
    shape.offsetEV = dip.peak / rate_;
    return shape;
}

GlitchShape ShapeOfGlitch(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    return GlitchLoss(crystal, frame, x, psi, keV, beam).Shape(beam.across);
}

namespace {

// The event's dip as psi turns the beam about G at `keV`: the deepest share taken and the full
// width at half depth in degrees. The deviation alpha_c(psi) is taken from the beam's vector itself
// over the azimuths whose deviations the profile covers.
Measured DipInAzimuth(const DipProfile& dip, const ScanFrame& frame, const Vec3& x, double psi, double keV)
{
    if (dip.samples.empty() || !(dip.high > dip.low)) return {0.0, 0.0, psi};
    const double lambda = kHcKeVAngstrom / keV, across = frame.beam * BeamAcrossAt(frame, lambda);
    const auto alpha = [&](double degrees) {
        const double r = Radians(degrees);
        const Vec3 k0 = (-frame.length / 2.0) * frame.along + across * (std::cos(r) * frame.e2 + std::sin(r) * frame.e3);
        return lambda * lambda * (2.0 * Dot(k0, x) + Dot(x, x));
    };
    // The azimuths to sample: where the quadratic model of alpha_c about psi stays inside the
    // profile, with a margin.
    const double radians = Radians(psi), perDegree = kRadiansPerDegree;
    const Vec3 turning = (across * perDegree) * (-std::sin(radians) * frame.e2 + std::cos(radians) * frame.e3);
    const Vec3 bending = (-across * perDegree * perDegree) * (std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3);
    const double rate = 2.0 * lambda * lambda * Dot(turning, x), curvature = 2.0 * lambda * lambda * Dot(bending, x);
    const double at = alpha(psi);
    const double span = std::max(std::fabs(dip.start - at), std::fabs(End(dip) - at));
    double reach = 180.0;
    if (rate != 0.0) reach = std::min(reach, span / std::fabs(rate));
    if (curvature != 0.0) reach = std::min(reach, std::sqrt(2.0 * span / std::fabs(curvature)));
    reach = std::min(180.0, 1.5 * reach);
    if (!(reach > 0.0)) return {0.0, 0.0, psi};
    // Sampled over the reach, then again over the dip itself, four widths about its deepest.
    constexpr int kSamples = 513;
    // A forbidden primary's Umweg peak is measured as a dip would be.
    const double sign = dip.umweg ? -1.0 : 1.0, shallowest = dip.umweg ? 1e-300 : 5e-7;
    std::vector<double> depth(kSamples), azimuth(kSamples);
    const auto sample = [&](double from, double to) {
        for (int k = 0; k < kSamples; ++k) {
            azimuth[static_cast<std::size_t>(k)] = from + (to - from) * k / (kSamples - 1);
            depth[static_cast<std::size_t>(k)] = sign * dip.At(alpha(azimuth[static_cast<std::size_t>(k)]));
        }
        return MeasureSamples(depth, azimuth, shallowest);
    };
    Measured m = sample(psi - reach, psi + reach);
    if (m.width > 0.0) m = sample(m.peak - 2.0 * m.width, m.peak + 2.0 * m.width);
    if (dip.umweg) m.depth = 0.0;
    return m;
}

}  // namespace

double EventWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    const GlitchShape shape = ShapeOfGlitch(crystal, frame, x, psi, keV, beam);
    return DipInAzimuth(shape.dip, frame, crystal.lattice().Reciprocal(x), psi, keV).width;
}

void ShapeEvent(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, Event* event)
{
    const GlitchShape shape = ShapeOfGlitch(crystal, frame, event->x, event->psi, keV, beam);
    const Measured m = DipInAzimuth(shape.dip, frame, crystal.lattice().Reciprocal(event->x), event->psi, keV);
    event->depth = m.depth;
    event->widthDeg = m.width;
}

void SetEventWidths(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, std::vector<Event>* events)
{
    ParallelFor(events->size(), [&](std::size_t i) { ShapeEvent(crystal, frame, keV, beam, &(*events)[i]); }, 1);
}
