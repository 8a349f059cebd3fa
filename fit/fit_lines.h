// The glitch lines a fit of measured scans matches dips to: every reflection X (of each harmonic
// order n, where the structure allows n G) draws the line
//   E(psi) = hc sqrt(|n G|^2 / 4 + C^2 / cos^2(psi - psi_c)) / n
// in the energy of the fundamental (C that of the locus of its dip's deepest point, which refraction
// moves off the Bragg condition), weighted by its estimated depth where it enters a scan's range
// times its order's share of the beam.
#pragma once

#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "dynamics/glitch_depth.h"
#include "glitches/order_shares.h"
#include "scan/scan_frame.h"

struct FitLine {
    double centre;     // psi_c, degrees
    double spread;     // C, 1/angstrom: of the locus of the dip's deepest point
    double quarterG2;  // |n G|^2 / 4, 1/angstrom^2
    int order;
    Miller x;
    double top;           // keV: the line's lowest energy
    double weight = 0.0;  // its estimated depth where it enters the scan's range, times its order's share
    double braggSpread = 0.0;  // C of the Bragg condition itself, 1/angstrom

    // The energy at `d` degrees from the centre (|d| < 90), keV.
    double EnergyAt(double d) const;
    // How far from the centre (degrees) the line has risen to `keV` (0 up to its top).
    double Reach(double keV) const;
    // dE/dpsi at `d` degrees from the centre, eV per degree.
    double Slope(double d) const;
    // The energy of the Bragg condition itself at `d` degrees from the centre, keV.
    double BraggEnergyAt(double d) const;
};

// psi - centre brought into (-180, 180].
double AzimuthOffset(double psi, double centre);

// What the lines are weighted for: the beam, the harmonics and their shares.
struct LineBeam {
    int harmonics = 1;
    OrderShares content;  // each order's share of the photons at each setting, the fundamental's first
    Beam beam;
};

// The lines of each range [eMin, eMax] (keV) that reach into it with a weight above 0, deepest
// first; the sphere is surveyed once for them all. `dips` holds each range's count of measured dips:
// the lines a scan of that many dips may show are weighed and placed more closely than the rest.
struct ScanRange {
    double eMin, eMax;
    double stepEV = 0.0;  // the scan's step: the dips of its lines are placed as it measures them
};
std::vector<std::vector<FitLine>> LinesOfRanges(const Crystal& crystal, const ScanFrame& frame, const LineBeam& beam,
                                                const std::vector<ScanRange>& ranges, const std::vector<std::size_t>& dips);

// The weight above which the lines met at one azimuth are, on average over the turn, about as many
// as `dips` (and a few more): the lines a scan of that many dips shows. `lines` deepest first.
double VisibleWeight(const std::vector<FitLine>& lines, std::size_t dips, const ScanRange& range);
