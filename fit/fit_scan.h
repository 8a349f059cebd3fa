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
    // A calibrating search (above 0): the dips are read back through the monochromator's angle
    // offset and d-spacing ratio, fitted for every scan together, with the primary reflection's
    // d-spacing (angstrom), in place of energy offsets (fit/calibrated_fit.h).
    double calibrateDSpacing = 0.0;
    // The search refines every candidate whose bound reaches this share of the best score found
    // (1: those that could tie with it; less: more starts, for a calibrating search).
    double refineShare = 1.0;
    // Only candidates that may pair this many dips or more are refined.
    int leastPairs = 2;
};

// The scans that share an offset: each alone, or all together.
std::vector<std::vector<std::size_t>> OffsetGroups(std::size_t scans, bool oneOffset);

// Lines are looked up by the degree of psi they pass through in the range widened by this (eV)
// beside the widest offset, which covers what a steep line moves over a bin of the vote.
inline constexpr double kLookupMarginEV = 60.0;
