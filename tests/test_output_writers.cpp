// Writers of the reflection table, the curve table with its spaghetti macro blocks, and the
// band-crossing search with its Umweg files.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "output/reflection_table.h"
#include "output/spaghetti_macro.h"
#include "output/umweg_pattern.h"
#include "run_record.h"

namespace {

// What `write` prints on standard output.
std::string Echo(auto write)
{
    testing::internal::CaptureStdout();
    write();
    return testing::internal::GetCapturedStdout();
}

std::size_t Count(const std::string& text, const std::string& piece)
{
    std::size_t n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

class OutputWritersTest : public ::testing::Test {
protected:
    void SetUp() override { ClearCurveTable(); }
    void TearDown() override { std::fclose(dat_); std::fclose(mac_); }
    void Reopen() { TearDown(); dat_ = std::tmpfile(); mac_ = std::tmpfile(); }
    static std::string Contents(std::FILE* f)
    {
        std::string text(std::ftell(f), '\0');
        std::rewind(f);
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fseek(f, 0, SEEK_END);  // later writes append
        return text;
    }
    std::string Graphics(float h, float k, float l, double psi01, double psi02, double psi1)
    {
        record_.psi01 = psi01; record_.psi02 = psi02; record_.psi1 = psi1;
        return Echo([&] { GetUserGraphics(mac_, &record_, h, k, l); });
    }
    std::string Intersections() { return Echo([&] { CalcIntersections(&record_, dat_, mac_); }); }

    InputStruct record_ = RunRecord(5.431f, 1.5f, 0, 0, 4);  // frame x = l, y = h, z = k; x0 = 4
    std::FILE* dat_ = std::tmpfile();
    std::FILE* mac_ = std::tmpfile();
};

// Macro blocks of reflection (1 1 2) on (0 0 4): k2 = (1 + 1 + 4 - 8)^2 / (4 * 2) = 0.5, p2 = 4.
// The azimuth in the cos term is in radians.
const std::string kColour = "b2=b2+1 \nb3=b2-(b2/32)*32 > 1 \nb4=Long(b3/32.0*parms.npts) \n";
const std::string kLabel =
    "idx=where((a2 gt a5) and  (a2 lt a6) and (a3 gt parms.ymin) and (a3 lt parms.ymax),ct)\n"
    "if ct ge 1 then b4=idx(randomu(seed)*ct)\nif ct ge 1 then OPlot, a2,a3, Color=b3 \n"
    "if ct ge 1 then XYouts,CharS=0.95,a2[b4],a3[b4]+.02,'1,1,2',Color=b3\n";
std::string FirstBlock(const std::string& a3)
{
    return "; \n; (1,1,2) \n; psi01  \n" + a3 + kColour + kLabel;
}
std::string SecondBlock(const std::string& a3)
{
    return "; \n; (1,1,2) \n; psi02  \n; psi02-psi01=-360.000  \n" + a3 + kColour +
           "OPlot, a2,a3, Color=b3 \n" + kLabel;
}

// The curve is recorded and echoed whatever the blocks; a block is written for its psi0 in
// (-270, 270) with psi1 in [-180, 180].
TEST_F(OutputWritersTest, CurveOfOneOneTwoAndItsMacroBlocks)
{
    const std::string both = FirstBlock("a3 =  5.4310/sqrt(0.500/(cos(3.491-a0)^2)+4.00) \n") +
                             SecondBlock("a3 = 5.4310/sqrt(0.500/(cos(-2.793-a0)^2)+4.00) \n");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { double psi01, psi02, psi1; std::string mac; } cases[] = {
        {90.0, -270.0, 0.0, FirstBlock("a3 =  5.4310/sqrt(0.500/(cos(1.571-a0)^2)+4.00) \n")},
        {270.0, -90.0, 0.0, SecondBlock("a3 = 5.4310/sqrt(0.500/(cos(-1.571-a0)^2)+4.00) \n")},
        {200.0, -160.0, 180.0, both}, {200.0, -160.0, -180.0, both}, {200.0, -160.0, 180.5, ""},
        {0.0, 360.0, nan, ""},
    };
    for (int i = 0; const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.psi01 << " " << c.psi02 << " " << c.psi1);
        calispe_param[i].psi0 = 90.0; calispe_param[i].intensity = 1000.0;
        Reopen();
        const std::string n = std::to_string(i);
        EXPECT_EQ(Graphics(1.0f, 1.0f, 2.0f, c.psi01, c.psi02, c.psi1),
                  "curve [" + n + "]:\tp2 (  4.00),k2 (  0.50) ,comph0 (4.000000) for  1  1  2\n"
                  "calispe_param[" + n + "]: 0.5000 90.0000 4.0000 1000.0000  1  1  2\n");
        EXPECT_EQ(Contents(mac_), c.mac);
        const CurveRow& row = calispe_param[i];
        EXPECT_TRUE(row.h == 1.0f && row.k == 1.0f && row.l == 2.0f);
        EXPECT_EQ(cpi, ++i);
    }
}

// The result row fills psi0 and intensity of curve row cpi; the curve record completes and counts
// it, however many rows the table holds. (1 -1 1) on (0 0 4): k2 = (3 - 4)^2 / (4 * 2) = 0.125,
// p2 = 4; (1 0 1): k2 = (1 + 1 - 4)^2 / 4 = 1. Row 70000 lies past the first chunk of rows.
TEST_F(OutputWritersTest, ResultRowsAndCurvesInAGrowingTable)
{
    cpi = 69999;
    PrintResult(dat_, 1, -1, 1, 14.22f, 59.87f, 12345.67f, 70.53f, 45.0f, -25.53f, 1.5406f);
    EXPECT_EQ(Contents(dat_),
              "  1  -1   1   14.22  59.87      12345.67    70.53    45.00  -25.53\t1.5406\n");
    EXPECT_EQ(cpi, 69999);  // only the curve record advances the counter
    EXPECT_EQ(Count(Graphics(1.0f, -1.0f, 1.0f, 0.0, 360.0, 10.0),
                    "calispe_param[69999]: 0.1250 45.0000 4.0000 12345.6699  1 -1  1\n"), 1u);
    PrintResult(dat_, 1, 0, 1, 10.0f, 5.0f, 4321.0f, 30.0f, -77.5f, 10.0f, 1.0f);
    EXPECT_EQ(Count(Graphics(1.0f, 0.0f, 1.0f, 0.0, 360.0, 10.0),
                    "calispe_param[70000]: 1.0000 -77.5000 4.0000 4321.0000  1  0  1\n"), 1u);
    EXPECT_EQ(cpi, 70001);
    const CurveRow& first = calispe_param[69999];
    const CurveRow& second = calispe_param[70000];
    EXPECT_TRUE(first.k2 == 0.125f && first.psi0 == 45.0f && first.intensity == 12345.67f &&
                first.k == -1.0f);
    EXPECT_TRUE(second.k2 == 1.0f && second.psi0 == -77.5f && second.intensity == 4321.0f &&
                second.k == 0.0f);
}

TEST_F(OutputWritersTest, IntersectionsOfNoCurvesAndOfTheWorkedExample)
{
    calispe_param[0] = CurveRow{4.5, 45.0, 4.0, 1234.5, 2.0f, -1.0f, 3.0f};
    calispe_param[1] = CurveRow{100.0, -30.0, 4.0, 10.0, 1.0f, 1.0f, 1.0f};  // misses the band
    record_.deltaLambda = 0.02f; record_.psiMin = -180.0f; record_.psiMax = 180.0f;
    const std::string header = "  Psi1    Psi2  Intensity      H   K   L \n";
    EXPECT_EQ(Intersections(), "");  // nbCurves 0: the headers only
    EXPECT_EQ(Contents(dat_), header);
    std::string mac = Contents(mac_);
    EXPECT_EQ(Count(mac, "\n"), 18u);
    EXPECT_TRUE(mac.starts_with("; \n; ZAQ/IDL macro created by KELTO \n"));
    EXPECT_EQ(Count(mac, "b1='Intensity (approx!)'\n"), 1u);
    EXPECT_TRUE(mac.ends_with("/XStyle,/YStyle \n; \nOPlot,a2,a3\n"));

    Reopen();
    nbCurves = 2;
    EXPECT_EQ(Intersections(),
              "Curve 0, lambda=   1.50 angle1 -89.118 k2  4.500 psi0 45.000 p2  4.000 "
              "intensity   1234.5 HKL   2   -1   3\n"
              "Curve 1, lambda=   1.50 angle1    nan k2 100.000 psi0 -30.000 p2  4.000 "
              "intensity     10.0 HKL   1    1   1\n");
    EXPECT_EQ(Contents(dat_), header + " 90.882  89.795     1234.500   2  -1   3\n"  // not pair 3
                                       " -0.882   0.205     1234.500   2  -1   3\n"
                                       "-89.118 -90.205     1234.500   2  -1   3\n");
    mac = Contents(mac_);
    EXPECT_EQ(Count(mac, "; 90.882  89.795     1234.500   2  -1   3\n\n"
                         "b3=( 90.882-parms.xmin)/(parms.xmax-parms.xmin)*parms.npts\n"
                         "b4=( 89.795-parms.xmin)/(parms.xmax-parms.xmin)*parms.npts\n"), 1u);
    EXPECT_EQ(Count(mac, "xyouts,CharS=0.95,a2(b7),0,orientation=90,'2 -1 3'\n\n\n"), 3u);
    EXPECT_TRUE(mac.ends_with("'2 -1 3'\n\n\nOPlot,a2,a3\n"));
}

TEST_F(OutputWritersTest, CrossingsAtTheBoundsOfTheWindowAndOfTheCosine)
{
    const struct { float a, lambda, deltaLambda, k2, p2, psi0, psiMin, psiMax;
                   std::vector<std::string> pairs; } cases[] = {  // "psiA psiB" of each row
        // a = 4, lambda = 2, no band width, p2 = 3: cos^2 = k2 / (16 / 4 - 3) = 1 exactly, so each
        // pair starts and ends on one azimuth: pairs 1 and 2 on psi0 = 10, a window bound, and
        // pairs 3 and 4 half a turn away.
        {4.0f, 2.0f, 0.0f, 1.0, 3.0, 10.0, 10.0f, 200.0f, {"190.000 190.000"}},
        {4.0f, 2.0f, 0.0f, 1.0, 3.0, 10.0, -200.0f, 10.0f, {"-170.000 -170.000"}},
        // k2 = 0: cos^2 = 0 at both edges, 90.0000015 degrees either side of psi0.
        {5.431f, 1.5f, 0.02f, 0.0, 4.0, 0.0, -180.0f, 180.0f,
         {"90.000 90.000", "-90.000 -90.000", "90.000 90.000", "-90.000 -90.000"}},
        // psi0 + 90.0000015 = 100.0000005 lies just above the bound that psi0 + 90 stays below.
        {5.431f, 1.5f, 0.02f, 0.0f, 4.0f, 9.999999f, -180.0f, 100.0f,
         {"-80.000 -80.000", "-80.000 -80.000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.psi0 << " in " << c.psiMin << ".." << c.psiMax);
        record_.latticeA = c.a; record_.lambda = c.lambda; record_.deltaLambda = c.deltaLambda;
        record_.psiMin = c.psiMin; record_.psiMax = c.psiMax;
        calispe_param[0] = CurveRow{c.k2, c.psi0, c.p2, 1.0, 2.0f, -1.0f, 3.0f};
        nbCurves = 1;
        Reopen();
        Intersections();
        std::istringstream in(Contents(dat_));  // the header, then a pair on each row
        std::vector<std::string> pairs;
        for (std::string a, b, rest; std::getline(in, rest) && in >> a >> b;)
            pairs.push_back(a + " " + b);
        EXPECT_EQ(pairs, c.pairs);
    }
}

}  // namespace
