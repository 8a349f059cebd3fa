#include "cli/record_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/run_limits.h"
#include "cli/run_parts.h"
#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "io/console.h"
#include "io/output_files.h"
#include "io/run_error.h"
#include "io/scan_file.h"
#include "io/share_table.h"
#include "io/write_behind.h"
#include "output/curve_table.h"
#include "windows/clean_windows.h"
#include "scan/events.h"
#include "planning/forbidden_primary.h"
#include "fit/beam_spread.h"
#include "fit/glitch_fit.h"
#include "glitches/glitches.h"
#include "scan/harmonic_orders.h"
#include "planning/request_checks.h"
#include "planning/run_size.h"
#include "planning/tables.h"
#include "setup/factor_file.h"
#include "setup/run_checks.h"
#include "setup/units.h"
#include "survey/survey_driver.h"
#include "survey/survey_estimate.h"

namespace {

// The quiet run's summary of the survey, said once its files have their names.
std::string RunSummary(const RunOptions& options, const SurveyRun& run)
{
    const std::string folder = options.outputFolder.empty() ? "" : options.outputFolder + "/";
    std::string files;
    for (const char* name : kSurveyFileNames) files += (files.empty() ? "" : ", ") + folder + name;
    return Printed("kelto: %lld result rows and curves, %lld band crossings\n", static_cast<long long>(run.nbCurves),
                   static_cast<long long>(run.crossings)) +
           "kelto: wrote " + files + "\n";
}

// The crystal and the frame of psi that planning works with.
struct Planning {
    std::unique_ptr<Crystal> crystal;
    ScanFrame frame;
    TableSubject subject;
    OrderShares content;  // each order's share of the beam (--harmonic-content), the fundamental's alone by default
};

// The crystal of the cubic options, or of the CIF, and the frame of psi. A CIF that cannot be a
// crystal, or whose primary reflection cannot diffract at the run's wavelength, is refused, and
// so is a surface whose normal the primary's incident beam would meet from inside the crystal.
Planning Prepare(InputStruct* record, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    Planning p;
    if (plan.cifFile.empty()) {
        // The coefficients are the table's, read as the survey reads them.
        ReadFactors(record, options.answers);
        p.crystal = std::make_unique<CubicCrystal>(record->structure, plan.latticeA, record->f0Coef, record->symbol);
    } else {
        std::string notice;
        try {
            p.crystal = CifCrystal::Read(plan.cifFile, &notice);
        } catch (const CrystalFileError& e) {
            throw RunError::Refusal(std::string(e.what()) + "\n");
        }
        // One notice a line, each named as kelto's.
        for (std::size_t at = 0; at < notice.size();) {
            const std::size_t end = std::min(notice.find('\n', at), notice.size());
            std::fprintf(stderr, "kelto: %.*s\n", static_cast<int>(end - at), notice.c_str() + at);
            at = end + 1;
        }
    }
    const Miller& primary = plan.primary;
    p.frame = plan.reference ? ReferenceFrame(p.crystal->lattice(), primary, *plan.reference)
                             : MatrixFrame(p.crystal->lattice(), primary);
    p.subject = TableSubject{p.crystal->name(), primary, nullptr, plan.window};
    if (plan.surface) {
        const std::string problem = SurfaceSideProblem(p.crystal->lattice(), primary, *plan.surface);
        if (!problem.empty()) {
            throw RunError::Refusal(Printed("The surface normal %d %d %d (--surface) %s\n", plan.surface->h, plan.surface->k,
                                            plan.surface->l, problem.c_str()));
        }
    }
    if (!plan.cifFile.empty() && !plan.EnergyRun() && !(plan.lambda <= p.frame.CutoffWavelength())) {
        // The cubic options have had this check with the dialogue's others.
        throw RunError::Refusal(Printed("The primary reflection %d %d %d%s cannot diffract at the wavelength %f angstrom%s: "
                                        "the longest wavelength at which it can is %f angstrom (%f keV)\n",
                                        primary.h, primary.k, primary.l, options.answers.Note(AnswerOption::kPrimary).c_str(),
                                        plan.lambda, options.answers.Note(AnswerOption::kWavelength).c_str(),
                                        p.frame.CutoffWavelength(), CutoffEnergy(p.frame)));
    }
    return p;
}

// The beam of the widths and depths, as the options give it.
Beam BeamOf(const Planning& p, const PlanOptions& plan)
{
    Beam beam{plan.polarisation, plan.divergence * kRadiansPerDegree, plan.divergenceAlong * kRadiansPerDegree, {},
              plan.monochromator};
    if (plan.surface) beam.surface = p.crystal->lattice().Reciprocal(*plan.surface);
    return beam;
}

// The beam as the tables' first lines name it.
GlitchBeam DescribedBeam(const PlanOptions& plan)
{
    const char* polarisation = plan.polarisation == Polarisation::kSigma ? "sigma"
                               : plan.polarisation == Polarisation::kPi  ? "pi"
                                                                         : "unpolarised";
    const char* monochromator = plan.monochromator == Monochromator::kSingle   ? "single"
                                : plan.monochromator == Monochromator::kDouble ? "double"
                                                                               : "channel-cut";
    return GlitchBeam{polarisation, plan.divergence, plan.divergenceAlong, plan.surface, plan.harmonics, monochromator};
}

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

// The same for --clean-energies: by depth (kDefaultMaxDepth unless --max-depth says) unless its
// FRACTION was given.
CleanThreshold EnergyThresholdOf(const PlanOptions& plan)
{
    if (plan.cleanEnergiesByStrength) return CleanThreshold{false, plan.cleanEnergyFraction};
    return CleanThreshold{true, plan.maxDepth > 0.0 ? plan.maxDepth : kDefaultMaxDepth};
}

// The events of the run's band, written to their table, and the clean windows printed; what was
// written is added to `written`, said once the files have their names.
void PlanAtBand(Planning& p, const RunOptions& options, PhaseLine& progress, std::string* written)
{
    const PlanOptions& plan = options.plan;
    p.subject.frame = &p.frame;
    const Band band{plan.lambda, plan.band};
    if (!plan.eventsFile.empty()) {
        progress.Phase("events: the reflections on the sphere");
        std::vector<Event> events = FindEvents(*p.crystal, p.frame, band, plan.window);
        progress.Phase(Printed("events: widths and depths of %zu events", events.size()));
        SetEventWidths(*p.crystal, p.frame, kHcKeVAngstrom / band.lambda, BeamOf(p, plan), &events);
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
        const CleanWindows found = SearchCleanEventWindows(*p.crystal, p.frame, band, BeamOf(p, plan), plan.window,
                                                           plan.cleanWidth, threshold, plan.divergence);
        const WindowSearch search{false, plan.cleanWidth, threshold, plan.divergence,
                                  kHcKeVAngstrom / (band.lambda + band.width / 2.0),
                                  kHcKeVAngstrom / (band.lambda - band.width / 2.0), DescribedBeam(plan), 0};
        ReportWindows(p, plan, search, found, progress, written);
    }
}

// An energy range below the primary reflection's cut-off reaches no reflection at all.
void RefuseUnreachableRange(const Planning& p, const char* option, double eMin, double eMax)
{
    const double cutoff = CutoffEnergy(p.frame);
    if (eMax >= cutoff) return;
    const Miller& g = p.frame.primary;
    throw RunError::Refusal(Printed("No reflection can reach the Ewald sphere from %f to %f keV (%s): the primary reflection "
                                    "%d %d %d diffracts only above %f keV\n", eMin, eMax, option, g.h, g.k, g.l, cutoff));
}

// A scan none of whose energies lie in the range, most likely in the other unit, is refused.
void RefuseScanOutsideRange(const ScanFile& scan, const std::string& name, const PlanOptions& plan)
{
    const auto [low, high] = std::minmax_element(scan.points.begin(), scan.points.end(),
                                                 [](const ScanPoint& a, const ScanPoint& b) { return a.energy < b.energy; });
    if (high->energy >= plan.energyMin && low->energy <= plan.energyMax) return;
    const bool inEV = plan.scanToKeV == 1.0;  // the scan's energies taken as keV
    const double other = inEV ? 0.001 : 1000.0;
    const bool fits = high->energy * other >= plan.energyMin && low->energy * other <= plan.energyMax;
    throw RunError::Refusal(Printed("No point of the measured scan %s lies from %g to %g keV (--energies): its energies run "
                                    "from %g to %g keV%s\n", name.c_str(), plan.energyMin, plan.energyMax,
                                    low->energy, high->energy,
                                    !fits ? "" : inEV ? "; are they in eV? Give --scan-unit eV" : "; are they in keV? Leave out --scan-unit eV"));
}

// The dips of one measured scan inside --energies, with a word on lines skipped and on
// intensities read as a change of I0; an unreadable scan is refused.
DipSearch DipsOfScan(const std::string& name, const PlanOptions& plan, PhaseLine& progress)
{
    progress.Phase("fit: reading " + name);
    const ScanFile scan = ReadScanFile(name, plan.scanToKeV);
    if (scan.skipped > 0) {
        progress.Clear();
        std::fprintf(stderr, "kelto: %zu lines of %s are not an energy and an intensity and were skipped (the first: line %zu)\n",
                     scan.skipped, name.c_str(), scan.firstSkipped);
    }
    RefuseScanOutsideRange(scan, name, plan);
    DipSearch dips;
    try {
        dips = FindDips(scan.points, plan.energyMin, plan.energyMax);
    } catch (const std::domain_error& e) {
        throw RunError::Refusal(Printed("The measured scan %s cannot be read as an I0 from %g to %g keV: %s; give I0 itself, or "
                                        "its change in percent\n", name.c_str(), plan.energyMin, plan.energyMax, e.what()));
    }
    if (dips.percentChange) {
        progress.Clear();
        std::fprintf(stderr, "kelto: the intensities of %s reach %g, at or below 0: they are read as the change of I0 in percent "
                             "(I0 = 100 + value); a change given as a share of I0 must be multiplied by 100\n",
                     name.c_str(), dips.lowest);
    }
    return dips;
}

// "the dips of A.dat from 6 to 14 keV", "the dips of 3 scans".
std::string DipsNamed(const PlanOptions& plan)
{
    if (plan.fitScanFiles.size() == 1) {
        return Printed("the dips of %s from %g to %g keV", plan.fitScanFiles.front().c_str(), plan.energyMin, plan.energyMax);
    }
    return Printed("the dips of %zu scans", plan.fitScanFiles.size());
}

// The fitted psi, offsets and significance as the console says them.
std::string FitAnswer(const GlitchFit& fit, const PlanOptions& plan)
{
    const bool one = fit.scans.size() == 1;
    const ScanMatch& first = fit.scans.front();
    std::string answer;
    const std::string trials = fit.asGood == 0 ? Printed("p = %.3g (none of %d trials of unrelated dips fit as well)", fit.p, fit.trials)
                                               : Printed("p = %.3g (%d of %d trials of unrelated dips fit as well)", fit.p, fit.asGood,
                                                         fit.trials);
    const std::string offset = one || plan.fitOneOffset ? Printed(", energy offset %+.2f +/- %.2f eV (measured minus predicted)",
                                                                  first.offsetEV, first.offsetError)
                                                        : std::string();
    const std::string paired = one ? Printed("%d of %zu dips within %.1f eV of a predicted glitch, %d unmatched", fit.matched,
                                             first.dips.size(), first.toleranceEV, fit.unmatched)
                                   : Printed("%d of %d dips of %zu scans within their tolerance of a predicted glitch", fit.matched,
                                             fit.matched + fit.unmatched, fit.scans.size());
    if (fit.found) {
        answer = Printed("kelto: fitted psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s\n", fit.psi, fit.psiError, offset.c_str(),
                         paired.c_str(), fit.rmsEV, trials.c_str());
    } else if (fit.p > fit.significance) {
        answer = Printed("kelto: No significant fit to %s: at best psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s: above "
                         "--significance %g, chance fits as well\n", DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(),
                         paired.c_str(), fit.rmsEV, trials.c_str(), fit.significance);
    } else if (fit.exact) {
        answer = Printed("kelto: No significant fit to %s: at best psi %.4f +/- %.4f degrees%s: %s; %s, but psi and the offsets fit "
                         "so few pairs exactly wherever lines of their spacings meet: more dips are needed\n",
                         DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), trials.c_str());
    } else if (std::isfinite(fit.beyondOffsetEV)) {
        answer = Printed("kelto: No fit to %s within --max-offset: at best psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s\n",
                         DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), fit.rmsEV, trials.c_str());
    } else {
        std::string rivals;
        for (const double psi : fit.rivals) rivals += Printed("%s%.4f", rivals.empty() ? "" : ", ", psi);
        answer = Printed("kelto: No single fit to %s: psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s; but psi %s degrees, no "
                         "image of it by the crystal's symmetry, pair%s as large a share: the scans cannot tell them apart\n",
                         DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), fit.rmsEV, trials.c_str(),
                         rivals.c_str(), fit.rivals.size() == 1 ? "s" : "");
    }
    for (std::size_t i = 0; i < fit.scans.size() && !one; ++i) {
        const ScanMatch& scan = fit.scans[i];
        const char* name = plan.fitScanFiles[i].c_str();
        if (!scan.used) {
            answer += Printed("kelto:   %s: left out, %s\n", name, scan.why.c_str());
        } else if (!std::isfinite(scan.offsetError)) {
            answer += Printed("kelto:   %s (%g to %g keV): none of its %zu dips pairs with a predicted glitch within %.1f eV\n", name,
                              scan.eMin, scan.eMax, scan.dips.size(), scan.toleranceEV);
        } else if (plan.fitOneOffset) {
            answer += Printed("kelto:   %s (%g to %g keV): %d of %zu dips within %.1f eV\n", name, scan.eMin, scan.eMax, scan.matched,
                              scan.dips.size(), scan.toleranceEV);
        } else {
            answer += Printed("kelto:   %s (%g to %g keV): energy offset %+.2f +/- %.2f eV, %d of %zu dips within %.1f eV\n", name,
                              scan.eMin, scan.eMax, scan.offsetEV, scan.offsetError, scan.matched, scan.dips.size(), scan.toleranceEV);
        }
    }
    if (fit.found && fit.equivalents.size() > 1) {
        std::string list;
        for (const double psi : fit.equivalents) {
            if (std::fabs(psi - fit.psi) > 1e-9) list += Printed("%s%.4f", list.empty() ? "" : ", ", psi);
        }
        const bool single = fit.equivalents.size() == 2;
        answer += Printed("kelto: psi %s degrees fit%s as well: the crystal's symmetry gives %s the same spectrum%s\n", list.c_str(),
                          single ? "s" : "", single ? "it" : "them",
                          plan.fitNominalPsi ? "; the one nearest --at-psi is taken" : "; give --at-psi to take the one nearest it");
    }
    // A best fit pressed against the bound of the offsets hints at a larger offset the search left out.
    const auto atTheBound = std::find_if(fit.scans.begin(), fit.scans.end(), [&](const ScanMatch& scan) {
        return scan.used && std::isfinite(scan.offsetError) && std::fabs(scan.offsetEV) + scan.toleranceEV >= plan.widestOffsetEV;
    });
    if (!fit.found && !std::isfinite(fit.beyondOffsetEV) && atTheBound != fit.scans.end()) {
        answer += Printed("kelto: the energy offset %+.2f eV lies within %.1f eV of --max-offset %g: a larger one may fit; raise "
                          "--max-offset to look further\n", atTheBound->offsetEV, atTheBound->toleranceEV, plan.widestOffsetEV);
    }
    if (std::isfinite(fit.beyondOffsetEV)) {
        answer += Printed("kelto: at psi %.4f degrees an energy offset of %+.1f eV, beyond --max-offset %g, fits better and "
                          "significantly: raise --max-offset to take it\n", fit.beyondPsi, fit.beyondOffsetEV, plan.widestOffsetEV);
    }
    return answer;
}

