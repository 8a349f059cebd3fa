// The beams of X's circle through O and G solved together (O, G, X and the other reflections on
// that circle: the mirror partner X + (1 - 2 X.G/|G|^2) G, and the rest of the circle's lattice
// plane): the thick-crystal solution against the linear dynamical theory solved here as an
// eigenvalue problem, its limits with a coupling turned off, energy conservation, the shared dip
// against its beams' alone, and the circle's rows naming one another; with them, at a mirror
// azimuth, the mirror images in the plane of G and the beam.
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

// The case of X alone (which = 2) or of beam `which` alone from a circle's, in the deviation of
// the one kept.
PassbandCase Alone(const PassbandCase& circle, int which)
{
    PassbandCase c = circle;
    c.members.clear();
    for (BeamSet* set : {&c.first, &c.second}) {
        if (set->count < 4) continue;
        if (which > 2) {
            set->gamma[2] = set->gamma[static_cast<std::size_t>(which)];
            for (int m = 0; m < set->count; ++m) {
                set->chi[2][m] = set->chi[which][m], set->chi[m][2] = set->chi[m][which];
                for (int s = 0; s < 2; ++s) {
                    for (int t = 0; t < 2; ++t) set->projection[2][s][m][t] = set->projection[which][s][m][t], set->projection[m][t][2][s] = set->projection[m][t][which][s];
                }
            }
            set->chi[2][2] = set->chi[which][which];
        }
        set->count = 3;
    }
    if (which > 2) {
        // zeta is the same for all: on the circle |Y|^2 = ratio |X|^2 + shift |G|^2.
        const PassbandCase::Member& y = circle.members[static_cast<std::size_t>(which - 3)];
        c.kappa = y.ratio * circle.kappa + y.shift;
        c.alongRate *= y.ratio, c.acrossRate *= y.ratio;
        c.halfX *= std::fabs(y.ratio), c.halfXG *= std::fabs(y.ratio);
    }
    return c;
}

// A ray's deviations for every beam of the case.
std::vector<double> Deviations(const PassbandCase& c, double alphaG, double alphaX)
{
    std::vector<double> alpha{0.0, alphaG, alphaX};
    for (const PassbandCase::Member& y : c.members) alpha.push_back(y.ratio * alphaX + y.shift * alphaG);
    alpha.resize(kMostBeams, 0.0);
    return alpha;
}

struct Pair {
    const char* what;
    Miller primary, reference, x;
    double psi, keV;
    int beams;
};
const Pair kPairs[] = {
    {"silicon 2 2 0 at psi 7.3: 3 1 -1 with 1 -1 -1", {2, 2, 0}, {-1, 1, -2}, {3, 1, -1}, 7.3, 15.890751, 4},
    {"silicon 2 2 0 at psi 7.3: 1 -1 3 with 3 1 3", {2, 2, 0}, {-1, 1, -2}, {1, -1, 3}, 7.3, 5.113672, 4},
    // No mirror partner (0 -2 0 is forbidden): 0 4 0 = 2 (1 3 1) - 2 G on X's circle.
    {"silicon 1 1 1 at psi 17: 1 3 1 with 0 4 0", {1, 1, 1}, {1, -1, 0}, {1, 3, 1}, 17.0, 6.459474, 4},
    // Six beams: two mirror pairs on one circle.
    {"silicon 2 2 0 at psi 7.3: 0 -2 2 with 4 2 2, 2 -2 4 and 4 0 4", {2, 2, 0}, {-1, 1, -2}, {0, -2, 2}, 7.3, 6.496601, 6},
    // Eight beams, the mirror partner 2 -6 0 one of them.
    {"silicon 2 2 0 at psi 7.3: 0 -4 0 and five more", {2, 2, 0}, {-1, 1, -2}, {0, -4, 0}, 7.3, 14.678, 8},
    // Six beams off one circle: at psi 0 the plane of G and the beam is a mirror of the crystal,
    // and X's pair meets its image -3 1 1 with -3 1 3 ray by ray.
    {"silicon 0 0 4 at psi 0: -3 -1 1 with -3 -1 3 and their mirror images", {0, 0, 4}, {1, 0, 0}, {-3, -1, 1}, 0.0, 5.285819, 6},
};

}  // namespace

