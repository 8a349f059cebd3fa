// The fit of the azimuth to measured dips made in the test from the Ewald construction's glitch
// energies (tests/glitch_energies.h), not from the fit's own lines: the azimuth found within its
// stated error (the rate at which it holds is the slow tests'), dips without relation to the crystal found no significant fit
// at the stated rate, several short scans fitted as one, and the rules of what a dip pairs with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "crystal/cif_crystal.h"
#include "glitch_energies.h"
#include "fit/beam_spread.h"
#include "fit/glitch_fit.h"
#include "glitches/glitches.h"
#include "scan/symmetric_azimuths.h"
#include "fit/sampled_dip.h"
#include "planning_cases.h"
#include "synthetic_dips.h"
#include "synthetic_scan.h"

namespace {

FitRequest Request(double significance = kDefaultSignificance)
{
    FitRequest request;
    request.beam.beam.across = 2e-5;
    request.significance = significance;
    return request;
}

// The rate at which the stated error holds the truth is the slow tests' (FitCoverage).
TEST(GlitchFit, FindsTheAzimuthWithinItsStatedError)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const struct { Miller primary; double psi, eMin, eMax, offsetEV, sigmaEV; } cases[] = {
        {{2, 2, 0}, 15.2, 6.0, 12.0, 3.0, 0.2},  {{2, 2, 0}, -47.3, 8.0, 14.0, -12.0, 0.4}, {{1, 1, 1}, 33.3, 6.0, 11.0, 0.0, 0.3},
        {{1, 1, 1}, 2.05, 9.0, 14.0, 7.5, 0.2},  {{3, 1, 1}, -160.2, 7.0, 12.0, -20.0, 0.3}, {{4, 0, 0}, 101.7, 8.0, 13.0, 11.0, 0.5},
    };
    unsigned seed = 0;
    for (const auto& c : cases) {
        const ScanFrame frame = MatrixFrame(silicon.lattice(), c.primary);
        ++seed;
        SCOPED_TRACE(testing::Message() << c.primary.h << c.primary.k << c.primary.l << " at " << c.psi << ", seed " << seed);
        const DipSearch dips = SyntheticDips(silicon, frame, {c.psi, c.eMin, c.eMax, c.offsetEV, c.sigmaEV, seed});
        // With a guess (every other case), the azimuth of the symmetric ones nearest it; without, the nearest 0.
        FitRequest request = Request(0.5);
        if (seed % 2 == 0) request.nominalPsi = c.psi + 2.0;
        const GlitchFit fit = FitGlitches(silicon, frame, {dips}, request);
        if (!fit.found && !fit.ties.empty()) {
            // Without a guess, psi and an azimuth that is no image of it, which the scan cannot
            // tell apart (silicon 1 1 1's psi and -psi): the truth is one of them.
            EXPECT_FALSE(request.nominalPsi);
            const double nearest = std::min(DistanceToTruth(silicon, frame, fit.psi, c.psi),
                                            DistanceToTruth(silicon, frame, fit.ties.front().psi, c.psi));
            EXPECT_LT(nearest, 5.0 * fit.psiError);
            continue;
        }
        ASSERT_TRUE(fit.found) << fit.why;
        const double distance = request.nominalPsi ? std::fabs(fit.psi - c.psi) : DistanceToTruth(silicon, frame, fit.psi, c.psi);
        if (!request.nominalPsi) {
            for (const double e : fit.equivalents) EXPECT_LE(std::fabs(fit.psi), std::fabs(e) + 1e-9);
        }
        EXPECT_LT(distance, 5.0 * fit.psiError);
        // The deep predicted glitches are glitches of the range at psi, about as many as the dips paired.
        EXPECT_LE(static_cast<std::size_t>(fit.predicted), ewald::Glitches(silicon, frame, c.psi, c.eMin, c.eMax).size());
        EXPECT_GE(fit.predicted, fit.matched / 2);
        EXPECT_LT(std::fabs(fit.scans[0].offsetEV - c.offsetEV), 5.0 * fit.scans[0].offsetError + 0.1);
    }
}