// The beam's spread across that the dips' widths call for, as the option that predicts with it.
std::string SpreadAnswer(const SpreadEstimate& spread, const GlitchFit& fit, const PlanOptions& plan)
{
    if (!spread.found) return Printed("kelto: no estimate of the beam's spread from the dip widths: %s\n", spread.why.c_str());
    const double degrees = spread.across / kRadiansPerDegree, high = spread.high / kRadiansPerDegree;
    if (!(spread.low > 0.0)) {
        return Printed("kelto: the widths of %d dips do not fix the beam's spread across the primary's scattering plane: any up "
                       "to %.6f degrees (%.3g microradian) fits them as well as none (a finer scan resolves narrower dips)\n",
                       spread.dips, high, spread.high * 1e6);
    }
    const std::string along = plan.divergenceAlong > 0.0 ? Printed(",%.6f", plan.divergenceAlong) : std::string();
    return Printed("kelto: the widths of %d dips fit a beam spread of %.6f degrees (%.3g microradian, %.3g to %.3g) across the "
                   "primary's scattering plane, within a factor %.2f: predict with --at-psi %.4f --divergence %.6f%s\n",
                   spread.dips, degrees, spread.across * 1e6, spread.low * 1e6, spread.high * 1e6, spread.factor, fit.psi, degrees,
                   along.c_str());
}

