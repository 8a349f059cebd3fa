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
#include "fit/readback_scale.h"
#include "scan/scan_frame.h"

// The pairing tolerance is two scan steps, at least this many eV. A scan whose tolerance spans the
// spacing of the glitches it can show pairs its dips alike at every azimuth, and is left out.
inline constexpr double kFinestToleranceEV = 3.0;
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
    // Fit the monochromator's angle offset and d-spacing ratio, for every scan together, in place
    // of energy offsets (fit/calibrated_fit.h).
    bool calibrate = false;
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

// An azimuth, no image of the fitted one by the crystal's symmetry, that fits the scans as well.
struct FitTie {
    double psi;    // degrees: of its family, the one nearest the nominal psi
    int matched;   // dips paired
    double rmsEV;
};

struct GlitchFit {
    bool found = false;       // a fit, significant at the threshold, without ties (or one taken by the nominal psi)
    bool candidate = false;   // a best candidate was refined (psi and the rest are its)
    bool exact = false;       // its pairs are no more than psi and the offsets: fitted exactly, no fit
    std::string why;          // without a significant fit: what was found at best
    double psi = std::numeric_limits<double>::quiet_NaN();  // degrees
    double psiError = std::numeric_limits<double>::quiet_NaN();  // degrees, one standard error
    double rmsEV = 0.0;
    // Where the scans' step, not the residuals' scatter, sets psi's error: the coarsest step (eV) and
    // how far the paired dips' centres move with where its samples fall (eV); NaN where the scatter does.
    double stepLimitedEV = std::numeric_limits<double>::quiet_NaN(), placingEV = std::numeric_limits<double>::quiet_NaN();
    int matched = 0, unmatched = 0, predicted = 0;
    // The false-alarm probability: the share of trials of dips moved out of reach of any match
    // that fit at least as well, (1 + as good) / (1 + trials).
    double p = 1.0;
    int trials = 0, asGood = 0;
    double significance = kDefaultSignificance;
    // Every azimuth of the window at which the crystal's symmetry gives psi's spectrum, psi among them.
    std::vector<double> equivalents;
    // Azimuths, no images of psi by the symmetry, that pair as large a share of the dips and the
    // glitches with an rms within its standard error of psi's: the scans cannot tell them from psi,
    // and the fit is no fit, unless the nominal psi lies near one alone, which is then taken
    // (`nominalTook`: psi is that one, and the ties hold the others).
    std::vector<FitTie> ties;
    bool nominalTook = false;
    // A better fit whose offset lies beyond the widest offset: its offset (eV, the largest in size)
    // and psi; NaN when there is none.
    double beyondOffsetEV = std::numeric_limits<double>::quiet_NaN(), beyondPsi = std::numeric_limits<double>::quiet_NaN();
    std::vector<ScanMatch> scans;
    // With a calibration: the readback scale fitted (its d-spacing that of the primary reflection),
    // the errors of delta (degrees) and the ratio, their correlation, and the offset fit it started
    // from (its dips paired and rms, eV). A scan's offset is then its largest shift, readback
    // minus photon energy, over its range.
    bool calibrated = false;
    ReadbackScale scale;
    double angleOffsetError = std::numeric_limits<double>::quiet_NaN(), dRatioError = std::numeric_limits<double>::quiet_NaN();
    double correlation = std::numeric_limits<double>::quiet_NaN();
    int matchedBefore = 0;
    double rmsBefore = std::numeric_limits<double>::quiet_NaN();
};

// The fit of one azimuth to the dips of every scan (each found over its own points' energies).
GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans, const FitRequest& request);
