// Clean azimuth windows: the stretches of a psi window that no strong event of a band, or no
// strong glitch line of an energy range, takes. Each event or line takes its azimuths widened on
// each side by half its own width in azimuth for the beam (the full width at half depth of X's
// profile as psi turns, EventWidth), or by half the divergence where that is wider, and counts
// when its depth, or its strength relative to the strongest inside the window, exceeds the
// threshold. When no window is clean, the least bad stretches stand in (windows/least_bad.h).
#pragma once

#include <cstddef>
#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "scan/events.h"
#include "dynamics/glitch_depth.h"
#include "windows/least_bad.h"
#include "scan/scan_frame.h"

// When an event or a glitch line counts against a window.
struct CleanThreshold {
    bool byDepth = false;  // false: by its strength relative to the strongest inside the window
    double limit = 0.01;   // it counts when that exceeds this: a fraction of the strongest, or a share of I0
};

// The depth above which a glitch line counts against a clean energy range unless told otherwise:
// a percent of I0, about what an ion chamber's normalisation leaves visible.
inline constexpr double kDefaultMaxDepth = 0.01;

// The most least bad stretches listed when no window is clean.
inline constexpr std::size_t kMostLeastBad = 5;

struct CleanWindows {
    std::vector<AzimuthInterval> windows;   // the clean windows at least as wide as asked for
    std::size_t narrower = 0;               // the clean stretches left out as narrower than that
    std::vector<LeastBadStretch> leastBad;  // only when no window is clean: best first, at most kMostLeastBad
};

// The azimuths of the events that can reach into the window: a turn on either side (a band
// interval of at most 180 degrees widened by at most 180 on each side), or the window itself when
// it spans a full circle, over which the events are taken modulo 360.
PsiWindow CleanWindowReach(const PsiWindow& window);

// The stretches of the window at least `width` wide that no counted event occupies, by start (see
// FreeStretches), from the events of CleanWindowReach(window). The widths of the events that count
// must be set, and by depth every event's depth (SetEventWidths); the strongest event inside the
// window sets the relative strengths. Events outside the window whose azimuths reach in count.
CleanWindows CleanEventWindows(const std::vector<Event>& events, const PsiWindow& window, double width,
                               const CleanThreshold& threshold, double divergence);

// The same search from the crystal: the events of the band that can reach in, with the depth of
// every event (by depth) and the width of each that counts for the beam at the band's centre.
CleanWindows SearchCleanEventWindows(const Crystal& crystal, const ScanFrame& frame, const Band& band, const Beam& beam,
                                     const PsiWindow& window, double width, const CleanThreshold& threshold, double divergence);

// The stretches of the window at least `minWidth` wide, widest first, over which no counted glitch
// line lies between eMin and eMax. By depth, a line blocks the azimuths of its stretch inside the
// range at which its glitch there (with those of the lines that coincide with it) is deeper than
// the limit (glitches/line_profile.h: the depth taken as linear between the profile's samples),
// each part widened by half the glitch's width in azimuth at its ends, or half the divergence. By
// strength, a line's whole stretch in azimuth (GlitchMap) counts, widened at each end by half the
// width in azimuth of X's glitch there, at that end's azimuth and energy (eMax where the line
// leaves the range upwards, eMin where it dips below it about its centre); a line on the sphere at
// every energy by half its width at the lowest energy of the range at which G diffracts. The
// strongest line inside the window sets the relative strengths.
CleanWindows CleanEnergyWindows(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window, double eMin,
                                double eMax, const CleanThreshold& threshold, double divergence, const Beam& beam,
                                double minWidth);

// An energy range of a search, and what counts against a window in it.
struct EnergyRange {
    double eMin, eMax;  // keV
    CleanThreshold threshold;
};

// The windows clean in every range at once (the absorption edges a beamline scans, for one azimuth
// that serves them all); when none is, the least bad stretches by their worst range, which each
// names (LeastBadStretch::range, the index of the range).
CleanWindows CleanEnergyWindows(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window,
                                const std::vector<EnergyRange>& ranges, double divergence, const Beam& beam, double minWidth);
