// The harmonics a monochromator passes: the order n of the primary G passes n E through n G, which
// the structure may forbid (silicon 2 2 2 behind 1 1 1), and each order's share of the photons.
#pragma once

#include <string>
#include <vector>

#include "crystal/crystal.h"
#include "scan/scan_frame.h"

// The frame of the harmonic n G: the same azimuths about the same axis.
ScanFrame HarmonicFrame(const ScanFrame& frame, int order);

// Whether n G scatters anything up to n eMax (keV): not extinct and not too weak to count.
bool HarmonicPasses(const Crystal& crystal, const ScanFrame& frame, int order, double eMax);

// The orders from 2 to `harmonics` that pass, and those the structure forbids.
struct HarmonicOrders {
    std::vector<int> passing;
    std::vector<int> forbidden;
};
HarmonicOrders OrdersOfHarmonics(const Crystal& crystal, const ScanFrame& frame, int harmonics, double eMax);

// The share of each harmonic's photons in the beam, against 1 for the fundamental, unless given:
// an undulator beam without harmonic rejection carries about a percent.
inline constexpr double kDefaultHarmonicShare = 0.01;

// Each order's share of the beam's photons, content[n - 1] for order n: 1 for the fundamental, 0
// for a forbidden order (the monochromator passes none of it), and for the orders that pass
// kDefaultHarmonicShare each when nothing is given, one share for all of them, or one for each in
// turn; or one for every order from 2 to `harmonics`, 0 for each forbidden one. Empty when `given`
// has another number of shares, or gives a forbidden order a share other than 0.
std::vector<double> HarmonicContent(const HarmonicOrders& orders, int harmonics, const std::vector<double>& given);

// "2 2 2", the reflection of order n; "3 3 3 and 5 5 5" for several.
std::string OrderReflections(const ScanFrame& frame, const std::vector<int>& orders);

// "second", "third", ... for the orders 2 to 9 (and "n-th" beyond).
std::string OrdinalWord(int order);
