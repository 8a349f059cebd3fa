// Where glitch lines cross inside an energy range their dips meet, and each takes its share of what
// the others leave, as in the glitch spectrum: two lines each shallower than a threshold may
// together be deeper.
#pragma once

#include <vector>

#include "glitches/glitches.h"
#include "glitches/line_profile.h"
#include "scan/azimuths.h"
#include "windows/least_bad.h"

// A line's depth and width in azimuth at psi, taken as linear between its samples; false where psi
// lies outside its stretches inside the range.
bool ProfileAt(const LineProfile& profile, double psi, double* depth, double* widthDeg);

// Each crossing of two lines of the map (their profiles beside them) at which the dips of every
// line within its half width of the crossing together take more than `limit`, while neither line alone
// is deeper there (where one is, its own stretch blocks the azimuths): an occupant over the azimuths
// about the crossing where the two stay within their half widths of each other, widened by half
// the widest width (or the divergence), its measure the share they take together. Over a full circle the
// lines are taken modulo 360.
void CrossingOccupants(const std::vector<GlitchLine>& lines, const std::vector<LineProfile>& profiles, const PsiWindow& window,
                       double limit, double divergence, std::vector<Occupant>* counted);
