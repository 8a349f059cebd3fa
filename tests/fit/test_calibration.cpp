// The monochromator's readback and its calibration from glitches: the readback's shift from the
// photon energy worked out by hand, and synthetic scans read back with a known angle offset and
// d-spacing ratio (dips made from the Ewald construction, read back by the test's own formula)
// fitted within their stated errors, the two told apart; unrelated dips still fit no calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "fit/glitch_fit.h"
#include "fit/readback_scale.h"
#include "planning_cases.h"
#include "scan/symmetric_azimuths.h"
#include "synthetic_dips.h"

namespace {

// Silicon 1 1 1: d = a / sqrt(3).
constexpr double kSiliconA = 5.431;
const double kSilicon111 = kSiliconA / std::sqrt(3.0);

TEST(Readback, ShiftOfSilicon111WorkedOutByHand)
{
    // delta = 0.003 degree = 5.236e-5 rad, d_ref / d = 1 + 5e-5. To first order E_read - E =
    // -E (5e-5 + delta cot theta); at 10 keV lambda = 1.23984 angstrom, sin theta =
    // 1.23984 / 6.27040 = 0.19773, theta = 11.404 degrees, cot theta = 4.957: -10000 eV x
    // (5e-5 + 2.596e-4) = -3.10 eV. Likewise cot theta 2.325 at 5 keV (-0.86 eV) and 10.07 at
    // 20 keV (-11.5 eV).
    const ReadbackScale scale{kSilicon111, 0.003, 1.0 + 5e-5};
    const struct { double keV, shiftEV; } rows[] = {{5.0, -0.86}, {10.0, -3.10}, {20.0, -11.55}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keV);
        const double read = scale.Read(row.keV);
        EXPECT_NEAR((read - row.keV) * 1000.0, row.shiftEV, 0.06);
        EXPECT_NEAR(scale.Photon(read), row.keV, 1e-10);
        // The slopes the least squares use, against differences of the readback.
        const ReadbackScale::Slopes slopes = scale.SlopesAt(row.keV);
        const double h = 1e-4;
        const ReadbackScale up{kSilicon111, 0.003 + h, 1.0 + 5e-5}, larger{kSilicon111, 0.003, 1.0 + 5e-5 + h};
        EXPECT_NEAR(slopes.perPhoton, (scale.Read(row.keV + h) - scale.Read(row.keV - h)) / (2.0 * h), 1e-6);
        EXPECT_NEAR(slopes.perDegree, (up.Read(row.keV) - read) / h, 1e-3 * std::fabs(slopes.perDegree));
        EXPECT_NEAR(slopes.perRatio, (larger.Read(row.keV) - read) / h, 1e-3 * std::fabs(slopes.perRatio));
    }
}

FitRequest CalibratingRequest()
{
    FitRequest request;
    request.beam.beam.across = 2e-5;
    request.significance = 0.05;
    request.calibrate = true;
    return request;
}

TEST(Calibration, FitsTheAngleOffsetAndRatioWithinTheirErrors)
{
    const CubicCrystal silicon = TableCrystal(4, kSiliconA, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    // Shifts at 20 keV of -11.5, +19.6 and -11.0 eV: more than one offset pairs over 5 to 20 keV;
    // and -68 eV, where one offset pairs a third of the dips (--max-offset 100).
    const struct { double psi, delta, ratio, widestOffsetEV = 25.0; } cases[] = {
        {20.3, 0.003, 1.0 + 5e-5}, {-47.1, -0.005, 1.0 - 1e-4}, {7.7, 0.002, 1.0 + 2e-4}, {20.3, 0.02, 1.0 - 1e-4, 100.0}};
    int fits = 0, within = 0;
    unsigned seed = 0;  // each scan its own noise: the coverage below counts independent draws
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "psi " << c.psi);
        const Synthetic made{c.psi, 5.0, 20.0, 0.0, 0.2, ++seed, 0.015, 0.5, {kSilicon111, c.delta, c.ratio}};
        FitRequest request = CalibratingRequest();
        request.nominalPsi = c.psi;
        request.widestOffsetEV = c.widestOffsetEV;
        const DipSearch dips = SyntheticDips(silicon, frame, made);
        const GlitchFit fit = FitGlitches(silicon, frame, {dips}, request);
        ASSERT_TRUE(fit.found && fit.calibrated) << fit.why;
        EXPECT_NEAR(fit.scale.dSpacing, kSilicon111, 1e-9);
        EXPECT_LT(DistanceToTruth(silicon, frame, fit.psi, c.psi), 4.0 * fit.psiError);
        EXPECT_LT(std::fabs(fit.scale.angleOffsetDeg - c.delta), 3.0 * fit.angleOffsetError);
        EXPECT_LT(std::fabs(fit.scale.dRatio - c.ratio), 3.0 * fit.dRatioError);
        // Told apart: the errors bound each to a share of its size, not the two together only;
        // their correlation that of the readback's derivatives at the dips (psi, fitted too, is
        // nearly independent of them): -E cot theta by delta and -E by the ratio.
        EXPECT_LT(std::fabs(fit.correlation), 0.99);
        double aa = 0.0, ab = 0.0, bb = 0.0;
        for (const MeasuredDip& dip : dips.dips) {
            const double sine = kHcKeVAngstrom / (2.0 * kSilicon111 * dip.energy);
            const double a = dip.energy * std::sqrt(1.0 - sine * sine) / sine, b = dip.energy;
            aa += a * a, ab += a * b, bb += b * b;
        }
        EXPECT_NEAR(fit.correlation, -ab / std::sqrt(aa * bb), 0.02);
        EXPECT_LT(fit.angleOffsetError, 0.1 * std::fabs(c.delta));
        // The scale pairs dips one offset cannot, and to the noise (0.2 eV) where one offset
        // left residuals of about an eV.
        EXPECT_GT(fit.matched, fit.matchedBefore);
        EXPECT_NEAR(fit.rmsEV, 0.2, 0.08);
        EXPECT_GT(fit.rmsBefore, 3.0 * fit.rmsEV);
        ++fits;
        within += std::fabs(fit.scale.angleOffsetDeg - c.delta) <= fit.angleOffsetError;
        within += std::fabs(fit.scale.dRatio - c.ratio) <= fit.dRatioError;
    }
    // One standard error holds the truth about 68 % of the time: of 2 fits checks, at least half.
    EXPECT_GE(within, fits);
}

