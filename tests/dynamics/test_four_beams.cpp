// A pair's four beams (O, G, X and X' on the circle through O, G and X: the mirror partner
// X + (1 - 2 X.G/|G|^2) G, or another reflection of that circle): the thick-crystal solution
// against the linear dynamical theory solved here as an eigenvalue problem, its limits with a
// coupling turned off, energy conservation, the pair's dip against its beams' alone, and the
// partners naming each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <optional>
#include <vector>

#include "dynamics/loss_map.h"
#include "linear_theory.h"
#include "dynamics/passband.h"
#include "glitches/glitches.h"
#include "planning_cases.h"
#include "scan/symmetric_azimuths.h"

namespace {

using Complex = std::complex<double>;

// The case of X alone (which = 2) or of X' alone (which = 3) from a pair's, in the deviation of
// the one kept.
PassbandCase Alone(const PassbandCase& pair, int which)
{
    PassbandCase c = pair;
    c.paired = false, c.ratio = 1.0, c.shift = 0.0;
    for (BeamSet* set : {&c.first, &c.second}) {
        if (set->count < 4) continue;
        if (which == 3) {
            set->gamma[2] = set->gamma[3];
            for (int m = 0; m < 4; ++m) {
                set->chi[2][m] = set->chi[3][m], set->chi[m][2] = set->chi[m][3];
                for (int s = 0; s < 2; ++s) {
                    for (int t = 0; t < 2; ++t) set->projection[2][s][m][t] = set->projection[3][s][m][t], set->projection[m][t][2][s] = set->projection[m][t][3][s];
                }
            }
            set->chi[2][2] = set->chi[3][3];
        }
        set->count = 3;
    }
    if (which == 3) {
        // zeta is the same for both: on the circle |X'|^2 = ratio |X|^2 + shift |G|^2.
        c.kappa = pair.ratio * pair.kappa + pair.shift;
        c.alongRate *= pair.ratio, c.acrossRate *= pair.ratio;
        c.halfX *= std::fabs(pair.ratio), c.halfXG *= std::fabs(pair.ratio);
    }
    return c;
}

struct Pair {
    const char* what;
    Miller primary, reference, x;
    double psi, keV;
};
const Pair kPairs[] = {
    {"silicon 2 2 0 at psi 7.3: 3 1 -1 with 1 -1 -1", {2, 2, 0}, {-1, 1, -2}, {3, 1, -1}, 7.3, 15.890751},
    {"silicon 2 2 0 at psi 7.3: 1 -1 3 with 3 1 3", {2, 2, 0}, {-1, 1, -2}, {1, -1, 3}, 7.3, 5.113672},
    // No mirror partner (0 -2 0 is forbidden): 0 4 0 = 2 (1 3 1) - 2 G on X's circle.
    {"silicon 1 1 1 at psi 17: 1 3 1 with 0 4 0", {1, 1, 1}, {1, -1, 0}, {1, 3, 1}, 17.0, 6.459474},
};

}  // namespace

