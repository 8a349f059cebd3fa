#include "fit/fit_scan.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The deepest dips of a scan that vote for the azimuth; the rest join in the refinement.
constexpr std::size_t kVotingDips = 24;

}  // namespace

SearchScan::SearchScan(ScanRange r, double tolerance, std::vector<FitLine> lines, const std::vector<MeasuredDip>& dips,
                       double widestOffsetEV)
    : range(r), toleranceEV(tolerance)
{
    std::vector<std::size_t> byDepth(dips.size());
    for (std::size_t i = 0; i < dips.size(); ++i) byDepth[i] = i;
    std::stable_sort(byDepth.begin(), byDepth.end(), [&](std::size_t a, std::size_t b) { return dips[a].depth > dips[b].depth; });
    byDepth.resize(std::min(byDepth.size(), kVotingDips));
    voters = std::move(byDepth);
    std::sort(voters.begin(), voters.end());
    // The deepest dips vote with the lines a scan of as many dips shows; lines down to half the
    // depth of those the whole scan shows may pair with a dip: a depth is a model's.
    const double voting = VisibleWeight(lines, voters.size(), range);
    visible = VisibleWeight(lines, dips.size(), range);
    for (const FitLine& line : lines) {
        if (line.weight >= voting) this->voting.push_back(line);
        if (line.weight >= visible / 2.0) pairing.push_back(line);
    }
    active.resize(360);
    const double margin = (widestOffsetEV + kLookupMarginEV) / 1000.0;
    for (std::size_t i = 0; i < pairing.size(); ++i) {
        const FitLine& line = pairing[i];
        const double inner = line.Reach(range.eMin - margin), outer = line.Reach(range.eMax + margin);
        // The line lies in the range from inner to outer degrees on either side of its centre.
        for (const auto& [a, b] : {std::pair{line.centre + inner, line.centre + outer}, std::pair{line.centre - outer, line.centre - inner}}) {
            for (double degree = std::floor(a); degree <= std::floor(b); degree += 1.0) {
                const double turn = degree - 360.0 * std::floor(degree / 360.0);
                std::vector<std::uint32_t>& bin = active[static_cast<std::size_t>(turn) % 360];
                if (bin.empty() || bin.back() != i) bin.push_back(static_cast<std::uint32_t>(i));
            }
        }
    }
}

std::vector<std::vector<std::size_t>> OffsetGroups(std::size_t scans, bool oneOffset)
{
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t s = 0; s < scans; ++s) {
        if (oneOffset && !groups.empty()) {
            groups.front().push_back(s);
        } else {
            groups.push_back({s});
        }
    }
    return groups;
}

