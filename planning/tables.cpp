#include "planning/tables.h"

#include "fit/second_crystal_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <numeric>
#include <sys/types.h>

#include "io/console.h"
#include "io/run_error.h"
#include "io/text_format.h"

using text_format::TextWriter;

std::string MatrixReference(Miller primary)
{
    double r2[3], r3[3];
    MatrixFrameAxes(primary, r2, r3);
    // With three non-zero indices R's components are fractions over L, and |L| R is whole.
    const double scale = primary.h != 0 && primary.k != 0 && primary.l != 0 ? std::abs(static_cast<double>(primary.l)) : 1.0;
    long long whole[3];
    long long common = 0;
    for (int i = 0; i < 3; ++i) {
        const double scaled = r2[i] * scale;
        // Far beyond any primary that can diffract: the direction as it comes.
        if (!(std::abs(scaled) < 1e12)) return Printed("%g %g %g", r2[0], r2[1], r2[2]);
        whole[i] = std::llround(scaled);
        common = std::gcd(common, whole[i]);
    }
    if (common == 0) common = 1;
    return Printed("%lld %lld %lld", whole[0] / common, whole[1] / common, whole[2] / common);
}

namespace {

void WriteSubject(TextWriter& out, const TableSubject& s)
{
    out.Print<"crystal %s; primary %d %d %d; ">(s.crystal.c_str(), s.primary.h, s.primary.k, s.primary.l);
    if (s.frame->reference) {
        const Miller& r = *s.frame->reference;
        out.Print<"psi right-handed about the primary from reference %d %d %d to the beam">(r.h, r.k, r.l);
    } else {
        // The same words as with a reference, so that one reading serves both frames.
        out.Print<"psi in the frame of the orientation matrix: %s-handed about the primary from reference %s to the "
                  "reversed beam">(s.frame->rightHanded ? "right" : "left", MatrixReference(s.primary).c_str());
    }
}

// A window's number as its table row holds it (six decimals), so that the console's three
// decimals round the same digits a reader of the table rounds.
double AsTabled(double value)
{
    return std::strtod(Printed("%.6f", value).c_str(), nullptr);
}

void WriteWindow(TextWriter& out, const PsiWindow& w)
{
    out.Print<"; psi %.6f to %.6f degrees">(w.min, w.max);
}

// Tells the progress line, every thousand rows or so, how many of the table's rows are written.
void RowWritten(PhaseLine* progress, std::size_t row, std::size_t rows)
{
    if (progress != nullptr && (row & 1023) == 0) progress->Share(static_cast<std::int64_t>(row), static_cast<std::int64_t>(rows));
}

}  // namespace

