// The vote of a glitch fit, which bounds what a refinement can find: for every energy offset on a
// grid (a step of two tolerances) within the widest offset, every dip of each scan marks the
// azimuths (in bins of 0.05 degree, wider where the offsets are many) at which one of the lines it
// may pair with passes within two tolerances of it at that offset, each dip once per bin and
// offset. A solution anywhere in a bin, at an offset whose nearest point of the grid is that one,
// pairs no more dips than the bin counts there: each pair lies within a tolerance of its offset,
// and its offset within a tolerance of the grid's point. With one offset for every scan (or one
// scan) each bin and offset is a candidate; with an offset each, each bin is, its count the sum
// of every scan's best offset's count, at those offsets. The candidates come best-counted first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/fit_scan.h"

// The bins of the vote, reused from vote to vote on one thread.
class VoteGrid {
public:
    std::vector<std::uint16_t> counts;
    std::vector<std::uint16_t> stamps;
    std::uint16_t token = 0;
    std::vector<std::uint32_t> touched;
    std::vector<std::uint16_t> total;
    std::vector<std::uint32_t> totalTouched;
    struct Best {
        std::uint16_t count;
        std::uint16_t offset;
    };
    std::vector<Best> best;
    std::vector<std::uint32_t> binsTouched;
    std::vector<std::uint16_t> offsetOf;  // per group and bin: its best offset's index + 1, 0 for none
    struct Counted {
        std::uint32_t place;  // the cell (bin and offset), or with an offset each, the bin
        std::uint16_t count;
    };
    std::vector<Counted> counted;
};

struct FitCandidate {
    double psi;
    std::vector<double> offsets;  // eV, per scan
    int bound;                    // no solution refined from it pairs more dips
    std::uint32_t bin;
    int offset;                   // the offset's point of the grid; -1 with an offset each
};

// The candidates of a vote, best-counted first (then by azimuth and offset).
class Ballot {
public:
    std::size_t Size() const { return ranked_.size(); }
    int Bound(std::size_t i) const { return ranked_[i].count; }
    FitCandidate Candidate(std::size_t i) const;
    // The bin and the offset's point of the grid (-1 with an offset each) of an azimuth and offset.
    std::uint32_t BinOf(double psi) const;
    int OffsetPointOf(double offsetEV) const;
    double binWidth = 0.0;

private:
    friend Ballot Vote(const std::vector<SearchScan>&, const std::vector<std::vector<MeasuredDip>>&, const SearchSetup&, int,
                       VoteGrid*);
    std::vector<VoteGrid::Counted> ranked_;
    const VoteGrid* grid_ = nullptr;
    std::size_t scans_ = 0, groups_ = 0;
    double start_ = 0.0, width_ = 0.0, offsetStep_ = 0.0;
    int offsetReach_ = 0, bins_ = 0;
};

// The candidates that count `least` dips or more. The ballot reads the grid, which must outlive it
// and not vote again meanwhile.
Ballot Vote(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
            int least, VoteGrid* grid);