TEST(FourBeams, AgainstTheLinearTheoryAndItsLimits)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    for (const Pair& pair : kPairs) {
        SCOPED_TRACE(pair.what);
        const ScanFrame frame = ReferenceFrame(si->lattice(), pair.primary, pair.reference);
        // The energy where X is on the sphere at psi, from the glitch spectrum near the one given;
        // every row of the circle gives its one dip, at one width.
        std::vector<Glitch> glitches = FindGlitches(*si, frame, pair.psi, pair.keV - 0.01, pair.keV + 0.01);
        ShapeGlitches(*si, frame, pair.psi, pair.keV - 0.01, pair.keV + 0.01, Beam{}, &glitches);
        double keV = 0.0;
        for (const Glitch& g : glitches) {
            if (g.x == pair.x) keV = g.energy;
        }
        const PassbandCase c = DescribePassband(*si, frame, pair.x, pair.psi, keV, Beam{});
        ASSERT_TRUE(c.Shared());
        const int beams = c.first.count;
        ASSERT_EQ(beams, pair.beams);
        ASSERT_EQ(beams, 3 + static_cast<int>(c.members.size()));
        std::vector<const Glitch*> rows;
        for (const Glitch& g : glitches) {
            if (g.x == c.x || std::any_of(c.members.begin(), c.members.end(), [&](const PassbandCase::Member& y) { return y.h == g.x; })) rows.push_back(&g);
        }
        ASSERT_EQ(static_cast<int>(rows.size()), beams - 2);
        for (const Glitch* row : rows) {
            EXPECT_TRUE(row->sharesDip);
            EXPECT_EQ(row->depth, rows.front()->depth);
        }
        // A mirror pair's beams are each other's image in the surface; X's image in the beam's
        // plane runs in as X does.
        for (int m = 3; m < beams; ++m) {
            const PassbandCase::Member& y = c.members[static_cast<std::size_t>(m - 3)];
            if (y.ratio == 1.0 && !y.mirror) {
                EXPECT_NEAR(c.first.gamma[2], -c.first.gamma[static_cast<std::size_t>(m)], 1e-12);
            }
            if (y.ratio == 1.0 && y.shift == 0.0) {
                EXPECT_NEAR(c.first.gamma[2], c.first.gamma[static_cast<std::size_t>(m)], 1e-12);
            }
        }
        ThickCrystal all(c.first);
        // The last beam uncoupled: the others alone, and those against the theory here too.
        BeamSet withoutLast = c.first, fewer = c.first;
        for (int m = 0; m < beams - 1; ++m) withoutLast.chi[beams - 1][m] = withoutLast.chi[m][beams - 1] = 0.0;
        fewer.count = beams - 1;
        ThickCrystal uncoupled(withoutLast), others(fewer);
        for (const double g : {-1.5, 0.0, 0.7}) {
            const double alphaG = c.centreG + g * c.halfG;
            const std::vector<std::complex<double>> poles = ResonantDeviations(c, alphaG);
            for (std::size_t k = 0; k < poles.size(); k += beams > 4 ? 3 : 1) {
                for (const double t : {-2.0, -0.3, 3.0}) {
                    const std::vector<double> alpha = Deviations(c, alphaG, poles[k].real() + t * std::fabs(poles[k].imag()));
                    const Reflection r = all.Reflect(alpha.data());
                    for (int p = 0; p < 2; ++p) {
                        const std::vector<double> expected = LinearTheory(c.first, alpha.data(), p);
                        double total = 0.0;
                        for (int m = 0; m < beams; ++m) {
                            total += r.Power(p, m);
                            if (m == 0) continue;
                            EXPECT_NEAR(r.Power(p, m), expected[static_cast<std::size_t>(m)], 1e-7) << g << " " << t << " beam " << m;
                        }
                        EXPECT_LE(total, 1.0 + 1e-9);
                        const double rest = others.Reflect(alpha.data()).Power(p, 1);
                        EXPECT_NEAR(uncoupled.Reflect(alpha.data()).Power(p, 1), rest, 1e-7) << g << " " << t;
                        EXPECT_NEAR(rest, LinearTheory(fewer, alpha.data(), p)[1], 1e-7) << g << " " << t;
                    }
                }
            }
        }
        EXPECT_EQ(all.Failures(), 0);
        // The circle's dip takes less than its beams' dips alone would together, more than any one.
        const double along = std::fabs(c.alongRate) * c.along;
        const double together = LossMap(c, kCloseSampling).Dip(along, 0.0).depth;
        double sum = 0.0, most = 0.0;
        for (int m = 2; m < beams; ++m) {
            const double ratio = m == 2 ? 1.0 : std::fabs(c.members[static_cast<std::size_t>(m - 3)].ratio);
            const double alone = LossMap(Alone(c, m), kCloseSampling).Dip(ratio * along, 0.0).depth;
            sum += alone, most = std::max(most, alone);
        }
        EXPECT_LT(together, sum);
        EXPECT_GT(together, most);
    }
}

