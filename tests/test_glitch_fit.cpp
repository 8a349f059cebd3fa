// The azimuth and energy offset read back from synthetic I0 scans made at known azimuths, and the
// dips of a measured scan found through noise, slopes and steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "io/scan_file.h"
#include "planning/glitch_fit.h"
#include "planning/glitches.h"
#include "planning_cases.h"

namespace {

struct SyntheticScan {
    const char* name;
    Miller primary;
    double psi;          // degrees, where the scan is made
    double offsetEV;     // added to every energy
    double slope;        // I0 grows by this share per keV
    double noise;        // relative standard deviation
    int harmonics;
    double eMin, eMax;   // keV
    double nominal;      // degrees off psi that the user's guess lies
};

// The I0 of a monochromator at `psi`: each order's photons less what its glitches take (every
// glitch's profile summed, at most all of them), the orders weighed by their share.
std::vector<ScanPoint> MakeScan(const Crystal& crystal, const ScanFrame& frame, const SyntheticScan& s, const Beam& beam,
                                const std::vector<double>& content)
{
    std::vector<Glitch> glitches = FindGlitchesWithHarmonics(crystal, frame, s.psi, s.eMin, s.eMax, s.harmonics);
    ShapeGlitches(crystal, frame, s.psi, s.eMin, s.eMax, beam, &glitches);
    std::mt19937 random(12345);
    std::normal_distribution<double> noise(0.0, s.noise);
    std::erase_if(glitches, [](const Glitch& g) { return g.always; });
    double reach = 0.0;  // eV
    for (const Glitch& g : glitches) reach = std::max(reach, g.shape.Reach());
    std::vector<ScanPoint> points;
    const double step = 0.0005;  // keV
    for (double e = s.eMin; e <= s.eMax; e += step) {
        std::vector<double> taken(content.size(), 0.0);
        const auto near = std::lower_bound(glitches.begin(), glitches.end(), e - reach / 1000.0,
                                           [](const Glitch& g, double energy) { return g.energy < energy; });
        for (auto g = near; g != glitches.end() && g->energy <= e + reach / 1000.0; ++g) {
            taken[static_cast<std::size_t>(g->order - 1)] += g->shape.At((e - g->energy) * 1000.0);
        }
        double left = 0.0, total = 0.0;
        for (std::size_t n = 0; n < content.size(); ++n) left += content[n] * (1.0 - std::min(1.0, taken[n])), total += content[n];
        const double i0 = 1000.0 * (1.0 + s.slope * (e - s.eMin)) * (left / total) * (1.0 + noise(random));
        points.push_back({e + s.offsetEV / 1000.0, i0});
    }
    std::shuffle(points.begin(), points.end(), random);
    return points;
}

double AzimuthDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// A scan of `count` points from `from` keV in steps of `stepEV`, I0 `level(e)` less Lorentzian-free
// box-shaped dips: each dip takes `depth` over a full width `widthEV` about its centre, with a
// linear edge of one step on each side.
struct BoxDip {
    double centre, depth, widthEV;
};
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

TEST(GlitchFit, RecoversTheAzimuthAndOffsetOfSyntheticScans)
{
    const SyntheticScan cases[] = {
        {"Si 2 2 0 at 15", {2, 2, 0}, 15.0, 3.2, 0.02, 0.002, 1, 4.5, 27.0, 0.3},
        {"Si 2 2 0 at -47.3, harmonics", {2, 2, 0}, -47.3, -6.4, -0.01, 0.003, 3, 5.0, 20.0, -0.4},
        {"Si 1 1 1 at 33.3", {1, 1, 1}, 33.3, 0.0, 0.0, 0.001, 3, 6.0, 18.0, 0.2},
        {"Si 4 0 0 at 101.7", {4, 0, 0}, 101.7, 11.0, 0.03, 0.002, 1, 8.0, 25.0, 0.5},
        {"Si 3 1 1 at -160.2", {3, 1, 1}, -160.2, -17.5, 0.0, 0.002, 2, 6.0, 22.0, -0.3},
        {"Si 1 1 1 at 2.05", {1, 1, 1}, 2.05, 1.5, -0.02, 0.004, 1, 7.0, 14.0, 0.25},
    };
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    for (const SyntheticScan& s : cases) {
        SCOPED_TRACE(s.name);
        const ScanFrame frame = MatrixFrame(silicon.lattice(), s.primary);
        Beam beam;
        beam.across = 2e-5, beam.along = 1e-5;
        std::vector<double> content(static_cast<std::size_t>(s.harmonics), 0.05);
        content[0] = 1.0;
        const DipSearch dips = FindDips(MakeScan(silicon, frame, s, beam, content), s.eMin, s.eMax);
        FitRequest request;
        request.eMin = s.eMin, request.eMax = s.eMax, request.harmonics = s.harmonics, request.content = content;
        request.beam = beam;
        request.nominalPsi = s.psi + s.nominal;
        const GlitchFit fit = FitGlitches(silicon, frame, dips, request);
        ASSERT_TRUE(fit.found) << fit.why;
        EXPECT_LT(AzimuthDistance(fit.psi, s.psi), 0.02);
        EXPECT_NEAR(fit.offsetEV, s.offsetEV, 0.5);
        EXPECT_LT(fit.psiError, 0.02);
        // Without a guess the same azimuth is among the equally good ones.
        request.nominalPsi.reset();
        const GlitchFit blind = FitGlitches(silicon, frame, dips, request);
        std::vector<double> all = blind.equivalents;
        all.push_back(blind.psi);
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](double psi) { return AzimuthDistance(psi, s.psi) < 0.02; }));
        EXPECT_LE(std::fabs(blind.psi), std::fabs(all.front()) + 1e-9);
    }
}

