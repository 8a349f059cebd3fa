#include "fit/fit_lines.h"

#include <algorithm>
#include <cmath>

#include "crystal/vec3.h"
#include "glitches/glitches.h"
#include "scan/harmonic_orders.h"
#include "fit/measured_dips.h"
#include "scan/parallel_for.h"
#include "fit/sampled_dip.h"
#include "scan/sphere_reflections.h"
#include "setup/units.h"

double FitLine::EnergyAt(double d) const
{
    const double across = spread / std::cos(d * kRadiansPerDegree);
    return kHcKeVAngstrom * std::sqrt(quarterG2 + across * across) / order;
}

double FitLine::BraggEnergyAt(double d) const
{
    const double across = braggSpread / std::cos(d * kRadiansPerDegree);
    return kHcKeVAngstrom * std::sqrt(quarterG2 + across * across) / order;
}

double FitLine::Reach(double keV) const
{
    const double k = order * keV / kHcKeVAngstrom;
    const double across = std::sqrt(std::max(0.0, k * k - quarterG2));
    return across > spread ? std::acos(spread / across) / kRadiansPerDegree : 0.0;
}

double FitLine::Slope(double d) const
{
    const double across = spread / std::cos(d * kRadiansPerDegree);
    const double root = std::sqrt(quarterG2 + across * across);
    return kHcKeVAngstrom * 1000.0 / order * across * across * std::tan(d * kRadiansPerDegree) / root * kRadiansPerDegree;
}

