#include "planning/tables.h"

#include <cmath>

#include "io/text_format.h"

using text_format::TextWriter;

namespace {

void WriteSubject(TextWriter& out, const TableSubject& s)
{
    out.Print<"crystal %s; primary %d %d %d; ">(s.crystal.c_str(), s.primary.h, s.primary.k, s.primary.l);
    if (s.frame->reference) {
        const Miller& r = *s.frame->reference;
        out.Print<"psi right-handed about the primary from reference %d %d %d to the beam">(r.h, r.k, r.l);
    } else {
        out.Print<"psi in the frame of the orientation matrix">();
    }
}

void WriteWindow(TextWriter& out, const PsiWindow& w)
{
    out.Print<"; psi %.6f to %.6f degrees">(w.min, w.max);
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

// The same for an energy scan at one azimuth, with its harmonics.
void WriteScanAndBeam(TextWriter& out, double psi, double eMin, double eMax, const GlitchBeam& beam)
{
    out.Print<"; at psi %.6f degrees; energies %.6f to %.6f keV">(psi, eMin, eMax);
    WriteBeam(out, beam);
    out.Print<"; harmonics to %d">(beam.harmonics);
}

}  // namespace

void WriteEventsTable(std::FILE* file, const TableSubject& subject, const Band& band, const GlitchBeam& beam,
                      const std::vector<Event>& events)
{
    TextWriter out(file);
    out.Print<"# kelto multiple-beam events: ">();
    WriteSubject(out, subject);
    out.Print<"; wavelength %.6f angstrom; band %.6f angstrom">(band.lambda, band.width);
    WriteWindow(out, subject.window);
    WriteBeam(out, beam);
    out.Print<"\npsi,psi_min,psi_max,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,direction,width_deg\n">();
    for (const Event& e : events) {
        out.Print<"%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%s,%.6f\n">(
            e.psi, e.psiMin, e.psiMax, e.x.h, e.x.k, e.x.l, e.coupling.h, e.coupling.k, e.coupling.l, e.F, e.couplingF,
            e.strength, e.relativeStrength, PassageWord(e.passage), std::isfinite(e.widthDeg) ? e.widthDeg : 360.0);
    }
}


void WriteSpectrumTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                        const GlitchBeam& beam, const std::vector<double>& content, const std::vector<SpectrumPoint>& spectrum)
{
    TextWriter out(file);
    out.Print<"# kelto predicted I0 spectrum: ">();
    WriteSubject(out, subject);
    WriteScanAndBeam(out, psi, eMin, eMax, beam);
    out.Print<"; harmonic content">();
    for (std::size_t n = 0; n < content.size(); ++n) out.Print<"%s %.6f">(n == 0 ? "" : ",", content[n]);
    out.Print<"\nenergy_keV,i0\n">();
    out.Flush();
    // Energies to the micro-electronvolt, so that the points across the narrowest glitch stay apart.
    for (const SpectrumPoint& p : spectrum) std::fprintf(file, "%.9f,%.6f\n", p.energy, p.i0);
}

void WriteGlitchTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                      const GlitchBeam& beam, const std::vector<Glitch>& glitches)
{
    TextWriter out(file);
    out.Print<"# kelto glitch spectrum: ">();
    WriteSubject(out, subject);
    WriteScanAndBeam(out, psi, eMin, eMax, beam);
    out.Print<"\n">();
    out.Print<"energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,kind,width_eV,depth,order\n">();
    for (const Glitch& g : glitches) {
        out.Print<"%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%s,%.6f,%.6f,%d\n">(
            g.energy, g.wavelength, g.x.h, g.x.k, g.x.l, g.coupling.h, g.coupling.k, g.coupling.l, g.F, g.couplingF,
            g.strength, g.relativeStrength, g.always ? static_cast<const char*>("always") : "glitch", g.widthEV, g.depth,
            g.order);
    }
}

void WriteGlitchMap(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                    const std::vector<GlitchLine>& lines)
{
    TextWriter out(file);
    out.Print<"# kelto glitch map: ">();
    WriteSubject(out, subject);
    WriteWindow(out, subject.window);
    out.Print<"; energies %.6f to %.6f keV">(eMin, eMax);
    WriteBeam(out, beam);
    out.Print<"\n">();
    out.Print<"psi_centre,psi_from,psi_to,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,energy_top_keV,energy_cutoff_keV,kind,depth\n">();
    for (const GlitchLine& g : lines) {
        out.Print<"%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%.6f,%.6f,%s,%.6f\n">(
            g.centre, g.from, g.to, g.x.h, g.x.k, g.x.l, g.coupling.h, g.coupling.k, g.coupling.l, g.F, g.couplingF,
            g.strength, g.relativeStrength, g.topEnergy, g.cutoffEnergy, g.always ? static_cast<const char*>("always") : "line",
            g.depth);
    }
}

void WriteWindowsTable(std::FILE* file, const TableSubject& subject, const WindowSearch& search,
                       const std::vector<AzimuthInterval>& windows)
{
    TextWriter out(file);
    out.Print<"# kelto clean azimuth windows: ">();
    WriteSubject(out, subject);
    WriteWindow(out, subject.window);
    if (search.energies) {
        out.Print<"; no glitch above %.4f of the strongest from %.6f to %.6f keV">(search.fraction, search.eMin, search.eMax);
    } else {
        out.Print<"; no event above %.4f of the strongest, at least %.6f degrees wide">(search.fraction, search.width);
    }
    out.Print<"; divergence %.6f degrees\n">(search.divergence);
    out.Print<"search,psi_start,psi_end,width\n">();
    for (const AzimuthInterval& w : windows) {
        out.Print<"%s,%.6f,%.6f,%.6f\n">(search.energies ? static_cast<const char*>("energies") : "events", w.start, w.end, w.Width());
    }
}

void PrintCleanWindows(std::FILE* console, const WindowSearch& search, const std::vector<AzimuthInterval>& windows)
{
    TextWriter out(console);
    if (search.energies) {
        if (windows.empty()) {
            out.Print<"No azimuth window is clean from %.3f to %.3f keV (no glitch above %.4f of the strongest)\n">(
                search.eMin, search.eMax, search.fraction);
            return;
        }
        out.Print<"Azimuth windows clean from %.3f to %.3f keV (no glitch above %.4f of the strongest), widest first:\n">(
            search.eMin, search.eMax, search.fraction);
    } else {
        if (windows.empty()) {
            out.Print<"No clean azimuth window at least %.3f degrees wide (no event above %.4f of the strongest)\n">(
                search.width, search.fraction);
            return;
        }
        out.Print<"Clean azimuth windows at least %.3f degrees wide (no event above %.4f of the strongest):\n">(
            search.width, search.fraction);
    }
    for (const AzimuthInterval& w : windows) {
        out.Print<"  %9.3f to %9.3f degrees, %8.3f wide\n">(w.start, w.end, w.Width());
    }
}