namespace {

// The first line's account of the beam that the widths and depths are for.
void WriteBeam(TextWriter& out, const GlitchBeam& beam)
{
    out.Print<"; polarisation %s; divergence %.6f across, %.6f along degrees">(beam.polarisation, beam.acrossDegrees,
                                                                              beam.alongDegrees);
    if (beam.surface) {
        out.Print<"; surface %d %d %d">(beam.surface->h, beam.surface->k, beam.surface->l);
    } else {
        out.Print<"; symmetric cut">();
    }
}

// The same for energies over a psi window (the glitch map, the fit of a scan): the window, the
// energies, the beam.
void WriteWindowEnergiesAndBeam(TextWriter& out, const PsiWindow& window, double eMin, double eMax, const GlitchBeam& beam)
{
    WriteWindow(out, window);
    out.Print<"; energies %.6f to %.6f keV">(eMin, eMax);
    WriteBeam(out, beam);
    out.Print<"; monochromator %s">(beam.monochromator);
}

// Text of the user's (a file name, a reason quoting it) kept to one line of the table's first line.
std::string Printable(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

// The same for an energy scan at one azimuth, with its harmonics.
void WriteScanAndBeam(TextWriter& out, double psi, double eMin, double eMax, const GlitchBeam& beam)
{
    out.Print<"; at psi %.6f degrees; energies %.6f to %.6f keV">(psi, eMin, eMax);
    WriteBeam(out, beam);
    out.Print<"; monochromator %s">(beam.monochromator);
    if (beam.secondPsi) out.Print<"; second crystal at psi %.6f degrees">(*beam.secondPsi);
    out.Print<"; harmonics to %d">(beam.harmonics);
}

}  // namespace

void WriteEventsTable(std::FILE* file, const TableSubject& subject, const Band& band, const GlitchBeam& beam,
                      const std::vector<Event>& events, PhaseLine* progress)
{
    TextWriter out(file);
    out.Print<"# kelto multiple-beam events: ">();
    WriteSubject(out, subject);
    out.Print<"; wavelength %.6f angstrom; band %.6f angstrom">(band.lambda, band.width);
    WriteWindow(out, subject.window);
    WriteBeam(out, beam);
    out.Print<"\npsi,psi_min,psi_max,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,direction,width_deg,depth\n">();
    for (std::size_t row = 0; row < events.size(); ++row) {
        RowWritten(progress, row, events.size());
        const Event& e = events[row];
        out.Print<"%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%s,%.6f,%.6f\n">(
            e.psi, e.psiMin, e.psiMax, e.x.h, e.x.k, e.x.l, e.coupling.h, e.coupling.k, e.coupling.l, e.F, e.couplingF,
            e.strength, e.relativeStrength, PassageWord(e.passage), std::isfinite(e.widthDeg) ? e.widthDeg : 360.0, e.depth);
    }
}


void WriteSpectrumTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                        const GlitchBeam& beam, const OrderShares& content, const std::vector<SpectrumPoint>& spectrum,
                        PhaseLine* progress)
{
    TextWriter out(file);
    out.Print<"# kelto predicted I0 spectrum: ">();
    WriteSubject(out, subject);
    WriteScanAndBeam(out, psi, eMin, eMax, beam);
    // Shares that vary with the setting: those at either end of the scan.
    out.Print<"; harmonic content">();
    const auto shares = [&](double keV) {
        const std::vector<double> at = content.At(keV);
        for (std::size_t n = 0; n < at.size(); ++n) out.Print<"%s %.6f">(n == 0 ? "" : ",", at[n]);
    };
    shares(eMin);
    if (content.Varies()) {
        out.Print<" at %.6f keV to">(eMin);
        shares(eMax);
        out.Print<" at %.6f keV">(eMax);
    }
    out.Print<"\nenergy_keV,i0\n">();
    out.Flush();
    // Energies to the micro-electronvolt, so that the points across the narrowest glitch stay apart.
    for (std::size_t row = 0; row < spectrum.size(); ++row) {
        RowWritten(progress, row, spectrum.size());
        std::fprintf(file, "%.9f,%.6f\n", spectrum[row].energy, spectrum[row].i0);
    }
}

namespace {

// A stream that counts what is written to it and keeps nothing.
ssize_t CountWritten(void* count, const char*, std::size_t size)
{
    *static_cast<long long*>(count) += static_cast<long long>(size);
    return static_cast<ssize_t>(size);
}

}  // namespace

long long SpectrumTableBytes(const TableSubject& subject, double psi, double eMin, double eMax, const GlitchBeam& beam,
                             const OrderShares& content, const std::vector<SpectrumPoint>& spectrum)
{
    long long bytes = 0;
    std::FILE* counted = ::fopencookie(&bytes, "w", cookie_io_functions_t{nullptr, CountWritten, nullptr, nullptr});
    if (counted == nullptr) throw std::bad_alloc();
    WriteSpectrumTable(counted, subject, psi, eMin, eMax, beam, content, spectrum);
    std::fclose(counted);
    return bytes;
}

void WriteGlitchTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                      const GlitchBeam& beam, const std::vector<Glitch>& glitches, PhaseLine* progress)
{
    TextWriter out(file);
    out.Print<"# kelto glitch spectrum: ">();
    WriteSubject(out, subject);
    WriteScanAndBeam(out, psi, eMin, eMax, beam);
    out.Print<"\n">();
    out.Print<"energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,kind,width_eV,depth,order,rise,shares_h,shares_k,shares_l,crystal\n">();
    for (std::size_t row = 0; row < glitches.size(); ++row) {
        RowWritten(progress, row, glitches.size());
        const Glitch& g = glitches[row];
        const Miller shares = g.sharesDip ? g.partner : Miller{0, 0, 0};
        out.Print<"%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%s,%.6f,%.6f,%d,%.6f,%d,%d,%d,%d\n">(
            g.energy, g.wavelength, g.x.h, g.x.k, g.x.l, g.coupling.h, g.coupling.k, g.coupling.l, g.F, g.couplingF,
            g.strength, g.relativeStrength, g.always ? static_cast<const char*>("always") : "glitch", g.widthEV, g.depth,
            g.order, g.rise, shares.h, shares.k, shares.l, g.crystal);
    }
}

void WriteGlitchMap(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                    const std::vector<GlitchLine>& lines, PhaseLine* progress)
{
    TextWriter out(file);
    out.Print<"# kelto glitch map: ">();
    WriteSubject(out, subject);
    WriteWindowEnergiesAndBeam(out, subject.window, eMin, eMax, beam);
    if (beam.secondPsi) {
        out.Print<"; second crystal at psi %.6f degrees, its glitches with the harmonics to %d">(*beam.secondPsi, beam.harmonics);
    }
    out.Print<"\n">();
    out.Print<"psi_centre,psi_from,psi_to,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,energy_top_keV,energy_cutoff_keV,kind,depth,crystal\n">();
    for (std::size_t row = 0; row < lines.size(); ++row) {
        RowWritten(progress, row, lines.size());
        const GlitchLine& g = lines[row];
        out.Print<"%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%.6f,%.6f,%s,%.6f,%d\n">(
            g.centre, g.from, g.to, g.x.h, g.x.k, g.x.l, g.coupling.h, g.coupling.k, g.coupling.l, g.F, g.couplingF,
            g.strength, g.relativeStrength, g.topEnergy, g.cutoffEnergy, LineKindWord(g), g.depth, g.crystal);
    }
}

namespace {

// What counts against the windows, as the windows table's first line says it.
void WriteThreshold(TextWriter& out, const WindowSearch& search)
{
    const double limit = search.threshold.limit;
    if (search.energies) {
        std::vector<EnergyRange> ranges{{search.eMin, search.eMax, search.threshold}};
        ranges.insert(ranges.end(), search.others.begin(), search.others.end());
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            const EnergyRange& r = ranges[i];
            if (r.threshold.byDepth) {
                out.Print<"; %sno glitch deeper than %.6f of I0 from %.6f to %.6f keV">(i == 0 ? "" : "and ", r.threshold.limit, r.eMin,
                                                                                      r.eMax);
            } else {
                out.Print<"; %sno glitch above %.4f of the strongest from %.6f to %.6f keV">(i == 0 ? "" : "and ", r.threshold.limit,
                                                                                            r.eMin, r.eMax);
            }
        }
        out.Print<"; windows at least %.6f degrees wide">(search.width);
    } else if (search.threshold.byDepth) {
        out.Print<"; no event deeper than %.6f of I0, at least %.6f degrees wide">(limit, search.width);
    } else {
        out.Print<"; no event above %.4f of the strongest, at least %.6f degrees wide">(limit, search.width);
    }
}

// The same on the console, in parentheses.
void PrintThreshold(TextWriter& out, const char* what, const CleanThreshold& threshold)
{
    if (threshold.byDepth) {
        out.Print<" (no %s deeper than %.6f of I0)">(what, threshold.limit);
    } else {
        out.Print<" (no %s above %.4f of the strongest)">(what, threshold.limit);
    }
}

}  // namespace

void WriteWindowsTable(std::FILE* file, const TableSubject& subject, const WindowSearch& search, const CleanWindows& found)
{
    TextWriter out(file);
    out.Print<"# kelto clean azimuth windows: ">();
    WriteSubject(out, subject);
    WriteWindow(out, subject.window);
    WriteThreshold(out, search);
    out.Print<"; divergence %.6f degrees; widths for the beam">(search.divergence);
    WriteBeam(out, search.beam);
    if (search.energies) out.Print<"; monochromator %s">(search.beam.monochromator);
    out.Print<"\nsearch,psi_start,psi_end,width,clean,largest,h,k,l\n">();
    const char* name = search.energies ? "energies" : "events";
    for (const AzimuthInterval& w : found.windows) {
        out.Print<"%s,%.6f,%.6f,%.6f,1,0.000000,0,0,0\n">(name, w.start, w.end, w.Width());
    }
    for (const LeastBadStretch& s : found.leastBad) {
        out.Print<"%s,%.6f,%.6f,%.6f,0,%.6f,%d,%d,%d\n">(name, s.stretch.start, s.stretch.end, s.stretch.Width(), s.largest, s.x.h,
                                                      s.x.k, s.x.l);
    }
}

