#include "planning/measured_dips.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <set>
#include <stdexcept>

#include "io/run_error.h"

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

// The points sorted by energy, equal energies merged into their mean intensity (a running mean:
// no sum of many large intensities overflows).
std::vector<ScanPoint> Sorted(std::vector<ScanPoint> points, double eMin, double eMax)
{
    std::erase_if(points, [&](const ScanPoint& p) { return !(p.energy >= eMin && p.energy <= eMax); });
    std::sort(points.begin(), points.end(), [](const ScanPoint& a, const ScanPoint& b) { return a.energy < b.energy; });
    std::vector<ScanPoint> merged;
    for (std::size_t i = 0; i < points.size();) {
        double mean = points[i].intensity;
        std::size_t j = i + 1;
        for (; j < points.size() && points[j].energy == points[i].energy; ++j) {
            mean += (points[j].intensity - mean) / static_cast<double>(j - i + 1);
        }
        merged.push_back({points[i].energy, mean});
        i = j;
    }
    return merged;
}

// A multiset of the points' intensities by rank (ties by index), from which the k-th smallest is
// read in O(log n): a Fenwick tree of counts.
class RankCounts {
public:
    explicit RankCounts(std::size_t n) : tree_(n + 1, 0), top_(1)
    {
        while (top_ * 2 <= n) top_ *= 2;
    }
    void Add(std::size_t rank, int change)
    {
        for (std::size_t i = rank + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += change;
    }
    // The rank of the k-th smallest (from 0) of those held.
    std::size_t Find(std::size_t k) const
    {
        std::size_t at = 0;
        for (std::size_t step = top_; step > 0; step /= 2) {
            if (at + step < tree_.size() && static_cast<std::size_t>(tree_[at + step]) <= k) {
                at += step;
                k -= static_cast<std::size_t>(tree_[at]);
            }
        }
        return at;  // the tree's index at + 1 holds it: rank at
    }

private:
    std::vector<int> tree_;
    std::size_t top_;
};

// Each point's surrounding level: the lower of its two sides' upper quartiles; 0 where a side
// is too short to say (the scan's first and last quarter side), which a slope would bias. Each
// side slides along the scan, its quartile read from the counts of its points' ranks.
std::vector<double> Levels(const std::vector<ScanPoint>& p, double gap, double side)
{
    const std::size_t n = p.size();
    std::vector<std::size_t> byIntensity(n), rank(n);
    for (std::size_t i = 0; i < n; ++i) byIntensity[i] = i;
    std::sort(byIntensity.begin(), byIntensity.end(), [&](std::size_t a, std::size_t b) {
        return p[a].intensity != p[b].intensity ? p[a].intensity < p[b].intensity : a < b;
    });
    for (std::size_t r = 0; r < n; ++r) rank[byIntensity[r]] = r;
    struct Side {
        std::size_t from = 0, to = 0;  // [from, to) of the points
        RankCounts counts;
    };
    Side left{0, 0, RankCounts(n)}, right{0, 0, RankCounts(n)};
    const auto moveTo = [&](Side& s, std::size_t from, std::size_t to) {
        for (; s.to < to; ++s.to) s.counts.Add(rank[s.to], +1);
        for (; s.from < from; ++s.from) s.counts.Add(rank[s.from], -1);
    };
    std::vector<double> levels(n);
    std::size_t leftFrom = 0, leftTo = 0, rightFrom = 0, rightTo = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double e = p[i].energy;
        while (leftFrom < n && p[leftFrom].energy < e - gap - side) ++leftFrom;
        while (leftTo < n && p[leftTo].energy <= e - gap) ++leftTo;
        while (rightFrom < n && p[rightFrom].energy < e + gap) ++rightFrom;
        while (rightTo < n && p[rightTo].energy <= e + gap + side) ++rightTo;
        moveTo(left, leftFrom, std::max(leftFrom, leftTo));
        moveTo(right, rightFrom, std::max(rightFrom, rightTo));
        double level = std::numeric_limits<double>::infinity();
        for (const Side* s : {&left, &right}) {
            if (s->to < s->from + 3 || p[s->to - 1].energy - p[s->from].energy < side / 4.0) {
                level = 0.0;
                break;
            }
            const std::size_t size = s->to - s->from;
            const auto k = static_cast<std::size_t>(kLevelQuantile * static_cast<double>(size - 1) + 0.5);
            level = std::min(level, p[byIntensity[s->counts.Find(k)]].intensity);
        }
        levels[i] = level;
    }
    return levels;
}