// Dips with no relation to the crystal: the right crystal's moved out of reach of any match,
// scattered at random, another crystal's, and another primary's.
TEST(GlitchFit, FindsNoSignificantFitToUnrelatedDipsAtTheStatedRate)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const ScanFrame si111 = MatrixFrame(silicon.lattice(), {1, 1, 1});
    int fits = 0, significant = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const double psi = -170.0 + 82.6 * seed;
        const Synthetic made{psi, 7.0, 9.0, 0.0, 0.3, seed, 0.04};
        std::vector<DipSearch> unrelated{SyntheticDips(germanium, MatrixFrame(germanium.lattice(), {1, 1, 1}), made),
                                         SyntheticDips(silicon, MatrixFrame(silicon.lattice(), {2, 2, 0}), made)};
        DipSearch moved = SyntheticDips(silicon, si111, made), scattered = moved;
        std::mt19937 random(seed);
        for (MeasuredDip& d : moved.dips) d.energy = 7.0 + std::fmod(d.energy - 7.0 + 0.6, 2.0);
        for (MeasuredDip& d : scattered.dips) d.energy = std::uniform_real_distribution<double>(7.0, 9.0)(random);
        unrelated.push_back(moved);
        unrelated.push_back(scattered);
        for (const DipSearch& dips : unrelated) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << dips.dips.size() << " dips");
            const GlitchFit fit = FitGlitches(silicon, si111, {dips}, Request());
            ASSERT_TRUE(fit.candidate);
            ++fits;
            significant += fit.found;
        }
    }
    // About one in a hundred: at most one of these 16.
    EXPECT_LE(significant, 1) << fits;
}

// Four short scans (300 eV each, as at absorption edges) with two dips each: alone each
// fits no better than dips moved out of reach of any match do; together, with one offset, they
// fix psi.
TEST(GlitchFit, FitsSeveralShortScansAsOne)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const double psi = 33.3;
    std::vector<DipSearch> scans;
    const std::vector<double> froms = {7.0, 7.9, 8.75, 10.8};
    for (const double from : froms) {
        SCOPED_TRACE(from);
        scans.push_back(SyntheticDips(silicon, frame, {psi, from, from + 0.3, 4.0, 0.2, 7, 0.015}));
        ASSERT_EQ(scans.back().dips.size(), 2u);
        const GlitchFit alone = FitGlitches(silicon, frame, {scans.back()}, Request());
        EXPECT_FALSE(alone.found) << alone.psi;
    }
    FitRequest request = Request();
    request.oneOffset = true;
    const GlitchFit joint = FitGlitches(silicon, frame, scans, request);
    ASSERT_TRUE(joint.found) << joint.why;
    EXPECT_LT(DistanceToTruth(silicon, frame, joint.psi, psi), 3.0 * joint.psiError);
    ASSERT_EQ(joint.scans.size(), froms.size());
    for (const ScanMatch& scan : joint.scans) {
        EXPECT_EQ(scan.offsetEV, joint.scans[0].offsetEV);
        // Within what eight dips of 0.2 eV noise allow: the stated error rests on their rms, which
        // for so few scatters by half.
        EXPECT_NEAR(scan.offsetEV, 4.0, 3.0 * std::max(scan.offsetError, 0.2 / std::sqrt(8.0)));
    }
    EXPECT_EQ(joint.matched, 8);
}

