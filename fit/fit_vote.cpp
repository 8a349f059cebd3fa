#include "fit/fit_vote.h"

#include <algorithm>
#include <cmath>

#include "fit/fit_lines.h"

namespace {

// The best-counted azimuths refined are each the best of its neighbourhood of kApartDegrees.
constexpr double kApartDegrees = 0.1;
// The vote's bins: this wide, or wider where the offsets are many, so that the grid stays small.
constexpr double kFinestBinDegrees = 0.05;
constexpr double kMostCells = 1 << 21;

// The vote's width: the pairs a vote counts lie within it of an offset of the grid.
double VoteWidth(const SearchScan& scan) { return scan.toleranceEV; }

// The vote's bins over the window: a full circle is one turn from its start.
struct Bins {
    double start, width, binWidth;
    int count;
    bool full;

    Bins(const PsiWindow& window, int offsets)
        : start(window.min), width(std::min(window.max - window.min, 360.0)), full(window.FullCircle())
    {
        const double finest = std::max(kFinestBinDegrees, width * offsets / kMostCells);
        count = std::max(1, static_cast<int>(std::ceil(width / finest)));
        binWidth = width / count;
    }
    double Centre(int bin) const { return start + (bin + 0.5) * binWidth; }
    // Calls mark(first, last) for the bins of [a, b] (b - a below 360) inside the window.
    template <typename Mark>
    void Span(double a, double b, Mark&& mark) const
    {
        const double from = a - 360.0 * std::floor((a - start) / 360.0);  // in [start, start + 360)
        const double to = from + (b - a);
        const auto part = [&](double s, double e) {
            e = std::min(e, start + width);
            if (s > e) return;
            const int first = std::clamp(static_cast<int>((s - start) / binWidth), 0, count - 1);
            const int last = std::clamp(static_cast<int>((e - start) / binWidth), 0, count - 1);
            mark(first, last);
        };
        part(from, to);
        if (to > start + 360.0) part(start, to - 360.0);
    }
};

// The offsets of the vote's grid: -reach * step .. reach * step.
struct OffsetGrid {
    double step;
    int reach;
    int Count() const { return 2 * reach + 1; }
    double At(int k) const { return step * (k - reach); }
};

// One group of scans sharing an offset (every scan, or one) votes; each azimuth bin's best
// offset's count is added to the total, and the offset (its index + 1) kept in `offsetOf`.
void VoteGroup(const std::vector<std::size_t>& group, const std::vector<SearchScan>& scans,
               const std::vector<std::vector<MeasuredDip>>& dips, const Bins& bins, const OffsetGrid& offsets,
               double voteWidth, VoteGrid* grid, std::uint16_t* offsetOf)
{
    const int nOffsets = offsets.Count();
    std::vector<double> reach(static_cast<std::size_t>(nOffsets) + 1);
    for (const std::size_t s : group) {
        for (const std::size_t d : scans[s].voters) {
            if (++grid->token == 0) {  // wrapped: no stamp may match a fresh token
                std::fill(grid->stamps.begin(), grid->stamps.end(), std::uint16_t{0});
                grid->token = 1;
            }
            const double energy = dips[s][d].energy;
            // Boundary j lies at the energy the dip has between the offsets j - 1 and j of the grid.
            const double highest = energy - (offsets.At(0) - voteWidth) / 1000.0;
            for (const FitLine& line : scans[s].voting) {
                if (highest < line.top) continue;
                for (int j = 0; j <= nOffsets; ++j) {
                    const double e = highest - 2.0 * voteWidth * j / 1000.0;
                    reach[static_cast<std::size_t>(j)] = e < line.top ? -1.0 : line.Reach(e);
                    if (e < line.top) break;
                }
                for (int k = 0; k < nOffsets; ++k) {
                    const double far = reach[static_cast<std::size_t>(k)];
                    if (far < 0.0) break;  // the rest lie below the line's top
                    const double near = std::max(0.0, reach[static_cast<std::size_t>(k) + 1]);
                    // Bin-major cells: the offsets of one line near one bin lie together.
                    const auto mark = [&](int first, int last) {
                        for (int b = first; b <= last; ++b) {
                            const std::size_t cell = static_cast<std::size_t>(b) * static_cast<std::size_t>(nOffsets) +
                                                     static_cast<std::size_t>(k);
                            if (grid->stamps[cell] == grid->token) continue;
                            grid->stamps[cell] = grid->token;
                            if (grid->counts[cell]++ == 0) grid->touched.push_back(static_cast<std::uint32_t>(cell));
                        }
                    };
                    bins.Span(line.centre + near, line.centre + far, mark);
                    bins.Span(line.centre - far, line.centre - near, mark);
                }
            }
        }
    }
    // Each bin's best offset (the smallest of the best counts' on a tie).
    std::vector<std::uint32_t>& binsTouched = grid->binsTouched;
    binsTouched.clear();
    for (const std::uint32_t cell : grid->touched) {
        const std::uint32_t b = cell / static_cast<std::uint32_t>(nOffsets);
        const auto k = static_cast<std::uint16_t>(cell % static_cast<std::uint32_t>(nOffsets));
        VoteGrid::Best& best = grid->best[b];
        const std::uint16_t count = grid->counts[cell];
        if (best.count == 0) binsTouched.push_back(b);
        if (count > best.count || (count == best.count && std::abs(k - offsets.reach) < std::abs(best.offset - offsets.reach))) {
            best = {count, k};
        }
        grid->counts[cell] = 0;
    }
    grid->touched.clear();
    for (const std::uint32_t b : binsTouched) {
        if (grid->total[b] == 0) grid->totalTouched.push_back(b);
        grid->total[b] = static_cast<std::uint16_t>(grid->total[b] + grid->best[b].count);
        offsetOf[b] = static_cast<std::uint16_t>(grid->best[b].offset + 1);
        grid->best[b] = {0, 0};
    }
}

}  // namespace

