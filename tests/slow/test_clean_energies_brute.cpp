// The clean azimuths of energy ranges by depth, against a brute force in the test: the glitch
// spectrum at azimuths a small step apart, each glitch inside the range with its own depth there,
// glitches within each other's widths taken together as the spectrum takes them. Thousands of
// spectra: labelled slow, run by CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glitches/glitches.h"
#include "planning_cases.h"
#include "setup/units.h"
#include "windows/clean_windows.h"

namespace {

// The deepest dip inside [eMin, eMax] at psi: each glitch's depth, those that lie within each
// other's half widths taken together, each its share of what the others leave (a circle's one dip
// once).
double DeepestInside(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax, const Beam& beam)
{
    std::vector<Glitch> glitches = FindGlitches(crystal, frame, psi, eMin, eMax);
    ShapeGlitches(crystal, frame, psi, eMin, eMax, beam, &glitches);
    double deepest = 0.0;
    for (const Glitch& g : glitches) {
        double left = 1.0;
        for (const Glitch& h : glitches) {
            if (!h.dipAtPartner && std::fabs(h.energy - g.energy) * 1000.0 <= (g.widthEV + h.widthEV) / 2.0) left *= 1.0 - h.depth;
        }
        deepest = std::max(deepest, 1.0 - left);
    }
    return deepest;
}

struct Case {
    const CubicCrystal* crystal;
    Miller primary;
    std::vector<EnergyRange> ranges;
    PsiWindow window;
    Beam beam;
    double across;  // degrees
};

}  // namespace

// Every sampled azimuth inside a reported window is clean in every range; every stretch the brute
// force finds clean, wider than the narrowest window listed by more than the windows' widening and
// a step, lies within a reported window. A line deep only at a top outside the range blocks
// nothing; one deeper inside the range than at its top blocks where it is deep.
TEST(CleanEnergies, WindowsAgainstABruteForceOfSpectra)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const Case cases[] = {
        {&silicon, {2, 2, 0}, {{7.0, 8.0, {true, 0.07}}}, {60.0, 75.0}, Beam{Polarisation::kSigma, 0.003 * kRadiansPerDegree, 0.0006 * kRadiansPerDegree, {}, Monochromator::kDouble}, 0.003},
        {&silicon, {1, 1, 1}, {{8.9, 9.9, {true, 0.2}}}, {125.0, 140.0}, Beam{}, 0.0},
        {&silicon, {1, 1, 1}, {{7.0, 8.0, {true, 0.03}}, {8.9, 9.9, {true, 0.03}}}, {0.0, 15.0}, Beam{}, 0.0},
        // Across the seam at 180 degrees, a crystal of another cell and the pi polarisation.
        {&germanium, {0, 0, 4}, {{10.0, 11.0, {true, 0.04}}}, {170.0, 190.0}, Beam{Polarisation::kPi, 0.0, 0.0, {}}, 0.0},
    };
    const double step = 0.05, minWidth = 0.5;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.primary.h << c.primary.k << c.primary.l << " over " << c.window.min << " to " << c.window.max);
        const Crystal& crystal = *c.crystal;
        const ScanFrame frame = MatrixFrame(crystal.lattice(), c.primary);
        const CleanWindows found = CleanEnergyWindows(crystal, frame, c.window, c.ranges, c.across, c.beam, minWidth);
        std::vector<double> psis;
        std::vector<bool> clean;
        for (double psi = c.window.min + step / 2.0; psi < c.window.max; psi += step) {
            bool ok = true;
            for (const EnergyRange& r : c.ranges) ok = ok && DeepestInside(crystal, frame, psi, r.eMin, r.eMax, c.beam) <= r.threshold.limit;
            psis.push_back(psi), clean.push_back(ok);
        }
        const auto inside = [&](double psi) {
            return std::any_of(found.windows.begin(), found.windows.end(), [&](const AzimuthInterval& w) { return w.start <= psi && psi <= w.end; });
        };
        for (std::size_t i = 0; i < psis.size(); ++i) {
            if (inside(psis[i])) {
                EXPECT_TRUE(clean[i]) << "a glitch deeper than the limit at " << psis[i];
            }
        }
        // The brute force's clean stretches, each wide one inside a window (the windows are
        // narrowed by half a glitch's width at their ends, and part where lines cross over a few
        // hundredths of a degree, narrower than the steps see).
        const auto narrowGap = [&](double psi) {
            bool below = false, above = false;
            for (const AzimuthInterval& w : found.windows) {
                below = below || (w.end < psi && w.end > psi - 2.0 * step);
                above = above || (w.start > psi && w.start < psi + 2.0 * step);
            }
            return below && above;
        };
        for (std::size_t i = 0; i < psis.size();) {
            std::size_t j = i;
            while (j < psis.size() && clean[j]) ++j;
            if (j > i && psis[j - 1] - psis[i] > minWidth + 0.2) {
                for (std::size_t k = i + 5; k + 5 < j; ++k) {
                    EXPECT_TRUE(inside(psis[k]) || narrowGap(psis[k])) << "clean but in no window: " << psis[k];
                }
            }
            i = std::max(j, i + 1);
        }
    }
}

