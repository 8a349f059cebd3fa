#include "fit/fit_significance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>

#include "fit/calibrated_fit.h"
#include "scan/parallel_for.h"

namespace {

constexpr int kFewestTrials = 19;

// A uniform number in [0, 1) from the generator's bits, the same on every platform.
double Uniform(std::mt19937_64& random) { return static_cast<double>(random() >> 11) * 0x1.0p-53; }

// The dips of trial `trial`: each scan's moved (or scattered) by its own draw.
std::vector<std::vector<MeasuredDip>> TrialDips(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                                double widestOffsetEV, int trial)
{
    std::vector<std::vector<MeasuredDip>> moved = dips;
    for (std::size_t s = 0; s < scans.size(); ++s) {
        std::mt19937_64 random(0x6b656c746fULL + 7919ULL * static_cast<std::uint64_t>(trial) + 104729ULL * s);
        const double from = scans[s].range.eMin, span = scans[s].range.eMax - from;  // keV
        // A match at offset o (within the widest) moves to o + shift, out of the offsets tried
        // and paired when |o + shift| exceeds the widest offset and the tolerance.
        const double least = 2.0 * (widestOffsetEV + scans[s].toleranceEV) / 1000.0;
        if (span > 2.0 * least) {
            const double shift = least + Uniform(random) * (span - 2.0 * least);
            for (MeasuredDip& d : moved[s]) d.energy = from + std::fmod(d.energy - from + shift, span);
        } else {
            for (MeasuredDip& d : moved[s]) d.energy = from + Uniform(random) * span;
        }
    }
    return moved;
}

// The best usable solution of the search, or none.
const FitSolution* BestUsable(const std::vector<FitSolution>& solutions, const PsiWindow& window)
{
    for (const FitSolution& s : solutions) {
        if (s.Usable(window)) return &s;
    }
    return nullptr;
}

}  // namespace

int TrialsFor(double threshold) { return std::max(kFewestTrials, static_cast<int>(std::ceil(1.0 / threshold - 1e-9)) - 1); }

Significance TestSignificance(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                              const SearchSetup& setup, const FitSolution& fit, double threshold)
{
    const int total = TrialsFor(threshold);
    // p stays above the threshold once this many trials fit as well.
    const int hopeless = static_cast<int>(std::floor(threshold * (1.0 + total)));
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const int batch = static_cast<int>(std::min<std::size_t>(cores, 8)) * 10;
    Significance result;
    for (int first = 0; first < total && result.asGood < hopeless; first += batch) {
        const int count = std::min(batch, total - first);
        std::vector<char> asGood(static_cast<std::size_t>(count), 0);
        const std::size_t shares = std::min<std::size_t>({cores, 8, static_cast<std::size_t>(count)});
        ParallelFor(
            shares,
            [&](std::size_t share) {
                VoteGrid grid;
                for (std::size_t i = share * count / shares; i < (share + 1) * count / shares; ++i) {
                    const int trial = first + static_cast<int>(i);
                    const std::vector<FitSolution> solutions =
                        SearchGlitchFit(scans, TrialDips(scans, dips, setup.widestOffsetEV, trial), setup, &grid, &fit);
                    const FitSolution* best = BestUsable(solutions, setup.window);
                    asGood[i] = best != nullptr && AtLeastAsGood(*best, fit);
                }
            },
            1);
        result.trials += count;
        for (const char a : asGood) result.asGood += a;
    }
    result.p = (1.0 + result.asGood) / (1.0 + result.trials);
    return result;
}
