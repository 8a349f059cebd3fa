#include "cli/plan_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "cli/fit_answer.h"
#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "glitches/spectrum.h"
#include "io/console.h"
#include "io/output_files.h"
#include "io/run_error.h"
#include "io/scan_file.h"
#include "io/share_table.h"
#include "planning/fit_run.h"
#include "planning/run_parts.h"
#include "planning/run_size.h"
#include "planning/scan_results.h"
#include "planning/second_crystal.h"
#include "scan/harmonic_orders.h"
#include "setup/factor_file.h"
#include "setup/units.h"
#include "windows/clean_windows.h"

namespace {

// The crystal of the cubic options (its coefficients read as the survey reads them), or of the
// CIF, whose notices are said one a line, each named as kelto's.
std::unique_ptr<Crystal> CrystalOf(InputStruct* record, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    if (plan.cifFile.empty()) {
        ReadFactors(record, options.answers);
        return std::make_unique<CubicCrystal>(record->structure, plan.latticeA, record->f0Coef, record->symbol);
    }
    std::string notice;
    std::unique_ptr<Crystal> crystal;
    try {
        crystal = CifCrystal::Read(plan.cifFile, &notice, plan.cellScale);
    } catch (const CrystalFileError& e) {
        throw RunError::Refusal(std::string(e.what()) + "\n");
    }
    for (std::size_t at = 0; at < notice.size();) {
        const std::size_t end = std::min(notice.find('\n', at), notice.size());
        std::fprintf(stderr, "kelto: %.*s\n", static_cast<int>(end - at), notice.c_str() + at);
        at = end + 1;
    }
    return crystal;
}

// Each order's share of the beam: the shares of --harmonic-content, or of its table at each
// setting, which must cover --energies.
OrderShares HarmonicContentOf(const Planning& p, const PlanOptions& plan)
{
    GivenShares given{plan.harmonicShares, {}};
    if (!plan.harmonicContentFile.empty()) {
        const std::vector<ShareRow> rows = ReadShareTable(plan.harmonicContentFile);
        if (rows.front().energy > plan.energyMin || rows.back().energy < plan.energyMax) {
            const bool inEV = rows.front().energy <= 1000.0 * plan.energyMin && rows.back().energy >= 1000.0 * plan.energyMax;
            throw RunError::Refusal(Printed("The harmonic content table %s runs from %g to %g keV: it must cover --energies %g to "
                                            "%g keV%s\n", plan.harmonicContentFile.c_str(), rows.front().energy, rows.back().energy,
                                            plan.energyMin, plan.energyMax, inEV ? "; are its energies in eV? Give them in keV" : ""));
        }
        for (const ShareRow& row : rows) given.rows.push_back({row.energy, row.shares, static_cast<int>(row.line)});
    }
    try {
        return SharesOfOrders(p.scan, plan.harmonics, plan.energyMax, given);
    } catch (const SharesMismatch& mismatch) {
        std::string named;
        std::size_t count = 0;
        if (mismatch.row == 0) {
            for (const double c : plan.harmonicShares) named += Printed("%s%g", named.empty() ? "" : ",", c);
            named = "'" + named + "'", count = plan.harmonicShares.size();
        } else {
            const GivenShares::Row& row = given.rows[mismatch.row - 1];
            named = "the table " + plan.harmonicContentFile + " (line " + std::to_string(row.line) + ")", count = row.shares.size();
        }
        // A share for every order, the forbidden ones too, was refused for what it gives those.
        const std::string zero = count + 1 == static_cast<std::size_t>(plan.harmonics)
                                     ? " (or 0 for " + OrderReflections(p.scan.frame, mismatch.forbidden) + ")"
                                     : "";
        throw RunError::Refusal(Printed("--harmonic-content: %s has %zu shares, but %s forbidden: give one for every harmonic or "
                                        "one for each of %s%s\n", named.c_str(), count,
                                        (OrderReflections(p.scan.frame, mismatch.forbidden) + (mismatch.forbidden.size() == 1 ? " is" : " are")).c_str(),
                                        OrderReflections(p.scan.frame, mismatch.passing).c_str(), zero.c_str()));
    }
}

// The beam as the tables' first lines name it.
GlitchBeam DescribedBeam(const PlanOptions& plan)
{
    const BeamRequest& beam = plan.beam;
    const char* polarisation = beam.polarisation == Polarisation::kSigma ? "sigma"
                               : beam.polarisation == Polarisation::kPi  ? "pi"
                                                                         : "unpolarised";
    const char* monochromator = beam.monochromator == Monochromator::kSingle   ? "single"
                                : beam.monochromator == Monochromator::kDouble ? "double"
                                                                               : "channel-cut";
    return GlitchBeam{polarisation, beam.acrossDegrees, beam.alongDegrees, beam.surface, plan.harmonics, monochromator,
                      plan.secondPsi};
}

// The calibration table's rows lie this many eV of readback apart.
constexpr double kCalibrationStepEV = 10.0;

// Writes a table through `write` into `path`, replacing it only once complete.
template <typename Write>
void WriteTable(const std::string& path, Write&& write)
{
    std::FILE* table = OpenOutputFile(path);
    write(table);
    CloseOutputFile(table);
}

// "1 clean window", "3 clean windows".
std::string Counted(std::size_t count, const char* one, const char* many)
{
    return Printed("%zu %s", count, count == 1 ? one : many);
}

// The windows on the console (the progress line taken off it first) and in their table.
void ReportWindows(const Planning& p, const PlanOptions& plan, const WindowSearch& search, const CleanWindows& found,
                   PhaseLine& progress, std::string* written)
{
    progress.Clear();
    PrintCleanWindows(stdout, p.subject.window, search, found);
    std::fflush(stdout);
    if (!plan.windowsFile.empty()) {
        WriteTable(plan.windowsFile, [&](std::FILE* f) { WriteWindowsTable(f, p.subject, search, found); });
        *written += Printed("kelto: %s, wrote %s\n",
                            found.windows.empty() ? Counted(found.leastBad.size(), "least bad stretch", "least bad stretches").c_str()
                                                  : Counted(found.windows.size(), "clean window", "clean windows").c_str(),
                            plan.windowsFile.c_str());
    }
}

// What counts against a clean window: an event's or line's depth, with --max-depth, or its
// strength against the strongest.
CleanThreshold ThresholdOf(const PlanOptions& plan, double fraction)
{
    return plan.maxDepth > 0.0 ? CleanThreshold{true, plan.maxDepth} : CleanThreshold{false, fraction};
}

// The ranges of --clean-energies, each counting a line by its depth (kDefaultMaxDepth unless
// --max-depth says) unless its FRACTION was given.
std::vector<EnergyRange> CleanRangesOf(const PlanOptions& plan)
{
    std::vector<EnergyRange> ranges;
    for (const PlanOptions::CleanRange& r : plan.cleanRanges) {
        ranges.push_back({r.eMin, r.eMax, r.byStrength ? CleanThreshold{false, r.fraction}
                                                       : CleanThreshold{true, plan.maxDepth > 0.0 ? plan.maxDepth : kDefaultMaxDepth}});
    }
    return ranges;
}

// The events of the run's band, written to their table, and the clean windows printed.
void PlanAtBand(Planning& p, const PlanOptions& plan, PhaseLine& progress, std::string* written)
{
    const Band band{plan.lambda, plan.band};
    if (!plan.eventsFile.empty()) {
        progress.Phase("events: the reflections on the sphere");
        const std::vector<Event> events = ShapedEvents(p.scan, band, plan.window, [&](std::size_t found) {
            progress.Phase(Printed("events: widths and depths of %zu events", found));
        });
        progress.Phase("writing " + plan.eventsFile);
        WriteTable(plan.eventsFile,
                   [&](std::FILE* f) { WriteEventsTable(f, p.subject, band, DescribedBeam(plan), events, &progress); });
        const bool allZero = !events.empty() && std::all_of(events.begin(), events.end(), [](const Event& e) {
            return !(e.strength > 0.0);
        });
        *written += Printed("kelto: %s%s, wrote %s\n", Counted(events.size(), "multiple-beam event", "multiple-beam events").c_str(),
                            !allZero ? "" : events.size() == 1 ? " of strength 0" : ", all of strength 0",
                            plan.eventsFile.c_str());
    }
    if (plan.cleanWidth > 0.0) {
        progress.Phase(Printed("clean windows at least %g degrees wide", plan.cleanWidth));
        const CleanThreshold threshold = ThresholdOf(plan, plan.cleanFraction);
        const double divergence = plan.beam.acrossDegrees;
        const CleanWindows found = SearchCleanEventWindows(*p.crystal, p.scan.frame, band, p.scan.beam, plan.window,
                                                           plan.cleanWidth, threshold, divergence);
        const WindowSearch search{false, plan.cleanWidth, threshold, divergence,
                                  kHcKeVAngstrom / (band.lambda + band.width / 2.0),
                                  kHcKeVAngstrom / (band.lambda - band.width / 2.0), DescribedBeam(plan), 0};
        ReportWindows(p, plan, search, found, progress, written);
    }
}

// The dips of one measured scan inside --energies, with a word on lines skipped and on
// intensities read as a change of I0.
DipSearch DipsOfScan(const std::string& name, const PlanOptions& plan, PhaseLine& progress)
{
    progress.Phase("fit: reading " + name);
    const ScanFile scan = ReadScanFile(name, plan.scanToKeV);
    if (scan.skipped > 0) {
        progress.Clear();
        std::fprintf(stderr, "kelto: %zu lines of %s are not an energy and an intensity and were skipped (the first: line %zu)\n",
                     scan.skipped, name.c_str(), scan.firstSkipped);
    }
    const OtherUnit other = plan.scanToKeV == 1.0 ? OtherUnit{0.001, "; are they in eV? Give --scan-unit eV"}
                                                  : OtherUnit{1000.0, "; are they in keV? Leave out --scan-unit eV"};
    const DipSearch dips = DipsInRange(scan.points, plan.energyMin, plan.energyMax, "the measured scan " + name, other, kOptionNames);
    if (dips.percentChange) {
        progress.Clear();
        std::fprintf(stderr, "kelto: the intensities of %s reach %g, at or below 0: they are read as the change of I0 in percent "
                             "(I0 = 100 + value); a change given as a share of I0 must be multiplied by 100\n",
                     name.c_str(), dips.lowest);
    }
    return dips;
}

// The azimuth and energy offsets fitted to the measured scans, said in `written`, and the dip
// table written; false when no azimuth explains the scans' dips significantly.
bool FitMeasuredScans(const Planning& p, const PlanOptions& plan, PhaseLine& progress, std::string* written)
{
    std::vector<DipSearch> dips;
    for (const std::string& name : plan.fitScanFiles) dips.push_back(DipsOfScan(name, plan, progress));
    FitRequest request;
    request.window = plan.window;
    request.beam.harmonics = plan.harmonics;
    request.beam.content = p.content;
    request.nominalPsi = plan.fitNominalPsi;
    request.widestOffsetEV = plan.widestOffsetEV;
    request.oneOffset = plan.fitOneOffset;
    request.significance = plan.fitSignificance;
    request.calibrate = plan.fitCalibrate;
    std::size_t count = 0;
    for (const DipSearch& d : dips) count += d.dips.size();
    progress.Phase(Printed("fit: psi and %s to %zu dips, and trials of its significance",
                           plan.fitCalibrate ? "the monochromator's calibration" : "offsets", count));
    const FitOutcome outcome = FitScans(p.scan, dips, request, SecondFitRequest{plan.fitSecond, plan.secondPsi});
    const GlitchFit& fit = outcome.fit;
    if (!plan.fitTableFile.empty()) {
        WriteTable(plan.fitTableFile, [&](std::FILE* f) {
            WriteFitTable(f, p.subject, plan.energyMin, plan.energyMax, DescribedBeam(plan), fit, plan.fitOneOffset, plan.fitScanFiles,
                          outcome.second ? &*outcome.second : nullptr);
        });
    }
    if (!plan.calibrationFile.empty()) {
        WriteTable(plan.calibrationFile, [&](std::FILE* f) { WriteCalibrationTable(f, p.subject, fit, kCalibrationStepEV); });
    }
    if (!fit.candidate) {
        *written += Printed("kelto: No azimuth explains %s: %s\n", DipsNamed(plan).c_str(), fit.why.c_str());
        for (std::size_t i = 0; i < fit.scans.size() && fit.scans.size() > 1; ++i) {
            if (!fit.scans[i].used) *written += Printed("kelto:   %s: left out, %s\n", plan.fitScanFiles[i].c_str(), fit.scans[i].why.c_str());
        }
        if (std::isfinite(fit.beyondOffsetEV)) {
            *written += Printed("kelto: at psi %.4f degrees %s of %+.1f eV, beyond --max-offset %g, fits significantly: "
                                "raise --max-offset to take it\n", fit.beyondPsi,
                                plan.fitCalibrate ? "a shift of the readback" : "an energy offset", fit.beyondOffsetEV,
                                plan.widestOffsetEV);
        }
    } else {
        *written += FitAnswer(fit, plan);
        if (fit.found) *written += SpreadAnswer(outcome.spread, fit, plan);
    }
    if (outcome.second) *written += SecondFitAnswer(*outcome.second, fit, outcome.tieResolved);
    if (!plan.fitTableFile.empty()) *written += Printed("kelto: wrote %s\n", plan.fitTableFile.c_str());
    if (!plan.calibrationFile.empty()) {
        *written += Printed("kelto: %s, wrote %s\n", fit.found && fit.calibrated ? "the readback against the photon energy"
                                                                               : "no calibration",
                            plan.calibrationFile.c_str());
    }
    return fit.found;
}

// Says that the second crystal makes the pair a channel-cut, its glitches the first's.
void NoteChannelCutPair(double secondPsi)
{
    std::fprintf(stderr, "kelto: the second crystal at psi %g degrees sits where a channel-cut's second wall does "
                         "(psi + 180, or an image of it by the crystal's symmetry): every glitch is met on both "
                         "crystals, as in a channel-cut\n", secondPsi);
}

// Energy scans instead of the four files: the glitch spectrum, the glitch map and the clean
// energy range. False when a fit explains nothing.
bool PlanEnergyScans(Planning& p, const PlanOptions& plan, PhaseLine& progress, std::string* written)
{
    // The first crystal's azimuth is set by --at-psi, which the scans at one azimuth take.
    const std::optional<double> firstPsi =
        !plan.glitchesFile.empty() || !plan.spectrumFile.empty() ? std::optional<double>(plan.atPsi) : std::nullopt;
    const bool channelCutPair = plan.secondPsi && firstPsi && SecondAtChannelCut(p.scan, *firstPsi, *plan.secondPsi, plan.energyMax);
    if (!plan.glitchesFile.empty() || !plan.spectrumFile.empty()) {
        progress.Phase(Printed("glitch spectrum: the reflections on the sphere from %g to %g keV", plan.energyMin, plan.energyMax));
        const std::vector<Glitch> glitches = ShapedPairGlitches(p.scan, plan.atPsi, plan.secondPsi, plan.energyMin, plan.energyMax,
                                                                plan.harmonics, nullptr, [&](std::size_t found) {
            progress.Phase(Printed("glitch spectrum: widths and depths of %zu glitches", found));
        });
        if (plan.secondPsi) {
            progress.Clear();
            if (channelCutPair) {
                NoteChannelCutPair(*plan.secondPsi);
            } else {
                const auto second = std::count_if(glitches.begin(), glitches.end(), [](const Glitch& g) { return g.crystal == 2; });
                std::fprintf(stderr, "kelto: %zu of the glitches are the second crystal's, at psi %g degrees\n",
                             static_cast<std::size_t>(second), *plan.secondPsi);
            }
        }
        const GlitchBeam described = DescribedBeam(plan);
        if (!plan.glitchesFile.empty()) {
            progress.Phase("writing " + plan.glitchesFile);
            WriteTable(plan.glitchesFile, [&](std::FILE* f) {
                WriteGlitchTable(f, p.subject, plan.atPsi, plan.energyMin, plan.energyMax, described, glitches, &progress);
            });
            const auto always = std::count_if(glitches.begin(), glitches.end(), [](const Glitch& g) { return g.always; });
            *written += Printed("kelto: %zu glitches from %g to %g keV at psi %g degrees", glitches.size(), plan.energyMin,
                                plan.energyMax, plan.atPsi);
            if (always > 0) *written += Printed(" (%zu on the sphere at every energy)", static_cast<std::size_t>(always));
            *written += Printed(", wrote %s\n", plan.glitchesFile.c_str());
        }
        if (!plan.spectrumFile.empty()) {
            progress.Phase("predicted I0 spectrum");
            const std::vector<SpectrumPoint> spectrum = PredictSpectrum(glitches, plan.energyMin, plan.energyMax, p.content);
            // Its energies are known now, and so its exact size, which no estimate before could tell.
            const long long bytes =
                SpectrumTableBytes(p.subject, plan.atPsi, plan.energyMin, plan.energyMax, described, p.content, spectrum);
            RefuseTableBeyondFreeSpace(ComputedSpectrumPart(plan.spectrumFile, static_cast<double>(bytes), spectrum.size(),
                                                            plan.energyMin, plan.energyMax, plan.harmonics, kOptionNames));
            progress.Phase("writing " + plan.spectrumFile);
            WriteTable(plan.spectrumFile, [&](std::FILE* f) {
                WriteSpectrumTable(f, p.subject, plan.atPsi, plan.energyMin, plan.energyMax, described, p.content,
                                   spectrum, &progress);
            });
            const auto lowest = std::min_element(spectrum.begin(), spectrum.end(),
                                                 [](const SpectrumPoint& a, const SpectrumPoint& b) { return a.i0 < b.i0; });
            *written += Printed("kelto: predicted I0 at %zu energies from %g to %g keV at psi %g degrees, lowest %.4f at "
                                "%.6f keV, wrote %s\n", spectrum.size(), plan.energyMin, plan.energyMax, plan.atPsi, lowest->i0,
                                lowest->energy, plan.spectrumFile.c_str());
        }
    }
    if (!plan.mapFile.empty()) {
        progress.Phase(Printed("glitch map: the lines from %g to %g keV", plan.energyMin, plan.energyMax));
        const std::vector<GlitchLine> lines = ShapedPairGlitchMap(p.scan, plan.window, firstPsi, plan.secondPsi, plan.energyMin,
                                                                  plan.energyMax, plan.harmonics, [&](std::size_t found) {
            progress.Phase(Printed("glitch map: depths of %zu lines", found));
        });
        // The glitch table has said it already when the run writes one.
        if (channelCutPair && plan.glitchesFile.empty() && plan.spectrumFile.empty()) {
            progress.Clear();
            NoteChannelCutPair(*plan.secondPsi);
        }
        progress.Phase("writing " + plan.mapFile);
        WriteTable(plan.mapFile, [&](std::FILE* f) {
            WriteGlitchMap(f, p.subject, plan.energyMin, plan.energyMax, DescribedBeam(plan), lines, &progress);
        });
        const auto levels = static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [](const GlitchLine& g) { return g.crystal == 2; }));
        *written += Printed("kelto: %zu glitch lines from %g to %g keV over psi %g to %g degrees", lines.size() - levels,
                            plan.energyMin, plan.energyMax, plan.window.min, plan.window.max);
        if (plan.secondPsi && !channelCutPair) {
            *written += Printed(" and %s of the second crystal at psi %g degrees", Counted(levels, "level", "levels").c_str(),
                                *plan.secondPsi);
        }
        *written += Printed(", wrote %s\n", plan.mapFile.c_str());
    }
    if (plan.cleanEnergies) {
        const std::vector<EnergyRange> ranges = CleanRangesOf(plan);
        std::string named;
        for (const EnergyRange& r : ranges) named += Printed("%s%g to %g keV", named.empty() ? "" : " and ", r.eMin, r.eMax);
        progress.Phase("clean windows from " + named);
        const double divergence = plan.beam.acrossDegrees;
        const PairSearch pair = CleanSearchOfPair(p.scan, plan.secondPsi, ranges);
        if (!pair.notices.empty()) progress.Clear();
        for (const std::string& notice : pair.notices) std::fprintf(stderr, "kelto: %s\n", notice.c_str());
        const CleanWindows found = CleanEnergyWindows(*p.crystal, p.scan.frame, plan.window, ranges, divergence, pair.beam,
                                                      plan.cleanMinWidth);
        const WindowSearch search{true, plan.cleanMinWidth, ranges.front().threshold, divergence, ranges.front().eMin,
                                  ranges.front().eMax, DescribedBeam(plan), plan.windowsShown,
                                  std::vector<EnergyRange>(ranges.begin() + 1, ranges.end())};
        ReportWindows(p, plan, search, found, progress, written);
    }
    return plan.fitScanFiles.empty() || FitMeasuredScans(p, plan, progress, written);
}

}  // namespace

