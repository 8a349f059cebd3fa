// One measured scan as the search of a glitch fit sees it, made once for the fit and the trials
// of its significance: its range and tolerance and the lines a dip may pair with, looked up by the
// degree of psi they pass through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/fit_lines.h"
#include "fit/measured_dips.h"
#include "scan/symmetric_azimuths.h"

struct SearchScan {
    ScanRange range;
    double toleranceEV = 0.0;          // a dip pairs with a glitch at most this far
    double positionEV = 0.0;           // how well the scan places a dip at best: its step over sqrt(12)
    std::vector<FitLine> pairing;      // the lines a dip may pair with, deepest first
    double visible = 0.0;              // the weight of a line the scan shows: the predicted glitches
    std::vector<std::vector<std::uint32_t>> active;  // per degree of psi, the pairing lines in the range there

    SearchScan(ScanRange range, double toleranceEV, std::vector<FitLine> lines, const std::vector<MeasuredDip>& dips,
               double widestOffsetEV);
    // The glitches the scan can show inside its range, on average over a turn of psi.
    double MeanShown() const;
};

struct SearchSetup {
    PsiWindow window{-180.0, 180.0};
    double widestOffsetEV = 25.0;
    bool oneOffset = false;  // one offset for every scan
    // The crystal's maps of azimuths with one spectrum: the candidates refined are no images of
    // one another.
    std::vector<AzimuthMap> symmetries{{1, 0.0}};
};

// The scans that share an offset: each alone, or all together.
std::vector<std::vector<std::size_t>> OffsetGroups(std::size_t scans, bool oneOffset);

// Lines are looked up by the degree of psi they pass through in the range widened by this (eV)
// beside the widest offset, which covers what a steep line moves over a bin of the vote.
inline constexpr double kLookupMarginEV = 60.0;
