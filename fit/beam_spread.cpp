#include "fit/beam_spread.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "io/run_error.h"
#include "dynamics/glitch_depth.h"
#include "glitches/glitches.h"
#include "scan/harmonic_orders.h"
#include "scan/parallel_for.h"
#include "fit/sampled_dip.h"
#include "setup/units.h"

namespace {

// The spreads tried: none, then 1e-7 to 1e-2 rad on a log scale, refined between the best's
// neighbours.
constexpr double kNarrowest = 1e-7, kWidest = 1e-2;
constexpr int kTried = 51;
constexpr double kSpreadTolerance = 1e-3;  // of log(spread)

// A dip whose measured width differs from the predicted one by more than this log ratio (22 %)
// counts no more than one that differs by that much: two glitches a step or two apart are
// measured as one wide dip, a dip on another's flank narrower than it is.
constexpr double kOutlier = 0.2;
// Dips shallower than this are left out: the search measures a dip near its detection threshold
// against the flanks of its neighbours and its own baseline, which moved the widths of faint
// silicon 2 2 0 dips on a 2 eV scan by 15 % from their prediction at the scan's own spread.
constexpr double kWidthsFrom = 3.0 * kShallowestDip;


struct Resolved {
    double widthEV;  // measured
    double stepEV;   // of its scan
    int order;
    std::unique_ptr<GlitchLoss> loss;
};

// The sum of squared log ratios of predicted to measured widths (each at most kOutlier squared),
// and how many dips it counts (every one).
double Misfit(const std::vector<Resolved>& dips, double across, int* counted)
{
    // Each dip's term on its own core (a dip's loss map at a spread is the costly part), summed in
    // the dips' order.
    std::vector<double> terms(dips.size());
    ParallelFor(dips.size(), [&](std::size_t i) {
        const Resolved& d = dips[i];
        const SampledDip sampled = SampleDip(d.loss->Shape(across), d.order * d.stepEV);
        const double predicted = sampled.found ? sampled.widthEV / d.order : std::numeric_limits<double>::quiet_NaN();
        // A spread at which the dip would not be found at all fits it no better than an outlier.
        if (!(predicted > 0.0) || !std::isfinite(predicted)) {
            terms[i] = kOutlier * kOutlier;
            return;
        }
        const double r = std::log(predicted / d.widthEV);
        terms[i] = std::min(r * r, kOutlier * kOutlier);
    }, 1);
    double sum = 0.0;
    for (const double t : terms) sum += t;
    *counted = static_cast<int>(dips.size());
    return sum;
}

}  // namespace

