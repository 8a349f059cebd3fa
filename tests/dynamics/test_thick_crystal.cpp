// The thick crystal against the linear theory where the linear theory holds: rays at which the root
// finder misses a root from every set of guesses (a wave of X crossing one of G), and an X beam
// close enough to the surface to be solved with delta^2 and its specular wave, yet far enough
// from it (gamma^2 some 200 |chi_0|) that the linear theory still describes it; and, where no
// linear theory holds, an incident beam at grazing incidence against Fresnel's reflectivity.
#include <gtest/gtest.h>

#include "dynamics/passband.h"
#include "glitches/glitches.h"
#include "linear_theory.h"
#include "planning_cases.h"

namespace {

// Silicon 1 1 1 at psi 17 from 1 -1 0: -7 1 -1 near 11.418 keV.
PassbandCase Silicon111Case()
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {1, 1, 1}, {1, -1, 0});
    double keV = 0.0;
    for (const Glitch& g : FindGlitches(*si, frame, 17.0, 11.3, 11.5)) {
        if (g.x == Miller{-7, 1, -1}) keV = g.energy;
    }
    EXPECT_GT(keV, 0.0);
    return DescribePassband(*si, frame, {-7, 1, -1}, 17.0, keV, Beam{});
}

}  // namespace

TEST(ThickCrystal, SolvesRaysWhoseRootsTheGuessesMiss)
{
    // Two rays of G's tails on X's resonance that a close sampling of its dip meets.
    const PassbandCase c = Silicon111Case();
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

TEST(ThickCrystal, GrazingBeamMeetsTheLinearTheory)
{
    const PassbandCase c = Silicon111Case();
    for (const double gammaX : {0.04, -0.04}) {  // into the crystal, and leaving it
        BeamSet set = c.first;
        set.gamma[2] = gammaX;
        ASSERT_LT(std::fabs(gammaX), kGrazing * std::sqrt(std::abs(set.chi[0][0])));
        ThickCrystal crystal(set);
        // The same with two beams that couple to none (one of them leaving along the surface):
        // more beams than the expanded determinant takes, solved as an eigenvalue problem (its
        // waves from one step of inverse iteration, to 2e-8 of a ray's power here).
        BeamSet padded = set;
        padded.count = 5;
        padded.gamma[3] = 0.3, padded.gamma[4] = -0.03;
        for (int m = 3; m < 5; ++m) padded.chi[m][m] = set.chi[0][0];
        ThickCrystal more(padded);
        for (const double g : {-1.0, 0.0, 0.8}) {
            for (const double t : {-4.0, -1.0, 0.0, 1.0, 5.0}) {  // across X's resonance, in |chi_0|
                const double alpha[5] = {0.0, c.centreG + g * c.halfG, t * std::abs(set.chi[0][0]), 1e-4, -2e-5};
                const Reflection r = crystal.Reflect(alpha[1], alpha[2]), withMore = more.Reflect(alpha);
                for (int p = 0; p < 2; ++p) {
                    const std::vector<double> expected = LinearTheory(set, alpha, p);
                    EXPECT_NEAR(r.Power(p, 1), expected[1], 5e-4) << gammaX << " " << g << " " << t;
                    EXPECT_NEAR(r.Power(p, 2), expected[2], 5e-4) << gammaX << " " << g << " " << t;
                    for (int m = 0; m < 3; ++m) EXPECT_NEAR(withMore.Power(p, m), r.Power(p, m), 1e-7) << gammaX << " " << g << " " << t;
                }
            }
        }
    }
}

// An incident beam below, near and above the critical angle, G far from its Bragg condition: the
// specular reflection is Fresnel's, |(gamma - q) / (gamma + q)|^2 with q = sqrt(gamma^2 + chi_0)
// the refracted wave's normal component, for either polarisation.
TEST(ThickCrystal, GrazingIncidenceReflectsAsFresnelSays)
{
    BeamSet set = Silicon111Case().first;
    set.count = 2;
    const std::complex<double> chi0 = Absorbing(set.chi[0][0], std::abs(set.chi[0][0]));
    const double critical = std::sqrt(std::abs(chi0));
    for (const double gamma : {0.5 * critical, 1.2 * critical, 6.0 * critical}) {
        set.gamma[0] = gamma;
        ThickCrystal crystal(set);
        const Reflection r = crystal.Reflect(1e5 * std::abs(chi0), 0.0);
        const std::complex<double> q = std::sqrt(gamma * gamma + chi0);
        const double fresnel = std::norm((gamma - q) / (gamma + q));
        for (int p = 0; p < 2; ++p) EXPECT_NEAR(r.Power(p, 0), fresnel, 1e-6 + 1e-4 * fresnel) << gamma / critical << " " << p;
    }
}

// A mirror pair's rays taken one after another along alpha_X, as a loss map takes them, each
// starting from the last one's roots: where the waves of X and X' nearly meet, the expanded
// determinant fixes its roots only loosely, and a solution that kept the inherited roots followed
// the path of the rays (up to a quarter of G's reflection off in its tails). Every ray agrees with
// the linear theory to 1e-7 of its power: roots left 1e-4 of their size off put a fifth of these
// rays beyond that.
TEST(ThickCrystal, MirrorPairRaysDoNotDependOnTheirPath)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {2, 2, 0}, {-1, 1, -2});
    double keV = 0.0;
    for (const Glitch& g : FindGlitches(*si, frame, 7.3, 17.19, 17.20)) {
        if (g.x == Miller{11, -1, 9}) keV = g.energy;
    }
    ASSERT_GT(keV, 0.0);
    const PassbandCase c = DescribePassband(*si, frame, {11, -1, 9}, 7.3, keV, Beam{});
    ASSERT_EQ(c.first.count, 4);
    ThickCrystal crystal(c.first);
    for (const double g : {-24.0, -23.5, -22.5, -1.0}) {  // in G's half-widths from its centre
        const double alphaG = c.centreG + g * c.halfG;
        const double centre = ResonantDeviations(c, alphaG).front().real();
        for (int j = -100; j <= 100; ++j) {
            const double alphaX = centre + 0.05 * j * c.halfX;
            const double alpha[4] = {0.0, alphaG, alphaX, alphaX + c.members[0].shift * alphaG};
            const Reflection r = crystal.Reflect(alpha[1], alpha[2], alpha[3]);
            const std::vector<double> expected = LinearTheory(c.first, alpha, 0);
            ASSERT_NEAR(r.Power(0, 1), expected[1], 1e-9 + 1e-7 * expected[1]) << g << " " << j;
        }
    }
}
