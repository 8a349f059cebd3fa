#include "planning/tables.h"

#include "output/text_format.h"

using text_format::TextWriter;

void WriteEventsTable(std::FILE* file, const std::vector<Event>& events)
{
    TextWriter out(file);
    out.Print<"psi,psi_lower,psi_upper,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength,direction\n">();
    for (const Event& e : events) {
        const SphereReflection& r = *e.reflection;
        out.Print<"%.6f,%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f,%s\n">(
            e.psi, e.psiLower, e.psiUpper, r.h, r.k, r.l, r.ch, r.ck, r.cl, r.F, r.couplingF, e.strength,
            e.relativeStrength, e.in ? "in" : "out");
    }
}

void WriteGlitchTable(std::FILE* file, const std::vector<Glitch>& glitches)
{
    TextWriter out(file);
    out.Print<"energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,"
              "relative_strength\n">();
    for (const Glitch& g : glitches) {
        const SphereReflection& r = *g.reflection;
        out.Print<"%.6f,%.6f,%d,%d,%d,%d,%d,%d,%.4f,%.4f,%.4f,%.6f\n">(
            g.energy, g.wavelength, r.h, r.k, r.l, r.ch, r.ck, r.cl, r.F, r.couplingF, g.strength,
            g.relativeStrength);
    }
}

void PrintCleanWindows(std::FILE* console, const std::vector<AzimuthWindow>& windows, double width,
                       double fraction)
{
    TextWriter out(console);
    if (windows.empty()) {
        out.Print<"No clean azimuth window at least %.3f degrees wide (no event above %.4f of the strongest)\n">(
            width, fraction);
        return;
    }
    out.Print<"Clean azimuth windows at least %.3f degrees wide (no event above %.4f of the strongest):\n">(
        width, fraction);
    for (const AzimuthWindow& w : windows) {
        out.Print<"  %9.3f to %9.3f degrees, %8.3f wide\n">(w.start, w.end, w.end - w.start);
    }
}