// The smallest of values[a..b] in O(1) after O(n log n): a sparse table of minima.
class RangeMinimum {
public:
    explicit RangeMinimum(const std::vector<double>& values) : table_{values}
    {
        for (std::size_t width = 1; 2 * width <= values.size(); width *= 2) {
            const std::vector<double>& last = table_.back();
            std::vector<double> next(values.size() - 2 * width + 1);
            for (std::size_t i = 0; i < next.size(); ++i) next[i] = std::min(last[i], last[i + width]);
            table_.push_back(std::move(next));
        }
    }
    double Of(std::size_t a, std::size_t b) const
    {
        std::size_t level = 0;
        while ((std::size_t{2} << level) <= b - a + 1) ++level;
        return std::min(table_[level][a], table_[level][b + 1 - (std::size_t{1} << level)]);
    }

private:
    std::vector<std::vector<double>> table_;
};

// Intensities read as the change of I0 in percent where some are negative and all lie above -100
// and at most 100. An I0 may reach 0 (a glitch that takes the whole beam) and, after a dark
// current is subtracted, a little below it: by at most a hundredth of its median.
bool ReadAsPercentChange(const std::vector<ScanPoint>& p, DipSearch* search)
{
    if (p.empty()) return false;
    const auto [low, high] = std::minmax_element(p.begin(), p.end(), [](const ScanPoint& a, const ScanPoint& b) {
        return a.intensity < b.intensity;
    });
    search->lowest = low->intensity, search->highest = high->intensity;
    if (low->intensity >= 0.0) return false;
    if (low->intensity > -100.0 && high->intensity <= 100.0) return true;
    std::vector<double> intensities;
    for (const ScanPoint& point : p) intensities.push_back(point.intensity);
    if (-low->intensity <= 0.01 * Quantile(intensities, 0.5)) return false;
    throw std::domain_error(Printed("its intensities run from %g to %g: not an I0, which does not go below 0, nor the change of "
                                    "I0 in percent, which lies above -100 and at most 100", low->intensity, high->intensity));
}

}  // namespace

DipSearch FindDips(std::vector<ScanPoint> points, double eMin, double eMax)
{
    DipSearch search;
    std::vector<ScanPoint> p = Sorted(std::move(points), eMin, eMax);
    const std::size_t n = p.size();
    search.points = static_cast<int>(std::min<std::size_t>(n, std::numeric_limits<int>::max()));
    if (n > 0) search.from = p.front().energy, search.to = p.back().energy;
    search.percentChange = ReadAsPercentChange(p, &search);
    if (search.percentChange) {
        for (ScanPoint& point : p) point.intensity += 100.0;
    }
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
    const RangeMinimum minimum(depth);
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
        // Taken deepest first, a peak stands apart from every deeper one kept when it does from
        // the nearest kept on each side: the points between it and a farther one include those.
        std::stable_sort(peaks.begin(), peaks.end(), [&](std::size_t a, std::size_t b) { return depth[a] > depth[b]; });
        std::vector<std::size_t> kept;
        std::set<std::size_t> keptAt;
        for (const std::size_t k : peaks) {
            const auto after = keptAt.upper_bound(k);
            const bool apartAfter = after == keptAt.end() || minimum.Of(k, *after) < depth[k] / 2.0;
            const bool apartBefore = after == keptAt.begin() || minimum.Of(*std::prev(after), k) < depth[k] / 2.0;
            if (apartAfter && apartBefore) {
                kept.push_back(k);
                keptAt.insert(k);
            }
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
