// The vote of a glitch fit: for every energy offset on a grid (a step of two tolerances) within
// the widest offset, each scan's deepest dips mark the azimuths (in bins of 0.05 degree, wider
// where the offsets are many) at which one of its visible lines passes within a tolerance, each
// dip once per bin; an azimuth's count is, with an offset each, the sum of every scan's best
// offset's count, with one offset, the count of the best common offset. The best-counted azimuths,
// one per neighbourhood of each and its symmetric images, are the candidates refined.
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
};

struct FitCandidate {
    double psi;
    std::vector<double> offsets;  // eV, per scan
};

// At most `refined` candidates, best-counted first; `binWidth` receives the bins' width (degrees).
std::vector<FitCandidate> Vote(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                               const SearchSetup& setup, std::size_t refined, VoteGrid* grid, double* binWidth);