TEST(FourBeams, AgainstTheLinearTheoryAndItsLimits)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    for (const Pair& pair : kPairs) {
        SCOPED_TRACE(pair.what);
        const ScanFrame frame = ReferenceFrame(si->lattice(), pair.primary, pair.reference);
        // The energy where X is on the sphere at psi, from the glitch spectrum near the one given;
        // both rows of the pair give its one dip, at one width.
        std::vector<Glitch> glitches = FindGlitches(*si, frame, pair.psi, pair.keV - 0.01, pair.keV + 0.01);
        ShapeGlitches(*si, frame, pair.psi, pair.keV - 0.01, pair.keV + 0.01, Beam{}, &glitches);
        double keV = 0.0;
        const Glitch *row = nullptr, *partnerRow = nullptr;
        for (const Glitch& g : glitches) {
            if (g.x == pair.x) keV = g.energy, row = &g;
        }
        ASSERT_TRUE(row != nullptr && row->sharesDip);
        for (const Glitch& g : glitches) {
            if (g.x == row->partner) partnerRow = &g;
        }
        ASSERT_TRUE(partnerRow != nullptr);
        EXPECT_EQ(partnerRow->depth, row->depth);
        EXPECT_NEAR(partnerRow->widthEV, row->widthEV, 1e-9 * row->widthEV);
        const PassbandCase c = DescribePassband(*si, frame, pair.x, pair.psi, keV, Beam{});
        ASSERT_TRUE(c.paired);
        ASSERT_EQ(c.first.count, 4);
        if (c.ratio == 1.0) EXPECT_NEAR(c.first.gamma[2], -c.first.gamma[3], 1e-12);  // each other's image in the surface
        ThickCrystal four(c.first);
        BeamSet withoutPartner = c.first, threeBeams = c.first;
        for (int m = 0; m < 3; ++m) withoutPartner.chi[3][m] = withoutPartner.chi[m][3] = 0.0;
        threeBeams.count = 3;
        ThickCrystal uncoupled(withoutPartner), alone(threeBeams);
        for (const double g : {-1.5, -0.5, 0.0, 0.7}) {
            const double alphaG = c.centreG + g * c.halfG;
            for (const std::complex<double> pole : ResonantDeviations(c, alphaG)) {
                for (const double t : {-2.0, -0.3, 0.4, 3.0}) {
                    const double alphaX = pole.real() + t * std::fabs(pole.imag()), alphaP = c.ratio * alphaX + c.shift * alphaG;
                    const double alpha[4] = {0.0, alphaG, alphaX, alphaP};
                    const Reflection r = four.Reflect(alphaG, alphaX, alphaP);
                    for (int p = 0; p < 2; ++p) {
                        const std::vector<double> expected = LinearTheory(c.first, alpha, p);
                        EXPECT_NEAR(r.Power(p, 1), expected[1], 1e-7) << g << " " << t;
                        EXPECT_NEAR(r.Power(p, 3), expected[3], 1e-7) << g << " " << t;
                        EXPECT_LE(r.Power(p, 0) + r.Power(p, 1) + r.Power(p, 2) + r.Power(p, 3), 1.0 + 1e-9);
                        // X' uncoupled: the three beams of X alone, and those against the theory here too.
                        const double three[4] = {0.0, alphaG, alphaX, 0.0};
                        EXPECT_NEAR(uncoupled.Reflect(alphaG, alphaX, alphaP).Power(p, 1), alone.Reflect(alphaG, alphaX).Power(p, 1), 1e-7);
                        EXPECT_NEAR(alone.Reflect(alphaG, alphaX).Power(p, 1), LinearTheory(threeBeams, three, p)[1], 1e-7);
                    }
                }
            }
        }
        EXPECT_EQ(four.Failures(), 0);
        // The pair's dip takes less than its beams' dips alone would together, more than either.
        const double along = std::fabs(c.alongRate) * c.along;
        const double both = LossMap(c, kCloseSampling).Dip(along, 0.0).depth;
        const double x = LossMap(Alone(c, 2), kCloseSampling).Dip(along, 0.0).depth;
        const double partner = LossMap(Alone(c, 3), kCloseSampling).Dip(std::fabs(c.ratio) * along, 0.0).depth;
        EXPECT_LT(both, x + partner);
        EXPECT_GT(both, std::max(x, partner));
    }
}