Planning PreparePlanning(InputStruct* record, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    Planning p;
    p.crystal = CrystalOf(record, options);
    const Miller& primary = plan.primary;
    p.scan = SetUpScan(*p.crystal, primary, plan.reference, plan.beam, kOptionNames);
    const ScanFrame& frame = p.scan.frame;
    // A cell taken at a temperature is named with it, so that the table says which cell it is for.
    const std::string crystal = plan.temperatureK ? Printed("%s at %g K (a %.6f angstrom)", p.crystal->name().c_str(),
                                                             *plan.temperatureK, p.crystal->lattice().a())
                                                   : p.crystal->name();
    p.subject = TableSubject{crystal, primary, nullptr, plan.window};
    if (!plan.cifFile.empty() && !plan.EnergyRun() && !(plan.lambda <= frame.CutoffWavelength())) {
        // The cubic options have had this check with the dialogue's others.
        throw RunError::Refusal(Printed("The primary reflection %d %d %d%s cannot diffract at the wavelength %f angstrom%s: "
                                        "the longest wavelength at which it can is %f angstrom (%f keV)\n",
                                        primary.h, primary.k, primary.l, options.answers.Note(AnswerOption::kPrimary).c_str(),
                                        plan.lambda, options.answers.Note(AnswerOption::kWavelength).c_str(),
                                        frame.CutoffWavelength(), CutoffEnergy(frame)));
    }
    if (!plan.glitchesFile.empty() || !plan.spectrumFile.empty() || !plan.mapFile.empty() || !plan.fitScanFiles.empty()) {
        RefuseUnreachableRange(frame, plan.energyMin, plan.energyMax, "--energies");
    }
    for (const PlanOptions::CleanRange& r : plan.cleanRanges) RefuseUnreachableRange(frame, r.eMin, r.eMax, "--clean-energies");
    if (plan.harmonics > 1) p.content = HarmonicContentOf(p, plan);  // shares that fit the orders, before any file
    return p;
}

