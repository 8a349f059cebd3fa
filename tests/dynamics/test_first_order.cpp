// The first order in X's couplings of the thick-crystal solution, for weak X clear of the surface:
// a ray's loss against the linear theory solved as an eigenvalue problem, and the dips it gives
// against those of the full solution.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "dynamics/first_order.h"
#include "dynamics/loss_map.h"
#include "dynamics/passband.h"
#include "glitches/glitches.h"
#include "linear_theory.h"
#include "planning_cases.h"

namespace {

// Weak glitches of a silicon 1 1 1 monochromator at psi 17: X leaving by the entrance surface,
// and X running into the crystal, steeply and near the surface's grazing limit.
struct WeakRow {
    const char* what;
    Miller x;
    double from, to;  // keV: the range that holds X's glitch
};
const WeakRow kWeakRows[] = {
    {"9 -7 3, leaving by the entrance surface", {9, -7, 3}, 14.9, 14.95},
    {"9 -9 -3, running into the crystal", {9, -9, -3}, 15.5, 15.55},
    {"11 -7 -3, running into the crystal near the surface", {11, -7, -3}, 15.3, 15.35},
};

PassbandCase CaseOf(const Crystal& crystal, const ScanFrame& frame, const WeakRow& row, const Beam& beam)
{
    for (const Glitch& g : FindGlitches(crystal, frame, 17.0, row.from, row.to)) {
        if (g.x == row.x) return DescribePassband(crystal, frame, g.x, 17.0, g.energy, beam);
    }
    ADD_FAILURE() << row.what << ": no glitch";
    return {};
}

}  // namespace

// Within G's band, where the first order holds, a ray's loss integrated over X's resonance and its
// deepest point agree with the linear theory's to one and two percent, for either polarisation.
TEST(FirstOrder, AgainstTheLinearTheoryInGsBand)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {1, 1, 1}, {-1, 1, 0});
    for (const WeakRow& row : kWeakRows) {
        for (const Polarisation polarisation : {Polarisation::kSigma, Polarisation::kPi}) {
            Beam beam;
            beam.polarisation = polarisation;
            const PassbandCase c = CaseOf(*si, frame, row, beam);
            ASSERT_TRUE(FirstOrderHolds(c)) << row.what;
            const int p = polarisation == Polarisation::kSigma ? 0 : 1;
            BeamSet twoBeams = c.first;
            twoBeams.count = 2;
            for (const double t : {-0.6, 0.0, 0.6}) {
                SCOPED_TRACE(::testing::Message() << row.what << ", polarisation " << p << ", alpha_G at " << t << " half-widths");
                const double alphaG = c.centreG + t * c.halfG;
                const FirstOrderRay ray(c, alphaG);
                const double none[4] = {0.0, alphaG, 0.0, 0.0};
                const double without = LinearTheory(twoBeams, none, p)[1];
                EXPECT_NEAR(ray.TwoBeam(), without, 1e-9);
                // The resonance's centre and half-width from its poles; X's deviation sampled
                // evenly in atan over 300 half-widths either side.
                double centre = 0.0, width = 0.0;
                for (const std::complex<double> pole : ResonantDeviations(c, alphaG)) {
                    if (std::fabs(pole.imag()) > width) width = std::fabs(pole.imag()), centre = pole.real();
                }
                constexpr int kSteps = 3000;
                const double reach = std::atan(300.0);
                double theory = 0.0, closed = 0.0, deepestTheory = 0.0, deepestClosed = 0.0, before = 0.0;
                double lossTheory = 0.0, lossClosed = 0.0;
                for (int k = 0; k <= kSteps; ++k) {
                    const double alphaX = centre + width * std::tan(-reach + 2.0 * reach * k / kSteps);
                    const double alpha[4] = {0.0, alphaG, alphaX, 0.0};
                    const double nextTheory = without - LinearTheory(c.first, alpha, p)[1], nextClosed = ray.Loss(alphaX);
                    if (k > 0) {
                        theory += (nextTheory + lossTheory) / 2.0 * (alphaX - before);
                        closed += (nextClosed + lossClosed) / 2.0 * (alphaX - before);
                    }
                    lossTheory = nextTheory, lossClosed = nextClosed, before = alphaX;
                    deepestTheory = std::max(deepestTheory, nextTheory), deepestClosed = std::max(deepestClosed, nextClosed);
                }
                ASSERT_GT(theory, 0.0);
                EXPECT_NEAR(closed / theory, 1.0, 0.01);
                EXPECT_NEAR(deepestClosed / deepestTheory, 1.0, 0.02);
            }
        }
    }
}