// Azimuths that the crystal's symmetry makes equivalent give the same glitches, a pair's shared
// dip included, and each pair's rows name each other and count their dip once.
TEST(FourBeams, EquivalentAzimuthsShareTheirDips)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = ReferenceFrame(si->lattice(), {2, 2, 0}, {-1, 1, -2});
    const double psi = 7.3, eMin = 8.0, eMax = 12.0;
    const std::vector<double> images = SymmetricAzimuths(AzimuthSymmetries(*si, frame, eMax), psi, {-180.0, 180.0});
    ASSERT_GE(images.size(), 2u);
    const auto depths = [&](double at) {
        std::vector<Glitch> glitches = FindGlitches(*si, frame, at, eMin, eMax);
        ShapeGlitches(*si, frame, at, eMin, eMax, Beam{}, &glitches);
        std::map<long long, std::vector<double>> by;  // by energy, to a micro-electronvolt
        int shared = 0;
        std::map<std::tuple<int, int, int>, const Glitch*> rows;
        for (const Glitch& g : glitches) rows[{g.x.h, g.x.k, g.x.l}] = &g;
        for (const Glitch& g : glitches) {
            by[std::llround(g.energy * 1e9)].push_back(g.depth);
            if (!g.sharesDip) continue;
            const Glitch* other = rows.at({g.partner.h, g.partner.k, g.partner.l});
            EXPECT_EQ(other->depth, g.depth);
            EXPECT_TRUE(other->sharesDip && other->partner == g.x);
            EXPECT_NE(other->dipAtPartner, g.dipAtPartner);
            ++shared;
        }
        EXPECT_GT(shared, 0);
        for (auto& [energy, list] : by) std::sort(list.begin(), list.end());
        return by;
    };
    const auto first = depths(images[0]);
    for (std::size_t i = 1; i < images.size(); ++i) {
        SCOPED_TRACE(images[i]);
        const auto other = depths(images[i]);
        ASSERT_EQ(other.size(), first.size());
        for (auto a = first.begin(), b = other.begin(); a != first.end(); ++a, ++b) {
            ASSERT_EQ(a->second.size(), b->second.size());
            for (std::size_t k = 0; k < a->second.size(); ++k) EXPECT_NEAR(a->second[k], b->second[k], 1e-9 + 1e-6 * a->second[k]);
        }
    }
}

// A pair's rows name each other: a mirror partner, and a partner on X's circle where the mirror
// partner is forbidden; every partner of the reflections to index 7 names X back, one step along
// the circle's relation and back again giving X.
TEST(FourBeams, PartnersNameEachOther)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const struct { Miller primary, x; std::optional<Miller> partner; } rows[] = {
        {{2, 2, 0}, {3, 1, -1}, Miller{1, -1, -1}},  // the mirror partner
        {{1, 1, 1}, {1, 3, 1}, Miller{0, 4, 0}},     // 0 -2 0, the mirror partner, is forbidden
        {{1, 1, 1}, {-5, -1, -1}, Miller{-9, 3, 3}},
        {{1, 1, 1}, {2, 2, 0}, std::nullopt},        // no other allowed reflection on its circle
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.x.h << " " << r.x.k << " " << r.x.l);
        EXPECT_EQ(DipPartner(*si, r.primary, r.x), r.partner);
    }
    for (const Miller primary : {Miller{1, 1, 1}, Miller{2, 2, 0}, Miller{0, 0, 4}}) {
        for (int h = -7; h <= 7; ++h) {
            for (int k = -7; k <= 7; ++k) {
                for (int l = -7; l <= 7; ++l) {
                    const Miller x{h, k, l};
                    if (si->Extinct(x) || x == Miller{0, 0, 0} || x == primary) continue;
                    const std::optional<Miller> y = DipPartner(*si, primary, x);
                    if (!y) continue;
                    SCOPED_TRACE(testing::Message() << h << " " << k << " " << l << " with " << y->h << " " << y->k << " " << y->l);
                    EXPECT_EQ(DipPartner(*si, primary, *y), x);
                    const PartnerRelation there = RelationOf(si->lattice(), primary, x, *y), back = RelationOf(si->lattice(), primary, *y, x);
                    EXPECT_NEAR(there.ratio * back.ratio, 1.0, 1e-12);
                    EXPECT_NEAR(back.ratio * there.shift + back.shift, 0.0, 1e-9);
                }
            }
        }
    }
}
