// Clean azimuth windows: the sweep over hand-made occupied intervals (a window of part of a circle,
// and the whole circle with its seam), and the windows of real scans checked against their events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "planning/events.h"
#include "planning_cases.h"
#include "setup/answer_source.h"

namespace {

using Stretches = std::vector<std::pair<double, double>>;

Stretches Free(const Stretches& occupied, PsiWindow window, double width)
{
    std::vector<AzimuthInterval> intervals;
    for (const auto& [start, end] : occupied) intervals.push_back({start, end});
    Stretches found;
    for (const AzimuthInterval& w : FreeStretches(intervals, window, width)) found.emplace_back(w.start, w.end);
    return found;
}

}  // namespace

TEST(CleanWindows, FreeStretchesOfHandMadeIntervals)
{
    const struct {
        PsiWindow window;
        double width;
        Stretches occupied, free;
    } cases[] = {
        {{-90, 90}, 1, {{-100, -80}, {-10, 0}, {5, 10}, {85, 95}}, {{-80, -10}, {0, 5}, {10, 85}}},
        {{-90, 90}, 10, {{-100, -80}, {-10, 0}, {5, 10}, {85, 95}}, {{-80, -10}, {10, 85}}},
        {{-90, 90}, 1, {{-50, -20}, {-40, -30}, {-35, 10}}, {{-90, -50}, {10, 90}}},  // nested and overlapping
        {{-90, 90}, 1, {{-90, 90}}, {}},
        // A full circle: the stretch over the seam is one window, ending past the window's end.
        {{-180, 180}, 1, {{170, 175}, {-175, -170}, {0, 1}}, {{-170, 0}, {1, 170}, {175, 185}}},
        {{-180, 180}, 1, {{178, 183}}, {{-177, 178}}},  // an interval across the seam
        {{-180, 180}, 1, {{-540, -530}}, {{-170, 180}}},  // taken modulo 360
        {{0, 360}, 1, {{-10, 10}}, {{10, 350}}},
        {{-180, 180}, 1, {}, {{-180, 180}}},
        {{-180, 180}, 1, {{-200, 200}}, {}},
        {{-180, 180}, 20, {{170, 175}, {-175, -170}, {0, 1}}, {{-170, 0}, {1, 170}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Free(c.occupied, c.window, c.width), c.free) << c.window.min << " " << c.width;
}

// Every window of a real scan is free of the intervals of strong events and bounded by one (or by
// the window's end); the divergence takes half of itself off each bounded end.
TEST(CleanWindows, WindowsOfScansAgainstTheirEvents)
{
    const struct {
        CubicScan scan;
        double lambda, band;
        PsiWindow window;
    } cases[] = {
        {{4, 3.567, "C", {1, 1, 1}}, kHcKeVAngstrom / 12, 0.001, {-180, 180}},
        {{4, 5.431, "Si", {0, 0, 2}}, 1.5406, 0.02, {-30, 100}},
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
            return CleanEventWindows(FindEvents(crystal, frame, band, CleanWindowReach(c.window, divergence)), c.window, 1.0, 0.01,
                                     divergence);
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
    const std::vector<AzimuthInterval> windows = CleanEventWindows(
        FindEvents(diamond, MatrixFrame(diamond.lattice(), {1, 1, 1}), {kHcKeVAngstrom / 12, 0.001}, {-540, 540}), {-180, 180}, 5,
        0.01, 0);
    const auto about = [&](double psi) {
        return std::find_if(windows.begin(), windows.end(), [&](const AzimuthInterval& w) { return w.start < psi && psi < w.end; });
    };
    ASSERT_TRUE(about(0) != windows.end() && about(180) != windows.end());
    EXPECT_NEAR(about(0)->Width(), about(180)->Width(), 1e-9);
}
