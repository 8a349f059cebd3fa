// The multiple-beam events of an azimuthal scan at one wavelength band: every azimuth at which a
// further reflection X reaches the Ewald sphere together with the primary reflection G.
#pragma once

#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "scan/scan_frame.h"

// How X meets the sphere at the event.
enum class Passage {
    kIn,      // X enters the sphere as psi grows (its curve crosses lambda)
    kOut,     // X leaves it
    kTop,     // the curve's top lies inside the band but below lambda: X touches the band and turns back
    kAlways,  // X is on the sphere at every wavelength (n = 0), at its azimuth -/+ 90
};
const char* PassageWord(Passage passage);  // "in", "out", "top", "always"

// The wavelength band: lambda, and its full width delta lambda (edges lambda -/+ delta / 2).
struct Band {
    double lambda;  // angstrom
    double width;   // angstrom
};

struct Event {
    double psi;     // where X is on the sphere at lambda (the curve's top for kTop)
    double psiMin;  // the largest azimuth interval around psi over which X stays inside the band
    double psiMax;
    Miller x;
    Miller coupling;  // G - X, which carries the beam from X into G
    double F;         // |F(X)| at the band's energy
    double couplingF; // |F(G - X)|, 0 when the structure forbids G - X
    double strength;  // |F(X)| |F(G - X)|
    double relativeStrength;  // to the strongest event listed; 0 when all are 0
    Passage passage;
    double widthDeg = 0.0;  // the azimuths the event takes, full width at half depth (SetEventWidths)
    double depth = 0.0;     // the share of the primary's beam X takes at the event's centre (SetEventWidths)
};

// Every event whose psi lies inside the window (at every turn), by psi, then h, k, l. Reflections
// that the structure forbids are left out; a forbidden coupling reflection gives strength 0.
// The strongest event sets the relative strengths.
std::vector<Event> FindEvents(const Crystal& crystal, const ScanFrame& frame, const Band& band, const PsiWindow& window);
