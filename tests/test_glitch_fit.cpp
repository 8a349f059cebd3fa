// The fit of the azimuth to measured dips made in the test from the Ewald construction's glitch
// energies (tests/glitch_energies.h), not from the fit's own lines: the azimuth found within its
// stated error at the stated rate, dips without relation to the crystal found no significant fit
// at the stated rate, several short scans fitted as one, and the rules of what a dip pairs with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "glitch_energies.h"
#include "planning/glitch_fit.h"
#include "planning/glitches.h"
#include "planning/symmetric_azimuths.h"
#include "planning_cases.h"

namespace {

// A measured scan's dips: the glitches of the Ewald construction at psi deeper than `deepest`
// (their depth the depth model's), moved by the offset and by a normal error of `sigmaEV`; dips
// less than two steps apart are one, the deeper.
struct Synthetic {
    double psi;
    double eMin, eMax;  // keV
    double offsetEV = 0.0;
    double sigmaEV = 0.2;
    unsigned seed = 1;
    double deepest = 0.05;
    double stepEV = 0.5;
};

DipSearch SyntheticDips(const Crystal& crystal, const ScanFrame& frame, const Synthetic& s)
{
    Beam beam;
    beam.across = 2e-5;
    std::mt19937 random(s.seed);
    std::normal_distribution<double> error(0.0, s.sigmaEV);
    DipSearch search;
    search.points = static_cast<int>((s.eMax - s.eMin) * 1000.0 / s.stepEV);
    search.from = s.eMin, search.to = s.eMax, search.stepEV = s.stepEV;
    for (const ewald::TrueGlitch& g : ewald::Glitches(crystal, frame, s.psi, s.eMin, s.eMax)) {
        const double depth = ShapeOfGlitch(crystal, frame, g.x, s.psi, g.keV, beam).depth;
        if (!(depth >= s.deepest)) continue;
        const MeasuredDip dip{g.keV + (s.offsetEV + error(random)) / 1000.0, depth, 1.0};
        if (!search.dips.empty() && (dip.energy - search.dips.back().energy) * 1000.0 < 2.0 * s.stepEV) {
            if (dip.depth > search.dips.back().depth) search.dips.back() = dip;
            continue;
        }
        search.dips.push_back(dip);
    }
    return search;
}

// The distance from psi to the nearest azimuth with the spectrum of `truth`.
double DistanceToTruth(const Crystal& crystal, const ScanFrame& frame, double psi, double truth)
{
    double nearest = 360.0;
    for (const double at : SymmetricAzimuths(AzimuthSymmetries(crystal, frame, 30.0), truth, {-180.0, 180.0})) {
        const double d = std::fabs(std::remainder(psi - at, 360.0));
        nearest = std::min(nearest, d);
    }
    return nearest;
}

FitRequest Request(double significance = kDefaultSignificance)
{
    FitRequest request;
    request.beam.beam.across = 2e-5;
    request.significance = significance;
    return request;
}

TEST(GlitchFit, FindsTheAzimuthWithinItsStatedErrorAtTheStatedRate)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const struct {
        Miller primary;
        double psi, eMin, eMax, offsetEV, sigmaEV;
    } cases[] = {
        {{2, 2, 0}, 15.2, 6.0, 12.0, 3.0, 0.2},  {{2, 2, 0}, -47.3, 8.0, 14.0, -12.0, 0.4}, {{1, 1, 1}, 33.3, 6.0, 11.0, 0.0, 0.3},
        {{1, 1, 1}, 2.05, 9.0, 14.0, 7.5, 0.2},  {{3, 1, 1}, -160.2, 7.0, 12.0, -20.0, 0.3}, {{4, 0, 0}, 101.7, 8.0, 13.0, 11.0, 0.5},
    };
    int within = 0, within2 = 0, fits = 0;
    for (const auto& c : cases) {
        const ScanFrame frame = MatrixFrame(silicon.lattice(), c.primary);
        for (unsigned seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(testing::Message() << c.primary.h << c.primary.k << c.primary.l << " at " << c.psi << ", seed " << seed);
            const DipSearch dips = SyntheticDips(silicon, frame, {c.psi, c.eMin, c.eMax, c.offsetEV, c.sigmaEV, seed});
            const GlitchFit fit = FitGlitches(silicon, frame, {dips}, Request(0.5));
            ASSERT_TRUE(fit.found) << fit.why;
            const double distance = DistanceToTruth(silicon, frame, fit.psi, c.psi);
            EXPECT_LT(distance, 5.0 * fit.psiError);
            EXPECT_LT(std::fabs(fit.scans[0].offsetEV - c.offsetEV), 5.0 * fit.scans[0].offsetError + 0.1);
            ++fits;
            within += distance <= fit.psiError;
            within2 += distance <= 2.0 * fit.psiError;
        }
    }
    // One standard error holds the truth about 68 % of the time, two about 95 %.
    EXPECT_GE(within, 0.5 * fits);
    EXPECT_LE(within, 0.86 * fits);
    EXPECT_GE(within2, 0.85 * fits);
}

}  // namespace
