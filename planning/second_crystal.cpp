#include "planning/second_crystal.h"

#include <algorithm>
#include <cmath>

#include "io/run_error.h"
#include "scan/symmetric_azimuths.h"

namespace {

// Azimuths that agree to this many degrees are one setting.
constexpr double kSameAzimuthDeg = 1e-7;

}  // namespace

double ChannelCutSecondPsi(double psi) { return WithinOneTurn(WithinOneTurn(psi) + 180.0); }

bool SecondAtChannelCut(const ScanSetting& scan, double psi, double secondPsi, double eMax)
{
    const double wall = ChannelCutSecondPsi(psi), second = WithinOneTurn(secondPsi);
    const std::vector<double> images =
        SymmetricAzimuths(AzimuthSymmetries(*scan.crystal, scan.frame, eMax), wall, PsiWindow{-180.0, 180.0});
    const auto near = [&](double a) {
        const double d = std::fabs(WithinOneTurn(a - second));
        return d <= kSameAzimuthDeg;
    };
    return near(wall) || std::any_of(images.begin(), images.end(), near);
}

std::vector<Glitch> SecondCrystalGlitches(const ScanSetting& scan, double secondPsi, double eMin, double eMax, int harmonics,
                                          const std::vector<SphereReflection>* kept)
{
    std::vector<Glitch> second = ShapedGlitches(scan, secondPsi, eMin, eMax, harmonics, kept);
    for (Glitch& g : second) g.crystal = 2;
    return second;
}

namespace {

// A glitch of the second crystal as a row of the first's map: it stays at one energy (or, met at
// every energy, at all of them) whatever the first's azimuth across the window.
GlitchLine LevelOf(const Glitch& g, double secondPsi, const PsiWindow& window, double cutoffKeV)
{
    GlitchLine level{};
    level.centre = secondPsi;
    level.from = window.min, level.to = window.max;
    level.x = g.x, level.coupling = g.coupling;
    level.F = g.F, level.couplingF = g.couplingF, level.strength = g.strength, level.relativeStrength = g.relativeStrength;
    level.topEnergy = g.energy, level.cutoffEnergy = cutoffKeV;
    level.always = g.always, level.depth = g.depth, level.dipAtPartner = g.dipAtPartner;
    level.crystal = 2;
    return level;
}

}  // namespace

std::vector<GlitchLine> ShapedPairGlitchMap(const ScanSetting& scan, const PsiWindow& window, std::optional<double> firstPsi,
                                            std::optional<double> secondPsi, double eMin, double eMax, int harmonics,
                                            const FoundCount& found)
{
    if (secondPsi && firstPsi && SecondAtChannelCut(scan, *firstPsi, *secondPsi, eMax)) {
        ScanSetting channelCut = scan;
        channelCut.beam.monochromator = Monochromator::kChannelCut;
        return ShapedGlitchMap(channelCut, window, eMin, eMax, found);
    }
    std::vector<GlitchLine> lines = ShapedGlitchMap(scan, window, eMin, eMax, found);
    if (!secondPsi) return lines;
    const double cutoff = CutoffEnergy(scan.frame);
    for (const Glitch& g : SecondCrystalGlitches(scan, *secondPsi, eMin, eMax, harmonics)) {
        lines.push_back(LevelOf(g, *secondPsi, window, cutoff));
    }
    return lines;
}

std::vector<Glitch> ShapedPairGlitches(const ScanSetting& scan, double psi, std::optional<double> secondPsi, double eMin,
                                       double eMax, int harmonics, const std::vector<SphereReflection>* kept,
                                       const FoundCount& found)
{
    if (!secondPsi) return ShapedGlitches(scan, psi, eMin, eMax, harmonics, kept, found);
    if (SecondAtChannelCut(scan, psi, *secondPsi, eMax)) {
        ScanSetting channelCut = scan;
        channelCut.beam.monochromator = Monochromator::kChannelCut;
        return ShapedGlitches(channelCut, psi, eMin, eMax, harmonics, kept, found);
    }
    std::vector<Glitch> first = ShapedGlitches(scan, psi, eMin, eMax, harmonics, kept);
    std::vector<Glitch> second = SecondCrystalGlitches(scan, *secondPsi, eMin, eMax, harmonics, kept);
    if (found) found(first.size() + second.size());
    std::vector<Glitch> both;
    both.reserve(first.size() + second.size());
    // Each list is by energy: merged, the first crystal's come first at an energy both meet.
    std::merge(first.begin(), first.end(), second.begin(), second.end(), std::back_inserter(both),
               [](const Glitch& a, const Glitch& b) { return a.energy < b.energy; });
    return both;
}

std::optional<Glitch> SecondCrystalSpoiler(const ScanSetting& scan, double secondPsi, const EnergyRange& range)
{
    const std::vector<Glitch> glitches = ShapedGlitches(scan, secondPsi, range.eMin, range.eMax, 1);
    std::optional<Glitch> worst;
    const auto measure = [&](const Glitch& g) { return range.threshold.byDepth ? g.depth : g.relativeStrength; };
    for (const Glitch& g : glitches) {
        if (g.dipAtPartner || !(measure(g) > range.threshold.limit)) continue;
        if (!worst || measure(g) > measure(*worst)) worst = g;
    }
    if (worst) worst->crystal = 2;
    return worst;
}

PairSearch CleanSearchOfPair(const ScanSetting& scan, std::optional<double> secondPsi, const std::vector<EnergyRange>& ranges)
{
    PairSearch search{scan.beam, {}};
    if (scan.beam.monochromator != Monochromator::kDouble) return search;
    if (!secondPsi) {
        search.beam.monochromator = Monochromator::kChannelCut;
        search.notices.push_back("the clean windows take the two crystals turned together, the second where a channel-cut's "
                                 "second wall would be (psi + 180): every glitch is met on both; give the second's azimuth to set it apart");
        return search;
    }
    for (const EnergyRange& range : ranges) {
        const std::optional<Glitch> worst = SecondCrystalSpoiler(scan, *secondPsi, range);
        if (!worst) {
            search.notices.push_back(Printed("the second crystal at psi %g degrees has no glitch that counts from %g to %g keV",
                                             *secondPsi, range.eMin, range.eMax));
        } else {
            search.notices.push_back(Printed("the second crystal at psi %g degrees spoils %g to %g keV whatever the first's azimuth: "
                                             "%d %d %d at %.6f keV takes %.4f of I0 (relative strength %.4f); the windows are the "
                                             "first crystal's alone", *secondPsi, range.eMin, range.eMax, worst->x.h, worst->x.k,
                                             worst->x.l, worst->energy, worst->depth, worst->relativeStrength));
        }
    }
    return search;
}
