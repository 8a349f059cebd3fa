// The monochromator's output along an energy scan at one azimuth, relative to what it would be
// without glitches: every glitch's profile (dynamics/glitch_depth.h) taken from the photons of its
// order, the orders weighted by their share of the beam. A mirror pair's one four-beam dip counts
// once; glitches that overlap otherwise each take their
// share of what the others leave (the output is the product of what each leaves), so that I0
// never falls below 0 nor overlapping dips take more than the beam holds.
#pragma once

#include <algorithm>
#include <vector>

#include "glitches/glitches.h"
#include "glitches/order_shares.h"

// What is left of the output where a dip taking `share` of it meets others that left `left`: each
// takes its share of what the others leave, at most all of it.
inline double LeftAfter(double left, double share) { return left * (1.0 - std::min(1.0, share)); }

struct SpectrumPoint {
    double energy;  // keV
    double i0;      // relative output, 1 where no glitch takes anything
};

// The even steps of a predicted spectrum, and the points added about each dip's deepest point
// (eight quarter widths on either side).
inline constexpr int kSpectrumEvenPoints = 2001;
inline constexpr int kQuarterWidths = 8;
inline constexpr int kSpectrumPointsPerDip = 2 * kQuarterWidths + 1;

// The output from eMin to eMax keV on `points` even steps and, around each glitch that takes
// anything, seventeen more across its dip (a quarter of its width apart about its deepest point),
// so that the narrowest glitch is drawn too. `content` gives each order's share of the photons at
// each setting; the glitches of an order take from that order's photons only, at most all of them
// (a glitch that adds to I0 gives a share below 0).
std::vector<SpectrumPoint> PredictSpectrum(const std::vector<Glitch>& glitches, double eMin, double eMax,
                                           const OrderShares& content, int points = kSpectrumEvenPoints);
