// Writers of the reflection table and of the curve table with its macro blocks, and the
// band-crossing search. The golden runs carry the bytes; these tables carry the edge cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "output/band_crossing.h"
#include "output/reflection_table.h"
#include "output/spaghetti_macro.h"
#include "output/umweg_pattern.h"
#include "kelto_run.h"
#include "run_record.h"

namespace {

class OutputWritersTest : public ::testing::Test {
protected:
    void TearDown() override { std::fclose(dat_), std::fclose(mac_); }
    void Reopen() { TearDown(), dat_ = std::tmpfile(), mac_ = std::tmpfile(); }
    // Records (1 1 2) on (0 0 4), k2 = (1 + 1 + 4 - 8)^2 / (4 * 2) = 0.5 and p2 = 4; the echo.
    std::string Graphics(double psi01, double psi02, double psi1)
    {
        testing::internal::CaptureStdout();
        GetUserGraphics(mac_, &run_, CurveRecord{record_.latticeA, 1.0f, 1.0f, 2.0f, 4.0f, 0.5f, 4.0f, psi01, psi02, psi1});
        return testing::internal::GetCapturedStdout();
    }
    std::string Intersections()
    {
        testing::internal::CaptureStdout();
        CalcIntersections(&record_, &run_, dat_, mac_);
        return testing::internal::GetCapturedStdout();
    }
    InputStruct record_ = RunRecord(5.431f, 1.5f, 0, 0, 4);
    SurveyRun run_;
    std::FILE* dat_ = std::tmpfile();
    std::FILE* mac_ = std::tmpfile();
};

// A block is written for its psi0 in (-270, 270) when psi1 lies in [-180, 180]; the curve is
// recorded and echoed whatever the blocks.
TEST_F(OutputWritersTest, MacroBlocksFollowPsi0AndPsi1)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { double psi01, psi02, psi1; int first, second; } cases[] = {
        {90.0, -270.0, 0.0, 1, 0}, {270.0, -90.0, 0.0, 0, 1}, {200.0, -160.0, 180.0, 1, 1},
        {200.0, -160.0, -180.0, 1, 1}, {200.0, -160.0, 180.5, 0, 0}, {0.0, 360.0, nan, 0, 0},
    };
    for (int i = 0; const auto& c : cases) {
        run_.calispe_param[i].psi0 = 90.0f, run_.calispe_param[i].intensity = 1000.0f;
        Reopen();
        const std::string echo = Graphics(c.psi01, c.psi02, c.psi1), mac = ReadStream(mac_);
        EXPECT_EQ(Count(echo, "calispe_param[" + std::to_string(i) + "]: 0.5000 90.0000 4.0000 1000.0000  1  1  2\n"), 1);
        EXPECT_TRUE(Count(mac, "; psi01  \n") == c.first && Count(mac, "; psi02  \n") == c.second) << c.psi01 << " " << c.psi1;
        EXPECT_EQ(run_.cpi, ++i);
    }
}

// The result row fills psi0 and intensity of row cpi, the curve record completes and counts it:
// row 70000 lies past the first chunk of rows.
TEST_F(OutputWritersTest, ResultRowsAndCurvesInAGrowingTable)
{
    run_.cpi = 69999;
    PrintResult(dat_, &run_, 1, -1, 1, 14.22f, 59.87f, 12345.67f, 70.53f, 45.0f, -25.53f, 1.5406f);
    EXPECT_EQ(run_.cpi, 69999);  // only the curve record advances the counter
    EXPECT_EQ(Count(Graphics(0.0, 360.0, 10.0), "calispe_param[69999]: 0.5000 45.0000 4.0000 12345.6699  1  1  2\n"), 1);
    PrintResult(dat_, &run_, 1, 0, 1, 10.0f, 5.0f, 4321.0f, 30.0f, -77.5f, 10.0f, 1.0f);
    EXPECT_EQ(Count(Graphics(0.0, 360.0, 10.0), "calispe_param[70000]: 0.5000 -77.5000 4.0000 4321.0000  1  1  2\n"), 1);
    EXPECT_EQ(run_.cpi, 70001);
}

// The worked example, cos^2 exactly 1 and a lower edge reached alone are IntersectionsInsideTheWindow's.
TEST(BandCrossing, PairsAtTheBoundsOfTheCosine)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { double k2, p2, psi0, aSquared, lower, upper; std::vector<double> pairs; } cases[] = {
        // cos^2 exactly 0 (k2 = 0): 90.0000015 degrees from psi0.
        {0.0, 4.0, 0.0, 5.431f * 5.431f, 1.49f, 1.51f, {90.0000015, 90.0000015, -90.0000015, -90.0000015, 90.0000015, 90.0000015, -90.0000015, -90.0000015}},
        {100.0, 4.0, 0.0, 5.431f * 5.431f, 1.49f, 1.51f, {}}, {nan, 4.0, 0.0, 16.0, 2.0, 2.0, {}},
    };
    for (const auto& c : cases) {
        const BandCrossing crossing = CrossBand(c.k2, c.p2, c.psi0, c.aSquared, c.lower, c.upper);
        ASSERT_EQ(crossing.reached, !c.pairs.empty()) << c.k2;
        for (std::size_t i = 0; i < c.pairs.size(); ++i) EXPECT_NEAR(crossing.pairs[i / 2][i % 2], c.pairs[i], 6e-4) << c.k2;
    }
}

// Pairs strictly inside the window are written; every curve is echoed, "nan" after angle1 when
// it misses a band edge.
TEST_F(OutputWritersTest, IntersectionsInsideTheWindow)
{
    record_.deltaLambda = 0.02f, record_.psiMin = -180.0f, record_.psiMax = 180.0f;
    run_.calispe_param[0] = CurveRow{4.5f, 45.0f, 4.0f, 1234.5f, 2.0f, -1.0f, 3.0f};
    run_.calispe_param[1] = CurveRow{9.0f, -30.0f, 4.0f, 10.0f, 1.0f, 1.0f, 1.0f};
    run_.nbCurves = 2;
    EXPECT_EQ(Intersections(),
              "Curve 0, lambda=   1.50 angle1 -89.118 k2  4.500 psi0 45.000 p2  4.000 intensity   1234.5 HKL   2   -1   3\n"
              "Curve 1, lambda=   1.50 angle1    nan k2  9.000 psi0 -30.000 p2  4.000 intensity     10.0 HKL   1    1   1\n");
    EXPECT_EQ(ReadStream(dat_), "  Psi1    Psi2  Intensity      H   K   L \n"
                                " 90.882  89.795     1234.500   2  -1   3\n"  // not pair 3: 180.205 is no azimuth below 180
                                " -0.882   0.205     1234.500   2  -1   3\n"
                                "-89.118 -90.205     1234.500   2  -1   3\n");
    EXPECT_EQ(Count(ReadStream(mac_), "xyouts,CharS=0.95,a2(b7),0,orientation=90,'2 -1 3'\n"), 3);
    // Both ends of the window are excluded: psi0 = 10 on the lower bound writes pair 4 only.
    Reopen();
    record_.latticeA = 4.0f, record_.lambda = 2.0f, record_.deltaLambda = 0.0f, record_.psiMin = 10.0f, record_.psiMax = 200.0f;
    run_.calispe_param[0] = CurveRow{1.0f, 10.0f, 3.0f, 1.0f, 2.0f, -1.0f, 3.0f};
    run_.nbCurves = 1;
    Intersections();
    EXPECT_EQ(ReadStream(dat_), "  Psi1    Psi2  Intensity      H   K   L \n190.000 190.000        1.000   2  -1   3\n");
}

}  // namespace
