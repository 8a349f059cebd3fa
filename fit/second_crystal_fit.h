// The second crystal of a double monochromator read from the same scans as the first: the dips
// the first crystal's glitches leave unpaired, put onto the monochromator's energy scale by each
// scan's fitted offset, fitted by an azimuth of their own. Both crystals see the one beam the
// monochromator's angle sets, so the second takes no offset of its own beyond what the first's
// offsets are uncertain by. Which of the two crystals made a dip the scans cannot say: the azimuth
// that pairs more dips is the first's.
#pragma once

#include <optional>
#include <vector>

#include "fit/glitch_fit.h"

// The dips of each scan that the first fit left unpaired, their energies less the scan's fitted
// offset (or, for a calibrated fit, the photon energies its scale reads back there); a scan the
// first fit left out keeps no dips.
std::vector<DipSearch> DipsLeftUnpaired(const std::vector<DipSearch>& scans, const GlitchFit& first);

// The second crystal's azimuth fitted to what the first left (FitGlitches, with its significance
// and ties, over the whole turn, the request's nominal psi taken as the second's), within the
// first's offsets' uncertainty; no candidate where the first found no significant fit, `why`
// saying so.
GlitchFit FitSecondCrystal(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans,
                           const GlitchFit& first, FitRequest request);

// Every dip of every scan with what paired it: the first crystal's glitch, the second's (from
// `second`, fitted to what the first left; its predicted energy put back onto the scan's scale)
// or none. By scan, then as the first fit lists them.
struct PairedDip {
    MeasuredDip dip;
    int scan;     // from 1
    int crystal;  // 1 or 2; 0 unpaired
    DipMatch match;  // the pair (matched false when unpaired), predictedKeV on the scan's scale
};
std::vector<PairedDip> DipsOfBothCrystals(const GlitchFit& first, const GlitchFit* second);

// Both crystals fitted to the scans. Where the two crystals pair about as many dips, the first
// fit finds both azimuths fit as well, and is no fit alone: when the second, fitted to what the
// first left, lands on one of them (or an image of it by the crystal's symmetry), the pair
// explains the scans and that tie is resolved, the first found. `secondNominal` is the guess of
// the second's azimuth (its symmetric image nearest it is taken).
struct PairFit {
    GlitchFit first, second;
    bool tieResolved = false;  // the first's tie with the second's azimuth was resolved by the second fit
};
PairFit FitTwoCrystals(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans,
                       const FitRequest& request, std::optional<double> secondNominal);