// Each order's share of the beam: the shares of --harmonic-content over the orders the structure
// lets through up to the highest energy, none for a forbidden order; from its table, at each setting.
OrderShares HarmonicContentOf(const Planning& p, const PlanOptions& plan)
{
    const HarmonicOrders orders = OrdersOfHarmonics(*p.crystal, p.frame, plan.harmonics, plan.energyMax);
    const auto refuse = [&](const std::string& given, std::size_t count) {
        return RunError::Refusal(Printed("--harmonic-content: %s has %zu shares, but %s forbidden: give one for every "
                                         "harmonic or one for each of %s\n", given.c_str(), count,
                                         (OrderReflections(p.frame, orders.forbidden) + (orders.forbidden.size() == 1 ? " is" : " are")).c_str(),
                                         OrderReflections(p.frame, orders.passing).c_str()));
    };
    if (plan.harmonicContentFile.empty()) {
        std::vector<double> content = HarmonicContent(orders, plan.harmonics, plan.harmonicShares);
        if (content.empty()) {
            std::string shares;
            for (const double c : plan.harmonicShares) shares += Printed("%s%g", shares.empty() ? "" : ",", c);
            throw refuse("'" + shares + "'", plan.harmonicShares.size());
        }
        return content;
    }
    const std::vector<ShareRow> rows = ReadShareTable(plan.harmonicContentFile);
    if (rows.front().energy > plan.energyMin || rows.back().energy < plan.energyMax) {
        const bool inEV = rows.front().energy <= 1000.0 * plan.energyMin && rows.back().energy >= 1000.0 * plan.energyMax;
        throw RunError::Refusal(Printed("The harmonic content table %s runs from %g to %g keV: it must cover --energies %g to "
                                        "%g keV%s\n", plan.harmonicContentFile.c_str(), rows.front().energy, rows.back().energy,
                                        plan.energyMin, plan.energyMax, inEV ? "; are its energies in eV? Give them in keV" : ""));
    }
    std::vector<double> energies;
    std::vector<std::vector<double>> content;
    for (const ShareRow& row : rows) {
        energies.push_back(row.energy);
        content.push_back(HarmonicContent(orders, plan.harmonics, row.shares));
        if (content.back().empty()) throw refuse("the table " + plan.harmonicContentFile + " (line " + std::to_string(row.line) + ")", row.shares.size());
    }
    return OrderShares(energies, content);
}

