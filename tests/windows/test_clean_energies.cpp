// The least bad azimuths of an energy range over a full circle, whatever its ends: joined over the
// seam; and hand-made lines crossing, whose dips meet as the spectrum takes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glitches/glitches.h"
#include "glitches/line_profile.h"
#include "planning_cases.h"
#include "windows/clean_windows.h"
#include "windows/line_crossings.h"

// Over a full circle the least bad stretches, as the windows, run over the seam: none ends at it.
TEST(CleanEnergies, TheSeamJoinsTheLeastBadStretches)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    for (const PsiWindow window : {PsiWindow{-180.0, 180.0}, PsiWindow{0.0, 360.0}}) {
        const CleanWindows found = CleanEnergyWindows(silicon, frame, window, {{7.0, 8.0, {true, 0.01}}}, 0.0, Beam{}, 0.5);
        ASSERT_TRUE(found.windows.empty());
        ASSERT_FALSE(found.leastBad.empty());
        for (const LeastBadStretch& s : found.leastBad) {
            EXPECT_FALSE(s.stretch.start == window.min || s.stretch.end == window.max) << s.stretch.start << " to " << s.stretch.end;
        }
    }
}

// Two lines from a cut-off of 4 keV to tops of 6 and 6.5 keV, centred at 0 and 60 degrees
// (E^2 = Ec^2 + (Et^2 - Ec^2) / cos^2(psi - centre)), each as deep as given all along and 2 degrees
// wide: where they cross each takes its share of what the other leaves, 1 - (1 - a)(1 - b), never
// their sum, and they occupy the azimuths about the crossing only where that is deeper than the
// limit.
TEST(CleanEnergies, CrossingLinesTakeTheirShareOfWhatTheOthersLeave)
{
    const auto energy = [](double top, double centre, double psi) {
        const double c = std::cos((psi - centre) * std::acos(-1.0) / 180.0);
        return std::sqrt(16.0 + (top * top - 16.0) / (c * c));
    };
    // The crossing between the two centres, by bisection.
    double below = 0.0, above = 60.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = (below + above) / 2.0;
        (energy(6.0, 0.0, mid) < energy(6.5, 60.0, mid) ? below : above) = mid;
    }
    const struct { double a, b, limit; bool occupied; } cases[] = {
        {0.3, 0.3, 0.5, true}, {0.3, 0.3, 0.55, false}, {0.3, 0.4, 0.55, true}, {0.3, 0.4, 0.65, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " and " << c.b << " against " << c.limit);
        std::vector<GlitchLine> lines(2);
        std::vector<LineProfile> profiles(2);
        for (int i = 0; i < 2; ++i) {
            GlitchLine& line = lines[static_cast<std::size_t>(i)];
            line.centre = 60.0 * i, line.from = line.centre - 60.0, line.to = line.centre + 60.0;
            line.x = {1, i, 0};
            line.topEnergy = i == 0 ? 6.0 : 6.5, line.cutoffEnergy = 4.0, line.always = false;
            const double depth = i == 0 ? c.a : c.b;
            std::vector<LineSample> stretch;
            for (const double d : {-60.0, 0.0, 60.0}) stretch.push_back({line.centre + d, 0.0, depth, depth, 2.0});
            profiles[static_cast<std::size_t>(i)].stretches.push_back(stretch);
            profiles[static_cast<std::size_t>(i)].deepest = depth;
        }
        std::vector<Occupant> counted;
        CrossingOccupants(lines, profiles, {-90.0, 150.0}, c.limit, 0.0, &counted);
        ASSERT_EQ(counted.size(), c.occupied ? 1u : 0u);
        if (!c.occupied) continue;
        EXPECT_NEAR(counted[0].measure, 1.0 - (1.0 - c.a) * (1.0 - c.b), 1e-12);
        EXPECT_TRUE(counted[0].interval.start < below && counted[0].interval.end > below) << below;
    }
}
