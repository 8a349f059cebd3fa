#include "fit/fit_vote.h"

#include <algorithm>
#include <cmath>

#include "fit/fit_lines.h"

namespace {

// The vote's bins: this wide, or wider where the offsets are many, so that the grid stays small.
constexpr double kFinestBinDegrees = 0.05;
constexpr double kMostCells = 1 << 21;

// The vote's bins over the window: a full circle is one turn from its start.
struct Bins {
    double start, width, binWidth;
    int count;

    Bins(const PsiWindow& window, int offsets) : start(window.min), width(std::min(window.max - window.min, 360.0))
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
// offset's count is added to the total, and the offset (its index + 1) kept in `offsetOf`. With one
// group, every cell counting `least` dips or more is kept in grid->counted.
void VoteGroup(const std::vector<std::size_t>& group, const std::vector<SearchScan>& scans,
               const std::vector<std::vector<MeasuredDip>>& dips, const Bins& bins, const OffsetGrid& offsets, bool keepCells,
               int least, VoteGrid* grid, std::uint16_t* offsetOf)
{
    const int nOffsets = offsets.Count();
    std::vector<double> reach(static_cast<std::size_t>(nOffsets) + 2);
    // Once no cell can reach `least` with every dip still to vote, no cell will: the vote stops.
    int toVote = 0;
    for (const std::size_t s : group) toVote += static_cast<int>(dips[s].size());
    int most = 0;
    for (const std::size_t s : group) {
        // A pair lies within the scan's tolerance of its offset, its offset within half a step of
        // the grid's point.
        const double width = (scans[s].toleranceEV + offsets.step / 2.0) / 1000.0;
        // Where the width is a step, each window's ends are its neighbours' centres: one reach each.
        const bool shared = std::fabs(width * 1000.0 - offsets.step) < 1e-9;
        for (const MeasuredDip& dip : dips[s]) {
            if (++grid->token == 0) {  // wrapped: no stamp may match a fresh token
                std::fill(grid->stamps.begin(), grid->stamps.end(), std::uint16_t{0});
                grid->token = 1;
            }
            const auto centre = [&](int k) { return dip.energy - offsets.At(k) / 1000.0; };
            for (const FitLine& line : scans[s].pairing) {
                if (centre(0) + width < line.top) continue;  // every window lies below the line's top
                if (shared) {
                    // reach[j] at the centre of window j - 1, j from 0 (above the first) to nOffsets + 1.
                    for (int j = 0; j <= nOffsets + 1; ++j) {
                        const double e = centre(j - 1);
                        reach[static_cast<std::size_t>(j)] = e < line.top ? 0.0 : line.Reach(e);
                        if (e < line.top) break;
                    }
                }
                for (int k = 0; k < nOffsets; ++k) {
                    if (centre(k) + width < line.top) break;  // higher offsets lie further below the line's top
                    const double far = shared ? reach[static_cast<std::size_t>(k)] : line.Reach(centre(k) + width);
                    const double near = shared ? (centre(k + 1) < line.top ? 0.0 : reach[static_cast<std::size_t>(k) + 2])
                                               : line.Reach(centre(k) - width);
                    // Bin-major cells: the offsets of one line near one bin lie together.
                    const auto mark = [&](int first, int last) {
                        for (int b = first; b <= last; ++b) {
                            const std::size_t cell = static_cast<std::size_t>(b) * static_cast<std::size_t>(nOffsets) +
                                                     static_cast<std::size_t>(k);
                            if (grid->stamps[cell] == grid->token) continue;
                            grid->stamps[cell] = grid->token;
                            if (grid->counts[cell]++ == 0) grid->touched.push_back(static_cast<std::uint32_t>(cell));
                            most = std::max<int>(most, grid->counts[cell]);
                        }
                    };
                    bins.Span(line.centre + near, line.centre + far, mark);
                    bins.Span(line.centre - far, line.centre - near, mark);
                }
            }
            if (keepCells && most + --toVote < least) {
                for (const std::uint32_t cell : grid->touched) grid->counts[cell] = 0;
                grid->touched.clear();
                return;
            }
        }
    }
    // The cells that count enough, in order of azimuth and offset.
    if (keepCells) {
        for (std::size_t cell = 0; cell < grid->counts.size(); ++cell) {
            if (grid->counts[cell] >= least) grid->counted.push_back({static_cast<std::uint32_t>(cell), grid->counts[cell]});
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

FitCandidate Ballot::Candidate(std::size_t i) const
{
    const std::uint32_t place = ranked_[i].place;
    const auto nOffsets = static_cast<std::uint32_t>(2 * offsetReach_ + 1);
    const std::uint32_t bin = groups_ == 1 ? place / nOffsets : place;
    FitCandidate c{start_ + (bin + 0.5) * binWidth, std::vector<double>(scans_, 0.0), ranked_[i].count, bin, -1};
    if (groups_ == 1) {
        c.offset = static_cast<int>(place % nOffsets);
        c.offsets.assign(scans_, offsetStep_ * (c.offset - offsetReach_));
        return c;
    }
    for (std::size_t g = 0; g < groups_; ++g) {
        const std::uint16_t k = grid_->offsetOf[g * static_cast<std::size_t>(bins_) + bin];
        if (k > 0) c.offsets[g] = offsetStep_ * (k - 1 - offsetReach_);
    }
    return c;
}

std::uint32_t Ballot::BinOf(double psi) const
{
    const double turn = psi - start_ - 360.0 * std::floor((psi - start_) / 360.0);
    return static_cast<std::uint32_t>(std::clamp(static_cast<int>(turn / binWidth), 0, bins_ - 1));
}

int Ballot::OffsetPointOf(double offsetEV) const
{
    if (groups_ != 1) return -1;
    return std::clamp(static_cast<int>(std::lround(offsetEV / offsetStep_)) + offsetReach_, 0, 2 * offsetReach_);
}

Ballot Vote(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
            int least, VoteGrid* grid)
{
    double tolerance = 0.0;
    for (const SearchScan& scan : scans) tolerance = std::max(tolerance, scan.toleranceEV);
    const OffsetGrid offsets{2.0 * tolerance, static_cast<int>(std::ceil(setup.widestOffsetEV / (2.0 * tolerance)))};
    const Bins bins(setup.window, offsets.Count());
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
    grid->counted.clear();
    const bool cells = groups.size() == 1;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        VoteGroup(groups[g], scans, dips, bins, offsets, cells, least, grid, grid->offsetOf.data() + g * nb);
    }
    if (!cells) {
        for (std::uint32_t b = 0; b < nb; ++b) {
            if (grid->total[b] >= least) grid->counted.push_back({b, grid->total[b]});
        }
    }
    for (const std::uint32_t b : grid->totalTouched) grid->total[b] = 0;
    grid->totalTouched.clear();
    // By count (a counting sort), then by azimuth and offset.
    std::uint16_t most = 0;
    for (const VoteGrid::Counted& c : grid->counted) most = std::max(most, c.count);
    std::vector<std::size_t> starts(static_cast<std::size_t>(most) + 2, 0);
    for (const VoteGrid::Counted& c : grid->counted) ++starts[static_cast<std::size_t>(most - c.count) + 1];
    for (std::size_t k = 1; k < starts.size(); ++k) starts[k] += starts[k - 1];
    Ballot ballot;
    ballot.ranked_.resize(grid->counted.size());
    for (const VoteGrid::Counted& c : grid->counted) ballot.ranked_[starts[static_cast<std::size_t>(most - c.count)]++] = c;
    ballot.binWidth = bins.binWidth;
    ballot.grid_ = grid;
    ballot.scans_ = scans.size();
    ballot.groups_ = groups.size();
    ballot.start_ = bins.start, ballot.width_ = bins.width;
    ballot.offsetStep_ = offsets.step, ballot.offsetReach_ = offsets.reach, ballot.bins_ = bins.count;
    return ballot;
}