namespace {

// True when the only clean window is the whole psi window: nothing that counts reaches into it.
bool WholeWindowClean(const PsiWindow& window, const CleanWindows& found)
{
    if (found.windows.size() != 1 || found.narrower != 0) return false;
    const AzimuthInterval& w = found.windows.front();
    return window.FullCircle() ? w.Width() >= 360.0 : w.start <= window.min && w.end >= window.max;
}

// Says that nothing counts against a window, rather than offering the whole window as a finding.
// By strength that can only be because no event or line inside the window has a strength above 0
// (the strongest would count and take its own azimuths).
void PrintNothingCounts(TextWriter& out, const PsiWindow& window, const WindowSearch& search)
{
    if (search.energies) {
        out.Print<"No glitch counts from %.3f to %.3f keV">(search.eMin, search.eMax);
        for (const EnergyRange& r : search.others) out.Print<" and from %.3f to %.3f keV">(r.eMin, r.eMax);
        out.Print<": ">();
    } else {
        out.Print<"No event counts: ">();
    }
    const char* what = search.energies ? "line" : "event";
    if (search.threshold.byDepth) {
        out.Print<"none deeper than %.6f of I0 reaches into the psi window, so all of it, %.3f to %.3f degrees, is "
                  "clean\n">(search.threshold.limit, window.min, window.max);
    } else {
        out.Print<"no %s in the psi window has a strength above 0, so no azimuth from %.3f to %.3f degrees is cleaner "
                  "than another\n">(what, window.min, window.max);
    }
}

}  // namespace

void PrintCleanWindows(std::FILE* console, const PsiWindow& window, const WindowSearch& search, const CleanWindows& found)
{
    TextWriter out(console);
    if (WholeWindowClean(window, found)) {
        PrintNothingCounts(out, window, search);
        return;
    }
    const bool none = found.windows.empty();
    if (search.energies) {
        out.Print<"%s from %.3f to %.3f keV">(none ? "No azimuth window is clean" : "Azimuth windows clean", search.eMin, search.eMax);
        PrintThreshold(out, "glitch", search.threshold);
        for (const EnergyRange& r : search.others) {
            out.Print<" and from %.3f to %.3f keV">(r.eMin, r.eMax);
            PrintThreshold(out, "glitch", r.threshold);
        }
    } else {
        out.Print<"%s at least %.3f degrees wide">(none ? "No clean azimuth window" : "Clean azimuth windows", search.width);
        PrintThreshold(out, "event", search.threshold);
    }
    out.Print<"%s\n">(none ? "" : search.energies ? ", widest first:" : ":");
    const std::size_t listed = search.shown == 0 ? found.windows.size() : std::min(search.shown, found.windows.size());
    for (std::size_t i = 0; i < listed; ++i) {
        const AzimuthInterval& w = found.windows[i];
        out.Print<"  %9.3f to %9.3f degrees, %8.3f wide\n">(AsTabled(w.start), AsTabled(w.end), AsTabled(w.Width()));
    }
    if (listed < found.windows.size()) {
        const double widest = AsTabled(found.windows[listed].Width()), narrowest = AsTabled(found.windows.back().Width());
        out.Print<"  (%d more windows from %.3f to %.3f degrees wide not shown: --windows-shown 0 prints every one)\n">(
            static_cast<long long>(found.windows.size() - listed), narrowest, widest);
    }
    if (search.energies && found.narrower > 0) {
        out.Print<"  (%d clean stretches narrower than %.3f degrees left out)\n">(static_cast<long long>(found.narrower), search.width);
    }
    if (!none) return;
    if (found.leastBad.empty()) {
        out.Print<"Nothing is clean, and no stretch of the psi window is at least %.3f degrees wide\n">(search.width);
        return;
    }
    const bool several = !search.others.empty();
    out.Print<"Nothing is clean; the least bad stretches, best first, with the largest %s over each and its reflection%s:\n">(
        search.threshold.byDepth ? "depth (share of I0)" : "relative strength", several ? " and range" : "");
    for (const LeastBadStretch& s : found.leastBad) {
        out.Print<"  %9.3f to %9.3f degrees, %8.3f wide, largest %.4f (%d %d %d">(
            AsTabled(s.stretch.start), AsTabled(s.stretch.end), AsTabled(s.stretch.Width()), AsTabled(s.largest), s.x.h, s.x.k, s.x.l);
        if (several) {
            const EnergyRange r = s.range == 0 ? EnergyRange{search.eMin, search.eMax, search.threshold}
                                               : search.others[static_cast<std::size_t>(s.range - 1)];
            out.Print<", %.3f to %.3f keV">(r.eMin, r.eMax);
        }
        out.Print<")\n">();
    }
}

