// The fit's stated error against the truth of scans made in the test (tests/synthetic_scan.h):
// over many crystals, azimuths, offsets, noise levels and ranges, the truth lies within one
// standard error of the fitted psi in about 68 % of the significant fits, within two in about 95 %.
// Some minutes of fits: labelled slow, run by CI.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "fit/glitch_fit.h"
#include "fit/measured_dips.h"
#include "planning_cases.h"
#include "scan/symmetric_azimuths.h"
#include "synthetic_scan.h"

TEST(FitCoverage, TheTruthLiesWithinTheStatedErrorAtItsRate)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const struct {
        const Crystal* crystal;
        Miller primary;
        double eMin, eMax;
    } ranges[] = {
        {&silicon, {1, 1, 1}, 6.9, 8.0}, {&silicon, {1, 1, 1}, 8.5, 9.5}, {&silicon, {2, 2, 0}, 6.0, 14.0},
        {&silicon, {1, 1, 1}, 10.0, 20.0}, {&silicon, {2, 2, 0}, 7.0, 9.0}, {&germanium, {1, 1, 1}, 8.0, 12.0},
    };
    const double noises[] = {0.001, 0.003, 0.01};
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> azimuth(-180.0, 180.0), offset(-15.0, 15.0);
    int fits = 0, within = 0, within2 = 0;
    for (unsigned run = 0; fits < 120 && run < 400; ++run) {
        const auto& r = ranges[run % std::size(ranges)];
        const ScanRecipe recipe{azimuth(random), r.eMin, r.eMax, offset(random), noises[run % 3], 1.0, run + 1};
        SCOPED_TRACE(testing::Message() << r.primary.h << r.primary.k << r.primary.l << " at " << recipe.psi << ", offset "
                                        << recipe.offsetEV << " eV, noise " << recipe.noise);
        const ScanFrame frame = MatrixFrame(r.crystal->lattice(), r.primary);
        const DipSearch search = FindDips(SyntheticScan(*r.crystal, frame, recipe), r.eMin, r.eMax);
        const GlitchFit fit = FitGlitches(*r.crystal, frame, {search}, FitRequest{});
        if (!fit.found) continue;  // too few dips, or azimuths the scan cannot tell apart
        double distance = 360.0;
        for (const double at : SymmetricAzimuths(AzimuthSymmetries(*r.crystal, frame, r.eMax), recipe.psi, {-180.0, 180.0})) {
            distance = std::min(distance, std::fabs(std::remainder(fit.psi - at, 360.0)));
        }
        EXPECT_LT(distance, 6.0 * fit.psiError);  // never confidently wrong
        ++fits;
        within += distance <= fit.psiError;
        within2 += distance <= 2.0 * fit.psiError;
    }
    ASSERT_GE(fits, 100);
    const double one = static_cast<double>(within) / fits, two = static_cast<double>(within2) / fits;
    std::printf("psi within one error in %d of %d fits, within two in %d\n", within, fits, within2);
    // Two standard deviations of a share of some 120 fits: 0.085 about 0.68, 0.04 about 0.95.
    EXPECT_NEAR(one, 0.68, 0.085) << within << " of " << fits << " fits";
    EXPECT_NEAR(two, 0.95, 0.05) << within2 << " of " << fits << " fits";
}