SpreadEstimate EstimateSpread(const Crystal& crystal, const ScanFrame& frame, const GlitchFit& fit, const std::vector<DipSearch>& scans,
                              const FitRequest& request)
{
    SpreadEstimate estimate;
    if (!fit.found) {
        estimate.why = "no significant fit";
        return estimate;
    }
    // The matched dips the scans resolve, deepest first.
    struct Candidate {
        const DipMatch* match;
        double offsetEV, stepEV;
    };
    std::vector<Candidate> candidates;
    for (std::size_t s = 0; s < fit.scans.size() && s < scans.size(); ++s) {
        const ScanMatch& scan = fit.scans[s];
        if (!scan.used) continue;
        for (const DipMatch& m : scan.dips) {
            if (m.matched && m.order >= 1 && m.dip.depth >= kWidthsFrom && m.dip.widthEV > 0.0 && std::isfinite(m.dip.widthEV)) {
                candidates.push_back({&m, scan.offsetEV, scans[s].stepEV});
            }
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.match->dip.depth > b.match->dip.depth; });
    if (candidates.size() > static_cast<std::size_t>(kMostSpreadDips)) candidates.resize(kMostSpreadDips);
    if (candidates.size() < 3) {
        estimate.why = "fewer than 3 matched dips";
        return estimate;
    }
    std::vector<Resolved> dips(candidates.size());
    ParallelFor(candidates.size(), [&](std::size_t i) {
        const DipMatch& m = *candidates[i].match;
        // The glitch's photon energy: the predicted one less its offset, or read back through the calibration.
        const double photon = fit.calibrated ? fit.scale.Photon(m.predictedKeV) : m.predictedKeV - candidates[i].offsetEV / 1000.0;
        const double keV = m.order * photon;
        dips[i] = {m.dip.widthEV, candidates[i].stepEV, m.order,
                   std::make_unique<GlitchLoss>(crystal, HarmonicFrame(frame, m.order), m.x, fit.psi, keV, request.beam.beam)};
    }, 1);
    // The misfit at every spread tried; the best refined by golden-section search on log(spread)
    // between its neighbours.
    std::vector<double> tried{0.0}, misfit;
    for (int k = 0; k < kTried; ++k) tried.push_back(kNarrowest * std::pow(kWidest / kNarrowest, static_cast<double>(k) / (kTried - 1)));
    std::size_t best = 0;
    double least = std::numeric_limits<double>::infinity();
    int counted = 0;
    for (std::size_t k = 0; k < tried.size(); ++k) {
        misfit.push_back(Misfit(dips, tried[k], &counted));
        if (counted < 3) misfit.back() = std::numeric_limits<double>::infinity();
        if (misfit.back() < least) least = misfit.back(), best = k;
    }
    if (!std::isfinite(least)) {
        estimate.why = "no predicted dip width to compare with";
        return estimate;
    }
    if (best == tried.size() - 1) {
        estimate.why = Printed("the dips are wider than a spread of %g rad would make them", kWidest);
        return estimate;
    }
    double across = tried[best];
    const double gridLeast = least;
    if (best > 0) {
        double a = std::log(best == 1 ? kNarrowest / 2.0 : tried[best - 1]), b = std::log(tried[best + 1]);
        const double golden = (std::sqrt(5.0) - 1.0) / 2.0;
        double c = b - golden * (b - a), d = a + golden * (b - a);
        double fc = Misfit(dips, std::exp(c), &counted), fd = Misfit(dips, std::exp(d), &counted);
        // To a thousandth of the spread: the widths are measured to a few percent.
        for (int i = 0; i < 40 && b - a > kSpreadTolerance; ++i) {
            if (fc < fd) b = d, d = c, fd = fc, c = b - golden * (b - a), fc = Misfit(dips, std::exp(c), &counted);
            else a = c, c = d, fc = fd, d = a + golden * (b - a), fd = Misfit(dips, std::exp(d), &counted);
        }
        const double refined = std::exp((a + b) / 2.0), there = Misfit(dips, refined, &counted);
        if (there < least) across = refined, least = there;
    }
    counted = 0;
    Misfit(dips, across, &counted);
    // The spreads whose misfit lies within the least's by the scatter of one dip's log ratio (one
    // standard error), or four times that (two): the outermost of the spreads tried within it,
    // interpolated on log(spread) to the next ones out. Where no spread at all fits within two
    // standard errors of the best, the widths do not fix the spread, only bound it.
    const double scatter = gridLeast / std::max(1, counted - 1);
    const auto interval = [&](double level, double* lower, double* upper) {
        std::size_t low = 0, high = tried.size() - 1;
        while (misfit[low] > level) ++low;
        while (misfit[high] > level) --high;
        const auto edge = [&](std::size_t inside, std::size_t outside) {
            if (tried[outside] == 0.0) return 0.0;
            const double t = (level - misfit[inside]) / (misfit[outside] - misfit[inside]);
            return std::exp(std::log(tried[inside]) + t * (std::log(tried[outside]) - std::log(tried[inside])));
        };
        *lower = low == 0 ? 0.0 : edge(low, low - 1);
        *upper = high + 1 == tried.size() ? tried.back() : edge(high, high + 1);
    };
    if (misfit.front() <= gridLeast + 4.0 * scatter) {
        interval(gridLeast + 4.0 * scatter, &estimate.low, &estimate.high);
        estimate.low = 0.0;
    } else {
        interval(gridLeast + scatter, &estimate.low, &estimate.high);
    }
    // Read on the spreads tried, the range holds the refined best too.
    if (estimate.low > 0.0) estimate.low = std::min(estimate.low, across);
    estimate.high = std::max(estimate.high, across);
    estimate.found = true;
    estimate.across = across;
    estimate.dips = counted;
    estimate.factor = std::exp(std::sqrt(least / counted));
    return estimate;
}