// A harmonic the structure forbids passes nothing: said once, before the run computes.
void NoteForbiddenHarmonics(const Planning& p, const PlanOptions& plan)
{
    for (const int n : OrdersOfHarmonics(*p.crystal, p.frame, plan.harmonics, plan.energyMax).forbidden) {
        std::fprintf(stderr, "kelto: %s is forbidden: no %s-order glitches\n", OrderReflections(p.frame, {n}).c_str(),
                     OrdinalWord(n).c_str());
    }
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
    request.beam.beam = BeamOf(p, plan);
    request.nominalPsi = plan.fitNominalPsi;
    request.widestOffsetEV = plan.widestOffsetEV;
    request.oneOffset = plan.fitOneOffset;
    request.significance = plan.fitSignificance;
    std::size_t count = 0;
    for (const DipSearch& d : dips) count += d.dips.size();
    progress.Phase(Printed("fit: psi and offsets to %zu dips, and trials of its significance", count));
    const GlitchFit fit = FitGlitches(*p.crystal, p.frame, dips, request);
    if (!plan.fitTableFile.empty()) {
        WriteTable(plan.fitTableFile, [&](std::FILE* f) {
            WriteFitTable(f, p.subject, plan.energyMin, plan.energyMax, DescribedBeam(plan), fit, plan.fitOneOffset, plan.fitScanFiles);
        });
    }
    if (!fit.candidate) {
        *written += Printed("kelto: No azimuth explains %s: %s\n", DipsNamed(plan).c_str(), fit.why.c_str());
        for (std::size_t i = 0; i < fit.scans.size() && fit.scans.size() > 1; ++i) {
            if (!fit.scans[i].used) *written += Printed("kelto:   %s: left out, %s\n", plan.fitScanFiles[i].c_str(), fit.scans[i].why.c_str());
        }
        if (std::isfinite(fit.beyondOffsetEV)) {
            *written += Printed("kelto: at psi %.4f degrees an energy offset of %+.1f eV, beyond --max-offset %g, fits significantly: "
                                "raise --max-offset to take it\n", fit.beyondPsi, fit.beyondOffsetEV, plan.widestOffsetEV);
        }
    } else {
        *written += FitAnswer(fit, plan);
        if (fit.found) *written += SpreadAnswer(EstimateSpread(*p.crystal, p.frame, fit, dips, request), fit, plan);
    }
    if (!plan.fitTableFile.empty()) *written += Printed("kelto: wrote %s\n", plan.fitTableFile.c_str());
    return fit.found;
}

