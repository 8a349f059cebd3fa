#include "planning/measured_dips.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

// The neighbourhood a point is weighed against: a gap of this many eV (or two steps) on each
// side leaves the dip's own slopes out, and this many eV beyond it give the surrounding level.
constexpr double kGapEV = 2.0;
constexpr double kSideEV = 40.0;
// The level of a side: its upper quartile, above the dips and the noise that share it.
constexpr double kLevelQuantile = 0.75;
// A dip is deeper than this many noise deviations, and than this share of I0.
constexpr double kNoiseDeviations = 5.0;
constexpr double kShallowest = 1e-3;

double Quantile(std::vector<double>& values, double q)
{
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The points sorted by energy, equal energies merged into their mean intensity.
std::vector<ScanPoint> Sorted(std::vector<ScanPoint> points, double eMin, double eMax)
{
    std::erase_if(points, [&](const ScanPoint& p) { return !(p.energy >= eMin && p.energy <= eMax); });
    std::sort(points.begin(), points.end(), [](const ScanPoint& a, const ScanPoint& b) { return a.energy < b.energy; });
    std::vector<ScanPoint> merged;
    for (std::size_t i = 0; i < points.size();) {
        std::size_t j = i;
        double sum = 0.0;
        for (; j < points.size() && points[j].energy == points[i].energy; ++j) sum += points[j].intensity;
        merged.push_back({points[i].energy, sum / static_cast<double>(j - i)});
        i = j;
    }
    return merged;
}

// Each point's surrounding level: the lower of its two sides' upper quartiles; 0 where a side
// is too short to say (the scan's first and last quarter side), which a slope would bias.
std::vector<double> Levels(const std::vector<ScanPoint>& p, double gap, double side)
{
    const std::size_t n = p.size();
    std::vector<double> levels(n), values;
    std::size_t leftFrom = 0, leftTo = 0, rightFrom = 0, rightTo = 0;  // [from, to) of each side
    for (std::size_t i = 0; i < n; ++i) {
        const double e = p[i].energy;
        while (leftFrom < n && p[leftFrom].energy < e - gap - side) ++leftFrom;
        while (leftTo < n && p[leftTo].energy <= e - gap) ++leftTo;
        while (rightFrom < n && p[rightFrom].energy < e + gap) ++rightFrom;
        while (rightTo < n && p[rightTo].energy <= e + gap + side) ++rightTo;
        double level = std::numeric_limits<double>::infinity();
        for (const auto& [from, to] : {std::pair{leftFrom, leftTo}, std::pair{rightFrom, rightTo}}) {
            if (to < from + 3 || p[to - 1].energy - p[from].energy < side / 4.0) {
                level = 0.0;
                break;
            }
            values.clear();
            for (std::size_t k = from; k < to; ++k) values.push_back(p[k].intensity);
            level = std::min(level, Quantile(values, kLevelQuantile));
        }
        levels[i] = level;
    }
    return levels;
}

}  // namespace

DipSearch FindDips(std::vector<ScanPoint> points, double eMin, double eMax)
{
    DipSearch search;
    const std::vector<ScanPoint> p = Sorted(std::move(points), eMin, eMax);
    const std::size_t n = p.size();
    search.points = static_cast<int>(n);
    if (n < 5) return search;
    std::vector<double> steps;
    for (std::size_t i = 1; i < n; ++i) steps.push_back((p[i].energy - p[i - 1].energy) * 1000.0);
    search.stepEV = Quantile(steps, 0.5);
    const double gap = std::max(kGapEV, 2.0 * search.stepEV) / 1000.0;
    const double side = std::max(kSideEV, 10.0 * search.stepEV) / 1000.0;
    const std::vector<double> levels = Levels(p, gap, side);
    std::vector<double> depth(n);
    for (std::size_t i = 0; i < n; ++i) depth[i] = levels[i] > 0.0 ? 1.0 - p[i].intensity / levels[i] : 0.0;
    // The noise from neighbouring differences, which a slope or a dip hardly touches.
    std::vector<double> differences;
    for (std::size_t i = 1; i < n; ++i) differences.push_back(std::fabs(depth[i] - depth[i - 1]));
    search.noise = 1.4826 * Quantile(differences, 0.5) / std::sqrt(2.0);
    search.threshold = std::max(kNoiseDeviations * search.noise, kShallowest);
    // A run of points deeper than half the threshold holds one dip for each of its peaks that the
    // others leave standing: a peak counts apart from a deeper one when the points between them
    // rise to less than half its depth. Its centre is weighed over the points around it deeper
    // than half its depth.
    for (std::size_t i = 0; i < n;) {
        if (!(depth[i] > search.threshold / 2.0)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < n && depth[end] > search.threshold / 2.0) ++end;
        std::vector<std::size_t> peaks;
        for (std::size_t k = i; k < end; ++k) {
            const bool top = (k == i || depth[k] >= depth[k - 1]) && (k + 1 == end || depth[k] > depth[k + 1]);
            if (top && depth[k] > search.threshold) peaks.push_back(k);
        }
        std::stable_sort(peaks.begin(), peaks.end(), [&](std::size_t a, std::size_t b) { return depth[a] > depth[b]; });
        std::vector<std::size_t> kept;
        for (const std::size_t k : peaks) {
            const bool apart = std::all_of(kept.begin(), kept.end(), [&](std::size_t m) {
                const auto [from, to] = std::minmax(k, m);
                const double lowest = *std::min_element(depth.begin() + static_cast<std::ptrdiff_t>(from),
                                                        depth.begin() + static_cast<std::ptrdiff_t>(to) + 1);
                return lowest < depth[k] / 2.0;
            });
            if (apart) kept.push_back(k);
        }
        for (const std::size_t k : kept) {
            const double d = depth[k];
            std::size_t from = k, to = k;
            while (from > i && depth[from - 1] > d / 2.0) --from;
            while (to + 1 < end && depth[to + 1] > d / 2.0) ++to;
            double weight = 0.0, sum = 0.0;
            for (std::size_t m = from; m <= to; ++m) weight += depth[m], sum += depth[m] * p[m].energy;
            // The width between the half-depth crossings, each placed linearly between the
            // points on either side of it (at most one step beyond the points deeper than half).
            const auto crossing = [&](std::size_t inside, std::size_t outside) {
                const double share = (depth[inside] - d / 2.0) / (depth[inside] - depth[outside]);
                return p[inside].energy + share * (p[outside].energy - p[inside].energy);
            };
            const double low = from > 0 ? crossing(from, from - 1) : p[from].energy;
            const double high = to + 1 < n ? crossing(to, to + 1) : p[to].energy;
            search.dips.push_back({sum / weight, d, (high - low) * 1000.0});
        }
        i = end;
    }
    std::sort(search.dips.begin(), search.dips.end(),
              [](const MeasuredDip& a, const MeasuredDip& b) { return a.energy < b.energy; });
    return search;
}