// Azimuths that the crystal's symmetry makes equivalent give the same glitches, a pair's shared
// dip included, and each pair's rows name each other and count their dip once.
TEST(FourBeams, EquivalentAzimuthsShareTheirDips)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    // Mirror pairs on their circles; at a mirror azimuth, each pair with its image too.
    const struct { Miller primary, reference; double psi, eMin, eMax; } cases[] = {
        {{2, 2, 0}, {-1, 1, -2}, 7.3, 8.0, 12.0},
        {{0, 0, 4}, {1, 0, 0}, 0.0, 5.2, 6.5},
    };
    for (const auto& [primary, reference, psi, eMin, eMax] : cases) {
        SCOPED_TRACE(psi);
        const ScanFrame frame = ReferenceFrame(si->lattice(), primary, reference);
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
                // The ring of rows the dip's rows make: each names the next, all give one depth, and
                // one of them counts it.
                int counted = g.dipAtPartner ? 0 : 1, steps = 1;
                for (const Glitch* other = rows.at({g.partner.h, g.partner.k, g.partner.l}); !(other->x == g.x) && steps < kMostBeams; ++steps) {
                    EXPECT_EQ(other->depth, g.depth);
                    EXPECT_TRUE(other->sharesDip);
                    counted += other->dipAtPartner ? 0 : 1;
                    other = rows.at({other->partner.h, other->partner.k, other->partner.l});
                }
                EXPECT_LT(steps, kMostBeams);
                EXPECT_EQ(counted, 1);
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
}

// A circle's reflections name one another: a mirror partner, a partner on X's circle where the
// mirror partner is forbidden, and circles of more; every member of the circles of the reflections
// to index 7 names X and the others back, one step along the circle's relation and back again
// giving X.
TEST(FourBeams, CirclesNameTheirMembers)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const struct { Miller primary, x; std::vector<Miller> members; } rows[] = {
        {{2, 2, 0}, {3, 1, -1}, {{1, -1, -1}}},  // the mirror partner
        {{1, 1, 1}, {1, 3, 1}, {{0, 4, 0}}},     // 0 -2 0, the mirror partner, is forbidden
        {{1, 1, 1}, {-5, -1, -1}, {{-9, 3, 3}}},
        {{1, 1, 1}, {2, 2, 0}, {}},              // no other allowed reflection on its circle
        {{2, 2, 0}, {0, -2, 2}, {{2, -2, 4}, {4, 0, 4}, {4, 2, 2}}},
        {{1, 1, 1}, {-5, 5, 5}, {{-7, 1, 1}, {-1, 5, 5}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.x.h << " " << r.x.k << " " << r.x.l);
        EXPECT_EQ(CircleMembers(*si, r.primary, r.x), r.members);
    }
    for (const Miller primary : {Miller{1, 1, 1}, Miller{2, 2, 0}, Miller{0, 0, 4}}) {
        for (int h = -7; h <= 7; ++h) {
            for (int k = -7; k <= 7; ++k) {
                for (int l = -7; l <= 7; ++l) {
                    const Miller x{h, k, l};
                    if (si->Extinct(x) || x == Miller{0, 0, 0} || x == primary) continue;
                    std::vector<Miller> circle = CircleMembers(*si, primary, x);
                    circle.push_back(x);
                    std::sort(circle.begin(), circle.end(), MillerBefore);
                    for (const Miller y : CircleMembers(*si, primary, x)) {
                        SCOPED_TRACE(testing::Message() << h << " " << k << " " << l << " with " << y.h << " " << y.k << " " << y.l);
                        std::vector<Miller> back = CircleMembers(*si, primary, y);
                        back.push_back(y);
                        std::sort(back.begin(), back.end(), MillerBefore);
                        EXPECT_EQ(back, circle);
                        const PartnerRelation there = RelationOf(si->lattice(), primary, x, y), returned = RelationOf(si->lattice(), primary, y, x);
                        EXPECT_NEAR(there.ratio * returned.ratio, 1.0, 1e-12);
                        EXPECT_NEAR(returned.ratio * there.shift + returned.shift, 0.0, 1e-9);
                    }
                }
            }
        }
    }
}