std::vector<RunPart> PlanningParts(const Planning& p, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    const Crystal& crystal = *p.crystal;
    const ScanFrame& frame = p.scan.frame;
    const double window = plan.window.max - plan.window.min;
    std::vector<RunPart> parts;
    if (plan.AtBand()) {
        // The events of the band's short end, for the table and for the clean windows alike.
        const double shortest = plan.lambda - plan.band / 2.0 > 0.0 ? plan.lambda - plan.band / 2.0 : plan.lambda;
        parts.push_back(EventsPart(crystal, frame, shortest, window, kOptionNames, plan.eventsFile));
    }
    if (!plan.glitchesFile.empty()) {
        parts.push_back(GlitchesPart(crystal, frame, plan.energyMin, plan.energyMax, plan.harmonics, false, kOptionNames, plan.glitchesFile));
    }
    if (!plan.spectrumFile.empty()) {
        parts.push_back(SpectrumPart(crystal, frame, plan.energyMin, plan.energyMax, plan.harmonics, false, kOptionNames, plan.spectrumFile));
    }
    if (!plan.mapFile.empty()) {
        parts.push_back(GlitchMapPart(crystal, frame, plan.energyMin, plan.energyMax, window, kOptionNames, plan.mapFile));
    }
    for (const PlanOptions::CleanRange& r : plan.cleanRanges) {
        RequestNames names = kOptionNames;
        names.energies = "--clean-energies";
        parts.push_back(GlitchMapPart(crystal, frame, r.eMin, r.eMax, window, names, ""));
    }
    if (!plan.fitScanFiles.empty()) {
        parts.push_back(FitPart(crystal, frame, plan.energyMax, plan.harmonics, kOptionNames, plan.fitTableFile));
    }
    if (!plan.windowsFile.empty()) parts.push_back({plan.windowsFile, kSmallTableBytes, 0.0, "the clean windows", "", 0.0});
    if (!plan.calibrationFile.empty()) {
        const double rows = (plan.energyMax - plan.energyMin) * 1000.0 / kCalibrationStepEV + 2.0;
        parts.push_back({plan.calibrationFile, kSmallTableBytes + 48.0 * rows, 0.0, "the calibration", "", 0.0});
    }
    return parts;
}

void NoteForbidden(const Planning& p, const PlanOptions& plan)
{
    for (const std::string& notice : ForbiddenNotices(p.scan, kHcKeVAngstrom / plan.lambda, plan.harmonics, plan.energyMax)) {
        std::fprintf(stderr, "kelto: %s\n", notice.c_str());
    }
}

bool RunPlanning(Planning& p, const RunOptions& options, PhaseLine& progress, std::string* written)
{
    const PlanOptions& plan = options.plan;
    p.subject.frame = &p.scan.frame;
    if (plan.AtBand()) PlanAtBand(p, plan, progress, written);
    return !plan.EnergyRun() || PlanEnergyScans(p, plan, progress, written);
}
