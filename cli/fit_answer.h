// What the console says of a fit of measured scans: the fitted psi with its offsets and
// significance, or why nothing fits, each scan's part, the azimuths the crystal's symmetry makes
// equivalent, and the beam's spread the dips' widths call for.
#pragma once

#include <string>

#include "cli/command_line.h"
#include "fit/beam_spread.h"
#include "fit/glitch_fit.h"

// "the dips of A.dat from 6 to 14 keV", "the dips of 3 scans".
std::string DipsNamed(const PlanOptions& plan);

// The fitted psi, offsets and significance as the console says them.
std::string FitAnswer(const GlitchFit& fit, const PlanOptions& plan);

// The second crystal's azimuth fitted to what the first left, or why there is none; and, where the
// first fit's tie with it was resolved, that the two crystals explain the scans together.
std::string SecondFitAnswer(const GlitchFit& second, const GlitchFit& first, bool tieResolved);

// The beam's spread across that the dips' widths call for, as the option that predicts with it.
std::string SpreadAnswer(const SpreadEstimate& spread, const GlitchFit& fit, const PlanOptions& plan);
