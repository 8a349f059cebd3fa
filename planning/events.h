// The multiple-beam events of an azimuthal scan, ranked by strength, and the azimuth windows free
// of strong ones.
#pragma once

#include <vector>

#include "planning/sphere_reflections.h"
#include "setup/input_struct.h"

// A reflection X on the Ewald sphere together with the primary reflection G: its curve crosses the
// band on its near branch (cos(psi - psi0) > 0, where X itself is on the sphere). The coupling
// reflection G - X carries the beam from X into G; the strength is |F(X)| |F(G - X)|.
struct Event {
    double psi;        // where the curve meets lambda
    double psiLower;   // where it meets lambda - delta lambda / 2, as in kelto_unweg.dat
    double psiUpper;   // where it meets lambda + delta lambda / 2
    const SphereReflection* reflection;
    double strength;
    double relativeStrength;  // to the strongest event found; 0 when all are 0
    bool in;           // the curve rises through lambda as psi grows: X enters the sphere
};

// Every event of the record's band inside its psi window (both ends excluded, as for
// kelto_unweg.dat), from each reflection's curve at psi0 + 360 n for every n that reaches the
// window, sorted by psi. The window must be finite.
std::vector<Event> FindEvents(const std::vector<SphereReflection>& reflections, const InputStruct* record);

struct AzimuthWindow {
    double start, end;
};

// The windows inside (psiMin, psiMax), at least `width` degrees wide, in which no event of
// relative strength above `fraction` occupies an azimuth (an event occupies its azimuths from
// psiLower to psiUpper), by start.
std::vector<AzimuthWindow> CleanWindows(const std::vector<Event>& events, double psiMin, double psiMax,
                                        double width, double fraction);
