// The dips of a measured scan found through noise, slopes and steps, and the scan's columns (and a
// table of harmonic shares) read as users write them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "io/scan_file.h"
#include "io/share_table.h"
#include "fit/measured_dips.h"

namespace {

// A scan of `count` points from `from` keV in steps of `stepEV`, I0 `level(e)` less Lorentzian-free
// box-shaped dips: each dip takes `depth` over a full width `widthEV` about its centre, with a
// linear edge of one step on each side.
struct BoxDip { double centre, depth, widthEV; };
template <typename Level>
std::vector<ScanPoint> ScanWith(double from, int count, double stepEV, Level&& level, const std::vector<BoxDip>& dips,
                                double noise)
{
    std::mt19937 random(7);
    std::normal_distribution<double> deviation(0.0, noise);
    std::vector<ScanPoint> points;
    for (int i = 0; i < count; ++i) {
        const double e = from + i * stepEV / 1000.0;
        double share = 1.0;
        for (const BoxDip& d : dips) {
            const double x = std::fabs(e - d.centre) * 1000.0 - d.widthEV / 2.0;  // eV beyond the box's edge
            share -= d.depth * std::clamp(0.5 - x / stepEV, 0.0, 1.0);
        }
        points.push_back({e, level(e) * share * (1.0 + (noise > 0.0 ? deviation(random) : 0.0))});
    }
    return points;
}

std::vector<ScanPoint> Shifted(std::vector<ScanPoint> points, double by)
{
    for (ScanPoint& p : points) p.intensity += by;
    return points;
}

TEST(MeasuredDips, AreFoundAgainstTheirSurroundings)
{
    const auto flat = [](double) { return 500.0; };
    const auto sloped = [](double e) { return 500.0 + 300.0 * (e - 8.0); };
    const auto stepped = [](double e) { return e < 8.1 ? 500.0 : 350.0; };
    struct Case { const char* name; std::vector<ScanPoint> points; std::vector<BoxDip> expected; };
    const std::vector<BoxDip> two = {{8.05, 0.2, 4.0}, {8.0612, 0.05, 2.0}};
    const std::vector<BoxDip> close = {{8.1, 0.3, 3.0}, {8.1065, 0.2, 3.0}};  // 3.5 eV of I0 between them
    const Case cases[] = {
        {"two dips on a flat I0", ScanWith(8.0, 400, 0.5, flat, two, 0.002), two},
        {"two dips on a steep slope", ScanWith(8.0, 400, 0.5, sloped, two, 0.002), two},
        {"two dips on an I0 below 1", ScanWith(8.0, 400, 0.5, [](double) { return 0.8; }, two, 0.002), two},
        {"a step down of 30 % is no dip", ScanWith(8.0, 400, 0.5, stepped, {}, 0.002), {}},
        {"a dip just past a step", ScanWith(8.0, 400, 0.5, stepped, {{8.115, 0.1, 2.0}}, 0.001), {{8.115, 0.1, 2.0}}},
        {"two dips 3.5 eV apart stay two", ScanWith(8.0, 400, 0.5, flat, close, 0.001), close},
        {"noise alone", ScanWith(8.0, 4000, 0.5, sloped, {}, 0.01), {}},
        {"a dip under the noise", ScanWith(8.0, 400, 0.5, flat, {{8.1, 0.01, 3.0}}, 0.01), {}},
        // A scan of the change of I0 in percent (0 away from the glitches) is I0 = 100 + change.
        {"a change of I0 in percent", Shifted(ScanWith(8.0, 400, 0.5, [](double) { return 100.0; }, two, 0.0), -100.0), two},
        // A full glitch takes I0 to 0, and a dark current subtracted a little below it: still an I0.
        {"an I0 that reaches 0 and below", ScanWith(8.0, 400, 0.5, flat, {{8.1, 1.002, 2.0}}, 0.0), {{8.1, 1.0, 2.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScanPoint> points = c.points;
        std::reverse(points.begin(), points.end());
        points.push_back(points.front());  // a point read twice
        const DipSearch search = FindDips(points, 0.0, 100.0);
        EXPECT_EQ(search.percentChange, std::string(c.name) == "a change of I0 in percent");
        ASSERT_EQ(search.dips.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_NEAR(search.dips[i].energy, c.expected[i].centre, 0.0002);
            EXPECT_NEAR(search.dips[i].depth, c.expected[i].depth, 0.2 * c.expected[i].depth + 0.005);
            EXPECT_NEAR(search.dips[i].widthEV, c.expected[i].widthEV, 0.25);
        }
    }
}

TEST(MeasuredDips, RefuseWhatIsNoI0AndMergeWhatNoSumHolds)
{
    // Intensities below 0 by more than a dark current's error, and above 100, are neither an I0
    // nor a change of it in percent.
    EXPECT_THROW(FindDips(ScanWith(8.0, 400, 0.5, [](double) { return 1000.0; }, {{8.1, 1.05, 3.0}}, 0.0), 0.0, 100.0),
                 std::domain_error);
    // Three readings of each energy near the largest double: their mean, not an overflow.
    std::vector<ScanPoint> points;
    for (const ScanPoint& p : ScanWith(8.0, 400, 0.5, [](double) { return 1.5e308; }, {{8.1, 0.5, 3.0}}, 0.0)) {
        for (int copy = 0; copy < 3; ++copy) points.push_back(p);
    }
    const DipSearch search = FindDips(points, 0.0, 100.0);
    EXPECT_EQ(search.points, 400);
    EXPECT_TRUE(std::isfinite(search.noise) && std::isfinite(search.threshold));
    ASSERT_EQ(search.dips.size(), 1u);
    EXPECT_NEAR(search.dips[0].depth, 0.5, 1e-9);
}

TEST(ScanFile, ReadsTheColumnsUsersWrite)
{
    struct Case { const char* text; double toKeV; std::vector<ScanPoint> points; std::size_t skipped, firstSkipped; };
    const Case cases[] = {
        {"8.0,100\n8.001,99.5\n", 1.0, {{8.0, 100}, {8.001, 99.5}}, 0, 0},
        {"# energy I0\nE;I\n8000;1e3 ; extra\r\n\n8001\t\t990\n", 0.001, {{8.0, 1000}, {8.001, 990}}, 0, 0},
        {"E I\n8 1\nE I\n", 1.0, {{8.0, 1}}, 1, 3}, {"-1 2\nE I\n8 1\n", 1.0, {{8.0, 1}}, 2, 1},
        {"8 100 # a comment\n  8.5   200\n", 1.0, {{8.0, 100}, {8.5, 200}}, 0, 0},
        {"8,100\nnan,1\n-8,100\n0,5\n9,inf\n8.2,x\n9\n", 1.0, {{8.0, 100}}, 6, 2}, {"1e400,1\n8,1e-400\n", 1.0, {{8.0, 0.0}}, 1, 1},
        // Old Macintosh and Windows line ends.
        {"E I\r8 1\r9 2\r", 1.0, {{8.0, 1}, {9.0, 2}}, 0, 0}, {"8 1\r\n\r\nE\r\n9 2", 1.0, {{8.0, 1}, {9.0, 2}}, 1, 3},
        // Decimal commas where semicolons, tabs or blanks separate the numbers.
        {"11648,690;6743,644\n11649,5;6700\n", 0.001, {{11.64869, 6743.644}, {11.6495, 6700}}, 0, 0},
        {"8,5\t1,25\n9 ; 2,5\n", 1.0, {{8.5, 1.25}, {9.0, 2.5}}, 0, 0}, {"8,5 1,25\n9,5 2,5\n", 1.0, {{8.5, 1.25}, {9.5, 2.5}}, 0, 0},
        {"8.5, 1.25\n9.5 ,2.5\n", 1.0, {{8.5, 1.25}, {9.5, 2.5}}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ScanFile scan = ParseScan(c.text, c.toKeV);
        ASSERT_EQ(scan.points.size(), c.points.size());
        for (std::size_t i = 0; i < c.points.size(); ++i) {
            EXPECT_DOUBLE_EQ(scan.points[i].energy, c.points[i].energy);
            EXPECT_DOUBLE_EQ(scan.points[i].intensity, c.points[i].intensity);
        }
        EXPECT_EQ(scan.skipped, c.skipped);
        EXPECT_EQ(scan.firstSkipped, c.firstSkipped);
    }
    // A file whose commas are decimal in one line and separators in another is refused with the line.
    for (const char* text : {"8,5;1,25\n9,2\n", "8,2\n\n9,5 2,5\n"}) {
        SCOPED_TRACE(text);
        try {
            ParseScan(text, 1.0);
            ADD_FAILURE() << "read";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(text[1] == ',' && text[3] == ';' ? "line 2: '9,2'" : "line 3: '9,5 2,5'"),
                      std::string::npos) << e.what();
        }
    }
}

// A table of shares against the setting: rows of numbers under comments and column names, or the
// line that is not one named.
TEST(ShareTable, ReadsRowsAndNamesTheLineThatIsNone)
{
    const struct { const char* text; std::size_t rows; double lastShare; const char* refused; } cases[] = {
        {"# gap scan\nenergy C3 C4\n5;0.02,0.01\r\n\n8\t0.05 0 # mirror\n", 2, 0.0, ""},
        {"5 0.1\nE C\n6 0.2\n", 0, 0.0, "line 2 is not a setting"},
        {"5 0.1\n5 0.2\n", 0, 0.0, "line 2: the setting 5 keV is not above the last"},
        {"5 0.1\n6 1.5\n", 0, 0.0, "line 2: the share 1.5 lies outside 0 to 1"},
        {"5 0.1\n6 0.2 0.3\n", 0, 0.0, "line 2 has 2 shares where line 1 has 1"}, {"E C\n5 0.1\n", 0, 0.0, "1 rows"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            const std::vector<ShareRow> rows = ParseShareTable(c.text);
            ASSERT_EQ(rows.size(), c.rows);
            EXPECT_TRUE(rows.back().line == 5 && rows.back().energy == 8.0 && rows.back().shares.size() == 2 &&
                        rows.back().shares[0] == 0.05 && rows.back().shares[1] == c.lastShare);
            EXPECT_EQ(std::string(c.refused), "");
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(c.refused), "");
            EXPECT_NE(std::string(e.what()).find(c.refused), std::string::npos) << e.what();
        }
    }
}

}  // namespace
