// The pairing of a scan's dips with the glitches of its lines at one azimuth: each dip with the
// nearest predicted glitch within the scan's tolerance, each glitch with one dip at most, the
// closest pairs first. A glitch is read on the scan's energy scale with an offset, or through a
// calibrated monochromator's readback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/fit_scan.h"
#include "fit/readback_scale.h"

struct FitPair {
    std::size_t dip, line;  // the dip of its scan, the line among the scan's pairing lines
    double residualEV;      // measured minus predicted, offset included
    double slope;           // dE/dpsi of the line there, eV per degree (of the photon energy)
    // The same dip and line.
    friend bool operator==(const FitPair& a, const FitPair& b) { return a.dip == b.dip && a.line == b.line; }
};

// A scan's dips by energy, for the pairing's look-ups.
struct DipsByEnergy {
    std::vector<double> energy;      // keV, ascending
    std::vector<std::size_t> index;  // the dip of each

    explicit DipsByEnergy(const std::vector<MeasuredDip>& dips);
};

// How a glitch's photon energy is read on a scan's energy scale: moved by an offset, or read back
// through the calibrated scale where one is given.
struct ReadAs {
    double offsetEV = 0.0;
    const ReadbackScale* scale = nullptr;

    double operator()(double photonKeV) const { return scale != nullptr ? scale->Read(photonKeV) : photonKeV + offsetEV / 1000.0; }
};

// The pairing lines of the scan active at psi.
const std::vector<std::uint32_t>& ActiveLines(const SearchScan& scan, double psi);

// Each dip of the scan paired with the nearest predicted glitch at psi of the lines `near` within
// its tolerance (widened by `widenDegrees` times the line's slope), each glitch with at most one
// dip, the closest pairs first. Coincident glitches are one, which the deepest line stands for.
std::vector<FitPair> Pairs(const SearchScan& scan, const DipsByEnergy& dips, const std::vector<std::uint32_t>& near, double psi,
                           const ReadAs& read, double widenDegrees);

// The deep predicted glitches of the scan at psi whose readback lies inside its range, coincident
// ones once.
int PredictedGlitches(const SearchScan& scan, double psi, const ReadAs& read);