// Energy scans instead of the four files: the glitch spectrum, the glitch map and the clean
// energy range; what was written is added to `written`. False when a fit explains nothing.
bool PlanEnergyScans(Planning& p, const PlanOptions& plan, PhaseLine& progress, std::string* written)
{
    p.subject.frame = &p.frame;
    if (!plan.glitchesFile.empty() || !plan.spectrumFile.empty()) {
        progress.Phase(Printed("glitch spectrum: the reflections on the sphere from %g to %g keV", plan.energyMin, plan.energyMax));
        std::vector<Glitch> glitches =
            FindGlitchesWithHarmonics(*p.crystal, p.frame, plan.atPsi, plan.energyMin, plan.energyMax, plan.harmonics);
        progress.Phase(Printed("glitch spectrum: widths and depths of %zu glitches", glitches.size()));
        ShapeGlitches(*p.crystal, p.frame, plan.atPsi, plan.energyMin, plan.energyMax, BeamOf(p, plan), &glitches);
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
        std::vector<GlitchLine> lines = GlitchMap(*p.crystal, p.frame, plan.window, plan.energyMin, plan.energyMax);
        progress.Phase(Printed("glitch map: depths of %zu lines", lines.size()));
        SetLineDepths(*p.crystal, p.frame, plan.energyMin, BeamOf(p, plan), &lines);
        progress.Phase("writing " + plan.mapFile);
        WriteTable(plan.mapFile, [&](std::FILE* f) {
            WriteGlitchMap(f, p.subject, plan.energyMin, plan.energyMax, DescribedBeam(plan), lines, &progress);
        });
        *written += Printed("kelto: %zu glitch lines from %g to %g keV over psi %g to %g degrees, wrote %s\n", lines.size(),
                            plan.energyMin, plan.energyMax, plan.window.min, plan.window.max, plan.mapFile.c_str());
    }
    if (plan.cleanEnergies) {
        progress.Phase(Printed("clean windows from %g to %g keV", plan.cleanEnergyMin, plan.cleanEnergyMax));
        const CleanThreshold threshold = EnergyThresholdOf(plan);
        const CleanWindows found = CleanEnergyWindows(*p.crystal, p.frame, plan.window, plan.cleanEnergyMin, plan.cleanEnergyMax,
                                                      threshold, plan.divergence, BeamOf(p, plan), plan.cleanMinWidth);
        const WindowSearch search{true, plan.cleanMinWidth, threshold, plan.divergence, plan.cleanEnergyMin,
                                  plan.cleanEnergyMax, DescribedBeam(plan), plan.windowsShown};
        ReportWindows(p, plan, search, found, progress, written);
    }
    return plan.fitScanFiles.empty() || FitMeasuredScans(p, plan, progress, written);
}