std::vector<FitCandidate> Vote(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                            const SearchSetup& setup, std::size_t refined, VoteGrid* grid, double* binWidth)
{
    double voteWidth = 0.0;
    for (const SearchScan& scan : scans) voteWidth = std::max(voteWidth, VoteWidth(scan));
    const OffsetGrid offsets{2.0 * voteWidth, static_cast<int>(std::ceil(setup.widestOffsetEV / (2.0 * voteWidth)))};
    const Bins bins(setup.window, offsets.Count());
    *binWidth = bins.binWidth;
    const auto nb = static_cast<std::size_t>(bins.count);
    const std::vector<std::vector<std::size_t>> groups = OffsetGroups(scans.size(), setup.oneOffset);
    if (grid->counts.size() != nb * static_cast<std::size_t>(offsets.Count())) {
        grid->counts.assign(nb * static_cast<std::size_t>(offsets.Count()), 0);
        grid->stamps.assign(grid->counts.size(), 0);
        grid->token = 0;
    }
    if (grid->total.size() != nb) {
        grid->total.assign(nb, 0);
        grid->best.assign(nb, {0, 0});
    }
    grid->offsetOf.assign(nb * groups.size(), 0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        VoteGroup(groups[g], scans, dips, bins, offsets, voteWidth, grid, grid->offsetOf.data() + g * nb);
    }
    // The bins by count (a counting sort), then by azimuth; one chosen per neighbourhood.
    std::uint16_t most = 0;
    for (const std::uint32_t b : grid->totalTouched) most = std::max(most, grid->total[b]);
    std::vector<std::uint32_t> starts(static_cast<std::size_t>(most) + 2, 0);
    for (const std::uint32_t b : grid->totalTouched) ++starts[most - grid->total[b] + 1];
    for (std::size_t c = 1; c < starts.size(); ++c) starts[c] += starts[c - 1];
    std::vector<std::uint32_t> ranked(grid->totalTouched.size());
    for (std::uint32_t b = 0; b < nb; ++b) {
        if (grid->total[b] > 0) ranked[starts[most - grid->total[b]]++] = b;
    }
    std::vector<std::uint32_t> chosen;
    for (const std::uint32_t b : ranked) {
        if (chosen.size() == refined) break;
        const double psi = bins.Centre(static_cast<int>(b));
        const bool near = std::any_of(chosen.begin(), chosen.end(), [&](std::uint32_t c) {
            return std::any_of(setup.symmetries.begin(), setup.symmetries.end(), [&](const AzimuthMap& map) {
                return std::fabs(AzimuthOffset(map(bins.Centre(static_cast<int>(c))), psi)) < kApartDegrees;
            });
        });
        if (!near) chosen.push_back(b);
    }
    std::vector<FitCandidate> candidates;
    for (const std::uint32_t b : chosen) {
        FitCandidate c{bins.Centre(static_cast<int>(b)), std::vector<double>(scans.size(), 0.0)};
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const std::uint16_t k = grid->offsetOf[g * nb + b];
            if (k == 0) continue;
            for (const std::size_t s : groups[g]) c.offsets[s] = offsets.At(k - 1);
        }
        candidates.push_back(std::move(c));
    }
    for (const std::uint32_t b : grid->totalTouched) grid->total[b] = 0;
    grid->totalTouched.clear();
    return candidates;
}

