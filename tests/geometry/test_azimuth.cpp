// Azimuthal geometry of one reflection at the edges the examples do not reach: beta at cosines of
// exactly 1 and -1, and the psi solutions at the bounds of the -360..360 window. The golden runs
// carry psi0 in every quadrant and on the axes, and the calibration wavelengths.
#include <gtest/gtest.h>

#include <limits>

#include "geometry/beta_psi0.h"
#include "geometry/psi_calculation.h"
#include "run_record.h"

namespace {

// Silicon, Cu K-alpha 1, primary (0 0 2): frame x = l, y = h, z = k, x0 = 2.
const InputStruct kSilicon002 = RunRecord(5.431f, 1.5406f, 0, 0, 2);

TEST(Azimuth, BetaFromTheCosineOfTheAzimuthalHalfDistance)
{
    // With a = 5, lambda = 4 the wave vector across (0 0 2) is exactly 0.75 long: cosines of
    // exactly 1 and -1 are reachable. Each failing row follows one that found a beta: a failure
    // resets betaValid and keeps beta.
    const struct { float x, y, z, a, lambda; int valid; double beta, tolerance; } cases[] = {
        {1, 1, 1, 5.431f, 1.5406f, 1, 83.9966, 1e-4},       // cos beta = 0.104588
        {1, 1, 1, 5.431f, 6.0f, 0, 83.9966, 1e-4},          // (a / lambda)^2 < |H|^2 / 4
        {1, 2, 0, 5.0f, 4.0f, 1, 0.0, 1e-12},               // cos beta = 1
        {1, 0.5f, 0, 5.0f, 4.0f, 1, 180.0000002, 1e-7},     // cos beta = -1
        {10, 1, 0, 5.431f, 1.5406f, 0, 180.0000002, 1e-7},  // cosine of about 12
        {1, 1, 0, 5.431f, 1.5406f, 1, 90.0000001, 1e-8},    // cos 0: |h|^2 = h.H
    };
    InputStruct record = kSilicon002;
    for (const auto& c : cases) {
        record.latticeA = c.a, record.lambda = c.lambda;
        CalculBeta(c.x, c.y, c.z, &record);
        EXPECT_EQ(record.betaValid, c.valid) << c.x << " " << c.y << " " << c.lambda;
        EXPECT_NEAR(record.beta, c.beta, c.tolerance) << c.x << " " << c.y << " " << c.lambda;
    }
}

TEST(Azimuth, PsiSolutionsInsideTheFullTurnWindow)
{
    // Both bounds belong to the window; 777 marks a field that keeps its earlier value.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct { float psi0, beta; int psiValid, nbPsi; double psi1, psi2; } cases[] = {
        {270, 90, 1, 2, 180, 360}, {-270, 90, 1, 2, -360, -180}, {360, 30, 1, 1, 330, 777},
        {-440, 90, 1, 1, -350, 777}, {-440, 10, 0, 1, 777, 777}, {nan, 10, 0, 1, 777, 777},
    };
    InputStruct record = kSilicon002;
    for (const auto& c : cases) {
        record.psi1 = record.psi2 = 777.0;
        CalculPsi(c.psi0, c.beta, &record);
        EXPECT_TRUE(record.psiValid == c.psiValid && record.nbPsi == c.nbPsi) << c.psi0 << " " << c.beta;
        EXPECT_NEAR(record.psi1, c.psi1, 1e-4) << c.psi0 << " " << c.beta;
        EXPECT_NEAR(record.psi2, c.psi2, 1e-4) << c.psi0 << " " << c.beta;
    }
}

}  // namespace
