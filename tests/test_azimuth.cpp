// Azimuthal geometry of one reflection: psi0 and beta, the psi solutions inside the -360..360
// window, the calibration wavelength, and the chain from a reflection to its result rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/beta_psi0.h"
#include "geometry/psi_calculation.h"
#include "output/curve_table.h"
#include "run_record.h"
#include "setup/user_matrix.h"

namespace {

// Silicon with Cu K-alpha 1 and the primary reflection (0 0 2): frame x = l, y = h, z = k, x0 = 2.
class AzimuthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearCurveTable();
        record_ = RunRecord(5.431f, 1.5406f, 0, 0, 2);
    }
    void SetPrimaryL(int l)
    {
        record_.primaryL = l;
        GetUserMatrix(&record_);
    }

    InputStruct record_{};
};

TEST_F(AzimuthTest, Psi0FollowsTheQuadrantOfYAndZ)
{
    struct Case { float y, z; double psi01, psi02; };
    // y = 0 makes z / y infinite; that must not stop the calculation.
    const Case cases[] = {
        {1.0f, 0.0f, 0.0, 360.0},     {-1.0f, 0.0f, 180.0, -180.0}, {0.0f, 1.0f, 90.0, -270.0},
        {0.0f, -1.0f, 270.0, -90.0},  {-1.0f, -1.0f, 225.0, -135.0}, {1.0f, 1.0f, 45.0, -315.0},
        {2.0f, -2.0f, -45.0, -405.0}, {-1.0f, 1.0f, 135.0, -225.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "y " << c.y << " z " << c.z);
        CalculPsi0(c.y, c.z, &record_);
        EXPECT_NEAR(record_.psi01, c.psi01, 1e-5);
        EXPECT_NEAR(record_.psi02, c.psi02, 1e-5);
    }
}

TEST_F(AzimuthTest, BetaFromTheCosineOfTheAzimuthalHalfDistance)
{
    // With a = 5, lambda = 4 the wave vector across (0 0 2) is 0.75 long exactly, which makes
    // cosines of exactly 1 and -1 reachable with representable coordinates.
    struct Case { float x, y, z, a, lambda; int valid; double beta, tolerance; };
    const Case cases[] = {
        {1.0f, 1.0f, 1.0f, 5.431f, 1.5406f, 1, 83.9966, 1e-4},     // cos beta = 0.104588
        {1.0f, 2.0f, 0.0f, 5.0f, 4.0f, 1, 0.0, 1e-12},             // cos beta = 1
        {1.0f, 0.5f, 0.0f, 5.0f, 4.0f, 1, 180.0000002, 1e-7},      // cos beta = -1
        {1.0f, 1.0f, 0.0f, 5.431f, 1.5406f, 1, 90.0000001, 1e-8},  // |h|^2 = h.H
        {1.0f, 1.0f, 1.0f, 5.431f, 6.0f, 0, 0.0, 0.0},    // (a / lambda)^2 = 0.82 < |H|^2 / 4
        {10.0f, 1.0f, 0.0f, 5.431f, 1.5406f, 0, 0.0, 0.0},  // cosine of about 12
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y << " lambda " << c.lambda);
        record_.latticeA = 5.431f;
        record_.lambda = 1.5406f;
        CalculBeta(2.0f, 1.0f, 1.0f, &record_);  // the reflection before obtains a beta
        ASSERT_EQ(record_.betaValid, 1);
        const double previousBeta = record_.beta;
        record_.latticeA = c.a;
        record_.lambda = c.lambda;
        CalculBeta(c.x, c.y, c.z, &record_);
        EXPECT_EQ(record_.betaValid, c.valid);
        EXPECT_NEAR(record_.beta, c.valid ? c.beta : previousBeta, c.tolerance);
    }
}