TEST(GlitchFit, SaysWhenNoAzimuthExplainsTheScan)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {2, 2, 0});
    Beam beam;
    beam.across = 2e-5;
    const SyntheticScan germaniumScan{"Ge", {2, 2, 0}, 21.0, 0.0, 0.0, 0.002, 1, 6.0, 16.0, 0.0};
    struct Case {
        const char* name;
        std::vector<ScanPoint> points;
        const char* why;
    };
    const Case cases[] = {
        {"a flat scan", ScanWith(6.0, 20000, 0.5, [](double e) { return 100.0 + e; }, {}, 0.003), "no dip deeper"},
        {"germanium's glitches", MakeScan(germanium, MatrixFrame(germanium.lattice(), {2, 2, 0}), germaniumScan, beam, {1.0}),
         "at best"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitRequest request;
        request.eMin = 6.0, request.eMax = 16.0, request.beam = beam;
        const GlitchFit fit = FitGlitches(silicon, frame, FindDips(c.points, 6.0, 16.0), request);
        EXPECT_FALSE(fit.found);
        EXPECT_NE(fit.why.find(c.why), std::string::npos) << fit.why;
        EXPECT_EQ(fit.matched + fit.unmatched, static_cast<int>(fit.dips.size()));
    }
}

TEST(MeasuredDips, AreFoundAgainstTheirSurroundings)
{
    const auto flat = [](double) { return 500.0; };
    const auto sloped = [](double e) { return 500.0 + 300.0 * (e - 8.0); };
    const auto stepped = [](double e) { return e < 8.1 ? 500.0 : 350.0; };
    struct Case {
        const char* name;
        std::vector<ScanPoint> points;
        std::vector<BoxDip> expected;
    };
    const std::vector<BoxDip> two = {{8.05, 0.2, 4.0}, {8.0612, 0.05, 2.0}};
    const std::vector<BoxDip> close = {{8.1, 0.3, 3.0}, {8.1065, 0.2, 3.0}};  // 3.5 eV of I0 between them
    const Case cases[] = {
        {"two dips on a flat I0", ScanWith(8.0, 400, 0.5, flat, two, 0.002), two},
        {"two dips on a steep slope", ScanWith(8.0, 400, 0.5, sloped, two, 0.002), two},
        {"a step down of 30 % is no dip", ScanWith(8.0, 400, 0.5, stepped, {}, 0.002), {}},
        {"a dip just past a step", ScanWith(8.0, 400, 0.5, stepped, {{8.115, 0.1, 2.0}}, 0.001), {{8.115, 0.1, 2.0}}},
        {"two dips 3.5 eV apart stay two", ScanWith(8.0, 400, 0.5, flat, close, 0.001), close},
        {"noise alone", ScanWith(8.0, 4000, 0.5, sloped, {}, 0.01), {}},
        {"a dip under the noise", ScanWith(8.0, 400, 0.5, flat, {{8.1, 0.01, 3.0}}, 0.01), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScanPoint> points = c.points;
        std::reverse(points.begin(), points.end());
        points.push_back(points.front());  // a point read twice
        const DipSearch search = FindDips(points, 0.0, 100.0);
        ASSERT_EQ(search.dips.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_NEAR(search.dips[i].energy, c.expected[i].centre, 0.0002);
            EXPECT_NEAR(search.dips[i].depth, c.expected[i].depth, 0.2 * c.expected[i].depth + 0.005);
            EXPECT_NEAR(search.dips[i].widthEV, c.expected[i].widthEV, 0.25);
        }
    }
}

TEST(ScanFile, ReadsTheColumnsUsersWrite)
{
    struct Case {
        const char* text;
        double toKeV;
        std::vector<ScanPoint> points;
        std::size_t skipped, firstSkipped;
    };
    const Case cases[] = {
        {"8.0,100\n8.001,99.5\n", 1.0, {{8.0, 100}, {8.001, 99.5}}, 0, 0},
        {"# energy I0\nE;I\n8000;1e3 ; extra\r\n\n8001\t\t990\n", 0.001, {{8.0, 1000}, {8.001, 990}}, 0, 0},
        {"E I\n8 1\nE I\n", 1.0, {{8.0, 1}}, 1, 3},
        {"-1 2\nE I\n8 1\n", 1.0, {{8.0, 1}}, 2, 1},
        {"8 100 # a comment\n  8.5   200\n", 1.0, {{8.0, 100}, {8.5, 200}}, 0, 0},
        {"8,100\nnan,1\n-8,100\n0,5\n9,inf\n8.2,x\n9\n", 1.0, {{8.0, 100}}, 6, 2},
        {"1e400,1\n8,1e-400\n", 1.0, {{8.0, 0.0}}, 1, 1},
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
}

}  // namespace