TEST(Calibration, SeveralScansShareOneCalibration)
{
    // Two scans at either end of 5 to 20 keV, read back through one scale: each scan's largest
    // shift is the readback's at its top, worked out here.
    const CubicCrystal silicon = TableCrystal(4, kSiliconA, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const Readback truth{kSilicon111, 0.004, 1.0 - 5e-5};
    std::vector<DipSearch> scans;
    for (const auto& [from, to] : {std::pair{5.0, 9.0}, std::pair{15.0, 20.0}}) {
        scans.push_back(SyntheticDips(silicon, frame, {-33.3, from, to, 0.0, 0.2, 5, 0.015, 0.5, truth}));
    }
    FitRequest request = CalibratingRequest();
    request.nominalPsi = -33.3;
    const GlitchFit fit = FitGlitches(silicon, frame, scans, request);
    ASSERT_TRUE(fit.found && fit.calibrated) << fit.why;
    EXPECT_LT(std::fabs(fit.scale.angleOffsetDeg - truth.angleOffsetDeg), 3.0 * fit.angleOffsetError);
    EXPECT_LT(std::fabs(fit.scale.dRatio - truth.dRatio), 3.0 * fit.dRatioError);
    for (const ScanMatch& scan : fit.scans) {
        ASSERT_TRUE(scan.used);
        EXPECT_GT(scan.matched, 0);
        // The shift at the top, where it is largest: E_read - E, E the photon energy read back as E_read.
        const double top = scan.eMax;
        double photon = top;
        for (int i = 0; i < 50; ++i) photon += top - ReadBack(truth, photon);
        EXPECT_LT(std::fabs(scan.offsetEV - (top - photon) * 1000.0), 3.0 * scan.offsetError + 0.02) << top;
    }
}

TEST(Calibration, UnrelatedDipsFitNoCalibration)
{
    const CubicCrystal silicon = TableCrystal(4, kSiliconA, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const ScanFrame si111 = MatrixFrame(silicon.lattice(), {1, 1, 1});
    // Germanium's glitches, 4 % apart from silicon's (beyond any ratio within 1e-3), and silicon's
    // scattered at random energies of the range.
    DipSearch other = SyntheticDips(germanium, MatrixFrame(germanium.lattice(), {1, 1, 1}), {20.3, 5.0, 12.0, 0.0, 0.2, 3, 0.03});
    DipSearch scattered = SyntheticDips(silicon, si111, {20.3, 5.0, 12.0, 0.0, 0.2, 3, 0.03});
    std::mt19937 random(11);
    std::uniform_real_distribution<double> anywhere(5.0, 12.0);
    for (MeasuredDip& dip : scattered.dips) dip.energy = anywhere(random);
    std::sort(scattered.dips.begin(), scattered.dips.end(), [](const MeasuredDip& a, const MeasuredDip& b) { return a.energy < b.energy; });
    for (const DipSearch& dips : {other, scattered}) {
        const GlitchFit fit = FitGlitches(silicon, si111, {dips}, CalibratingRequest());
        EXPECT_FALSE(fit.found) << "psi " << fit.psi << ", " << fit.matched << " dips paired, p " << fit.p;
    }
}

}  // namespace