TEST_F(AzimuthTest, PsiSolutionsInsideTheFullTurnWindow)
{
    struct Case {
        float psi0, beta;
        int psiValid, nbPsi;
        double psi1, psi2;  // 777 where the field keeps its earlier value
    };
    const Case cases[] = {
        // Both bounds belong to the window; -398.9966 and -530 lie outside it.
        {270.0f, 90.0f, 1, 2, 180.0, 360.0},          {-270.0f, 90.0f, 1, 2, -360.0, -180.0},
        {45.0f, 83.9966f, 1, 2, -38.9966, 128.9966},  {-315.0f, 83.9966f, 1, 1, -231.0034, 777.0},
        {360.0f, 30.0f, 1, 1, 330.0, 777.0},          {-440.0f, 90.0f, 1, 1, -350.0, 777.0},
        {-440.0f, 10.0f, 0, 1, 777.0, 777.0},
        {std::numeric_limits<float>::quiet_NaN(), 10.0f, 0, 1, 777.0, 777.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "psi0 " << c.psi0 << " beta " << c.beta);
        record_.psi1 = 777.0;
        record_.psi2 = 777.0;
        CalculPsi(c.psi0, c.beta, &record_);
        EXPECT_EQ(record_.psiValid, c.psiValid);
        EXPECT_EQ(record_.nbPsi, c.nbPsi);
        EXPECT_NEAR(record_.psi1, c.psi1, 1e-4);
        EXPECT_NEAR(record_.psi2, c.psi2, 1e-4);
    }
}

TEST_F(AzimuthTest, CalibrationWavelengthIsTheCurveAtAzimuthZero)
{
    struct Case { int primaryL; float x, y, z, psi0; double lambda, tolerance; };
    const Case cases[] = {
        // (1 1 1) on (0 0 2): k2 = 0.125, p2 = 1, cos^2 45 = 0.5.
        {2, 1.0f, 1.0f, 1.0f, 45.0f, 4.857634, 2e-6}, {2, 1.0f, 1.0f, 1.0f, -315.0f, 4.857634, 2e-6},
        // (2 0 2) on (0 0 4): k2 = 0, so a / sqrt(p2) = 5.431 / 2 whatever psi0.
        {4, 2.0f, 2.0f, 0.0f, 0.0f, 2.7155, 1e-6},    {4, 2.0f, 2.0f, 0.0f, 90.0f, 2.7155, 1e-6},
        // (0 1 2) on (0 0 2) at psi0 90: cos r is only rounding noise, about 5e-7 angstrom.
        {2, 2.0f, 0.0f, 1.0f, 90.0f, 4.75e-7, 1e-7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << " y " << c.y << " psi0 " << c.psi0);
        SetPrimaryL(c.primaryL);
        EXPECT_NEAR(GetLambdaCalibration(&record_, c.x, c.y, c.z, c.psi0), c.lambda, c.tolerance);
    }
}

TEST_F(AzimuthTest, OneOneOneOnZeroZeroTwoGivesThreeRows)
{
    std::FILE* dat = std::tmpfile();
    std::FILE* mac = std::tmpfile();
    testing::internal::CaptureStdout();
    CalculBetaPsi0(dat, mac, &record_, 1, 1, 1, 14.22f, 59.87f, 1000.0f);
    // The primary reflection itself lies on its own line: no row, and the fields stay put.
    CalculBetaPsi0(dat, mac, &record_, 0, 0, 2, 10.0f, 1.0f, 1.0f);
    testing::internal::GetCapturedStdout();

    EXPECT_NEAR(record_.beta, 83.9966, 1e-4);
    EXPECT_NEAR(record_.psi01, 45.0, 1e-5);
    EXPECT_NEAR(record_.psi02, -315.0, 1e-5);
    EXPECT_NEAR(record_.psi1, -231.0034, 1e-4);  // the last solution written
    std::rewind(dat);
    std::vector<std::string> rows;
    char line[256];
    while (std::fgets(line, sizeof line, dat)) {
        std::istringstream in(line);
        std::string hkl[3], theta, f, intensity, beta, psi0, psi, calib;
        in >> hkl[0] >> hkl[1] >> hkl[2] >> theta >> f >> intensity >> beta >> psi0 >> psi >> calib;
        rows.push_back(hkl[0] + hkl[1] + hkl[2] + " " + beta + " " + psi0 + " " + psi + " " + calib);
    }
    const std::vector<std::string> expected = {"111 84.00 45.00 -39.00 4.8576",
                                               "111 84.00 45.00 129.00 4.8576",
                                               "111 84.00 -315.00 -231.00 4.8576"};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(cpi, 3);
    EXPECT_EQ(calispe_param[1].psi0, 45.0);
    EXPECT_EQ(calispe_param[2].psi0, -315.0);
    std::fclose(dat);
    std::fclose(mac);
}

}  // namespace