// What a dip pairs with: an offset within --max-offset (a better fit beyond it named), a tolerance
// of two steps, and one predicted glitch for one dip, coincident lines (silicon's 1 1 1 and its
// third harmonic 3 3 3 put X and 3 X at one energy) one glitch.
TEST(GlitchFit, KeepsTheRulesOfWhatADipPairsWith)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame si220 = MatrixFrame(silicon.lattice(), {2, 2, 0}), si111 = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const DipSearch offset = SyntheticDips(silicon, si220, {15.2, 6.0, 12.0, 32.0, 0.2, 3});
    const GlitchFit bounded = FitGlitches(silicon, si220, {offset}, Request());
    for (const ScanMatch& scan : bounded.scans) EXPECT_LE(std::fabs(scan.offsetEV), 25.0);
    EXPECT_FALSE(bounded.found && DistanceToTruth(silicon, si220, bounded.psi, 15.2) < 0.01);
    EXPECT_NEAR(bounded.beyondOffsetEV, 32.0, 0.5);
    EXPECT_LT(DistanceToTruth(silicon, si220, bounded.beyondPsi, 15.2), 0.01);
    FitRequest wider = Request();
    wider.widestOffsetEV = 40.0;
    const GlitchFit reached = FitGlitches(silicon, si220, {offset}, wider);
    ASSERT_TRUE(reached.found) << reached.why;
    EXPECT_NEAR(reached.scans[0].offsetEV, 32.0, 0.5);
    EXPECT_TRUE(std::isnan(reached.beyondOffsetEV));

    // A coarse scan is weighed, not refused: its tolerance widens with its step, and its step
    // sets the error; one whose tolerance spans the glitches' spacing cannot tell azimuths apart.
    Synthetic coarse{15.2, 6.0, 12.0};
    coarse.stepEV = 7.0;
    const GlitchFit weighed = FitGlitches(silicon, si220, {SyntheticDips(silicon, si220, coarse)}, Request());
    ASSERT_TRUE(weighed.found) << weighed.why;
    EXPECT_LT(DistanceToTruth(silicon, si220, weighed.psi, 15.2), 3.0 * weighed.psiError);
    EXPECT_EQ(weighed.scans[0].toleranceEV, 14.0);
    EXPECT_EQ(weighed.stepLimitedEV, 7.0);
    coarse.stepEV = 150.0;
    const GlitchFit tooCoarse = FitGlitches(silicon, si220, {SyntheticDips(silicon, si220, coarse)}, Request());
    EXPECT_FALSE(tooCoarse.candidate);
    EXPECT_NE(tooCoarse.why.find("every azimuth pairs its dips alike"), std::string::npos) << tooCoarse.why;

    DipSearch twins = SyntheticDips(silicon, si111, {31.1, 7.0, 10.0, 0.0, 0.1, 2, 0.03});
    const std::size_t real = twins.dips.size();
    for (std::size_t i = 0; i < real; ++i) twins.dips.push_back({twins.dips[i].energy + 0.0015, twins.dips[i].depth / 2.0, 1.0});
    std::sort(twins.dips.begin(), twins.dips.end(), [](const MeasuredDip& a, const MeasuredDip& b) { return a.energy < b.energy; });
    FitRequest harmonics = Request();
    harmonics.beam.harmonics = 3;
    harmonics.beam.content = std::vector<double>{1.0, 0.05, 0.05};
    const GlitchFit fit = FitGlitches(silicon, si111, {twins}, harmonics);
    ASSERT_TRUE(fit.found) << fit.why;
    std::vector<double> paired;
    for (const DipMatch& d : fit.scans[0].dips) {
        if (d.matched) paired.push_back(d.predictedKeV);
    }
    std::sort(paired.begin(), paired.end());
    EXPECT_GE(paired.size(), real * 3 / 4);
    for (std::size_t i = 1; i < paired.size(); ++i) EXPECT_GT(paired[i] - paired[i - 1], 1e-6);
}

// The beam's spread read from the dips' widths: a scan made here from the glitches' profiles for a
// beam 60 microradian wide across G's plane, sampled evenly, its dips found as a measured scan's
// (neighbours' flanks, the search's baseline and the step all in play);
// at a step that resolves the dips the spread is found to a fifth, at a coarse one only bounded.
TEST(GlitchFit, ReadsTheBeamSpreadFromTheDipWidths)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {2, 2, 0});
    const double psi = 15.0, truth = 60e-6, eMin = 7.0, eMax = 10.0;
    std::vector<std::pair<double, GlitchShape>> glitches;  // keV, profile
    const std::vector<Glitch> found = FindGlitches(silicon, frame, psi, eMin, eMax);
    for (const Glitch& g : found) {
        if (SharesAnEarlierDip(silicon, frame, g.x, psi, g.energy, Beam{}, found)) continue;
        glitches.push_back({g.energy, GlitchLoss(silicon, frame, g.x, psi, g.energy, Beam{}).Shape(truth)});
    }
    for (const double stepEV : {0.1, 2.0}) {
        SCOPED_TRACE(stepEV);
        std::vector<ScanPoint> scan;
        for (double eV = eMin * 1000.0; eV <= eMax * 1000.0; eV += stepEV) {
            double i0 = 1.0;
            for (const auto& [keV, shape] : glitches) {
                if (std::fabs(eV - keV * 1000.0) < shape.Reach()) i0 -= shape.At(eV - keV * 1000.0);
            }
            scan.push_back({eV / 1000.0, i0});
        }
        const std::vector<DipSearch> dips{FindDips(scan, eMin, eMax)};
        FitRequest request = Request(0.5);
        request.nominalPsi = psi;
        const GlitchFit fit = FitGlitches(silicon, frame, dips, request);
        ASSERT_TRUE(fit.found) << fit.why;
        const SpreadEstimate spread = EstimateSpread(silicon, frame, fit, dips, request);
        ASSERT_TRUE(spread.found) << spread.why;
        EXPECT_GE(spread.dips, 10);
        EXPECT_LE(spread.low, spread.across);
        EXPECT_GE(spread.high, spread.across);
        if (stepEV < 1.0) {
            EXPECT_GT(spread.low, 0.0);
            EXPECT_NEAR(spread.across, truth, 0.2 * truth);
        } else {
            EXPECT_EQ(spread.low, 0.0);
            EXPECT_GE(spread.high, truth);
        }
    }
}

}  // namespace
