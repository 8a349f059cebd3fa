// Azimuthal geometry of one reflection: psi0 and beta, the psi solutions inside the -360..360
// window, the calibration wavelength, and the chain from a reflection to its result rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "geometry/beta_psi0.h"
#include "geometry/psi_calculation.h"
#include "run_record.h"

namespace {

// Silicon, Cu K-alpha 1, primary (0 0 2): frame x = l, y = h, z = k, x0 = 2.
class AzimuthTest : public ::testing::Test {
protected:
    void SetUp() override { ClearCurveTable(); }
    InputStruct record_ = RunRecord(5.431f, 1.5406f, 0, 0, 2);
};

TEST_F(AzimuthTest, Psi0FollowsTheQuadrantOfYAndZ)
{
    // y = 0 makes z / y infinite; that must not stop the calculation.
    const struct { float y, z; double psi01, psi02; } cases[] = {
        {1.0f, 0.0f, 0.0, 360.0},     {-1.0f, 0.0f, 180.0, -180.0}, {0.0f, 1.0f, 90.0, -270.0},
        {0.0f, -1.0f, 270.0, -90.0},  {-1.0f, -1.0f, 225.0, -135.0}, {1.0f, 1.0f, 45.0, -315.0},
        {2.0f, -2.0f, -45.0, -405.0}, {-1.0f, 1.0f, 135.0, -225.0},
    };
    for (const auto& c : cases) {
        CalculPsi0(c.y, c.z, &record_);
        EXPECT_NEAR(record_.psi01, c.psi01, 1e-5) << "y " << c.y << " z " << c.z;
        EXPECT_NEAR(record_.psi02, c.psi02, 1e-5) << "y " << c.y << " z " << c.z;
    }
}

TEST_F(AzimuthTest, BetaFromTheCosineOfTheAzimuthalHalfDistance)
{
    // With a = 5, lambda = 4 the wave vector across (0 0 2) is exactly 0.75 long: cosines of
    // exactly 1 and -1 are reachable. Each failing row follows one that found a beta: a failure
    // resets betaValid and keeps beta.
    const struct { float x, y, z, a, lambda; int valid; double beta, tolerance; } cases[] = {
        {1.0f, 1.0f, 1.0f, 5.431f, 1.5406f, 1, 83.9966, 1e-4},       // cos beta = 0.104588
        {1.0f, 1.0f, 1.0f, 5.431f, 6.0f, 0, 83.9966, 1e-4},          // (a / lambda)^2 < |H|^2 / 4
        {1.0f, 2.0f, 0.0f, 5.0f, 4.0f, 1, 0.0, 1e-12},               // cos beta = 1
        {1.0f, 0.5f, 0.0f, 5.0f, 4.0f, 1, 180.0000002, 1e-7},        // cos beta = -1
        {10.0f, 1.0f, 0.0f, 5.431f, 1.5406f, 0, 180.0000002, 1e-7},  // cosine of about 12
        {1.0f, 1.0f, 0.0f, 5.431f, 1.5406f, 1, 90.0000001, 1e-8},    // cos 0: |h|^2 = h.H
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y << " lambda " << c.lambda);
        record_.latticeA = c.a; record_.lambda = c.lambda;
        CalculBeta(c.x, c.y, c.z, &record_);
        EXPECT_EQ(record_.betaValid, c.valid);
        EXPECT_NEAR(record_.beta, c.beta, c.tolerance);
    }
}

TEST_F(AzimuthTest, PsiSolutionsInsideTheFullTurnWindow)
{
    // Both bounds belong to the window; 777 marks a field that keeps its earlier value.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct { float psi0, beta; int psiValid, nbPsi; double psi1, psi2; } cases[] = {
        {270.0f, 90.0f, 1, 2, 180.0, 360.0}, {-270.0f, 90.0f, 1, 2, -360.0, -180.0},
        {360.0f, 30.0f, 1, 1, 330.0, 777.0}, {-440.0f, 90.0f, 1, 1, -350.0, 777.0},
        {-440.0f, 10.0f, 0, 1, 777.0, 777.0}, {nan, 10.0f, 0, 1, 777.0, 777.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "psi0 " << c.psi0 << " beta " << c.beta);
        record_.psi1 = record_.psi2 = 777.0;
        CalculPsi(c.psi0, c.beta, &record_);
        EXPECT_EQ(record_.psiValid, c.psiValid);
        EXPECT_EQ(record_.nbPsi, c.nbPsi);
        EXPECT_NEAR(record_.psi1, c.psi1, 1e-4);
        EXPECT_NEAR(record_.psi2, c.psi2, 1e-4);
    }
}

TEST_F(AzimuthTest, CalibrationWavelengthIsTheCurveAtAzimuthZero)
{
    const struct { int primaryL; float x, y, z, psi0; double lambda, tolerance; } cases[] = {
        {2, 1.0f, 1.0f, 1.0f, 45.0f, 4.857634, 2e-6},  // (1 1 1) on (0 0 2): k2 = 0.125, p2 = 1
        {4, 2.0f, 2.0f, 0.0f, 90.0f, 2.7155, 1e-6},    // (2 0 2) on (0 0 4): k2 = 0, a / sqrt(p2)
        // (0 1 2) on (0 0 2) at psi0 90: cos is only rounding noise, about 5e-7 angstrom.
        {2, 2.0f, 0.0f, 1.0f, 90.0f, 4.75e-7, 1e-7},
    };
    for (const auto& c : cases) {
        record_ = RunRecord(5.431f, 1.5406f, 0, 0, c.primaryL);
        EXPECT_NEAR(GetLambdaCalibration(&record_, c.x, c.y, c.z, c.psi0), c.lambda, c.tolerance)
            << "x " << c.x << " y " << c.y << " psi0 " << c.psi0;
    }
}

TEST_F(AzimuthTest, OneOneOneOnZeroZeroTwoGivesThreeRows)
{
    std::FILE *dat = std::tmpfile(), *mac = std::tmpfile();
    testing::internal::CaptureStdout();
    CalculBetaPsi0(dat, mac, &record_, 1, 1, 1, 14.22f, 59.87f, 1000.0f);
    // The primary reflection lies on its own line: no row.
    CalculBetaPsi0(dat, mac, &record_, 0, 0, 2, 10.0f, 1.0f, 1.0f);
    testing::internal::GetCapturedStdout();
    std::string rows(std::ftell(dat), '\0');
    std::rewind(dat);
    rows.resize(std::fread(rows.data(), 1, rows.size(), dat));
    EXPECT_EQ(rows, "  1   1   1   14.22  59.87       1000.00    84.00    45.00  -39.00\t4.8576\n"
                    "  1   1   1   14.22  59.87       1000.00    84.00    45.00  129.00\t4.8576\n"
                    "  1   1   1   14.22  59.87       1000.00    84.00  -315.00  -231.00"
                    "\t4.8576\n");
    EXPECT_EQ(cpi, 3);
    std::fclose(dat); std::fclose(mac);
}

}  // namespace
