// The dips of a measured I0 scan: where the monochromator's output falls below its own
// surroundings, found against a baseline that follows a sloping or stepping I0.
#pragma once

#include <vector>

#include "io/scan_file.h"

// No dip of a scan is shallower than this share of I0, however quiet the scan.
inline constexpr double kShallowestDip = 1e-3;

struct MeasuredDip {
    double energy;   // keV: the dip's centre, the depth-weighted mean over its upper half
    double depth;    // the share of the surrounding I0 missing at its deepest point
    double widthEV;  // the energies over which it is deeper than half its depth
};

struct DipSearch {
    std::vector<MeasuredDip> dips;  // by energy
    int points = 0;                 // points of the scan inside the range, equal energies merged
    double from = 0.0, to = 0.0;    // keV: the lowest and highest energy of those points
    bool percentChange = false;     // the intensities were read as the change of I0 in percent
    double lowest = 0.0, highest = 0.0;  // the intensities of those points, as given
    double noise = 0.0;             // the relative noise of I0 (a robust standard deviation)
    double threshold = 0.0;         // the depth a dip must exceed
    double stepEV = 0.0;            // the median distance between neighbouring points
};

// The dips of the points between eMin and eMax keV, in any order. A point counts against the
// higher percentile of its neighbours on each side (beyond a small gap that leaves the dip out),
// the lower of the two sides: an I0 that steps down is no dip on either side of the step. A dip
// must be deeper than five times the noise and than 0.1 %. Points of one energy are one point,
// their mean intensity. In O(n log n) of the points.
//
// Intensities that go below 0 (by more than a hundredth of their median: an I0 less a dark
// current) are no I0: when all of them lie from -100 to 100 they are read as the change
// of I0 in percent (I0 = 100 + value); otherwise std::domain_error says what they are.
DipSearch FindDips(std::vector<ScanPoint> points, double eMin, double eMax);

// How much scan (eV) the search needs on either side of a point to weigh it, for a scan of that
// step: the gap that leaves the dip out and the shortest side it reads a level from.
double SearchReachEV(double stepEV);
