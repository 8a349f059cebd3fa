#include "fit/measured_dips.h"

#include <algorithm>
#include <bit>
#include <cstdint>
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
// A side shorter than this share of its length (the scan's first and last stretch) gives no level.
constexpr double kShortestSide = 0.25;
double GapEV(double stepEV) { return std::max(kGapEV, 2.0 * stepEV); }
double SideEV(double stepEV) { return std::max(kSideEV, 10.0 * stepEV); }
// The level of a side: its upper quartile, above the dips and the noise that share it.
constexpr double kLevelQuantile = 0.75;
// A dip is deeper than this many noise deviations, and than this share of I0.
constexpr double kNoiseDeviations = 5.0;

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
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size();) {
        double mean = points[i].intensity;
        std::size_t j = i + 1;
        for (; j < points.size() && points[j].energy == points[i].energy; ++j) {
            mean += (points[j].intensity - mean) / static_cast<double>(j - i + 1);
        }
        points[kept++] = {points[i].energy, mean};
        i = j;
    }
    points.resize(kept);
    return points;
}

// The ranks (of the points' intensities, ties by index) inside a window sliding along the scan,
// one bit each, and the k-th smallest of them followed as the window moves: it moves little from
// point to point, from one held rank to the next, so that a long scan costs a few words a point.
class SlidingQuantile {
public:
    explicit SlidingQuantile(std::size_t n) : bits_((n + 63) / 64 + 1, 0) {}
    void Add(std::size_t rank)
    {
        bits_[rank / 64] |= std::uint64_t{1} << (rank % 64);
        below_ += rank < at_;
    }
    void Remove(std::size_t rank)
    {
        bits_[rank / 64] &= ~(std::uint64_t{1} << (rank % 64));
        below_ -= rank < at_;
    }
    // The k-th smallest rank held (from 0); k below the number held.
    std::size_t Find(std::size_t k)
    {
        while (below_ > k) at_ = Previous(at_), --below_;
        while (!(Held(at_) && below_ == k)) {
            if (Held(at_)) ++below_;
            at_ = Next(at_);
        }
        return at_;
    }

private:
    bool Held(std::size_t rank) const { return (bits_[rank / 64] >> (rank % 64) & 1) != 0; }
    // The nearest held rank above `rank`, and below it (one is there).
    std::size_t Next(std::size_t rank) const
    {
        std::size_t w = (rank + 1) / 64;
        std::uint64_t word = bits_[w] & (~std::uint64_t{0} << ((rank + 1) % 64));
        while (word == 0) word = bits_[++w];
        return w * 64 + static_cast<std::size_t>(std::countr_zero(word));
    }
    std::size_t Previous(std::size_t rank) const
    {
        std::size_t w = rank / 64;
        std::uint64_t word = rank % 64 == 0 ? 0 : bits_[w] & ((std::uint64_t{1} << (rank % 64)) - 1);
        while (word == 0) word = bits_[--w];
        return w * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word));
    }
    std::vector<std::uint64_t> bits_;
    std::size_t at_ = 0;     // the rank last found (held or not since)
    std::size_t below_ = 0;  // the ranks held below it
};

// Each point's surrounding level: the lower of its two sides' upper quartiles; 0 where a side
// is too short to say (the scan's first and last quarter side), which a slope would bias. Each
// side slides along the scan, its quartile read from the counts of its points' ranks.
std::vector<double> Levels(const std::vector<ScanPoint>& p, double gap, double side)
{
    const std::size_t n = p.size();
    std::vector<std::uint32_t> rank(n);
    std::vector<double> byRank(n);  // the intensity of each rank
    {
        std::vector<std::pair<double, std::uint32_t>> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = {p[i].intensity, static_cast<std::uint32_t>(i)};
        std::sort(order.begin(), order.end());
        for (std::size_t r = 0; r < n; ++r) rank[order[r].second] = static_cast<std::uint32_t>(r), byRank[r] = order[r].first;
    }
    struct Side {
        std::size_t from = 0, to = 0;  // [from, to) of the points
        SlidingQuantile ranks;
    };
    Side left{0, 0, SlidingQuantile(n)}, right{0, 0, SlidingQuantile(n)};
    const auto moveTo = [&](Side& s, std::size_t from, std::size_t to) {
        for (; s.to < to; ++s.to) s.ranks.Add(rank[s.to]);
        for (; s.from < from; ++s.from) s.ranks.Remove(rank[s.from]);
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
        for (Side* s : {&left, &right}) {
            if (s->to < s->from + 3 || p[s->to - 1].energy - p[s->from].energy < side * kShortestSide) {
                level = 0.0;
                break;
            }
            const std::size_t size = s->to - s->from;
            level = std::min(level, byRank[s->ranks.Find(static_cast<std::size_t>(kLevelQuantile * static_cast<double>(size - 1) + 0.5))]);
        }
        levels[i] = level;
    }
    return levels;
}

