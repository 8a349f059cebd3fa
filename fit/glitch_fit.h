// The azimuth of a monochromator crystal read from measured I0 scans: the dips of the scans
// matched to the glitches kelto predicts, the azimuth psi and the scans' energy offsets that put
// the predicted glitches onto them (fit/fit_search.h), and how often dips with no relation
// to the crystal would fit as well (fit/fit_significance.h). Several scans of one
// monochromator, each over its own energies, are fitted with one psi, and one offset each or one
// for all.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "fit/fit_lines.h"
#include "fit/measured_dips.h"
#include "scan/scan_frame.h"

// The pairing tolerance is two scan steps, at least this many eV and at most kToleranceCeilingEV:
// a scan coarser than half the ceiling places its dips too loosely to tell azimuths apart.
inline constexpr double kFinestToleranceEV = 3.0;
inline constexpr double kToleranceCeilingEV = 10.0;
// The significance threshold a fit must meet unless told otherwise, and the range it may be set in.
inline constexpr double kDefaultSignificance = 0.01;
inline constexpr double kSmallestSignificance = 0.001;
inline constexpr double kLargestSignificance = 0.5;

struct FitRequest {
    PsiWindow window{-180.0, 180.0};
    LineBeam beam;                     // harmonics, their shares, the beam of the depths
    std::optional<double> nominalPsi;  // among the symmetric azimuths, the nearest to it is taken
    double widestOffsetEV = 25.0;      // the offsets: within -/+ this many eV
    bool oneOffset = false;            // one offset for every scan, else one each
    double significance = kDefaultSignificance;
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

// One scan's part in the fit.
struct ScanMatch {
    bool used = false;             // false: left out, `why` says why
    std::string why;
    double eMin = 0.0, eMax = 0.0;  // keV: the energies of its points
    double offsetEV = 0.0, offsetError = std::numeric_limits<double>::quiet_NaN();  // measured minus predicted
    int matched = 0, unmatched = 0;
    double toleranceEV = 0.0;       // the largest residual a pair may have
    std::vector<DipMatch> dips;     // every dip, by energy
};

struct GlitchFit {
    bool found = false;       // a fit, significant at the threshold, without rivals
    bool candidate = false;   // a best candidate was refined (psi and the rest are its)
    bool exact = false;       // its pairs are no more than psi and the offsets: fitted exactly, no fit
    std::string why;          // without a significant fit: what was found at best
    double psi = std::numeric_limits<double>::quiet_NaN();  // degrees
    double psiError = std::numeric_limits<double>::quiet_NaN();  // degrees, one standard error
    double rmsEV = 0.0;
    int matched = 0, unmatched = 0, predicted = 0;
    // The false-alarm probability: the share of trials of dips moved out of reach of any match
    // that fit at least as well, (1 + as good) / (1 + trials).
    double p = 1.0;
    int trials = 0, asGood = 0;
    double significance = kDefaultSignificance;
    // Every azimuth of the window at which the crystal's symmetry gives psi's spectrum, psi among them.
    std::vector<double> equivalents;
    // Azimuths, no images of psi by the symmetry, that pair as large a share of the dips and the
    // glitches: the scans cannot tell them from psi, and the fit is no fit (degrees, one of each
    // family, the one nearest the nominal psi).
    std::vector<double> rivals;
    // A better fit whose offset lies beyond the widest offset: its offset (eV, the largest in size)
    // and psi; NaN when there is none.
    double beyondOffsetEV = std::numeric_limits<double>::quiet_NaN(), beyondPsi = std::numeric_limits<double>::quiet_NaN();
    std::vector<ScanMatch> scans;
};

// The fit of one azimuth to the dips of every scan (each found over its own points' energies).
GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans, const FitRequest& request);
