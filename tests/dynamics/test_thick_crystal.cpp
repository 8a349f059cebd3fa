// Rays at which the thick crystal's root finder misses a root from every set of guesses (a wave of
// X crossing one of G): they are still solved, as the linear theory solves them.
#include <gtest/gtest.h>

#include "dynamics/passband.h"
#include "glitches/glitches.h"
#include "linear_theory.h"
#include "planning_cases.h"

TEST(ThickCrystal, SolvesRaysWhoseRootsTheGuessesMiss)
{
    // Silicon 1 1 1 at psi 17 from 1 -1 0: -7 1 -1 near 11.418 keV, two rays of G's tails on X's
    // resonance that a close sampling of its dip meets.
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {1, 1, 1}, {1, -1, 0});
    double keV = 0.0;
    for (const Glitch& g : FindGlitches(*si, frame, 17.0, 11.3, 11.5)) {
        if (g.x == Miller{-7, 1, -1}) keV = g.energy;
    }
    ASSERT_GT(keV, 0.0);
    const PassbandCase c = DescribePassband(*si, frame, {-7, 1, -1}, 17.0, keV, Beam{});
    ASSERT_EQ(c.first.count, 3);
    const double rays[][2] = {{-1.5831865537787343e-4, 8.4603512944663578e-4}, {1.6363644445490107e-4, -9.7737714105393652e-4}};
    for (const auto& ray : rays) {
        ThickCrystal crystal(c.first);
        const Reflection r = crystal.Reflect(ray[0], ray[1]);
        EXPECT_EQ(crystal.Failures(), 0);
        const double alpha[4] = {0.0, ray[0], ray[1], 0.0};
        for (int p = 0; p < 2; ++p) {
            const std::vector<double> expected = LinearTheory(c.first, alpha, p);
            EXPECT_NEAR(r.Power(p, 1), expected[1], 1e-7 + 1e-4 * expected[1]) << ray[0] << " " << ray[1];
            EXPECT_NEAR(r.Power(p, 2), expected[2], 1e-7 + 1e-4 * expected[2]) << ray[0] << " " << ray[1];
        }
    }
}
