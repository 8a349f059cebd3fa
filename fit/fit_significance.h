// How often dips with no relation to the crystal fit as well as the measured ones: the same search
// run on trials in which each scan's dips are moved in energy, all by one amount, beyond what the
// offset search can reach (and wrapped round within the scan's range); a scan too short for that
// has its dips put at random energies of its range instead. Every trial keeps the dips' number,
// depths and (when moved) spacings. The false-alarm probability is
//   p = (1 + trials fitting at least as well) / (1 + trials),
// so that a fit no trial matches in 199 trials has p = 0.005. Once so many trials fit as well that
// p cannot come below the threshold, no more are run. The trials' random numbers come from fixed
// seeds: a fit is the same from run to run.
#pragma once

#include <vector>

#include "fit/fit_search.h"

struct Significance {
    double p = 1.0;
    int trials = 0, asGood = 0;
};

// The number of trials for the threshold: enough that two trials as good still leave p below it.
int TrialsFor(double threshold);

Significance TestSignificance(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                              const SearchSetup& setup, const FitSolution& fit, double threshold);
