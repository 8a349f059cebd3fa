// The least bad azimuths of an energy range over a full circle, whatever its ends: joined over the seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glitches/glitches.h"
#include "planning_cases.h"
#include "windows/clean_windows.h"

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
