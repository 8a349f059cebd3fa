// The second crystal of a double-crystal monochromator, set at its own azimuth: its glitches beside
// the first's, and where a channel-cut's second wall sits in the same convention.
//
// Each crystal's azimuth is counted as the first's: from its reference, right-handed about its own
// primary reflection (its surface's outward normal on a symmetric cut), to its own incident beam.
// In the (+, -) setting every ray meets both crystals at the same deviation from G's Bragg angle,
// so the pair passes the product of their reflectivities whichever is met first: the second
// crystal's glitches are those of a crystal at its azimuth, their dips worked out for the band the
// first passes (the first's Darwin-Prins curve narrowing it, as the second's narrows the first's).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "glitches/glitches.h"
#include "planning/scan_results.h"
#include "planning/scan_setting.h"
#include "windows/clean_windows.h"

// The azimuth at which a crystal of the same kind meets what a channel-cut's second wall meets
// when its first wall is at psi, within (-180, 180].
//
// The second wall is the same lattice reflecting -G, its incident beam k0 + G. X - G lies on its
// sphere at the energy at which X lies on the first's. Inverted (k -> -k), the beam -(k0 + G) is
// one of G in its Bragg position whose component across G is the first's turned by 180 degrees,
// and it meets G - X: the same energies, the same |F| (Friedel's law), and for a centrosymmetric
// crystal the same dips, since inverting the whole setting changes no intensity.
double ChannelCutSecondPsi(double psi);

// True when a second crystal at secondPsi sits where a channel-cut's second wall would, or at an
// azimuth the crystal's symmetry makes equivalent to it (up to the energy eMax, keV): every glitch of
// the one falls on a glitch of the other, met by the same rays, and the pair is a channel-cut.
bool SecondAtChannelCut(const ScanSetting& scan, double psi, double secondPsi, double eMax);

// The glitches of the first crystal at psi and, when secondPsi is given (a double monochromator),
// the second's at secondPsi marked crystal 2, by energy (the first's first at one energy). A second
// crystal at a channel-cut's azimuth makes the pair a channel-cut: its glitches are the first's,
// each met on both, and are listed once, as the channel-cut's.
std::vector<Glitch> ShapedPairGlitches(const ScanSetting& scan, double psi, std::optional<double> secondPsi, double eMin,
                                       double eMax, int harmonics, const std::vector<SphereReflection>* kept = nullptr,
                                       const FoundCount& found = {});

// The glitches of a double monochromator's second crystal at secondPsi, marked crystal 2: those of
// one crystal at its azimuth, their dips worked out for the band the first passes.
std::vector<Glitch> SecondCrystalGlitches(const ScanSetting& scan, double secondPsi, double eMin, double eMax, int harmonics,
                                          const std::vector<SphereReflection>* kept = nullptr);

// The glitch map of the first crystal over the window and, when secondPsi is given (a double
// monochromator), the second's glitches with the harmonics up to `harmonics`: the second stays at
// secondPsi as the first turns, so each is a level across the window (crystal 2, centre secondPsi,
// from and to the window's ends, topEnergy its energy, cutoffEnergy G's), after the first's lines,
// by energy. When firstPsi, where the first is set, puts the second where a channel-cut's second
// wall would be, the pair is a channel-cut turned as one: the map is the channel-cut's, each
// line met on both crystals, without levels.
std::vector<GlitchLine> ShapedPairGlitchMap(const ScanSetting& scan, const PsiWindow& window, std::optional<double> firstPsi,
                                            std::optional<double> secondPsi, double eMin, double eMax, int harmonics,
                                            const FoundCount& found = {});

// The beam a clean-energy search takes for the monochromator, and what it says about the second
// crystal (each notice one line, without a line end). A double monochromator without secondPsi is
// taken turned together, its second crystal where a channel-cut's second wall would be: every
// glitch is met on both. With secondPsi the second stays where it is as the first turns: a
// notice names, for each range, the glitch of the second that spoils it whatever the first's
// azimuth, or says that it puts nothing there that counts.
struct PairSearch {
    Beam beam;
    std::vector<std::string> notices;
};
PairSearch CleanSearchOfPair(const ScanSetting& scan, std::optional<double> secondPsi, const std::vector<EnergyRange>& ranges);

// The glitch of the second crystal at secondPsi that counts most against a clean energy range (by
// its depth, or its strength against the strongest of the range, as the range's threshold says),
// none when none counts: turning the first crystal cannot clear what the second puts there.
std::optional<Glitch> SecondCrystalSpoiler(const ScanSetting& scan, double secondPsi, const EnergyRange& range);
