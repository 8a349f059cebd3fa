// What the dip search of measured scans (fit/measured_dips.h) finds of a predicted glitch: its
// profile alone sampled at a scan's step, averaged over where the samples fall. A dip narrower than
// the step is measured about a step wide; one beside a rise of I0 (X moving G's band) is measured
// against that rise, its centre off its deepest point.
#pragma once

#include "dynamics/glitch_depth.h"

struct SampledDip {
    bool found = false;
    double centreEV = 0.0;  // from the glitch's energy, eV (of the profile's energy scale)
    double widthEV = 0.0;
};

SampledDip SampleDip(const GlitchShape& shape, double stepEV);
