// A dip as the model says a scan shows it: the profiles of the glitches near it, combined as the
// predicted spectrum combines them, sampled at the scan's step and found by the scan's own dip
// search, averaged over where the samples fall (a centre read off samples jumps by a step as they
// pass it; its mean over their places moves smoothly). Glitches that lie within each other's widths
// (the mirror pairs of a symmetric cut, the reflections met together near a high-symmetry azimuth)
// make one dip, which is where a measured scan's search puts it.
#pragma once

#include <vector>

#include "dynamics/glitch_depth.h"

struct ModelGlitch {
    GlitchShape shape;  // in eV of its order's energy scale
    double keV;         // its energy, in the fundamental's
};

struct ModelDip {
    double centreKeV;  // averaged over where the samples fall; NaN where the search finds none
    double spreadEV;   // the standard deviation of the centre over where the samples fall
};

// The dip the search finds nearest `nearKeV` among samples `stepEV` apart, the glitches all of
// order `order`, within `reachEV` of it wherever the samples fall.
ModelDip ModelDipAt(const std::vector<ModelGlitch>& glitches, int order, double stepEV, double nearKeV, double reachEV);
