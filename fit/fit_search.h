// The search of a glitch fit: the azimuth psi and the energy offsets (one for every scan, or one
// for all) that put the predicted glitch lines onto the measured dips.
//   1. Vote (fit/fit_vote.h).
//   2. Refine: the candidates of the vote are refined by least squares over the pairs of dips
//      and predicted glitches (each dip paired with the nearest glitch within the tolerance, each
//      glitch with one dip, the closest pairs first).
//   3. Rank: by the share of dips and deep predicted glitches that pair up, then by the rms of the
//      residuals.
// The same search scores the trials of the fit's significance, so it is kept cheap: the lines and
// their index are made once, a trial only moves the dips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/fit_scan.h"
#include "fit/fit_vote.h"

struct FitPair {
    std::size_t dip, line;  // the dip of its scan, the line among the scan's pairing lines
    double residualEV;      // measured minus predicted, offset included
    double slope;           // dE/dpsi of the line there, eV per degree
    // The same dip and line.
    friend bool operator==(const FitPair& a, const FitPair& b) { return a.dip == b.dip && a.line == b.line; }
};

struct FitSolution {
    double psi = 0.0;
    std::vector<double> offsets;               // eV, per scan
    std::vector<std::vector<FitPair>> pairs;   // per scan, by dip
    int matched = 0, dips = 0, predicted = 0;  // over every scan
    double score = 0.0;   // 2 matched / (dips + the larger of matched and predicted)
    double rms = 0.0;     // eV
    double scatter = 0.0; // the residuals' standard deviation about the fit, eV (rms when nothing is left to fit)
    // The standard errors, for the scatter (or the scans' placing of a dip where larger), widened
    // by Student's t for the pairs' degrees of freedom.
    double psiError = 0.0;                // degrees
    std::vector<double> offsetErrors;     // eV; NaN for a scan without pairs
    int freedom = 0;                      // pairs less fitted parameters
    bool determined = false;              // the pairs fix psi
    bool withinOffsets = false;           // every scan's offset within the widest offset

    bool Usable(const PsiWindow& window) const { return determined && withinOffsets && window.Contains(psi); }
};

// True when `a` fits at least as well as `b`: a higher score, or the same with an rms no larger.
bool AtLeastAsGood(const FitSolution& a, const FitSolution& b);

// The best-counted azimuths refined by the search that scores a fit and its trials: a few, for
// speed; a wider look for other azimuths that fit as well refines more.
inline constexpr std::size_t kRefinedCandidates = 8;
inline constexpr std::size_t kRivalCandidates = 48;

// Every refined candidate, best first (usable or not).
std::vector<FitSolution> SearchFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                   const SearchSetup& setup, VoteGrid* grid, std::size_t refined = kRefinedCandidates);

// The solution refined from psi and the offsets, pairing within each scan's tolerance from the
// start.
FitSolution RefineFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                      const SearchSetup& setup, double psi, std::vector<double> offsets);
