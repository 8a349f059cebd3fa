// A glitch line's glitch along its stretch inside an energy range: the depth and the width in
// azimuth it has at points of the line from where it enters the range (or its top, where that lies
// inside) to where it leaves, evenly in energy. Lines that coincide (met together at every azimuth)
// take their dips together as the spectrum takes them, each its share of what the others leave (the
// lines of a circle share one dip: a caller leaves out those marked dipAtPartner).
#pragma once

#include <vector>

#include "dynamics/beam.h"
#include "glitches/glitches.h"

struct LineSample {
    double psi, keV;
    double depth;     // share of I0 the line's glitch takes
    double together;  // the share taken with the lines that coincide with it
    double widthDeg;  // in azimuth, the widest of theirs
};

// Each stretch of a line inside the range, its samples by azimuth: one stretch where the line's
// top lies inside the range, two where the line dips below EMIN about its centre (a line on the
// sphere at every energy: one point's samples, at its azimuth).
struct LineProfile {
    std::vector<std::vector<LineSample>> stretches;
    double deepest = 0.0;  // the largest depth of the line's own glitch inside the range
};

// The samples taken on either side of a line's top, its top and end among them.
inline constexpr int kLineSamples = 2;

// The profiles of `lines` (a glitch map over eMin to eMax keV), one for each, in order. Given a
// screen (a share of I0), a line whose glitch at its lowest point inside the range (its top, or
// where it meets EMIN) is no deeper than the screen is taken as that deep all along, unsampled
// elsewhere: a search that asks for depths ten times larger needs no more of it.
std::vector<LineProfile> LineProfiles(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, const Beam& beam,
                                      const std::vector<GlitchLine>& lines, double screen = 0.0);

// Sets each line's depth for the beam: the largest of its own glitch inside the range, wherever
// along the line that is.
void SetLineDepths(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, const Beam& beam,
                   std::vector<GlitchLine>* lines);