// A primary reflection that scatters nothing at the run's (highest) energy is worth a word before
// the run computes: its scan shows only what the events carry into it.
void NoteForbiddenPrimary(const Planning& p, const PlanOptions& plan)
{
    const std::string notice = ForbiddenPrimaryNotice(*p.crystal, p.frame.primary, kHcKeVAngstrom / plan.lambda);
    if (!notice.empty()) std::fprintf(stderr, "kelto: %s\n", notice.c_str());
}

// A run whose files would not fit in the free space of their folders, or whose calculation would
// not fit in the memory, is refused before anything is computed: every table it writes and what
// each holds, with the four files of the survey.
void RefuseRunawayRun(const InputStruct* record, const Planning& p, const RunOptions& options, bool survey)
{
    const PlanOptions& plan = options.plan;
    std::vector<RunPart> parts;
    if (survey) {
        const SurveyEstimate e = EstimateSurvey(record);
        parts.push_back({InOutputFolder(kSurveyFileNames[0]), e.bytes, e.memory, Printed("about %.3g curves", e.curves), "", 0.0});
    }
    const double window = plan.window.max - plan.window.min;
    try {
        if (p.crystal && plan.AtBand()) {
            // The events of the band's short end, for the table and for the clean windows alike.
            const double shortest = plan.lambda - plan.band / 2.0 > 0.0 ? plan.lambda - plan.band / 2.0 : plan.lambda;
            parts.push_back(EventsPart(*p.crystal, p.frame, shortest, window, kOptionNames, plan.eventsFile));
        }
        if (!plan.glitchesFile.empty()) {
            parts.push_back(GlitchesPart(*p.crystal, p.frame, plan.energyMin, plan.energyMax, plan.harmonics, false, kOptionNames,
                                         plan.glitchesFile));
        }
        if (!plan.spectrumFile.empty()) {
            parts.push_back(SpectrumPart(*p.crystal, p.frame, plan.energyMin, plan.energyMax, plan.harmonics, false, kOptionNames,
                                         plan.spectrumFile));
        }
        if (!plan.mapFile.empty()) {
            parts.push_back(GlitchMapPart(*p.crystal, p.frame, plan.energyMin, plan.energyMax, window, kOptionNames, plan.mapFile));
        }
        if (plan.cleanEnergies) {
            const ScaleNames names{kOptionNames.psi, "--clean-energies", kOptionNames.harmonics};
            parts.push_back(GlitchMapPart(*p.crystal, p.frame, plan.cleanEnergyMin, plan.cleanEnergyMax, window, names, ""));
        }
        if (!plan.fitScanFiles.empty()) {
            parts.push_back(FitPart(*p.crystal, p.frame, plan.energyMax, plan.harmonics, kOptionNames, plan.fitTableFile));
        }
    } catch (const RunError& beyond) {
        // A sphere beyond the doubles is most likely a unit mistake too: the same hints begin it.
        throw RunError::Refusal(UnitHints(options.typed) + beyond.what());
    }
    if (!plan.windowsFile.empty()) parts.push_back({plan.windowsFile, kSmallTableBytes, 0.0, "the clean windows", "", 0.0});
    RefuseRunaway(parts, UnitHints(options.typed));
}