namespace {

// The calibrated readback scale of a fit, for the first line of its tables.
void WriteCalibration(TextWriter& out, const GlitchFit& fit)
{
    out.Print<"; readback hc / (2 d_ref sin(theta + delta)) of photons hc / (2 d sin theta), d %.6f angstrom">(fit.scale.dSpacing);
    out.Print<"; angle offset delta %.6f +/- %.6f degrees; d-spacing ratio d_ref / d %.6f +/- %.6f (d_ref / d - 1 %.4f +/- %.4f "
              "parts per million); their correlation %.3f">(fit.scale.angleOffsetDeg, fit.angleOffsetError, fit.scale.dRatio,
                                                            fit.dRatioError, (fit.scale.dRatio - 1.0) * 1e6, fit.dRatioError * 1e6,
                                                            fit.correlation);
    out.Print<"; with energy offsets %d dips matched, rms %.4f eV">(fit.matchedBefore, fit.rmsBefore);
}

}  // namespace

void WriteCalibrationTable(std::FILE* file, const TableSubject& subject, const GlitchFit& fit, double stepEV)
{
    TextWriter out(file);
    out.Print<"# kelto monochromator calibration: ">();
    WriteSubject(out, subject);
    double eMin = 0.0, eMax = 0.0;
    bool any = false;
    for (const ScanMatch& scan : fit.scans) {
        if (!scan.used) continue;
        eMin = any ? std::min(eMin, scan.eMin) : scan.eMin, eMax = any ? std::max(eMax, scan.eMax) : scan.eMax;
        any = true;
    }
    const bool rows = fit.found && fit.calibrated && any;
    if (rows) {
        out.Print<"; fitted psi %.6f +/- %.6f degrees (one standard error); p %.4f from %d trials">(fit.psi, fit.psiError, fit.p, fit.trials);
        WriteCalibration(out, fit);
        out.Print<"; readbacks %.6f to %.6f keV every %.0f eV; error_eV one standard error of the difference, to first order">(eMin, eMax,
                                                                                                                           stepEV);
    } else {
        out.Print<"; no calibration: %s">(Printable(fit.why.empty() ? std::string("no calibrated fit") : fit.why).c_str());
    }
    out.Print<"\n">();
    out.Print<"readback_keV,photon_keV,readback_minus_photon_eV,error_eV\n">();
    if (!rows) return;
    const ReadbackScale& scale = fit.scale;
    const int steps = static_cast<int>(std::ceil((eMax - eMin) * 1000.0 / stepEV - 1e-9));
    for (int i = 0; i <= steps; ++i) {
        const double read = i == steps ? eMax : eMin + i * stepEV / 1000.0;
        const double photon = scale.Photon(read);
        const ReadbackScale::Slopes slopes = scale.SlopesAt(photon);
        const double a = slopes.perDegree * 1000.0 * fit.angleOffsetError, b = slopes.perRatio * 1000.0 * fit.dRatioError;
        const double error = std::sqrt(std::max(0.0, a * a + 2.0 * fit.correlation * a * b + b * b));
        out.Print<"%.6f,%.6f,%.4f,%.4f\n">(read, photon, (read - photon) * 1000.0, error);
    }
}