double AzimuthOffset(double psi, double centre)
{
    const double d = std::fmod(psi - centre, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

std::vector<std::vector<FitLine>> LinesOfRanges(const Crystal& crystal, const ScanFrame& frame, const LineBeam& beam,
                                                const std::vector<ScanRange>& ranges, const std::vector<std::size_t>& dips)
{
    double highest = 0.0;
    for (const ScanRange& r : ranges) highest = std::max(highest, r.eMax);
    // An order's share of the photons at a setting, against all orders'.
    const auto shareAt = [&](int order, double keV) {
        const std::vector<double> shares = beam.content.At(keV);
        double total = 0.0;
        for (const double c : shares) total += c;
        return total > 0.0 ? shares[static_cast<std::size_t>(order - 1)] / total : 0.0;
    };
    // Every line up to the highest energy, with the frame of its order.
    std::vector<FitLine> all;
    std::vector<ScanFrame> frames;
    for (int n = 1; n <= beam.harmonics && n <= static_cast<int>(beam.content.Orders()); ++n) {
        frames.push_back(HarmonicFrame(frame, n));
        const ScanFrame& harmonic = frames.back();
        if (!beam.content.Carries(n)) continue;
        if (n > 1 && !HarmonicPasses(crystal, frame, n, highest)) continue;
        for (const SphereReflection& r : GlitchReflections(crystal, harmonic, n * highest)) {
            if (r.Always()) continue;  // on the sphere at one azimuth at every energy: no line to fit
            FitLine line{r.centre, r.spread, harmonic.length * harmonic.length / 4.0, n, r.x, 0.0};
            line.braggSpread = r.spread;
            line.top = kHcKeVAngstrom * std::sqrt(line.quarterG2 + r.spread * r.spread) / n;
            all.push_back(line);
        }
    }
    std::vector<std::vector<FitLine>> lines(ranges.size());
    std::vector<std::pair<std::size_t, std::size_t>> items;  // (range, line)
    for (std::size_t s = 0; s < ranges.size(); ++s) {
        for (const FitLine& line : all) {
            if (line.top <= ranges[s].eMax) lines[s].push_back(line);
        }
        for (std::size_t i = 0; i < lines[s].size(); ++i) items.push_back({s, i});
    }
    // Each line weighed by a quick estimate of its dip where it enters the range, on the line of
    // the Bragg condition; its energies then are those of the dip's deepest point, which refraction
    // moves off that condition. There the central ray's deviation is
    // alpha = lambda^2 (G.X - |X|^2) (k_perp / k_line - 1), k_line the beam's component across G on
    // the line, and the loss centres at alpha = peak, which scales with lambda^2 as the
    // susceptibilities do: the deepest point keeps k_perp = k_line (1 + peak / (lambda^2 (G.X -
    // |X|^2))) along the whole line.
    const std::vector<std::vector<FitLine>> bragg = lines;
    const auto weigh = [&](std::size_t item, bool quick) {
        const auto [s, i] = items[item];
        FitLine& line = lines[s][i];
        line = bragg[s][i];
        const double from = std::max(line.top, ranges[s].eMin);
        const ScanFrame& harmonic = frames[static_cast<std::size_t>(line.order - 1)];
        const double share = shareAt(line.order, from);
        const double keV = line.order * from;
        const double psi = line.centre + line.Reach(from);
        // Where it matters, the tables' own dip, its centre where the scan's dip search would put
        // it (a dip beside a rise of I0 is measured off its deepest point), else its deepest point.
        DipEstimate dip;
        if (quick) {
            dip = EstimateDip(crystal, harmonic, line.x, psi, keV, beam.beam, kRoughSampling);
        } else {
            const GlitchShape shape = ShapeOfGlitch(crystal, harmonic, line.x, psi, keV, beam.beam);
            dip = DeepestPoint(shape.dip);
            const SampledDip sampled = SampleDip(shape, line.order * ranges[s].stepEV);
            if (sampled.found && shape.rate != 0.0 && !shape.dip.umweg) dip.peak = sampled.centreEV * shape.rate;
        }
        line.weight = share * dip.depth;
        const Vec3 x = crystal.lattice().Reciprocal(line.x);
        const double coupling = Dot(harmonic.G, x) - Dot(x, x), lambda = kHcKeVAngstrom / keV;
        const double shift = coupling != 0.0 ? dip.peak / (lambda * lambda * coupling) : 0.0;
        if (std::isfinite(shift) && std::fabs(shift) < 0.01) line.spread *= 1.0 + shift;
        line.top = kHcKeVAngstrom * std::sqrt(line.quarterG2 + line.spread * line.spread) / line.order;
    };
    // Every line roughly first; those that may be visible in their range (to a factor of four below
    // the weight its dips show, the rough estimate's error) again as the tables shape them, but
    // for those whose dip no scan shows (the rough estimate errs by up to ten times low).
    constexpr double kUnseen = kShallowestDip / 20.0;
    ParallelFor(items.size(), [&](std::size_t item) { weigh(item, true); });
    std::vector<double> rough(ranges.size());
    for (std::size_t s = 0; s < ranges.size(); ++s) {
        std::vector<FitLine> sorted = lines[s];
        std::stable_sort(sorted.begin(), sorted.end(), [](const FitLine& a, const FitLine& b) { return a.weight > b.weight; });
        rough[s] = VisibleWeight(sorted, dips[s], ranges[s]);
    }
    std::vector<std::size_t> again;
    for (std::size_t item = 0; item < items.size(); ++item) {
        const auto [s, i] = items[item];
        const double share = shareAt(lines[s][i].order, std::max(bragg[s][i].top, ranges[s].eMin));
        if (lines[s][i].weight >= rough[s] / 4.0 && lines[s][i].weight >= share * kUnseen) again.push_back(item);
    }
    ParallelFor(again.size(), [&](std::size_t k) { weigh(again[k], false); }, 1);
    // Deepest first. The two lines of a mirror pair share one dip, whose last bits depend on which
    // of them met the store of dips first (on the threads' timing, and on what the process
    // computed before): weighed in single precision, they keep the order of the reflections, so
    // that a dip is always matched to the same one of them.
    for (std::vector<FitLine>& of : lines) {
        std::erase_if(of, [](const FitLine& line) { return !(line.weight > 0.0); });
        std::stable_sort(of.begin(), of.end(),
                         [](const FitLine& a, const FitLine& b) { return static_cast<float>(a.weight) > static_cast<float>(b.weight); });
    }
    return lines;
}

double VisibleWeight(const std::vector<FitLine>& lines, std::size_t dips, const ScanRange& range)
{
    const double wanted = std::max(1.5 * static_cast<double>(dips) + 3.0, 15.0);
    double met = 0.0;
    for (const FitLine& line : lines) {  // deepest first
        met += 2.0 * (line.Reach(range.eMax) - line.Reach(std::max(line.top, range.eMin))) / 360.0;
        if (met >= wanted) return line.weight;
    }
    return lines.empty() ? 0.0 : lines.back().weight;
}