// Refuses what the crystal and the planning options cannot make sense of, before anything is written.
void RefuseUnusablePlan(const InputStruct* record, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    if (plan.cifFile.empty()) {
        RefuseUnusableRun(record, options.answers);
        return;
    }
    if (IsZero(plan.primary)) {
        throw RunError::Refusal(Printed("The primary reflection 0 0 0%s has no reflection frame\n",
                                        options.answers.Note(AnswerOption::kPrimary).c_str()));
    }
    if (!plan.EnergyRun() && !(plan.lambda > 0.0 && std::isfinite(plan.lambda))) {
        throw RunError::Refusal(Printed("The wavelength lambda%s must be a positive finite number, not %f\n",
                                        options.answers.Note(AnswerOption::kWavelength).c_str(), plan.lambda));
    }
}

// Every file the run writes, and the files it reads that none of them may be.
void PrepareRunOutputs(const InputStruct* record, const RunOptions& options, bool survey)
{
    const PlanOptions& plan = options.plan;
    std::vector<std::string> outputs;
    if (survey) outputs = SurveyFilesInOutputFolder();
    for (const std::string* table :
         {&plan.eventsFile, &plan.glitchesFile, &plan.spectrumFile, &plan.mapFile, &plan.windowsFile, &plan.fitTableFile}) {
        if (!table->empty()) outputs.push_back(*table);
    }
    std::vector<RunInput> inputs;
    if (plan.cifFile.empty()) inputs.push_back({"coefficient table", record->factorFile});
    if (!plan.cifFile.empty()) inputs.push_back({"CIF file", plan.cifFile});
    for (const std::string& scan : plan.fitScanFiles) inputs.push_back({"measured scan", scan});
    PrepareOutputs(outputs, inputs);
}

}  // namespace

