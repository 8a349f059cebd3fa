// Clean azimuth windows: the sweep over hand-made occupied intervals (a window of part of a circle,
// and the whole circle with its seam), the windows of real scans checked against their events, the
// events' widths and depths deciding what is clean, and the least bad stretches when nothing is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "windows/clean_windows.h"
#include "dynamics/darwin_width.h"
#include "scan/events.h"
#include "dynamics/glitch_depth.h"
#include "windows/least_bad.h"
#include "csv_table.h"
#include "kelto_run.h"
#include "planning_cases.h"
#include "setup/units.h"

namespace {

using Stretches = std::vector<std::pair<double, double>>;

Stretches AsStretches(const std::vector<AzimuthInterval>& intervals)
{
    Stretches stretches;
    for (const AzimuthInterval& w : intervals) stretches.emplace_back(w.start, w.end);
    return stretches;
}

Stretches Free(const Stretches& occupied, PsiWindow window, double width)
{
    std::vector<AzimuthInterval> intervals;
    for (const auto& [start, end] : occupied) intervals.push_back({start, end});
    return AsStretches(FreeStretches(intervals, window, width));
}

}  // namespace

TEST(CleanWindows, FreeStretchesOfHandMadeIntervals)
{
    const struct { PsiWindow window; double width; Stretches occupied, free; } cases[] = {
        {{-90, 90}, 1, {{-100, -80}, {-10, 0}, {5, 10}, {85, 95}}, {{-80, -10}, {0, 5}, {10, 85}}},
        {{-90, 90}, 10, {{-100, -80}, {-10, 0}, {5, 10}, {85, 95}}, {{-80, -10}, {10, 85}}},
        {{-90, 90}, 1, {{-50, -20}, {-40, -30}, {-35, 10}}, {{-90, -50}, {10, 90}}},  // nested and overlapping
        {{-90, 90}, 1, {{-90, 90}}, {}},
        // A full circle: the stretch over the seam is one window, ending past the window's end.
        {{-180, 180}, 1, {{170, 175}, {-175, -170}, {0, 1}}, {{-170, 0}, {1, 170}, {175, 185}}},
        {{-180, 180}, 1, {{178, 183}}, {{-177, 178}}},  // an interval across the seam
        {{-180, 180}, 1, {{-540, -530}}, {{-170, 180}}},  // taken modulo 360
        {{0, 360}, 1, {{-10, 10}}, {{10, 350}}}, {{-180, 180}, 1, {}, {{-180, 180}}}, {{-180, 180}, 1, {{-200, 200}}, {}},
        {{-180, 180}, 20, {{170, 175}, {-175, -170}, {0, 1}}, {{-170, 0}, {1, 170}}},
        // Events of no width (a reflection on the sphere at every energy) part windows, on the seam too.
        {{-180, 180}, 1, {{0, 0}, {180, 180}, {90, 90}}, {{-180, 0}, {0, 90}, {90, 180}}},
        {{-180, 180}, 1, {{0, 0}, {-180, -180}}, {{-180, 0}, {0, 180}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Free(c.occupied, c.window, c.width), c.free) << c.window.min << " " << c.width;
}

// Every window of a real scan is free of the intervals of strong events and bounded by one (or by
// the window's end); the divergence takes half of itself off each bounded end.
TEST(CleanWindows, WindowsOfScansAgainstTheirEvents)
{
    const struct { CubicScan scan; double lambda, band; PsiWindow window; } cases[] = {
        {{4, 3.567, "C", {1, 1, 1}}, kHcKeVAngstrom / 12, 0.001, {-180, 180}}, {{4, 5.431, "Si", {0, 0, 2}}, 1.5406, 0.02, {-30, 100}},
        {{2, 3.1652, "W", {1, 1, 0}, true, {0, 0, 1}}, 1.2, 0.005, {0, 360}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scan.Name());
        const CubicCrystal crystal = TableCrystal(c.scan.structure, c.scan.a, c.scan.symbol);
        const ScanFrame frame = c.scan.Frame(crystal);
        const Band band{c.lambda, c.band};
        // Every event of three turns, so that those just outside the window count too.
        const std::vector<Event> events = FindEvents(crystal, frame, band, {c.window.min - 360, c.window.max + 360});
        double strongest = 0;
        for (const Event& e : FindEvents(crystal, frame, band, c.window)) strongest = std::max(strongest, e.strength);
        const auto windows = [&](double divergence) {
            return CleanEventWindows(FindEvents(crystal, frame, band, CleanWindowReach(c.window)), c.window, 1.0, {false, 0.01},
                                     divergence)
                .windows;
        };
        const std::vector<AzimuthInterval> plain = windows(0), widened = windows(0.5);
        ASSERT_FALSE(plain.empty());
        for (const AzimuthInterval& w : plain) {
            EXPECT_GE(w.Width(), 1.0);
            bool startBounded = w.start == c.window.min, endBounded = w.end == c.window.max;
            for (const Event& e : events) {
                if (!(e.strength > 0.01 * strongest)) continue;
                for (double turn : {-360.0, 0.0, 360.0}) {  // windows over the seam end past the window
                    EXPECT_FALSE(e.psiMax + turn > w.start + 1e-9 && e.psiMin + turn < w.end - 1e-9) << w.start << " " << e.psi;
                    startBounded |= std::fabs(e.psiMax + turn - w.start) < 1e-9;
                    endBounded |= std::fabs(e.psiMin + turn - w.end) < 1e-9;
                }
            }
            EXPECT_TRUE(startBounded && endBounded) << w.start << " to " << w.end;
            // The same window with the divergence: narrower by 0.25 degree at each end an event bounds.
            const double expected = w.Width() - (w.start == c.window.min ? 0 : 0.25) - (w.end == c.window.max ? 0 : 0.25);
            EXPECT_TRUE(expected < 1 || std::any_of(widened.begin(), widened.end(), [&](const AzimuthInterval& v) {
                return v.start >= w.start && v.end <= w.end && std::fabs(v.Width() - expected) < 1e-9;
            })) << w.start << " to " << w.end;
        }
    }
    // Diamond 1 1 1 at 12 keV: a window about psi = 0 and its twin about 180, across the seam.
    const CubicCrystal diamond = TableCrystal(4, 3.567, "C");
    const std::vector<AzimuthInterval> windows =
        CleanEventWindows(FindEvents(diamond, MatrixFrame(diamond.lattice(), {1, 1, 1}), {kHcKeVAngstrom / 12, 0.001}, {-540, 540}),
                          {-180, 180}, 5, {false, 0.01}, 0)
            .windows;
    const auto about = [&](double psi) {
        return std::find_if(windows.begin(), windows.end(), [&](const AzimuthInterval& w) { return w.start < psi && psi < w.end; });
    };
    ASSERT_TRUE(about(0) != windows.end() && about(180) != windows.end());
    EXPECT_NEAR(about(0)->Width(), about(180)->Width(), 1e-9);
}

namespace {

// A hand-made event: its band interval, width in azimuth, strength and depth.
Event MadeEvent(double psiMin, double psiMax, double widthDeg, double strength, double depth = 0, Miller x = {1, 0, 0})
{
    Event e{};
    e.psi = (psiMin + psiMax) / 2, e.psiMin = psiMin, e.psiMax = psiMax, e.widthDeg = widthDeg;
    e.strength = strength, e.depth = depth, e.x = x;
    return e;
}

}  // namespace

// An event takes its band interval widened by half its own width or half the divergence, the
// larger: a width beyond the divergence closes a window the divergence alone leaves open, one
// below it changes nothing, and a weak event's width none at all.
TEST(CleanWindows, EventWidthsCloseWindows)
{
    const double infinite = std::numeric_limits<double>::infinity();
    const struct { const char* what; double widthAtMinus10, strengthAtMinus10, divergence; Stretches windows; } cases[] = {
        // Events over -10 to -9 and 9 to 10 (width 0 at 9), 17 degrees wanted, divergence 1.
        {"no width: the divergence alone", 0, 100, 1, {{-90, -10.5}, {-8.5, 8.5}, {10.5, 90}}},
        {"a width below the divergence", 0.5, 100, 1, {{-90, -10.5}, {-8.5, 8.5}, {10.5, 90}}},
        {"a width of 2 beyond the divergence", 2, 100, 1, {{-90, -11}, {10.5, 90}}},
        {"the same width without divergence", 2, 100, 0, {{-90, -11}, {-8, 9}, {10, 90}}},
        {"a weak event's width", 2, 0.5, 1, {{-90, 8.5}, {10.5, 90}}}, {"a width beyond a turn", infinite, 100, 1, {}},
    };
    for (const auto& c : cases) {
        const std::vector<Event> events = {MadeEvent(-10, -9, c.widthAtMinus10, c.strengthAtMinus10), MadeEvent(9, 10, 0, 100)};
        const CleanWindows found = CleanEventWindows(events, {-90, 90}, 17, {false, 0.01}, c.divergence);
        EXPECT_EQ(AsStretches(found.windows), c.windows) << c.what;
        EXPECT_EQ(found.windows.empty(), !found.leastBad.empty()) << c.what;
    }
    // Over a full circle the same event takes its width across the seam.
    const CleanWindows seam = CleanEventWindows({MadeEvent(179, 179.5, 3, 1)}, {-180, 180}, 1, {false, 0.01}, 0);
    EXPECT_EQ(AsStretches(seam.windows), (Stretches{{-179.0, 177.5}}));
}

// By depth an event counts when it takes more than the share of I0 given, whatever its strength:
// silicon 1 1 1 at 8.048 keV has the strong -2 4 2, and 1 1 -1, whose coupling reflection 0 0 2 is
// forbidden (strength 0), taking more of the beam.
TEST(CleanWindows, MaxDepthSelectsByDepth)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const double keV = 8.048, across = 0.001 * std::acos(-1.0) / 180;
    const Beam beam{Polarisation::kSigma, across, 0.0, {}};
    std::vector<Event> events = FindEvents(silicon, frame, {kHcKeVAngstrom / keV, 0.02}, {0, 60});
    SetEventWidths(silicon, frame, keV, beam, &events);
    const auto find = [&](Miller x, double psi) {
        const auto e = std::find_if(events.begin(), events.end(), [&](const Event& e) { return e.x == x && std::fabs(e.psi - psi) < 0.01; });
        EXPECT_NE(e, events.end()) << x.h << " " << x.k << " " << x.l;
        return e == events.end() ? Event{} : *e;
    };
    const Event strong = find({-2, 4, 2}, 36.4735), deep = find({1, 1, -1}, 10.3230);
    EXPECT_TRUE(strong.relativeStrength > 0.5 && deep.strength == 0) << strong.relativeStrength << " " << deep.strength;
    ASSERT_GT(deep.depth, 2.0 * strong.depth) << strong.depth << " " << deep.depth;
    const double between = std::sqrt(strong.depth * deep.depth);
    // Which of the two closes the azimuths it takes, for each threshold.
    const struct { CleanThreshold threshold; bool strongCounts, deepCounts; } cases[] = {
        {{false, 0.01}, true, false}, {{true, between}, false, true}, {{true, strong.depth / 2.0}, true, true},
        {{true, std::min(0.99, 2.0 * deep.depth)}, false, false},
    };
    for (const auto& c : cases) {
        const CleanWindows found = CleanEventWindows({strong, deep}, {0, 60}, 1, c.threshold, 0.001);
        const auto open = [&](const Event& e) {
            return std::any_of(found.windows.begin(), found.windows.end(), [&](const AzimuthInterval& w) { return w.start < e.psi && e.psi < w.end; });
        };
        EXPECT_TRUE(open(strong) != c.strongCounts && open(deep) != c.deepCounts) << c.threshold.byDepth << " " << c.threshold.limit;
    }
}

// The least bad stretches of hand-made occupants, worked out by hand: the mildest first, of equal
// measures the one joined through the narrowest worst part, none holding another, across the seam.
TEST(CleanWindows, LeastBadOfHandMadeOccupants)
{
    const Miller a{1, 0, 0}, b{0, 1, 0}, c{0, 0, 1}, d{1, 1, 1};
    using Stretch = std::tuple<double, double, double, Miller>;  // start, end, largest, reflection
    const struct { const char* what; std::vector<Occupant> occupants; PsiWindow window; double width; std::vector<Stretch> expected; } cases[] = {
        // Gaps of 20, 29, 23 and 24: B's 0.2 joins two into 54 degrees; A and C only join it.
        {"the mildest first", {{{20, 21}, 0.5, a}, {{50, 52}, 0.2, b}, {{75, 76}, 0.9, c}}, {0, 100}, 30, {{21, 75, 0.2, b}}},
        // All 0.5: B, the narrowest, opens 22 to 75; A, wider, would have opened 0 to 50.
        {"of equal measures the narrowest", {{{20, 22}, 0.5, a}, {{50, 51}, 0.5, b}, {{75, 76}, 0.5, c}}, {0, 100}, 30,
         {{22, 75, 0.5, b}}},
        // D's 0.2 at 175 joins 90 to 175 with 176 to 270 over the seam.
        {"across the seam", {{{-10, 10}, 0.5, a}, {{80, 90}, 0.5, b}, {{-90, -80}, 0.5, c}, {{175, 176}, 0.2, d}}, {-180, 180}, 100,
         {{90, 270, 0.2, d}}},
        // Two stretches, each of its own occupant, and the window narrower than asked: none.
        {"two apart", {{{10, 11}, 0.3, a}, {{50, 51}, 0.6, b}, {{90, 91}, 0.4, c}}, {0, 100}, 45, {{0, 50, 0.3, a}, {51, 100, 0.4, c}}},
        {"a window too narrow", {{{10, 11}, 0.3, a}}, {0, 20}, 25, {}},
    };
    for (const auto& t : cases) {
        std::vector<Stretch> got;
        for (const auto& s : LeastBadStretches(t.occupants, t.window, t.width, 5)) got.emplace_back(s.stretch.start, s.stretch.end, s.largest, s.x);
        EXPECT_EQ(got, t.expected) << t.what;
    }
}

// The least bad stretches of real scans with nothing clean, against a search over every place a
// stretch of the width asked for can start (the window's start or the end of an event's azimuths:
// the best stretch slides back to one), each stretch's largest measure found among every event
// that reaches into it, counted or not.
TEST(CleanWindows, LeastBadAgainstABruteForceSearch)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const struct { Miller primary; double keV, width; PsiWindow window; CleanThreshold threshold; double divergence; } cases[] = {
        {{0, 0, 2}, kHcKeVAngstrom / 1.5406, 20, {-180, 180}, {false, 0.01}, 0}, {{1, 1, 1}, 8.048, 5, {-30, 40}, {true, 0.002}, 0.05},
        {{1, 1, 1}, 8.048, 5, {-30, 40}, {false, 0.01}, 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.primary.h) + std::to_string(c.primary.k) + std::to_string(c.primary.l));
        const ScanFrame frame = MatrixFrame(silicon.lattice(), c.primary);
        const Beam beam{Polarisation::kSigma, c.divergence * std::acos(-1.0) / 180, 0.0, {}};
        std::vector<Event> events = FindEvents(silicon, frame, {kHcKeVAngstrom / c.keV, 0.02}, CleanWindowReach(c.window));
        SetEventWidths(silicon, frame, c.keV, beam, &events);
        const CleanWindows found = CleanEventWindows(events, c.window, c.width, c.threshold, c.divergence);
        ASSERT_TRUE(found.windows.empty());
        ASSERT_EQ(found.leastBad.size(), 5u);
        double strongest = 0;
        for (const Event& e : events) strongest = c.window.min < e.psi && e.psi <= c.window.max ? std::max(strongest, e.strength) : strongest;
        struct Taken { double start, end, measure; Miller x; };
        std::vector<Taken> taken;
        for (const Event& e : events) {
            const double r = std::max(c.divergence, std::min(e.widthDeg, 360.0)) / 2;
            taken.push_back({e.psiMin - r, e.psiMax + r, c.threshold.byDepth ? e.depth : e.strength / strongest, e.x});
        }
        const bool circle = c.window.FullCircle();
        // Whether the azimuths overlap, by more than the rounding of a turn taken off.
        const auto meets = [&](const Taken& t, double start, double end) {
            for (int turn = -2; turn <= 2; ++turn) {
                if ((circle || turn == 0) && t.start + 360 * turn < end - 1e-9 && t.end + 360 * turn > start + 1e-9) return true;
            }
            return false;
        };
        const auto largest = [&](double start, double end) {
            double most = 0;
            for (const Taken& t : taken) most = meets(t, start, end) ? std::max(most, t.measure) : most;
            return most;
        };
        double best = 1e300;
        std::vector<double> starts{c.window.min};
        for (const Taken& t : taken) {
            for (int turn = -2; turn <= 2; ++turn) starts.push_back(t.end + 360 * turn);
        }
        const double last = circle ? c.window.min + 360 : c.window.max - c.width;
        for (const double start : starts) {
            if (start >= c.window.min && start <= last) best = std::min(best, largest(start, start + c.width));
        }
        EXPECT_DOUBLE_EQ(found.leastBad.front().largest, best);
        for (std::size_t i = 0; i < found.leastBad.size(); ++i) {
            const LeastBadStretch& s = found.leastBad[i];
            EXPECT_GE(s.stretch.Width(), c.width);
            EXPECT_DOUBLE_EQ(largest(s.stretch.start, s.stretch.end), s.largest) << s.stretch.start;
            EXPECT_TRUE(std::any_of(taken.begin(), taken.end(), [&](const Taken& t) {
                return t.measure == s.largest && t.x == s.x && meets(t, s.stretch.start, s.stretch.end);
            })) << s.stretch.start;
            EXPECT_GT(s.largest, c.threshold.limit);  // else it would be clean
            if (i > 0) {
                EXPECT_GE(s.largest, found.leastBad[i - 1].largest);
            }
            for (std::size_t j = 0; j < i; ++j) {
                const Taken other{found.leastBad[j].stretch.start, found.leastBad[j].stretch.end, 0, {}};
                EXPECT_FALSE(meets(other, s.stretch.start, s.stretch.end)) << s.stretch.start << " meets " << other.start;
            }
        }
    }
}

