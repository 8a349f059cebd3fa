// The least bad azimuths of a search for clean windows that found none: the stretches over which
// the worst event or glitch line that reaches in is the mildest.
#pragma once

#include <cstddef>
#include <vector>

#include "crystal/vec3.h"
#include "scan/azimuths.h"

// An event or a glitch line as a search for clean windows sees it: the azimuths it takes, how bad
// it is (its depth, or its strength relative to the strongest) and its reflection.
struct Occupant {
    AzimuthInterval interval;
    double measure;
    Miller x;
    int range = 0;  // of a search over several energy ranges, the one it counts in
};

// How far beyond its own interval an event or line takes azimuths on each side (degrees): half its
// width, or half the divergence where wider. A width that is not finite, or wider than a turn,
// takes the whole turn.
double OccupiedHalfWidth(double divergence, double width);

// A stretch of azimuths, the largest measure among the occupants that reach into it and the
// reflection of that occupant.
struct LeastBadStretch {
    AzimuthInterval stretch;
    double largest;
    Miller x;
    int range = 0;  // the energy range of that occupant
};

// The stretches of the window, wider than 0 and at least `width` wide, whose largest measure is
// smallest, best first, at most `most`, none holding another. Raising the threshold to a
// stretch's largest measure makes it a clean window of FreeStretches: the stretches are found by
// letting the pieces between the occupants' ends join their neighbours in the order of the
// largest measure over them, and, where that is the same, the narrowest first, so that of two
// stretches as bad as each other the one whose worst parts are narrower comes first; each is the
// run of pieces at the moment it becomes wide enough, and the piece that joined last names the
// occupant that sets its largest measure (the seam, where nothing ends, cuts no piece in two).
// An occupant's ends belong to it, as in FreeStretches;
// over a full circle the occupants are taken modulo 360 and a stretch may run over the seam.
std::vector<LeastBadStretch> LeastBadStretches(const std::vector<Occupant>& occupants, const PsiWindow& window, double width,
                                               std::size_t most);