int RunFromRecord(InputStruct* record, const RunOptions& options)
{
    SetOutputFolder(options.outputFolder);
    const PlanOptions& plan = options.plan;
    RefuseUnusablePlan(record, options);
    const bool survey = plan.cifFile.empty() && !plan.EnergyRun();  // the four files
    // The planning crystal is made, and its ranges checked, before any file is: its refusals leave
    // nothing behind.
    Planning planning;
    if (plan.AtBand() || plan.EnergyRun()) planning = Prepare(record, options);
    if (!plan.glitchesFile.empty() || !plan.spectrumFile.empty() || !plan.mapFile.empty() || !plan.fitScanFiles.empty()) {
        RefuseUnreachableRange(planning, "--energies", plan.energyMin, plan.energyMax);
    }
    if (plan.cleanEnergies) RefuseUnreachableRange(planning, "--clean-energies", plan.cleanEnergyMin, plan.cleanEnergyMax);
    if (plan.harmonics > 1) planning.content = HarmonicContentOf(planning, plan);  // shares that fit the orders, before any file
    RefuseRunawayRun(record, planning, options, survey);
    PrepareRunOutputs(record, options, survey);
    if (planning.crystal) NoteForbiddenPrimary(planning, plan);
    if (planning.crystal) NoteForbiddenHarmonics(planning, plan);
    SurveyRun run;
    run.answers = options.answers;
    std::string written;
    if (survey) {
        WriteConsoleBehind();
        run.echo = !options.quiet;
        CalculHKL(record, &run);
        if (options.quiet) written += RunSummary(options, run);
    }
    // Planning prints nothing while it computes (its console lines take the line off first), so its
    // progress line shows at any terminal, after the survey's echo has ended.
    PhaseLine progress(planning.crystal && StandardErrorIsTerminal());
    if (plan.AtBand()) PlanAtBand(planning, options, progress, &written);
    const bool explained = !plan.EnergyRun() || PlanEnergyScans(planning, plan, progress, &written);
    progress.End();
    // Everything the run writes, its console lines too, is complete: now the files take their
    // names, and only then does the run say what it wrote.
    CommitOutputFiles();
    std::fputs(written.c_str(), stdout);
    const int status = CompletedRunStatus();
    return status == 0 && !explained ? 1 : status;
}

RunOptions DialogueRun(const InputStruct& record)
{
    RunOptions run;  // the dialogue's words (RunOptions' default), the current folder, nothing planned
    run.typed.latticeA = record.latticeA, run.typed.lambda = record.lambda;
    run.typed.latticeName = "the lattice parameter a", run.typed.wavelengthName = "the wavelength lambda";
    return run;
}