// From the command line: when nothing is clean the console says so and lists the least bad
// stretches, which the windows table holds as rows marked not clean; the table's first line says
// which threshold counted; --min-width leaves out the narrower clean stretches and counts them.
TEST(CleanWindows, FromTheCommandLine)
{
    const std::string si002 = "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5406 --band 0.02 -q ";
    const std::string si111 = "--structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 ";
    const struct {
        std::string arguments;
        std::string said;       // the console's line before the stretches
        std::string threshold;  // in the table's first line
        bool clean;
    } cases[] = {
        {si002 + "--clean 20", "No clean azimuth window at least 20.000 degrees wide (no event above 0.0100 of the strongest)\n"
                               "Nothing is clean; the least bad stretches, best first, with the largest relative strength over "
                               "each and its reflection:\n",
         "; no event above 0.0100 of the strongest, at least 20.000000 degrees wide;", false},
        {si111 + "--energy 8.048 --band 0.02 -q --clean 10 --max-depth 0.002 --divergence 0.003 --polarisation pi",
         "No clean azimuth window at least 10.000 degrees wide (no event deeper than 0.002000 of I0)\n"
         "Nothing is clean; the least bad stretches, best first, with the largest depth (share of I0) over each and its "
         "reflection:\n",
         "; no event deeper than 0.002000 of I0, at least 10.000000 degrees wide;", false},
        {si111 + "--clean-energies 8,12", "No azimuth window is clean from 8.000 to 12.000 keV (no glitch deeper than 0.010000 "
                                          "of I0)\nNothing is clean; the least bad stretches",
         "; no glitch deeper than 0.010000 of I0 from 8.000000 to 12.000000 keV; windows at least 0.500000 degrees wide;", false},
        {si111 + "--clean-energies 8,12,0.01", "No azimuth window is clean from 8.000 to 12.000 keV (no glitch above 0.0100 of "
                                               "the strongest)\nNothing is clean; the least bad stretches",
         "; no glitch above 0.0100 of the strongest from 8.000000 to 12.000000 keV; windows at least 0.500000 degrees wide;", false},
        {si111 + "--clean-energies 8,8.1 --max-depth 0.05 --min-width 1 --windows-shown 0",
         "Azimuth windows clean from 8.000 to 8.100 keV (no glitch deeper than 0.050000 of I0), widest first:\n",
         "; no glitch deeper than 0.050000 of I0 from 8.000000 to 8.100000 keV; windows at least 1.000000 degrees wide;", true},
    };
    for (const auto& c : cases) {
        const KeltoRun run = RunKelto("", FreshFolder("clean_console"), c.arguments + " --windows w.csv");
        ASSERT_EQ(run.status, 0) << c.arguments << run.errors;
        const std::size_t said = run.output.find(c.said);
        ASSERT_NE(said, std::string::npos) << run.output;
        const std::vector<std::string> table = Lines(run.File("w.csv"));
        ASSERT_GE(table.size(), 2u);
        EXPECT_NE(table[0].find(c.threshold), std::string::npos) << table[0];
        EXPECT_EQ(table[1], "search,psi_start,psi_end,width,clean,largest,h,k,l");
        // Each stretch of the console is a row of the table, in the same order.
        const std::vector<CsvRow> rows = CsvRows(run.File("w.csv"));
        ASSERT_TRUE(c.clean ? !rows.empty() : rows.size() == 5u) << rows.size();
        const std::vector<std::string> printed = Lines(run.output.substr(run.output.find('\n', said + c.said.size() - 1) + 1));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const CsvRow& row = rows[i];
            EXPECT_EQ(row.Text("clean"), c.clean ? "1" : "0");
            char line[200];
            if (c.clean) {
                EXPECT_TRUE(row.Text("largest") == "0.000000" && row.Text("h") == "0" && row.Text("k") == "0" && row.Text("l") == "0");
                std::snprintf(line, sizeof line, "  %9.3f to %9.3f degrees, %8.3f wide", row.Number("psi_start"), row.Number("psi_end"),
                              row.Number("width"));
            } else {
                std::snprintf(line, sizeof line, "  %9.3f to %9.3f degrees, %8.3f wide, largest %.4f (%s %s %s)", row.Number("psi_start"),
                              row.Number("psi_end"), row.Number("width"), row.Number("largest"), row.Text("h").c_str(),
                              row.Text("k").c_str(), row.Text("l").c_str());
            }
            ASSERT_LT(i, printed.size());
            EXPECT_EQ(printed[i], line);
        }
    }
    // The clean stretches narrower than --min-width are left out and counted: those of --min-width 0.
    int runs = 0;
    const auto run = [&](const std::string& minWidth) {
        return RunKelto("", FreshFolder("clean_min_width_" + std::to_string(++runs)), si111 + "--clean-energies 8,8.1 --windows w.csv " + minWidth);
    };
    const KeltoRun every = run("--min-width 0"), wide = run(""), wider = run("--min-width 1.5");
    for (const auto& [kept, width] : {std::pair{&wide, 0.5}, std::pair{&wider, 1.5}}) {
        ASSERT_EQ(kept->status, 0) << kept->errors;
        std::vector<std::string> expected, got;
        int narrower = 0;
        for (const CsvRow& row : CsvRows(every.File("w.csv"))) {
            if (row.Number("width") >= width) {
                expected.push_back(row.Text("psi_start"));
            } else {
                ++narrower;
            }
        }
        for (const CsvRow& row : CsvRows(kept->File("w.csv"))) got.push_back(row.Text("psi_start"));
        EXPECT_EQ(got, expected);
        char line[100];
        std::snprintf(line, sizeof line, "  (%d clean stretches narrower than %.3f degrees left out)\n", narrower, width);
        EXPECT_GT(narrower, 0);
        EXPECT_NE(kept->output.find(line), std::string::npos) << kept->output;
    }
    EXPECT_EQ(every.output.find("left out"), std::string::npos);
}
