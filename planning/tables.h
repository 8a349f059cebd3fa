// The planning results as the user reads them: CSV tables (a first line "# kelto ..." naming what
// they were computed for, one header row, plain numbers) and the clean windows on the console.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "windows/clean_windows.h"
#include "scan/events.h"
#include "fit/glitch_fit.h"
#include "glitches/glitches.h"
#include "glitches/spectrum.h"

class PhaseLine;

// The reference of the orientation matrix's frame, R: the matrix's second column as a direction of
// reciprocal space, in whole indices without a common factor ("-1 1 0" for 1 1 1).
std::string MatrixReference(Miller primary);

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
    const char* monochromator = "single";  // "single", "double" or "channel-cut" (energy scans)
    std::optional<double> secondPsi = {};  // a double monochromator's second crystal, degrees
};
// The writers of the long tables tell `progress`, when given, the share of their rows written.
// The events with the beam their widths are for (its harmonics are not used).
void WriteEventsTable(std::FILE* file, const TableSubject& subject, const Band& band, const GlitchBeam& beam,
                      const std::vector<Event>& events, PhaseLine* progress = nullptr);
void WriteGlitchTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                      const GlitchBeam& beam, const std::vector<Glitch>& glitches, PhaseLine* progress = nullptr);
// The predicted I0 spectrum: energy and relative output, with the beam and the harmonic content
// (`content`, 1 for the fundamental first) it was computed for.
void WriteSpectrumTable(std::FILE* file, const TableSubject& subject, double psi, double eMin, double eMax,
                        const GlitchBeam& beam, const OrderShares& content, const std::vector<SpectrumPoint>& spectrum,
                        PhaseLine* progress = nullptr);
// The bytes WriteSpectrumTable writes for these arguments, counted as it writes them into nothing:
// the spectrum's size before it is written.
long long SpectrumTableBytes(const TableSubject& subject, double psi, double eMin, double eMax, const GlitchBeam& beam,
                             const OrderShares& content, const std::vector<SpectrumPoint>& spectrum);
void WriteGlitchMap(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                    const std::vector<GlitchLine>& lines, PhaseLine* progress = nullptr);

// A search for clean azimuth windows: among the events of a band, or the glitch lines of an
// energy range.
struct WindowSearch {
    bool energies;             // false: events of the band
    double width;              // degrees, the narrowest window listed
    CleanThreshold threshold;  // by relative strength or by depth
    double divergence;         // degrees
    double eMin, eMax;         // keV: the energy range, or the band's energies
    GlitchBeam beam;           // the beam of the events' and lines' widths (its harmonics are not used)
    std::size_t shown;         // the most windows printed, the widest (energies) or the first (events); 0: all
    // Further energy ranges searched at once beside the first (eMin to eMax with `threshold`).
    std::vector<EnergyRange> others = {};
};
// The clean windows, one row each; when there is none, the least bad stretches in rows of the
// same columns, marked not clean.
void WriteWindowsTable(std::FILE* file, const TableSubject& subject, const WindowSearch& search, const CleanWindows& found);
// The clean windows of the psi window, at most search.shown of them and a line counting the others;
// or a line saying there is none followed by the least bad stretches; or, when nothing counts
// against any window (the whole psi window comes out clean), a line saying that instead.
void PrintCleanWindows(std::FILE* console, const PsiWindow& window, const WindowSearch& search, const CleanWindows& found);

// The fit of measured scans: every dip of every scan (named in the first line, numbered in the
// last column) with the glitch it was paired with; the fitted psi with its significance and each
// scan's offset (or why nothing fits) in the first line.
// With `second`, a double monochromator's second crystal fitted to the dips the first left: its
// azimuth in the first line, and the dips it paired in the rows (crystal 2, their predicted energy
// on the scan's scale).
void WriteFitTable(std::FILE* file, const TableSubject& subject, double eMin, double eMax, const GlitchBeam& beam,
                   const GlitchFit& fit, bool oneOffset, const std::vector<std::string>& scanNames,
                   const GlitchFit* second = nullptr);

// The calibration of a significant calibrated fit: every `stepEV` of readback over the scans'
// energies (and at their top), the photon energy read back there, their difference and its error;
// without one, the first line says why and no row follows.
void WriteCalibrationTable(std::FILE* file, const TableSubject& subject, const GlitchFit& fit, double stepEV);