// The smallest of values[from..to] of a stretch, in O(log n): a segment tree of its minima.
class RangeMinimum {
public:
    RangeMinimum(const std::vector<double>& values, std::size_t from, std::size_t to) : offset_(from), size_(to - from + 1), tree_(2 * size_)
    {
        for (std::size_t i = 0; i < size_; ++i) tree_[size_ + i] = values[from + i];
        for (std::size_t i = size_ - 1; i > 0; --i) tree_[i] = std::min(tree_[2 * i], tree_[2 * i + 1]);
    }
    double Of(std::size_t a, std::size_t b) const
    {
        double lowest = std::numeric_limits<double>::infinity();
        for (std::size_t l = a - offset_ + size_, r = b - offset_ + size_ + 1; l < r; l /= 2, r /= 2) {
            if (l & 1) lowest = std::min(lowest, tree_[l++]);
            if (r & 1) lowest = std::min(lowest, tree_[--r]);
        }
        return lowest;
    }

private:
    std::size_t offset_, size_;
    std::vector<double> tree_;
};

// Intensities read as the change of I0 in percent where some are negative and all lie from -100
// to 100. An I0 may reach 0 (a glitch that takes the whole beam) and, after a dark
// current is subtracted, a little below it: by at most a hundredth of its median.
bool ReadAsPercentChange(const std::vector<ScanPoint>& p, DipSearch* search)
{
    if (p.empty()) return false;
    const auto [low, high] = std::minmax_element(p.begin(), p.end(), [](const ScanPoint& a, const ScanPoint& b) {
        return a.intensity < b.intensity;
    });
    search->lowest = low->intensity, search->highest = high->intensity;
    if (low->intensity >= 0.0) return false;
    if (low->intensity >= -100.0 && high->intensity <= 100.0) return true;
    std::vector<double> intensities;
    for (const ScanPoint& point : p) intensities.push_back(point.intensity);
    if (-low->intensity <= 0.01 * Quantile(intensities, 0.5)) return false;
    throw std::domain_error(Printed("its intensities run from %g to %g: not an I0, which does not go below 0, nor the change of "
                                    "I0 in percent, which lies from -100 to 100", low->intensity, high->intensity));
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
    {
        std::vector<double> steps;
        steps.reserve(n);
        for (std::size_t i = 1; i < n; ++i) steps.push_back((p[i].energy - p[i - 1].energy) * 1000.0);
        search.stepEV = Quantile(steps, 0.5);
    }
    const double gap = GapEV(search.stepEV) / 1000.0;
    const double side = SideEV(search.stepEV) / 1000.0;
    const std::vector<double> levels = Levels(p, gap, side);
    std::vector<double> depth(n);
    for (std::size_t i = 0; i < n; ++i) depth[i] = levels[i] > 0.0 ? 1.0 - p[i].intensity / levels[i] : 0.0;
    // The noise from neighbouring differences, which a slope or a dip hardly touches.
    std::vector<double> differences;
    differences.reserve(n);
    for (std::size_t i = 1; i < n; ++i) differences.push_back(std::fabs(depth[i] - depth[i - 1]));
    search.noise = 1.4826 * Quantile(differences, 0.5) / std::sqrt(2.0);
    search.threshold = std::max(kNoiseDeviations * search.noise, kShallowestDip);
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
        const RangeMinimum minimum(depth, i, end - 1);
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

double SearchReachEV(double stepEV) { return GapEV(stepEV) + SideEV(stepEV) * kShortestSide; }
