#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <vector>

#include "bindings.h"
#include "glitches/spectrum.h"
#include "planning/second_crystal.h"
#include "io/run_error.h"
#include "numpy_tables.h"
#include "planning/run_parts.h"
#include "planning/scan_results.h"
#include "result_arrays.h"
#include "setup/units.h"
#include "windows/clean_windows.h"

namespace kelto_python {

namespace {

// What counts against a clean window: fraction= of the strongest, or with max_depth= the depth,
// as the program takes FRACTION and --max-depth; not both.
CleanThreshold ThresholdOf(const std::optional<double>& fraction, const std::optional<double>& maxDepth)
{
    if (fraction && maxDepth) Refuse("give fraction or max_depth, not both: they are two thresholds");
    if (maxDepth) {
        if (!(*maxDepth > 0.0 && *maxDepth < 1.0)) Refuse("max_depth must be a share of I0 above 0 and below 1");
        return {true, *maxDepth};
    }
    RequireFraction(fraction.value_or(0.01));
    return {false, fraction.value_or(0.01)};
}

py::object Events(const PyCrystal& self, const Indices& primary, std::optional<double> energy, std::optional<double> wavelength,
                  std::optional<double> band, std::optional<double> relativeBand, const Range& psi,
                  const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                  const std::optional<Indices>& surface)
try {
    if (energy.has_value() == wavelength.has_value()) Refuse("give either energy (keV) or wavelength (angstrom)");
    const double lambda = wavelength ? *wavelength : kHcKeVAngstrom / *energy;
    if (!(lambda > 0.0 && std::isfinite(lambda))) Refuse(Printed("The wavelength lambda must be a positive finite number, not %f", lambda));
    if (band && relativeBand) Refuse("give band (angstrom) or relative_band (a share of the wavelength), not both");
    if (!band && !relativeBand) {
        Refuse("band, the full width of the wavelength band in angstrom, or relative_band, that width as a share of the "
               "wavelength, is required");
    }
    if (relativeBand) {
        // As --relative-band: delta lambda = R lambda, in double precision.
        if (!(*relativeBand > 0.0 && *relativeBand < 2.0)) {
            Refuse("relative_band must be a share of the wavelength above 0 and below 2 (delta lambda = relative_band lambda)");
        }
        band = *relativeBand * lambda;
    }
    if (!(*band > 0.0 && std::isfinite(*band) && lambda - *band / 2.0 > 0.0)) {
        Refuse("band must be a positive number of angstrom, below twice the wavelength");
    }
    const PsiWindow window = Window(psi);
    const ScanSetting scan = self.Scan(primary, reference, BeamOf(OnePolarisation(polarisation, polarization), divergence, surface));
    const ScanFrame& frame = scan.frame;
    if (!(lambda <= frame.CutoffWavelength())) {
        Refuse(Printed("The primary reflection %d %d %d cannot diffract at the wavelength %f angstrom: the longest wavelength at "
                       "which it can is %f angstrom (%f keV)", frame.primary.h, frame.primary.k, frame.primary.l, lambda,
                       frame.CutoffWavelength(), CutoffEnergy(frame)));
    }
    WarnOfForbidden(scan, kHcKeVAngstrom / lambda);
    self.RequireRoom([&](const Crystal& crystal) {
        return EventsPart(crystal, frame, lambda - *band / 2.0, window.max - window.min, kArgumentNames, "");
    });
    return EventsArray(Interruptible([&] { return ShapedEvents(scan, {lambda, *band}, window); }));
} catch (const py::value_error& refusal) {
    throw py::value_error(LedByUnitHints(self.Typed(energy, wavelength, "energy"), refusal.what()));
}

// The glitches of an energy scan at psi with their widths and depths, from the arguments that
// glitches() and spectrum() share; the sphere's survey is kept for the fundamental alone.
std::vector<Glitch> GlitchesOf(const PyCrystal& self, const ScanSetting& scan, double psi, std::optional<double> secondPsi,
                               double eMin, double eMax, int harmonics, bool spectrum)
{
    self.RequireRoom([&](const Crystal& crystal) {
        return (spectrum ? SpectrumPart : GlitchesPart)(crystal, scan.frame, eMin, eMax, harmonics, harmonics == 1, kArgumentNames, "");
    });
    return Interruptible([&] {
        return ShapedPairGlitches(scan, psi, secondPsi, eMin, eMax, harmonics,
                                  harmonics == 1 ? self.GlitchSphere(scan.frame, eMax).get() : nullptr);
    });
}

// A double monochromator's second crystal at its own azimuth, checked.
void RequireSecondAzimuth(std::optional<double> secondPsi, const BeamRequest& beam)
{
    if (!secondPsi) return;
    if (beam.monochromator != Monochromator::kDouble) {
        Refuse("second_psi is the azimuth of a double monochromator's second crystal: give monochromator='double'");
    }
    if (!std::isfinite(*secondPsi)) Refuse("second_psi must be a finite number of degrees");
    RequireAzimuth(*secondPsi, "second_psi");
}

// The azimuth at which a crystal of the kind meets what a channel-cut's second wall meets, its first
// wall at psi.
double SecondWallAzimuth(const PyCrystal& self, const Indices& primary, double psi, const std::optional<Indices>& reference)
{
    if (!std::isfinite(psi)) Refuse("psi must be a finite number of degrees");
    RequireAzimuth(psi, "psi");
    self.Scan(primary, reference, BeamRequest{});  // refuses a primary or reference that sets no frame
    return ChannelCutSecondPsi(psi);
}

// The azimuth of a glitch spectrum, checked.
double ScanAzimuth(std::optional<double> psi, std::optional<double> atPsi)
{
    const double azimuth = OneAzimuth(psi, atPsi);
    if (!std::isfinite(azimuth)) Refuse("psi must be a finite number of degrees");
    RequireAzimuth(azimuth, "psi");
    return azimuth;
}

py::object Glitches(const PyCrystal& self, const Indices& primary, std::optional<double> psi, const Range& energies,
                    std::optional<double> atPsi, const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                    const std::optional<Indices>& surface, int harmonics, const std::string& monochromator, std::optional<double> secondPsi)
try {
    const auto [eMin, eMax] = Energies(energies);
    const double azimuth = ScanAzimuth(psi, atPsi);
    RequireHarmonics(harmonics);
    const BeamRequest beam = BeamOf(OnePolarisation(polarisation, polarization), divergence, surface, monochromator);
    RequireSecondAzimuth(secondPsi, beam);
    const ScanSetting scan = EnergyScan(self, primary, reference, beam, eMin, eMax, harmonics);
    return GlitchArray(GlitchesOf(self, scan, azimuth, secondPsi, eMin, eMax, harmonics, false));
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

py::object Spectrum(const PyCrystal& self, const Indices& primary, std::optional<double> psi, const Range& energies,
                    std::optional<double> atPsi, const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                    const std::optional<Indices>& surface, int harmonics, const ContentArgument& harmonicContent,
                    const std::string& monochromator, std::optional<double> secondPsi)
try {
    const auto [eMin, eMax] = Energies(energies);
    RequireHarmonics(harmonics);
    const BeamRequest beam = BeamOf(OnePolarisation(polarisation, polarization), divergence, surface, monochromator);
    RequireSecondAzimuth(secondPsi, beam);
    const ScanSetting scan = self.Scan(primary, reference, beam);
    const OrderShares content = ContentOf(scan, harmonics, eMin, eMax, harmonicContent);
    const double azimuth = ScanAzimuth(psi, atPsi);
    CheckEnergyScan(scan, eMin, eMax, harmonics);
    const std::vector<Glitch> glitches = GlitchesOf(self, scan, azimuth, secondPsi, eMin, eMax, harmonics, true);
    const std::vector<SpectrumPoint> spectrum = Interruptible([&] { return PredictSpectrum(glitches, eMin, eMax, content); });
    std::vector<double> energy, i0;
    for (const SpectrumPoint& p : spectrum) energy.push_back(p.energy), i0.push_back(p.i0);
    return StructuredArray({{"energy_keV", energy}, {"i0", i0}});
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

py::object GlitchLines(const PyCrystal& self, const Indices& primary, const Range& energies, const Range& psi,
                       const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                       const std::optional<Indices>& surface, const std::string& monochromator, std::optional<double> secondPsi)
try {
    const auto [eMin, eMax] = Energies(energies);
    const PsiWindow window = Window(psi);
    const BeamRequest beam = BeamOf(OnePolarisation(polarisation, polarization), divergence, surface, monochromator);
    RequireSecondAzimuth(secondPsi, beam);
    const ScanSetting scan = EnergyScan(self, primary, reference, beam, eMin, eMax);
    self.RequireRoom([&](const Crystal& crystal) {
        return GlitchMapPart(crystal, scan.frame, eMin, eMax, window.max - window.min, kArgumentNames, "");
    });
    // The first crystal turns over the window: no azimuth of its own to make the pair a channel-cut.
    return MapArray(Interruptible([&] { return ShapedPairGlitchMap(scan, window, std::nullopt, secondPsi, eMin, eMax, 1); }));
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

// One energy range, or several searched at once.
using EnergyRanges = std::variant<Range, std::vector<Range>>;

py::object CleanEnergies(const PyCrystal& self, const Indices& primary, const EnergyRanges& energies, const std::optional<double>& fraction,
                         const Range& psi, const Divergence& divergence, const std::optional<Indices>& reference,
                         const std::optional<double>& maxDepth, double minWidth, const Spelling& polarisation, const Spelling& polarization,
                         const std::optional<Indices>& surface, const std::string& monochromator, std::optional<double> secondPsi)
{
    const std::vector<Range> given = std::holds_alternative<Range>(energies) ? std::vector<Range>{std::get<Range>(energies)}
                                                                             : std::get<std::vector<Range>>(energies);
    Range highest{0.0, 0.0};
    for (const Range& r : given) highest = std::get<1>(r) > std::get<1>(highest) ? r : highest;
    try {
        if (given.empty()) Refuse("energies must be (EMIN, EMAX) or a list of such ranges, in keV");
        // A line counts by its depth unless a fraction of the strongest is asked for.
        const CleanThreshold threshold = fraction || maxDepth ? ThresholdOf(fraction, maxDepth) : CleanThreshold{true, kDefaultMaxDepth};
        std::vector<EnergyRange> ranges;
        for (const Range& r : given) {
            const auto [eMin, eMax] = Energies(r);
            ranges.push_back({eMin, eMax, threshold});
        }
        // One number is the spread across the primary's scattering plane, as --divergence ACROSS.
        const Range spreads = std::holds_alternative<double>(divergence) ? Range{std::get<double>(divergence), 0.0}
                                                                         : std::get<Range>(divergence);
        RequireDivergence(std::get<0>(spreads));
        if (!(minWidth >= 0.0 && std::isfinite(minWidth))) Refuse("min_width must be a finite number of degrees from 0 up");
        const PsiWindow window = Window(psi);
        const BeamRequest beam = BeamOf(OnePolarisation(polarisation, polarization), spreads, surface, monochromator);
        RequireSecondAzimuth(secondPsi, beam);
        const ScanSetting scan = self.Scan(primary, reference, beam);
        for (const EnergyRange& r : ranges) CheckEnergyScan(scan, r.eMin, r.eMax, 1);
        for (const EnergyRange& r : ranges) {
            self.RequireRoom([&](const Crystal& crystal) {
                return GlitchMapPart(crystal, scan.frame, r.eMin, r.eMax, window.max - window.min, kArgumentNames, "");
            });
        }
        const PairSearch pair = Interruptible([&] { return CleanSearchOfPair(scan, secondPsi, ranges); });
        for (const std::string& notice : pair.notices) Warn(notice);
        const CleanWindows found = Interruptible([&] {
            return CleanEnergyWindows(self.crystal(), scan.frame, window, ranges, beam.acrossDegrees, pair.beam, minWidth);
        });
        return WindowArray(found, "energies");
    } catch (const py::value_error& refusal) {
        throw EnergyScanRefusal(self, highest, refusal);
    }
}

// Whether a structured array has the column.
bool HasColumn(const py::object& array, const char* name)
{
    try {
        for (const py::handle field : array.attr("dtype").attr("names")) {
            if (py::str(field).cast<std::string>() == name) return true;
        }
    } catch (const py::error_already_set&) {
    }
    return false;
}

py::object EventWindows(const py::object& events, double width, const std::optional<double>& fraction, double divergence,
                        const Range& psi, const std::optional<double>& maxDepth)
{
    if (!(width > 0.0 && std::isfinite(width))) Refuse("width must be a positive number of degrees");
    const CleanThreshold threshold = ThresholdOf(fraction, maxDepth);
    RequireDivergence(divergence);
    const PsiWindow window = Window(psi);
    if (threshold.byDepth && !HasColumn(events, "depth")) {
        Refuse("max_depth needs the events' depth column, as Crystal.events gives it");
    }
    std::vector<Event> list;
    try {
        using Numbers = py::array_t<double, py::array::c_style | py::array::forcecast>;
        // A column of a structured array is a strided view: copied into numbers side by side. The
        // widths, depths and reflections may be missing from an array made by hand.
        const auto column = [&](const char* name) { return Numbers(events[py::str(name)]); };
        const auto optional = [&](const char* name, py::ssize_t rows) {
            return HasColumn(events, name) ? column(name) : Numbers(rows);
        };
        const Numbers psiColumn = column("psi"), low = column("psi_min"), high = column("psi_max"), strength = column("strength");
        const py::ssize_t rows = psiColumn.size();
        const Numbers widths = optional("width_deg", rows), depths = optional("depth", rows);
        const Numbers h = optional("h", rows), k = optional("k", rows), l = optional("l", rows);
        const bool named = HasColumn(events, "h"), shaped = HasColumn(events, "width_deg"), deep = HasColumn(events, "depth");
        for (py::ssize_t i = 0; i < rows; ++i) {
            Event e{};
            e.psi = psiColumn.at(i), e.psiMin = low.at(i), e.psiMax = high.at(i), e.strength = strength.at(i);
            e.widthDeg = shaped ? widths.at(i) : 0.0;
            e.depth = deep ? depths.at(i) : 0.0;
            if (named) e.x = Miller{int(h.at(i)), int(k.at(i)), int(l.at(i))};
            list.push_back(e);
        }
    } catch (const py::error_already_set&) {
        Refuse("events must be an array of events (with psi, psi_min, psi_max and strength), as Crystal.events gives");
    }
    const CleanWindows found = Interruptible([&] { return CleanEventWindows(list, window, width, threshold, divergence); });
    return WindowArray(found, "events");
}


}  // namespace

void BindTables(CrystalClass& crystal, py::module_& module)
{
    crystal
        .def("events", &Events, py::arg("primary"), py::kw_only(), py::arg("energy") = py::none(),
             py::arg("wavelength") = py::none(), py::arg("band") = py::none(), py::arg("relative_band") = py::none(),
             py::arg("psi") = Range{-180.0, 180.0},
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(),
             R"(The multiple-beam events of an azimuthal scan about primary = (H, K, L).

Give energy (keV) or wavelength (angstrom), and band, the full width of the wavelength band in
angstrom, or relative_band, that width as a share of the wavelength (delta lambda = relative_band
lambda, as --relative-band). psi = (MIN, MAX) is the window (degrees). Columns: psi, psi_min, psi_max (the band
interval), h, k, l (the reflection on the sphere), coupling_h, coupling_k, coupling_l, F,
F_coupling, strength (|F(X)| |F(G - X)|), relative_strength, direction ('in', 'out', 'top',
'always'), width_deg (the azimuths the event takes for the beam, as for glitches(), degrees) and
depth (the share of the primary's beam X takes at the event's centre, 0 to 1), sorted by psi: the
rows of kelto --events.)")
        .def("glitches", &Glitches, py::arg("primary"), py::arg("psi") = py::none(), py::kw_only(), py::arg("energies"),
             py::arg("at_psi") = py::none(), py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("monochromator") = "single",
             py::arg("second_psi") = py::none(),
             R"(The glitch spectrum at the azimuth psi (degrees; at_psi is the same) from energies = (EMIN, EMAX) keV.

Columns: energy_keV, wavelength, h, k, l, coupling_h, coupling_k, coupling_l, F, F_coupling,
strength, relative_strength, kind ('glitch', or 'always' for a reflection on the sphere at every
energy at psi), width_eV, depth and order, sorted by energy: the rows of kelto --glitches. The
widths and depths are for the beam's polarisation (or polarization: 'sigma', the default, 'pi' or 'unpolarised', relative to
the primary's scattering plane), its divergence = (ACROSS, ALONG) in degrees and the crystal's
surface = (H, K, L) (None: a symmetric cut); harmonics = N adds the glitches of n G at n E up to N,
as --harmonics (a forbidden order, such as silicon's 2 2 2, is a UserWarning, as a forbidden primary
reflection is); monochromator = 'single' (the default), 'double' or 'channel-cut' as --monochromator; with 'double',
second_psi (degrees, as --second-psi) sets the second crystal at its own azimuth and adds its
glitches, marked crystal 2 (1: the first's). The sphere is surveyed once for spectra at many azimuths of one primary and range.)")
        .def("spectrum", &Spectrum, py::arg("primary"), py::arg("psi") = py::none(), py::kw_only(), py::arg("energies"),
             py::arg("at_psi") = py::none(), py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("harmonic_content") = ContentArgument{std::vector<double>{}},
             py::arg("monochromator") = "single", py::arg("second_psi") = py::none(),
             R"(The predicted I0 of the energy scan at the azimuth psi (degrees; at_psi is the same) over energies = (EMIN, EMAX) keV.

Columns: energy_keV and i0, the output relative to what it would be without glitches: the rows of
kelto --spectrum. The beam as for glitches(); harmonic_content = [C] or [C2, ...] gives each
harmonic's share of the photons against 1 for the fundamental: one share for every harmonic, or
one for each order the structure allows (a forbidden order takes none; default 0.01 each); or rows
[[E, C...], ...] of a setting E (keV) and its shares, at rising E, linear between them, covering
energies (as --harmonic-content FILE).)")
        .def("channel_cut_second_psi", &SecondWallAzimuth, py::arg("primary"), py::kw_only(), py::arg("psi"),
             py::arg("reference") = py::none(),
             R"(The azimuth (degrees, within -180 to 180) at which a crystal of this kind, counted in the same
convention (from its reference, right-handed about its own primary to its own incident beam),
meets what the second wall of a channel-cut meets when its first wall is at psi: psi + 180. The
second wall reflects -G with the beam the first sends it; inverted, that is the first's setting
turned by 180 degrees about G, meeting G - X where the wall meets X - G. glitches(...,
monochromator='double', second_psi=...) at this azimuth gives the channel-cut's glitches.)")
        .def("glitch_map", &GlitchLines, py::arg("primary"), py::kw_only(), py::arg("energies"), py::arg("psi") = Range{-180.0, 180.0},
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("monochromator") = "single", py::arg("second_psi") = py::none(),
             R"(Every reflection's glitch line E(psi) inside energies = (EMIN, EMAX) keV over psi = (MIN, MAX).

One row per reflection and turn: psi_centre, psi_from, psi_to, h, k, l, the coupling reflection, F,
F_coupling, strength, relative_strength, energy_top_keV (Et), energy_cutoff_keV (Ec), kind, depth
(the largest inside the energies, for the beam as in glitches()) and crystal. A 'line' is E = sqrt(Ec^2 + (Et^2 - Ec^2) /
cos^2(psi - psi_centre)) from psi_from to psi_to: the rows of kelto --glitch-map. With monochromator='double',
second_psi (degrees, as --second-psi) holds the second crystal there as the first turns: each of
its glitches is a 'level' row (crystal 2, 1 for the first's lines) at energy_top_keV from psi_from
to psi_to, the window's ends, psi_centre second_psi ('everywhere': met at every energy).)")
        .def("clean_energies", &CleanEnergies, py::arg("primary"), py::kw_only(), py::arg("energies"), py::arg("fraction") = py::none(),
             py::arg("psi") = Range{-180.0, 180.0}, py::arg("divergence") = 0.0, py::arg("reference") = py::none(),
             py::arg("max_depth") = py::none(), py::arg("min_width") = 0.5, py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(),
             py::arg("surface") = py::none(), py::arg("monochromator") = "single", py::arg("second_psi") = py::none(),
             R"(The azimuth windows of psi = (MIN, MAX), widest first, at least min_width degrees wide (default
0.5; 0 lists every stretch), over which no glitch line inside energies = (EMIN, EMAX) keV is
deeper there than max_depth (a share of I0 from 0 to 1, default 0.01; lines that coincide count by
their dips together), or, with fraction instead, none above that fraction of the strongest
(|F(X)| |F(G - X)|); energies = [(EMIN, EMAX), ...] asks for the windows clean in every range at
once. Each part of a line that counts is widened at its ends by half the width in azimuth of its
glitch there for the beam (polarisation, divergence = ACROSS or (ACROSS, ALONG) in degrees,
surface, as in glitch_map()), or by ACROSS / 2 where wider. A 'double' monochromator's crystals are
taken turned together (the second where a channel-cut's second wall would be) unless second_psi
sets the second apart; a UserWarning then says whether it spoils a range whatever the first's azimuth.
Columns: search, psi_start, psi_end, width (degrees), clean (1), largest (0), h, k, l (0); when
no window is clean, the five least bad stretches instead, best first, with clean 0, the largest
relative strength (or depth) over each and h, k, l of the line that sets it: kelto
--clean-energies --windows.)");

    module.def("clean_windows", &EventWindows, py::arg("events"), py::arg("width"), py::kw_only(), py::arg("fraction") = py::none(),
               py::arg("divergence") = 0.0, py::arg("psi") = Range{-180.0, 180.0}, py::arg("max_depth") = py::none(),
               R"(The azimuth windows of psi = (MIN, MAX), at least width degrees wide, that no event of the array
events (from Crystal.events) above fraction (default 0.01) of the strongest event inside psi, or
with max_depth (a share of I0 from 0 to 1, instead of fraction) no event deeper than that,
occupies with its band interval widened on each side by half its width_deg or by divergence / 2
(degrees), the larger, by start: kelto --clean. Over a full circle the events of that circle give
the program's windows; for a part of one, pass the events of psi widened by 360 degrees on each
side, so that the events outside whose azimuths reach in count as the program counts them.
Columns: search, psi_start, psi_end, width, clean, largest, h, k, l as for clean_energies(); when
no window is clean, the five least bad stretches.)");
}

}  // namespace kelto_python
