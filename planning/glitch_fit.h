// The azimuth of a monochromator crystal read from a measured I0 scan: the dips of the scan
// matched to the glitches kelto predicts, and the azimuth psi and the scan's energy offset that
// put the predicted glitches onto them.
//
// Every reflection X (of each harmonic order n, where the structure allows n G) draws a line
// E(psi) = hc sqrt(|G|^2 / 4 + C^2 / cos^2(psi - psi_c)) / n; the fit
//   1. keeps the lines deep enough to be seen: their depth at the top of the line inside the
//      energy range, weighted by their order's share of the beam, above the depth at which the
//      lines met at one azimuth are about as many as the dips (at least twice the depth the scan
//      can show);
//   2. for every energy offset on a grid over -/+ widestOffsetEV, counts for each azimuth how
//      many of the deepest dips some kept line meets within the tolerance (each dip maps to
//      intervals of psi through the inverse of E(psi)), over the whole psi window;
//   3. refines the best-counted azimuths and offsets by least squares over the matched dips
//      (each dip paired with the nearest line at most once), and ranks them by the share of dips
//      and deep predicted glitches that pair up, then by the rms of the residuals.
// Azimuths that fit equally well (the crystal's symmetry makes their spectra one) are listed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crystal/crystal.h"
#include "planning/azimuths.h"
#include "planning/glitch_depth.h"
#include "planning/measured_dips.h"
#include "planning/scan_frame.h"

struct FitRequest {
    PsiWindow window{-180.0, 180.0};
    double eMin = 0.0, eMax = 0.0;     // keV
    int harmonics = 1;
    std::vector<double> content{1.0};  // each order's share of the photons, the fundamental's first
    Beam beam;
    std::optional<double> nominalPsi;  // among equally good azimuths, the nearest to it is taken
    double widestOffsetEV = 25.0;      // the offsets tried: -/+ this many eV
};

struct DipMatch {
    MeasuredDip dip;
    bool matched = false;
    Miller x{};
    int order = 0;
    double predictedKeV = 0.0;  // the glitch's energy at the fitted psi, offset added
    double residualEV = 0.0;    // measured minus predicted
    double lineDepth = 0.0;     // the line's depth as the fit weighs it
};

struct GlitchFit {
    bool found = false;
    std::string why;             // when nothing fits: what was found at best
    double psi = 0.0, psiError = 0.0;            // degrees
    double offsetEV = 0.0, offsetError = 0.0;    // measured energy minus predicted, eV
    double rmsEV = 0.0;
    int matched = 0, unmatched = 0;
    int predicted = 0;              // deep predicted glitches in the range at psi
    double toleranceEV = 0.0;       // the largest residual a pair may have
    std::vector<double> equivalents;  // other azimuths in the window that fit as well, degrees
    std::vector<DipMatch> dips;       // every dip, by energy
};

GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const DipSearch& search, const FitRequest& request);
