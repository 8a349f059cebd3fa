// The planning results as the user reads them: CSV tables (a first line "# kelto ..." naming what
// they were computed for, one header row, plain numbers) and the clean windows on the console.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "planning/events.h"
#include "planning/glitches.h"
#include "planning/spectrum.h"

// What a table was computed for, as its first line says it.
struct TableSubject {
    std::string crystal;
    Miller primary;
    const ScanFrame* frame;
    PsiWindow window;
};


// How the glitches' widths and depths were computed: the beam, and the highest harmonic.
struct GlitchBeam {
    const char* polarisation;              // "sigma", "pi" or "unpolarised"
    double acrossDegrees, alongDegrees;    // the beam's spreads (0 along: G's Darwin width)
    std::optional<Miller> surface;         // none: a symmetric cut
    int harmonics;
};
// The events with the beam their widths are for (its harmonics are not used).
void WriteEventsTable(std::FILE* file, const TableSubject& subject, const Band& band, const GlitchBeam& beam,
                      const std::vector<Event>& events);
void WriteGlitchTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                      const GlitchBeam& beam, const std::vector<Glitch>& glitches);
// The predicted I0 spectrum: energy and relative output, with the beam and the harmonic content
// (`content`, 1 for the fundamental first) it was computed for.
void WriteSpectrumTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                        const GlitchBeam& beam, const std::vector<double>& content, const std::vector<SpectrumPoint>& spectrum);
void WriteGlitchMap(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                    const std::vector<GlitchLine>& lines);

// A search for clean azimuth windows: among the events of a band, or the glitch lines of an
// energy range.
struct WindowSearch {
    bool energies;        // false: events of the band
    double width;         // degrees, the narrowest window listed (events)
    double fraction;      // of the strongest
    double divergence;    // degrees
    double eMin, eMax;    // keV: the energy range, or the band's energies
};
void WriteWindowsTable(std::FILE* file, const TableSubject& subject, const WindowSearch& search,
                       const std::vector<AzimuthInterval>& windows);
void PrintCleanWindows(std::FILE* console, const WindowSearch& search, const std::vector<AzimuthInterval>& windows);
