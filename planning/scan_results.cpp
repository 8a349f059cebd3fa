#include "planning/scan_results.h"

#include <cmath>

#include "glitches/line_profile.h"

#include "setup/units.h"

std::vector<Event> ShapedEvents(const ScanSetting& scan, const Band& band, const PsiWindow& window, const FoundCount& found)
{
    std::vector<Event> events = FindEvents(*scan.crystal, scan.frame, band, window);
    if (found) found(events.size());
    SetEventWidths(*scan.crystal, scan.frame, kHcKeVAngstrom / band.lambda, scan.beam, &events);
    return events;
}

std::vector<Glitch> ShapedGlitches(const ScanSetting& scan, double psi, double eMin, double eMax, int harmonics,
                                   const std::vector<SphereReflection>* kept, const FoundCount& found)
{
    psi = WithinOneTurn(psi);
    std::vector<Glitch> glitches = kept != nullptr && harmonics == 1
                                       ? FindGlitchesAmong(*scan.crystal, scan.frame, *kept, psi, eMin, eMax)
                                       : FindGlitchesWithHarmonics(*scan.crystal, scan.frame, psi, eMin, eMax, harmonics);
    if (found) found(glitches.size());
    ShapeGlitches(*scan.crystal, scan.frame, psi, eMin, eMax, scan.beam, &glitches);
    return glitches;
}

std::vector<GlitchLine> ShapedGlitchMap(const ScanSetting& scan, const PsiWindow& window, double eMin, double eMax,
                                        const FoundCount& found)
{
    std::vector<GlitchLine> lines = GlitchMap(*scan.crystal, scan.frame, window, eMin, eMax);
    if (found) found(lines.size());
    SetLineDepths(*scan.crystal, scan.frame, eMin, eMax, scan.beam, &lines);
    return lines;
}
