// The beam's spread across G's scattering plane read from the widths of a fit's matched dips: the
// spread at which the glitches' predicted widths (dynamics/glitch_depth.h) best match the measured
// ones, so that predicting at the fitted azimuth with the fitted beam is one option away.
#pragma once

#include <string>
#include <vector>

#include "crystal/crystal.h"
#include "dynamics/glitch_depth.h"
#include "fit/glitch_fit.h"
#include "fit/measured_dips.h"
#include "scan/scan_frame.h"

struct SpreadEstimate {
    bool found = false;
    std::string why;     // without an estimate: why not
    double across = 0.0;  // rad: the beam's full spread across G's plane
    // rad: the spreads within one standard error of it; low 0 where the widths do not tell it from
    // an unspread beam (within two standard errors; dips measured about as wide as the scan's step
    // makes them), high then the widest spread within two standard errors.
    double low = 0.0, high = 0.0;
    // The scatter of the dips about it: the measured widths lie within this factor of the predicted
    // ones for about two dips in three (the geometric standard deviation of their ratios).
    double factor = 1.0;
    int dips = 0;         // the dips it rests on
};

// At most this many of the deepest matched dips are used.
inline constexpr int kMostSpreadDips = 24;

// The spread that fits the widths of `fit`'s matched dips (of `scans`, in the fit's order) best, on
// a log scale, each predicted width as its scan's step measures it, for the request's beam otherwise.
SpreadEstimate EstimateSpread(const Crystal& crystal, const ScanFrame& frame, const GlitchFit& fit, const std::vector<DipSearch>& scans,
                              const FitRequest& request);