void WriteFitTable(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                   const GlitchFit& fit, bool oneOffset, const std::vector<std::string>& scanNames, const GlitchFit* second)
{
    TextWriter out(file);
    out.Print<"# kelto glitch fit: ">();
    WriteSubject(out, subject);
    WriteWindowEnergiesAndBeam(out, subject.window, eMin, eMax, beam);
    out.Print<"; harmonics to %d; %s">(beam.harmonics, fit.calibrated ? "calibrated: one angle offset and d-spacing ratio for all scans"
                                                       : oneOffset ? "one offset for all scans" : "an offset for each scan");
    if (!fit.candidate) {
        out.Print<"; no fit: %s">(Printable(fit.why).c_str());
    } else {
        out.Print<"; fitted psi %.6f +/- %.6f degrees (one standard error); %d of %d dips matched; rms %.4f eV">(
            fit.psi, fit.psiError, fit.matched, fit.matched + fit.unmatched, fit.rmsEV);
        out.Print<"; p %.4f from %d trials of the dips moved out of reach of any match, %d as good (%s at %.4f)">(
            fit.p, fit.trials, fit.asGood, fit.found ? "significant" : "no significant fit", fit.significance);
        out.Print<"; symmetric azimuths">();
        for (std::size_t i = 0; i < fit.equivalents.size(); ++i) out.Print<"%s%.6f">(i == 0 ? " " : ", ", fit.equivalents[i]);
        if (fit.calibrated) WriteCalibration(out, fit);
    }
    for (std::size_t s = 0; s < fit.scans.size(); ++s) {
        const ScanMatch& scan = fit.scans[s];
        out.Print<"; scan %d %s">(static_cast<int>(s + 1), Printable(s < scanNames.size() ? scanNames[s] : "").c_str());
        if (!scan.used) {
            out.Print<" left out: %s">(Printable(scan.why).c_str());
        } else if (!fit.candidate) {
            out.Print<" from %.6f to %.6f keV">(scan.eMin, scan.eMax);
        } else {
            out.Print<" from %.6f to %.6f keV: %d of %d dips within %.2f eV, %s %.4f">(
                scan.eMin, scan.eMax, scan.matched, scan.matched + scan.unmatched, scan.toleranceEV,
                fit.calibrated ? "largest shift (readback minus photon energy)" : "offset", scan.offsetEV);
            if (std::isfinite(scan.offsetError)) {
                out.Print<" +/- %.4f eV">(scan.offsetError);
            } else {
                out.Print<" eV (no pair fixes it)">();
            }
        }
    }
    if (second != nullptr && second->candidate) {
        out.Print<"; second crystal psi %.6f +/- %.6f degrees; %d of %d dips left matched; rms %.4f eV; p %.4f (%s)">(
            second->psi, second->psiError, second->matched, second->matched + second->unmatched, second->rmsEV, second->p,
            second->found ? "significant" : "no significant fit");
    } else if (second != nullptr) {
        out.Print<"; second crystal: no fit: %s">(Printable(second->why).c_str());
    }
    out.Print<"\n">();
    out.Print<"energy_keV,depth,width_eV,matched,h,k,l,order,predicted_keV,residual_eV,line_depth,scan,crystal\n">();
    for (const PairedDip& row : DipsOfBothCrystals(fit, second)) {
        const MeasuredDip& d = row.dip;
        const DipMatch& m = row.match;
        out.Print<"%.6f,%.6f,%.3f,%d,">(d.energy, d.depth, d.widthEV, m.matched ? 1 : 0);
        if (m.matched) {
            out.Print<"%d,%d,%d,%d,%.6f,%.4f,%.6f,%d,%d\n">(m.x.h, m.x.k, m.x.l, m.order, m.predictedKeV, m.residualEV, m.lineDepth,
                                                          row.scan, row.crystal);
        } else {
            out.Print<",,,,,,,%d,0\n">(row.scan);
        }
    }
}
