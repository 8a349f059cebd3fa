// The search of a glitch fit: the azimuth psi and the energy offsets (one for every scan, or one
// for all) that put the predicted glitch lines onto the measured dips.
//   1. Vote (fit/fit_vote.h): every azimuth bin and offset at which some line meets some dip is a
//      candidate, with a bound on the dips a solution there can pair.
//   2. Refine: the candidates are refined, best bound first, by least squares over the pairs of
//      dips and predicted glitches (each dip paired with the nearest glitch within the tolerance,
//      each glitch with one dip, the closest pairs first), until no candidate left could pair as
//      large a share as the best: the search is complete over the window and the offsets.
//   3. Rank: by the share of dips and deep predicted glitches that pair up, each pair counted less
//      the further it lies within the tolerance, then by the rms of the residuals.
// The same search scores the trials of the fit's significance, so it is kept cheap: the lines and
// their index are made once, a trial only moves the dips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/fit_pairs.h"
#include "fit/fit_scan.h"
#include "fit/fit_vote.h"

struct FitSolution {
    double psi = 0.0;
    std::vector<double> offsets;               // eV, per scan
    std::vector<std::vector<FitPair>> pairs;   // per scan, by dip
    // Per scan and pair: how far (eV) the paired line's dip lies from where its line places it, the
    // dip re-placed at its matched energy (Replaced); empty before.
    std::vector<std::vector<double>> placements;
    int matched = 0, dips = 0, predicted = 0;  // over every scan
    // 2 (matched - misfit) / (dips + the larger of matched and predicted), where the misfit sums
    // each pair's (residual / tolerance)^2: a pair at the edge of its tolerance counts as little
    // as a dip left unpaired, so that loose pairs of every dip do not outrank close pairs of most.
    double score = 0.0;
    double rms = 0.0;     // eV
    double scatter = 0.0; // the residuals' standard deviation about the fit, eV (rms when nothing is left to fit)
    // The standard errors, for the scatter (or the scans' placing of a dip where larger), widened
    // by Student's t for the pairs' degrees of freedom.
    double psiError = 0.0;                // degrees
    std::vector<double> offsetErrors;     // eV; NaN for a scan without pairs
    int freedom = 0;                      // pairs less fitted parameters
    bool stepLimited = false;             // the scans' placing of a dip, not the scatter, sets the errors
    double placingEV = 0.0;               // how well the scans place a dip: the floor of the errors' scatter
    bool determined = false;              // the pairs fix psi
    bool withinOffsets = false;           // every scan's offset within the widest offset
    // A calibrated solution: the dips read back through `scale` in place of offsets (the offsets
    // then hold each scan's largest shift, readback minus photon energy, and its error).
    bool calibrated = false;
    ReadbackScale scale;
    double angleOffsetError = 0.0, dRatioError = 0.0, correlation = 0.0;  // degrees, 1, and their correlation
    int matchedBefore = 0;                // the offset fit it started from: its dips paired and rms
    double rmsBefore = 0.0;

    bool Usable(const PsiWindow& window) const { return determined && withinOffsets && window.Contains(psi); }
};

// The factor that widens a standard error whose scatter was estimated from `freedom` degrees of
// freedom so that it holds 68.27 % of Student's t distribution; none left counts as one.
double StudentFactor(int freedom);

// psi brought into the window: a full circle's first turn, or left where it is.
double IntoWindow(double psi, const PsiWindow& window);

// The solution's score from its pairs, dips and predicted glitches (the scans' tolerances weigh
// the residuals).
double ScoreOf(const FitSolution& s, const std::vector<SearchScan>& scans);

// True when `a` fits at least as well as `b`: a higher score, or the same with an rms no larger.
bool AtLeastAsGood(const FitSolution& a, const FitSolution& b);

// Every refined candidate, best first (usable or not): every candidate whose bound could reach the
// score of the best usable solution, and so every one that could tie with it. With `against`, the
// search only asks whether a usable solution at least as good as that one exists: it stops at the
// first (which it returns alone), or once no candidate could reach it.
std::vector<FitSolution> SearchFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                   const SearchSetup& setup, VoteGrid* grid, const FitSolution* against = nullptr);

// The solution with its pairs kept and each paired line's dip moved by `placements` (per scan, per
// pair, eV): psi and the offsets fitted again to the residuals from the dips so placed, their
// errors for the larger of the residuals' scatter and `placingEV`, how far the dips' centres move
// with where a scan's samples fall (in place of the step's uniform share of it).
FitSolution Replaced(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
                     FitSolution solution, std::vector<std::vector<double>> placements, double placingEV);

// The solution refined from psi and the offsets, its first steps pairing within each scan's
// tolerance widened by `widenDegrees` of each line's slope (how far psi may lie from the start).
FitSolution RefineFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                      const SearchSetup& setup, double psi, std::vector<double> offsets, double widenDegrees = 0.0);
