// Energy scans with the primary reflection kept in its Bragg position: the glitch spectrum at one
// azimuth (a monochromator crystal, or an energy scan at fixed orientation), and the glitch lines
// E(psi) of every reflection over a window of azimuths, the map from which the azimuths of a
// clean energy range are read.
#pragma once

#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "dynamics/glitch_depth.h"
#include "scan/scan_frame.h"
#include "scan/sphere_reflections.h"

struct Glitch {
    double energy;      // keV
    double wavelength;  // angstrom
    Miller x;
    Miller coupling;
    double F, couplingF, strength, relativeStrength;  // at the glitch's energy
    bool always;        // X is on the sphere at every energy at this azimuth (n = 0, psi = azimuth -/+ 90);
                        // listed at the lowest energy of the range at which G diffracts
    int order = 1;      // the harmonic: X is met by the photons of n E that n G passes, listed at E
    double widthEV = 0.0;  // full width at half depth along the scan (eV of the listed energy E)
    double depth = 0.0;    // share of that order's output X takes at the glitch's centre (ShapeGlitches)
    GlitchShape shape{};   // its profile along the scan, in eV of the listed energy
    double rise = 0.0;     // how far I0 rises above 1 beside the dip, as a share of that order's output
    // The reflections of X's circle through O and G listed beside it (same energy and order): all
    // are excited together and make one multiple-beam dip, which every row gives and which counts
    // once, at the first of them (MillerBefore); the others have dipAtPartner set. partner names
    // the next of them, the last the first: two name each other.
    bool sharesDip = false;
    Miller partner{};
    bool dipAtPartner = false;
    int crystal = 1;  // the monochromator's crystal that meets X: 1, or 2 for the second of a double
};

// Every reflection X on the sphere at the azimuth `psi` between eMin and eMax (keV, both
// included), each once, by energy, then h, k, l. Forbidden reflections are left out; G and 0 0 0
// are never glitches.
std::vector<Glitch> FindGlitches(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax);

// One reflection's glitch line over one turn: E(psi) = sqrt(Ec^2 + (Et^2 - Ec^2) / cos^2(psi - centre)),
// Et the line's lowest energy (at its centre), Ec the cut-off energy of G; it leaves the energy
// range at psi = centre -/+ halfWidth. A reflection on the sphere at every energy (n = 0) is a
// vertical line at centre, from the cut-off up.
struct GlitchLine {
    double centre;      // degrees
    double from, to;    // centre -/+ the half-width at eMax
    Miller x;
    Miller coupling;
    double F, couplingF, strength, relativeStrength;  // at the lowest energy of the line inside the range
    double topEnergy;     // Et, keV (Ec for a vertical line)
    double cutoffEnergy;  // Ec = hc |G| / 2, keV
    double lowEnergyHalfWidth;  // where the line crosses eMin, 0 when Et >= eMin (degrees)
    bool always;
    double depth = 0.0;  // the largest share of the output X takes inside the energy range (SetLineDepths)
    // The lines of X's circle through O and G are this one (the same E(psi)): their one dip is
    // counted at the first of them, and the others have dipAtPartner set.
    bool dipAtPartner = false;
    // 2: a glitch of a double monochromator's second crystal, held at its azimuth (centre) as the
    // first turns: a level at topEnergy from `from` to `to` (with `always`, at every energy).
    int crystal = 1;
};

// A map row's kind as its table names it: "line" or "always" (the first crystal's), "level" or
// "everywhere" (the second's, met at every energy).
const char* LineKindWord(const GlitchLine& line);

// Every line inside the energy range that reaches into the window, one row per reflection and
// turn, by centre, then h, k, l; `reach` widens the window on both sides.
std::vector<GlitchLine> GlitchMap(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window,
                                  double eMin, double eMax);

// The glitch spectrum with the harmonics up to `harmonics`: the glitches of n G at n E for n = 2
// to `harmonics` where the structure allows n G, listed at E with their order, by energy.
std::vector<Glitch> FindGlitchesWithHarmonics(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin,
                                              double eMax, int harmonics);

// Fills in each glitch's width and depth for the beam (dynamics/glitch_depth.h); a glitch on the
// sphere at every energy spans the whole range [eMin, eMax].
void ShapeGlitches(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax, const Beam& beam,
                   std::vector<Glitch>* glitches);


// The reflections of a glitch spectrum up to eMax that the structure does not forbid, kept for
// spectra at many azimuths (FindGlitchesAmong): the sphere is surveyed once.
std::vector<SphereReflection> GlitchReflections(const Crystal& crystal, const ScanFrame& frame, double eMax);
std::vector<Glitch> FindGlitchesAmong(const Crystal& crystal, const ScanFrame& frame,
                                      const std::vector<SphereReflection>& reflections, double psi, double eMin, double eMax);