// The dips of weak rows from the first order agree with the full solution's within 15 % in depth
// and 12 % in width, for one crystal or two, a polarised beam or not.
TEST(FirstOrder, DipsOfWeakRowsAgainstTheFullSolution)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {1, 1, 1}, {-1, 1, 0});
    Beam unpolarised, twoCrystals, channelCut;
    unpolarised.polarisation = Polarisation::kUnpolarised;
    twoCrystals.monochromator = Monochromator::kDouble;
    channelCut.monochromator = Monochromator::kChannelCut;
    for (const WeakRow& row : kWeakRows) {
        for (const Beam& beam : {Beam{}, unpolarised, twoCrystals, channelCut}) {
            SCOPED_TRACE(::testing::Message() << row.what << ", monochromator " << static_cast<int>(beam.monochromator)
                                              << ", polarisation " << static_cast<int>(beam.polarisation));
            const PassbandCase c = CaseOf(*si, frame, row, beam);
            ASSERT_TRUE(FirstOrderHolds(c));
            const double along = std::fabs(c.alongRate) * c.along;
            const DipProfile full = LossMap(c, kCloseSampling).Dip(along, 0.0);
            const DipProfile closed = LossMap(c, kCloseSampling, RayLoss::kFirstOrder).Dip(along, 0.0);
            ASSERT_GT(full.depth, 0.0);
            EXPECT_NEAR(closed.depth / full.depth, 1.0, 0.15);
            EXPECT_NEAR((closed.high - closed.low) / (full.high - full.low), 1.0, 0.12);
        }
    }
}

// Where its theory fails the first order is not taken: an X as strong as G (whose first order
// misses its dip by half), a beam along the surface (no linear theory there) and a mirror pair
// (X and X' coupled through G).
TEST(FirstOrder, NotTakenWhereItsTheoryFails)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const struct {
        const char* what;
        Miller primary, reference, x;
        double psi, from, to;
    } rows[] = {
        {"silicon 1 1 1: 1 1 -1, as strong as G", {1, 1, 1}, {-1, 1, 0}, {1, 1, -1}, 17.0, 5.15, 5.2},
        {"silicon 2 2 0: 7 -5 5, along the surface", {2, 2, 0}, {-1, 1, -2}, {7, -5, 5}, 7.3, 11.93, 11.97},
        {"silicon 2 2 0: 3 1 -1 with its mirror partner", {2, 2, 0}, {-1, 1, -2}, {3, 1, -1}, 7.3, 15.88, 15.9},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const ScanFrame frame = ReferenceFrame(si->lattice(), row.primary, row.reference);
        bool found = false;
        for (const Glitch& g : FindGlitches(*si, frame, row.psi, row.from, row.to)) {
            if (!(g.x == row.x)) continue;
            found = true;
            const PassbandCase c = DescribePassband(*si, frame, g.x, row.psi, g.energy, Beam{});
            EXPECT_FALSE(FirstOrderHolds(c));
            if (c.Shared() || std::fabs(c.first.gamma[2]) < 0.05) continue;
            const double along = std::fabs(c.alongRate) * c.along;
            const double full = LossMap(c, kCloseSampling).Dip(along, 0.0).depth;
            EXPECT_LT(LossMap(c, kCloseSampling, RayLoss::kFirstOrder).Dip(along, 0.0).depth, 0.5 * full);
        }
        EXPECT_TRUE(found);
    }
}
