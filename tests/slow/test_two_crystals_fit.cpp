// The fit of a double monochromator's two crystals, each at its own azimuth, to dips made in the
// test from the Ewald construction's glitch energies (tests/glitch_energies.h): two fits of a
// silicon 2 2 0 scan over 6 to 14 keV, some ten seconds, with the slow tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "fit/second_crystal_fit.h"
#include "planning_cases.h"
#include "synthetic_dips.h"

namespace {

FitRequest Request()
{
    FitRequest request;
    request.beam.beam.across = 2e-5;
    return request;
}

}  // namespace

// A double monochromator's scan holds the glitches of two crystals at two azimuths: the first fit
// takes the crystal that pairs more dips, the second fit the other from what the first left, each
// within its stated error of the truth.
TEST(GlitchFit, TellsTwoCrystalsAtTheirOwnAzimuths)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {2, 2, 0});
    // The second: the two crystals pair about as many dips, and the first fit alone cannot say which is psi.
    const struct { double first, second, offsetEV; unsigned seed; double eMax; } cases[] = {{15.2, -47.3, 3.0, 1, 12.0},
                                                                                            {62.4, 21.9, -6.0, 5, 14.0}};
    for (const auto& c : cases) {
        const unsigned seed = c.seed;
        SCOPED_TRACE(testing::Message() << c.first << " and " << c.second << ", seed " << seed);
        DipSearch both = SyntheticDips(silicon, frame, {c.first, 6.0, c.eMax, c.offsetEV, 0.2, seed});
        const DipSearch second = SyntheticDips(silicon, frame, {c.second, 6.0, c.eMax, c.offsetEV, 0.2, seed + 100});
        both.dips.insert(both.dips.end(), second.dips.begin(), second.dips.end());
        std::sort(both.dips.begin(), both.dips.end(), [](const MeasuredDip& a, const MeasuredDip& b) { return a.energy < b.energy; });
        const PairFit pair = FitTwoCrystals(silicon, frame, {both}, Request(), std::nullopt);
        const GlitchFit &one = pair.first, &two = pair.second;
        ASSERT_TRUE(one.found && two.found) << one.why << two.why;
        const double straight = std::max(DistanceToTruth(silicon, frame, one.psi, c.first) / one.psiError,
                                         DistanceToTruth(silicon, frame, two.psi, c.second) / two.psiError);
        const double crossed = std::max(DistanceToTruth(silicon, frame, one.psi, c.second) / one.psiError,
                                        DistanceToTruth(silicon, frame, two.psi, c.first) / two.psiError);
        EXPECT_LT(std::min(straight, crossed), 5.0);
        EXPECT_GE(one.matched, two.matched);
        EXPECT_EQ(pair.tieResolved, c.eMax == 14.0);
        // The rows of the fit table: each crystal's pairs, every predicted energy on the scan's scale.
        int paired[3] = {0, 0, 0};
        for (const PairedDip& row : DipsOfBothCrystals(one, &two)) {
            ++paired[row.crystal];
            if (row.crystal > 0) {
                EXPECT_NEAR((row.dip.energy - row.match.predictedKeV) * 1000.0, row.match.residualEV, 1e-6);
            }
        }
        EXPECT_TRUE(paired[1] == one.matched && paired[2] == two.matched);
    }
    // Without the first's significant fit there is no second.
    const GlitchFit none = FitSecondCrystal(silicon, frame, {DipSearch{}}, GlitchFit{}, Request());
    EXPECT_FALSE(none.candidate);
}
