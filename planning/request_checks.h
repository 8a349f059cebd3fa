// Requests with no physical meaning, refused before anything is computed by the program and the
// Python module alike: azimuths beyond any diffractometer's turns, whose degrees the doubles no
// longer resolve, and a crystal surface that the primary reflection's beams would meet from inside.
#pragma once

#include <string>

#include "crystal/lattice.h"

// The farthest azimuth a planning request takes, degrees either way: ten turns. Beyond it an
// azimuth is a mistake (and at 1e17 degrees the doubles no longer tell one degree from the next).
inline constexpr double kFarthestAzimuth = 3600.0;
inline bool AzimuthWithinBound(double psi) { return psi >= -kFarthestAzimuth && psi <= kFarthestAzimuth; }

// "" when the surface's outward normal, the reciprocal vector `surface`, lies less than 90 degrees
// from the primary reflection: its incident beam then enters through the surface at every azimuth
// of a symmetric or moderately asymmetric cut (a Bragg case). Otherwise why not, beginning "is".
std::string SurfaceSideProblem(const Lattice& lattice, Miller primary, Miller surface);
