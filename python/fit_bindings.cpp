#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "bindings.h"
#include "io/run_error.h"
#include "planning/fit_run.h"
#include "planning/run_parts.h"
#include "result_arrays.h"
#include "setup/units.h"

namespace kelto_python {

namespace {

// One scan's points or several scans': a sequence of numbers, or a sequence of such sequences.
using ScanValues = std::variant<std::vector<double>, std::vector<std::vector<double>>>;

std::vector<std::vector<double>> Scans(const ScanValues& values)
{
    if (const auto* one = std::get_if<std::vector<double>>(&values)) return {*one};
    return std::get<std::vector<std::vector<double>>>(values);
}

// The dips of one scan inside the range, from its points with a positive finite energy and a finite
// intensity; refused as the program refuses a scan file.
DipSearch DipsOfScan(const std::vector<double>& energy, const std::vector<double>& intensity, double eMin, double eMax,
                     const std::string& name)
{
    std::vector<ScanPoint> points;
    for (std::size_t i = 0; i < energy.size(); ++i) {
        if (std::isfinite(energy[i]) && energy[i] > 0.0 && std::isfinite(intensity[i])) points.push_back({energy[i], intensity[i]});
    }
    try {
        return DipsInRange(points, eMin, eMax, name, {0.001, "; are they in eV? Give keV (eV times 0.001)"}, kArgumentNames);
    } catch (const RunError& error) {
        Refuse(Message(error));
    }
}

// The azimuths, no images of the fitted one, that fit as well: each a dict of psi, matched and rms_eV.
py::list TiesOf(const GlitchFit& fit)
{
    py::list ties;
    for (const FitTie& tie : fit.ties) {
        py::dict t;
        t["psi"] = tie.psi, t["matched"] = tie.matched, t["rms_eV"] = tie.rmsEV;
        ties.append(t);
    }
    return ties;
}

// The azimuth and energy offsets fitted to measured scans given as their energies (keV) and
// intensities, as kelto --fit-glitches: a dict of the fit, its significance and the table of its dips.
py::object FitScan(const PyCrystal& self, const Indices& primary, const ScanValues& energyValues, const ScanValues& intensityValues,
                   const Range& energies, const Range& psi, std::optional<double> atPsi, std::optional<double> nominal,
                   const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                   const std::optional<Indices>& surface, int harmonics, const ContentArgument& harmonicContent,
                   double maxOffset, const std::string& offsets, double significance, const std::string& monochromator,
                   bool fitSecond, std::optional<double> secondPsi, bool calibrate)
try {
    const auto [eMin, eMax] = Energies(energies);
    const std::vector<std::vector<double>> energy = Scans(energyValues), intensity = Scans(intensityValues);
    if (energy.empty()) Refuse("energy must hold a scan");
    if (energy.size() != intensity.size()) Refuse("energy and intensity must hold as many scans");
    for (std::size_t s = 0; s < energy.size(); ++s) {
        if (energy[s].size() != intensity[s].size()) Refuse("energy and intensity must be of one length");
    }
    RequireHarmonics(harmonics);
    if (!(maxOffset >= 0.0 && maxOffset <= 500.0)) Refuse("max_offset must be a number of eV from 0 to 500");
    if (atPsi && nominal) Refuse("at_psi and nominal are one: give one of them");
    const std::optional<double> aim = atPsi ? atPsi : nominal;
    if (aim && !std::isfinite(*aim)) Refuse("at_psi must be a finite number of degrees");
    if (aim) RequireAzimuth(*aim, atPsi ? "at_psi" : "nominal");
    if (offsets != "each" && offsets != "one") Refuse("offsets must be 'each' or 'one'");
    if (!(significance >= kSmallestSignificance && significance <= kLargestSignificance)) {
        Refuse(Printed("significance must be a probability from %g to %g", kSmallestSignificance, kLargestSignificance));
    }
    FitRequest request;
    request.window = Window(psi);
    request.beam.harmonics = harmonics;
    request.nominalPsi = aim;
    request.widestOffsetEV = maxOffset;
    request.oneOffset = !calibrate && offsets == "one";
    request.significance = significance;
    request.calibrate = calibrate;
    const BeamRequest beam = BeamOf(OnePolarisation(polarisation, polarization), divergence, surface, monochromator);
    if (fitSecond && beam.monochromator != Monochromator::kDouble) {
        Refuse("fit_second fits a double monochromator's second crystal: give monochromator='double'");
    }
    if (secondPsi && !fitSecond) Refuse("second_psi goes with fit_second=True, as the guess of the second crystal's azimuth");
    if (secondPsi && !std::isfinite(*secondPsi)) Refuse("second_psi must be a finite number of degrees");
    if (secondPsi) RequireAzimuth(*secondPsi, "second_psi");
    const ScanSetting scan = EnergyScan(self, primary, reference, beam, eMin, eMax, harmonics);
    self.RequireRoom([&](const Crystal& crystal) { return FitPart(crystal, scan.frame, eMax, harmonics, kArgumentNames, ""); });
    request.beam.content = ContentOf(scan, harmonics, eMin, eMax, harmonicContent);
    std::vector<DipSearch> searches;
    for (std::size_t s = 0; s < energy.size(); ++s) {
        searches.push_back(DipsOfScan(energy[s], intensity[s], eMin, eMax, energy.size() == 1 ? "the scan" : Printed("scan %zu", s + 1)));
    }
    const FitOutcome outcome = Interruptible([&] { return FitScans(scan, searches, request, SecondFitRequest{fitSecond, secondPsi}); });
    const GlitchFit& fit = outcome.fit;
    const SpreadEstimate& spread = outcome.spread;
    const double nan = std::nan("");
    py::list scans;
    for (std::size_t s = 0; s < fit.scans.size(); ++s) {
        const ScanMatch& m = fit.scans[s];
        py::dict d;
        d["used"] = m.used, d["why"] = m.why;
        d["energies"] = py::make_tuple(m.eMin, m.eMax);
        d["offset_eV"] = fit.candidate && m.used ? m.offsetEV : nan, d["offset_error_eV"] = fit.candidate && m.used ? m.offsetError : nan;
        d["matched"] = m.matched, d["unmatched"] = m.unmatched, d["tolerance_eV"] = m.toleranceEV;
        d["percent_change"] = searches[s].percentChange;
        scans.append(d);
    }
    py::dict result;
    result["found"] = fit.found;
    result["significant"] = fit.found;
    result["why"] = fit.why;
    result["psi"] = fit.psi, result["psi_error"] = fit.psiError;
    const ScanMatch& first = fit.scans.front();
    result["offset_eV"] = fit.candidate && first.used ? first.offsetEV : nan;
    result["offset_error_eV"] = fit.candidate && first.used ? first.offsetError : nan;
    result["rms_eV"] = fit.candidate ? fit.rmsEV : nan, result["tolerance_eV"] = first.toleranceEV;
    result["matched"] = fit.matched, result["unmatched"] = fit.unmatched;
    result["p"] = fit.p, result["trials"] = fit.trials, result["as_good"] = fit.asGood, result["threshold"] = fit.significance;
    result["equivalents"] = fit.equivalents;
    result["ties"] = TiesOf(fit);
    result["taken_by_at_psi"] = fit.nominalTook;
    result["step_limited_eV"] = fit.stepLimitedEV;
    result["beyond_offset_eV"] = fit.beyondOffsetEV, result["beyond_psi"] = fit.beyondPsi;
    if (calibrate) {
        // The monochromator's calibration, only where it is a significant fit's.
        const bool calibrated = fit.found && fit.calibrated;
        result["angle_offset_deg"] = calibrated ? fit.scale.angleOffsetDeg : nan;
        result["angle_offset_error_deg"] = calibrated ? fit.angleOffsetError : nan;
        result["d_ratio"] = calibrated ? fit.scale.dRatio : nan, result["d_ratio_error"] = calibrated ? fit.dRatioError : nan;
        result["calibration_correlation"] = calibrated ? fit.correlation : nan;
        result["d_spacing"] = fit.calibrated ? fit.scale.dSpacing : nan;
        result["rms_before_eV"] = calibrated ? fit.rmsBefore : nan, result["matched_before"] = calibrated ? fit.matchedBefore : 0;
    }
    // The beam's spread across from the dips' widths, in degrees as --divergence takes it.
    const double degree = kRadiansPerDegree;
    result["divergence_across"] = spread.found && spread.low > 0.0 ? spread.across / degree : nan;
    result["divergence_range"] = spread.found ? py::make_tuple(spread.low / degree, spread.high / degree) : py::make_tuple(nan, nan);
    result["divergence_why"] = spread.why;
    result["scans"] = scans;
    result["dips"] = DipRows(fit, outcome.second ? &*outcome.second : nullptr);
    if (outcome.second) {
        const GlitchFit& second = *outcome.second;
        py::dict d;
        d["found"] = second.found, d["why"] = second.why;
        d["psi"] = second.psi, d["psi_error"] = second.psiError;
        d["rms_eV"] = second.candidate ? second.rmsEV : nan;
        d["matched"] = second.matched, d["unmatched"] = second.unmatched;
        d["p"] = second.p, d["trials"] = second.trials, d["as_good"] = second.asGood;
        d["equivalents"] = second.equivalents;
        d["ties"] = TiesOf(second);
        d["resolved_tie"] = outcome.tieResolved;
        result["second"] = d;
    }
    return result;
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

}  // namespace

void BindFit(CrystalClass& crystal)
{
    crystal
        .def("fit_glitches", &FitScan, py::arg("primary"), py::arg("energy"), py::arg("intensity"), py::kw_only(),
             py::arg("energies"), py::arg("psi") = Range{-180.0, 180.0}, py::arg("at_psi") = py::none(), py::arg("nominal") = py::none(),
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("harmonic_content") = ContentArgument{std::vector<double>{}},
             py::arg("max_offset") = 25.0, py::arg("offsets") = "each", py::arg("significance") = kDefaultSignificance, py::arg("monochromator") = "single",
             py::arg("fit_second") = false, py::arg("second_psi") = py::none(), py::arg("calibrate") = false,
             R"(The azimuth psi and energy offsets fitted to measured I0 scans, as kelto --fit-glitches.

energy (keV; multiply eV by 0.001) and intensity (any scale) are one scan's points in any order, or
lists of several scans' points, which are fitted with one psi (offsets='each' gives each its own
energy offset, 'one' one for all). Each scan's dips between energies = (EMIN, EMAX) keV, over the
energies of its own points, are matched to the predicted glitches over the window psi = (MIN, MAX);
at_psi (degrees; nominal is the same) takes the nearest of the azimuths the crystal's symmetry makes
equivalent; the beam and harmonics as for spectrum(); max_offset bounds the energy offsets (eV); a
fit is significant when trials of the dips moved out of reach of any match fit as well at most
with the probability significance (default 0.01). Returns a dict: found (significant, also as
significant), why (without a significant fit), psi and psi_error (degrees, one standard error; NaN
when nothing was refined), offset_eV and offset_error_eV (the first scan's, measured minus
predicted), rms_eV, tolerance_eV, matched, unmatched, p, trials, as_good, threshold, equivalents
(every azimuth of the window with psi's spectrum, psi among them), ties (the azimuths, no images of
psi by the crystal's symmetry, that pair as many dips with an rms within its standard error: each a
dict of psi, matched and rms_eV; with ties the fit is no single fit, found False, unless at_psi lies
within a degree of one family alone, which is then taken: taken_by_at_psi True, psi that one and ties
the others), step_limited_eV (the scans' coarsest step where it, not the residuals' scatter, sets
psi_error; NaN otherwise), beyond_offset_eV and beyond_psi
(a better fit beyond max_offset, else NaN), scans (per scan: used, why, energies, offset_eV,
offset_error_eV, matched, unmatched, tolerance_eV, percent_change), divergence_across (degrees: the
beam's spread across the primary's scattering plane that the matched dips' widths call for, as
divergence= takes it; NaN when they do not fix it), divergence_range (LOW, HIGH degrees within one
standard error; LOW 0 when the widths only bound it, HIGH then the widest within two), divergence_why
(without an estimate: why not) and dips, the rows of
--fit-table: energy_keV, depth, width_eV, matched, h, k, l, order, predicted_keV, residual_eV,
line_depth (NaN where unmatched), scan (from 1). With monochromator='double' and fit_second=True,
the second crystal's azimuth is fitted as well, to the dips the first's glitches leave (second_psi:
the guess of it), as --fit-second: the dict gains second, a dict of found, why, psi, psi_error,
rms_eV, matched, unmatched, p, trials, as_good, equivalents, ties and resolved_tie (the two
crystals paired about as many dips, and each explains what the other leaves).

calibrate=True fits, with psi, the monochromator's angle offset delta and d-spacing ratio d_ref / d
(one for all scans) in place of energy offsets, the energies being readbacks hc / (2 d_ref
sin(theta + delta)) (as kelto --calibrate; offsets is then not used); the dict then holds
angle_offset_deg and angle_offset_error_deg (degrees), d_ratio and d_ratio_error,
calibration_correlation (of delta and the ratio), d_spacing (d of the primary reflection, angstrom),
rms_before_eV and matched_before (the fit with energy offsets it started from), NaN without a
significant fit; each scan's offset_eV is then its largest shift, readback minus photon energy.)");
}

}  // namespace kelto_python