// A reflection's mirror image in the plane of G and the beam, worked out by hand for silicon 0 0 4
// from 1 0 0: at psi 0 the plane holds 1 0 0 (k turns), at 90 0 1 0 (h turns), at 45 1 1 0 (h and
// k trade places); none for a reflection in the plane, nor at psi 7.3 of 2 2 0, where no lattice
// point is 3 1 -1's image. The glitch spectrum finds each image at its reflection's energy. A beam
// without spread across G's plane meets the two ray by ray, and their rows share one dip; one 10
// microradian wide does not (its rays meet them apart), and only the circle's rows share.
TEST(FourBeams, MirrorImagesJoinTheDip)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame cut004 = ReferenceFrame(si->lattice(), {0, 0, 4}, {1, 0, 0});
    const ScanFrame cut220 = ReferenceFrame(si->lattice(), {2, 2, 0}, {-1, 1, -2});
    const struct { const ScanFrame* frame; double psi; Miller x; std::optional<Miller> image; } rows[] = {
        {&cut004, 0.0, {-3, -1, 1}, Miller{-3, 1, 1}},
        {&cut004, 90.0, {-3, -1, 1}, Miller{3, -1, 1}},
        {&cut004, 45.0, {-3, -1, 1}, Miller{-1, -3, 1}},
        {&cut004, 0.0, {-4, 0, 2}, std::nullopt},
        {&cut220, 7.3, {3, 1, -1}, std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.psi << ": " << r.x.h << " " << r.x.k << " " << r.x.l);
        const std::optional<Miller> image = MirrorInBeamPlane(si->lattice(), *r.frame, r.psi, r.x);
        EXPECT_EQ(image, r.image);
        if (!image) continue;
        std::map<std::tuple<int, int, int>, double> energy;
        for (const Glitch& g : FindGlitches(*si, *r.frame, r.psi, 4.5, 27.5)) energy[{g.x.h, g.x.k, g.x.l}] = g.energy;
        ASSERT_EQ(energy.count({r.x.h, r.x.k, r.x.l}), 1u);
        EXPECT_NEAR(energy.at({image->h, image->k, image->l}), energy.at({r.x.h, r.x.k, r.x.l}), 1e-9);
    }
    // The circle's partner and both images, the same from each of them.
    const Miller x{-3, -1, 1};
    const std::vector<Miller> shared{{-3, -1, 3}, {-3, 1, 1}, {-3, 1, 3}};
    EXPECT_EQ(SharedMembers(*si, cut004, x, 0.0, true), shared);
    EXPECT_EQ(SharedMembers(*si, cut004, x, 0.0, false), (std::vector<Miller>{{-3, -1, 3}}));
    std::vector<Miller> all = shared;
    all.push_back(x);
    std::sort(all.begin(), all.end(), MillerBefore);
    for (const Miller y : shared) {
        std::vector<Miller> back = SharedMembers(*si, cut004, y, 0.0, true);
        back.push_back(y);
        std::sort(back.begin(), back.end(), MillerBefore);
        EXPECT_EQ(back, all);
    }
    double depth[2] = {};
    for (const int wide : {0, 1}) {
        SCOPED_TRACE(wide);
        Beam beam;
        beam.across = wide * 10e-6;
        std::vector<Glitch> glitches = FindGlitches(*si, cut004, 0.0, 5.28, 5.29);
        ShapeGlitches(*si, cut004, 0.0, 5.28, 5.29, beam, &glitches);
        std::map<std::tuple<int, int, int>, const Glitch*> at;
        for (const Glitch& g : glitches) at[{g.x.h, g.x.k, g.x.l}] = &g;
        ASSERT_EQ(at.count({-3, -1, 3}), 1u);
        ASSERT_EQ(at.count({-3, 1, 1}), 1u);
        EXPECT_EQ(at.at({-3, -1, 3})->partner, (wide ? Miller{-3, -1, 1} : Miller{-3, 1, 1}));
        EXPECT_EQ(at.at({-3, 1, 1})->dipAtPartner, !wide);
        depth[wide] = at.at({-3, -1, 1})->depth;
    }
    // Two pairs at once take more than one, less than both alone would.
    EXPECT_GT(depth[0], depth[1]);
    EXPECT_LT(depth[0], 2.0 * depth[1]);
}
