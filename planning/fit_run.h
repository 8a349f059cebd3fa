// The fit of measured scans as a request runs it, for the command line and for Python alike: each
// scan's dips inside the range, then the azimuth and offsets fitted to them all with their
// significance, and the beam's spread their widths call for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fit/beam_spread.h"
#include "fit/glitch_fit.h"
#include "fit/second_crystal_fit.h"
#include "fit/measured_dips.h"
#include "io/scan_file.h"
#include "planning/scan_setting.h"

// How the refusal of a scan in the wrong unit names the other one: where the scan's energies,
// times `factor`, would meet the range, `hint` ends the message ("; are they in eV? ...").
struct OtherUnit {
    double factor;
    const char* hint;
};

// The dips of one scan's points from eMin to eMax keV. Refuses (RunError) a scan none of whose
// points lies in the range (with the other unit's hint where that fits) and one whose intensities
// are no I0; `named` names the scan ("the measured scan a.dat", "scan 2").
DipSearch DipsInRange(const std::vector<ScanPoint>& points, double eMin, double eMax, const std::string& named,
                      const OtherUnit& other, const RequestNames& names);

struct FitOutcome {
    GlitchFit fit;
    SpreadEstimate spread;  // without a significant fit: none, and why
    // A double monochromator's second crystal, when asked for: its fit to what the first left, and
    // whether it resolved the first's tie with it (fit/second_crystal_fit.h).
    std::optional<GlitchFit> second;
    bool tieResolved = false;
};

// What a fit is asked to find beside the first crystal's azimuth.
struct SecondFitRequest {
    bool fit = false;                    // the second crystal's azimuth as well
    std::optional<double> nominalPsi;    // its guess
};

// The fit of `request` (whose beam is the scan's) to the dips of every scan.
FitOutcome FitScans(const ScanSetting& scan, const std::vector<DipSearch>& dips, FitRequest request,
                    const SecondFitRequest& second = {});
