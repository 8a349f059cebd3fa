// The azimuth fitted together with the monochromator's energy scale: psi, the encoder's angle
// offset delta and the d-spacing ratio d_ref / d, one for every scan of the run, in place of
// energy offsets. The dips' energies are readbacks, the predicted glitches photon energies
// (fit/readback_scale.h).
//
// The search starts from the offset search (fit/fit_search.h), which pairs the dips where one
// offset comes near the scale's shift: its best azimuths (no images of one another), each
// calibrated by turns of a least-squares fit of psi, delta and the ratio on the pairs and a
// re-pairing of every dip under the fitted scale, until the pairs stop changing. It is complete
// only as far as the offset search finds the right azimuth among its best starts; the trials of
// the significance run the same search, so p keeps its meaning.
#pragma once

#include <vector>

#include "fit/fit_search.h"

// The calibration's bounds: the angle offset in size (degrees) and the ratio's distance from 1.
// The shift at the scans' ends is bound by the widest offset besides.
inline constexpr double kWidestAngleOffsetDeg = 0.3;
inline constexpr double kWidestRatioChange = 1e-3;

// The calibrated solutions refined from the offset search's best starts, best first (usable or
// not). With `against`, only whether a usable one at least as good exists: the first (alone), or none.
std::vector<FitSolution> SearchCalibratedFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                             const SearchSetup& setup, VoteGrid* grid, const FitSolution* against = nullptr);

// The search the fit asks for: the calibrating one where the setup calibrates, else the offset
// search (SearchFit).
std::vector<FitSolution> SearchGlitchFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                         const SearchSetup& setup, VoteGrid* grid, const FitSolution* against = nullptr);

// The calibrated solution refined from psi and the scale, the dips first paired there.
FitSolution CalibratedFrom(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                           const SearchSetup& setup, double psi, const ReadbackScale& scale);

// The calibrated solution with its pairs kept and each paired line's dip moved by `placements`
// (per scan, per pair, eV of photon energy): psi, delta and the ratio fitted again, their errors
// for the larger of the residuals' scatter and `placingEV` (as Replaced for offsets).
FitSolution CalibratedReplaced(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                               const SearchSetup& setup, FitSolution solution, std::vector<std::vector<double>> placements,
                               double placingEV);
