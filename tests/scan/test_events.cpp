// The multiple-beam events of the planning engine against an Ewald-sphere model built from the
// definitions in the test: a brute-force scan of the azimuth finds no crossing that the list
// misses, and the events a crystallographer finds by hand are named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "csv_table.h"
#include "kelto_run.h"
#include "scan/events.h"
#include "planning_cases.h"

namespace {

struct EventCase { CubicScan scan; double lambda, band; };

const EventCase kCases[] = {
    {{4, 5.6575, "Ge", {0, 0, 2}}, 1.3826, 0.02},  // curve tops inside the band
    {{3, 3.615, "Cu", {3, 1, 1}}, 1.5406, 0.02},   // n < 0, and an event at the window's end
    {{4, 5.431, "Si", {3, 1, 1}}, 1.5406, 0.02},
    {{4, 5.431, "Si", {2, 2, 2}}, 1.5406, 0.02},   // on the sphere at every wavelength (n = 0)
    {{2, 3.1652, "W", {1, 1, 0}}, 1.0, 0.02}, {{1, 3.359, "Po", {1, 1, 1}, true, {1, -1, 0}}, 1.5406, 0.01},
    {{4, 5.431, "Si", {-1, 3, 1}, true, {0, 0, 1}}, 1.2, 0.01},
};

}  // namespace

// Every reflection the structure allows, scanned in azimuth steps of 0.05 degree: each sign change
// of the excess at lambda is an event, and a reflection that reaches the band's short edge but
// never lambda has its curve's top in the band.
TEST(PlanningEvents, BruteForceScanFindsNoMissingEvent)
{
    constexpr int kSteps = 7200;
    for (const EventCase& c : kCases) {
        SCOPED_TRACE(c.scan.Name());
        const CubicCrystal crystal = TableCrystal(c.scan.structure, c.scan.a, c.scan.symbol);
        const ewald::Scan model = c.scan.Model();
        const double lower = c.lambda - c.band / 2;
        std::map<std::tuple<int, int, int>, std::vector<const Event*>> listed;
        const std::vector<Event> events = FindEvents(crystal, c.scan.Frame(crystal), {c.lambda, c.band}, {-180, 180});
        for (const Event& e : events) listed[{e.x.h, e.x.k, e.x.l}].push_back(&e);
        const int reach = static_cast<int>(2 * c.scan.a / lower) + 1;
        int crossings = 0, tops = 0;
        for (int h = -reach; h <= reach; ++h) {
            for (int k = -reach; k <= reach; ++k) {
                for (int l = -reach; l <= reach; ++l) {
                    const Miller m{h, k, l};
                    const ewald::V x = Vector(m);
                    const double n2 = ewald::Dot(x, x);
                    if (n2 > std::pow(2 * c.scan.a / lower, 2) || Parallel(m, c.scan.primary) || !crystal.At(8.0)->Allows(m)) continue;
                    const auto& rows = listed[{h, k, l}];
                    const ewald::V g = Vector(c.scan.primary);
                    if (n2 == ewald::Dot(x, g)) {  // |X|^2 = X.G: on the sphere at every wavelength, at two azimuths
                        EXPECT_EQ(rows.size(), 2u) << h << " " << k << " " << l;
                        continue;
                    }
                    bool reachesLambda = false, reachesEdge = false;
                    double previous = model.Excess(x, -180.0, c.lambda);
                    for (int i = 1; i <= kSteps; ++i) {
                        const double psi = -180.0 + 360.0 * i / kSteps, now = model.Excess(x, psi, c.lambda);
                        reachesEdge |= (model.Excess(x, psi, lower) <= 0) != (model.Excess(x, -180.0, lower) <= 0);
                        if ((previous > 0) == (now > 0)) {
                            previous = now;
                            continue;
                        }
                        reachesLambda = true;
                        double a = psi - 360.0 / kSteps, b = psi;  // bisect to the crossing
                        for (int j = 0; j < 60; ++j) {
                            const double mid = (a + b) / 2;
                            ((model.Excess(x, mid, c.lambda) > 0) == (previous > 0) ? a : b) = mid;
                        }
                        const Passage passage = previous > 0 ? Passage::kIn : Passage::kOut;
                        const bool found = std::any_of(rows.begin(), rows.end(), [&](const Event* e) {
                            return e->passage == passage && std::fabs(e->psi - a) < c.scan.Tolerance();
                        });
                        EXPECT_TRUE(found) << h << " " << k << " " << l << " at " << a;
                        ++crossings;
                        previous = now;
                    }
                    if (!reachesLambda && reachesEdge) {
                        ++tops;
                        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const Event* e) { return e->passage == Passage::kTop; }))
                            << h << " " << k << " " << l;
                    }
                }
            }
        }
        // Nothing listed beyond what the scan finds (two crossings closer than a step may hide from it).
        const auto count = [&](std::initializer_list<Passage> kinds) {
            return std::count_if(events.begin(), events.end(), [&](const Event& e) {
                return std::find(kinds.begin(), kinds.end(), e.passage) != kinds.end();
            });
        };
        EXPECT_LE(count({Passage::kIn, Passage::kOut}) - crossings, 2);
        EXPECT_GE(count({Passage::kTop}), tops);
    }
}

// The faults of the earlier search, at the azimuths a crystallographer finds by hand.
TEST(PlanningEvents, ReflectionOnTheSphereIsNamed)
{
    const struct { EventCase c; Miller x; double psi; bool listed; } expected[] = {  // psi to 0.01 degree
        {kCases[0], {-3, -1, 5}, -166.55, true},   // its curve's top lies inside the band
        {kCases[1], {1, -3, 1}, -178.88, true},    // its upper band edge lies past -180
        {kCases[1], {1, 1, 1}, -168.49, true},     // n < 0: on the sphere where 2 0 0 was named
        {kCases[1], {2, 0, 0}, -168.49, false}, {kCases[2], {1, 1, 1}, -145.70, true},
    };
    for (const auto& want : expected) {
        const CubicCrystal crystal = TableCrystal(want.c.scan.structure, want.c.scan.a, want.c.scan.symbol);
        const std::vector<Event> events = FindEvents(crystal, want.c.scan.Frame(crystal), {want.c.lambda, want.c.band}, {-180, 180});
        const bool found = std::any_of(events.begin(), events.end(), [&](const Event& e) {
            return e.x == want.x && std::fabs(e.psi - want.psi) < 0.01;
        });
        EXPECT_EQ(found, want.listed) << want.c.scan.Name() << ": " << want.x.h << " " << want.x.k << " " << want.x.l;
    }
    // Silicon 2 2 2: 2 2 0, 0 2 2 and 2 0 2 (and their mates -/+) lie on the sphere at every
    // wavelength, each at two azimuths.
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const std::vector<Event> events = FindEvents(silicon, kCases[3].scan.Frame(silicon), {1.5406, 0.02}, {-180, 180});
    for (const Miller x : {Miller{2, 2, 0}, Miller{0, 2, 2}, Miller{2, 0, 2}}) {
        EXPECT_EQ(std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.x == x && e.passage == Passage::kAlways; }), 2);
    }
}

// psi with a reference, worked out by hand for two primaries (one with a zero index, one with
// three non-zero indices): X is on the sphere where k_perp . X_perp = -n, n = (|X|^2 - X.G) / 2.
TEST(PlanningEvents, ReferenceAzimuthOfHandMadeCases)
{
    const double lambda = 1.5406;
    // Silicon 0 0 2 from 1 0 0: X = 1 1 1 across G at 45 degrees, |X_perp| = sqrt(2) / a,
    // n = 1 / (2 a^2), |k_perp|^2 = 1 / lambda^2 - 1 / a^2: cos(psi - 45) = -1 / (2 sqrt(2) a |k_perp|).
    const double a = 5.431, across = std::sqrt(1 / (lambda * lambda) - 1 / (a * a));
    const double beta = std::acos(-1 / (2 * std::sqrt(2.0) * a * across)) * 180 / std::numbers::pi;
    // Polonium 1 1 1 from 1 -1 0 (e3 = (1, 1, -2) / sqrt 6): X = 2 0 0 across G is
    // (4, -2, -2) / 3a, at 30 degrees, |X_perp| = 2 sqrt(6) / 3a; n = 1 / a^2;
    // |k_perp|^2 = 1 / lambda^2 - 3 / 4a^2: cos(psi - 30) = -3 / (2 sqrt(6) a |k_perp|).
    const double p = 3.359, pAcross = std::sqrt(1 / (lambda * lambda) - 3 / (4 * p * p));
    const double pBeta = std::acos(-3 / (2 * std::sqrt(6.0) * p * pAcross)) * 180 / std::numbers::pi;
    // X enters the sphere where f = |X|^2 + 2 k0.X falls: psi - azimuth in (0, 180).
    const struct { CubicScan scan; Miller x; double in, out; } cases[] = {
        {{4, a, "Si", {0, 0, 2}, true, {1, 0, 0}}, {1, 1, 1}, 45 + beta, 45 - beta},
        {{1, p, "Po", {1, 1, 1}, true, {1, -1, 0}}, {2, 0, 0}, 30 + pBeta, 30 - pBeta},
        // The orientation matrix of 0 0 2 has e2 = 1 0 0, e3 = 0 1 0 and counts the beam reversed:
        // the same events 180 degrees on.
        {{4, a, "Si", {0, 0, 2}}, {1, 1, 1}, 45 + beta - 180, 45 - beta + 180},
    };
    for (const auto& c : cases) {
        const CubicCrystal crystal = TableCrystal(c.scan.structure, c.scan.a, c.scan.symbol);
        const std::vector<Event> events = FindEvents(crystal, c.scan.Frame(crystal), {lambda, 0.02}, {-180, 180});
        for (const auto& [psi, passage] : {std::pair{c.in, Passage::kIn}, {c.out, Passage::kOut}}) {
            const double wrapped = psi > 180 ? psi - 360 : psi < -180 ? psi + 360 : psi;
            EXPECT_EQ(std::count_if(events.begin(), events.end(), [&](const Event& e) {
                          return e.x == c.x && e.passage == passage && std::fabs(e.psi - wrapped) < 1e-9;
                      }), 1) << c.scan.Name() << " " << wrapped;
        }
    }
    EXPECT_THROW(ReferenceFrame(Lattice::Cubic(a), {1, 1, 1}, {-2, -2, -2}), std::invalid_argument);
    EXPECT_THROW(ReferenceFrame(Lattice::Cubic(a), {1, 1, 1}, {0, 0, 0}), std::invalid_argument);
}

// The silicon example's 304 events of the earlier single-precision search are all still listed,
// under the same reflection and direction, at the same azimuth to its rounding (psi0 was kept in
// single precision, 3e-5 degree), with its band interval; the table says what it was computed for.
TEST(PlanningEvents, SiliconExampleKeepsTheEarlierEvents)
{
    const KeltoRun run = RunKelto("", FreshFolder("events_kept"), "--structure diamond --lattice 5.431 --symbol Si "
                                  "--primary 0,0,2 --wavelength 1.5406 --band 0.02 --hmax 7 --events e.csv -q");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<std::string> lines = Lines(run.File("e.csv"));
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ(lines[0], "# kelto multiple-beam events: crystal SI; primary 0 0 2; psi in the frame of the orientation "
                        "matrix: right-handed about the primary from reference 1 0 0 to the reversed beam; wavelength 1.540600 angstrom; band 0.020000 angstrom; psi -180.000000 to 180.000000 degrees; "
                        "polarisation sigma; divergence 0.000000 across, 0.000000 along degrees; symmetric cut");
    const std::vector<CsvRow> now = CsvRows(run.File("e.csv"));
    const std::vector<CsvRow> before = CsvRows(ReadWholeFile(KELTO_SOURCE_DIR "/tests/golden/silicon/events_single_precision.csv"));
    ASSERT_EQ(before.size(), 304u);
    for (const CsvRow& old : before) {
        const double lower = std::min(old.Number("psi_lower"), old.Number("psi_upper"));
        const double upper = std::max(old.Number("psi_lower"), old.Number("psi_upper"));
        EXPECT_EQ(std::count_if(now.begin(), now.end(), [&](const CsvRow& row) {
                      return row.Text("h") == old.Text("h") && row.Text("k") == old.Text("k") && row.Text("l") == old.Text("l") &&
                             row.Text("direction") == old.Text("direction") && std::fabs(row.Number("psi") - old.Number("psi")) < 3e-5 &&
                             std::fabs(row.Number("psi_min") - lower) < 3e-5 && std::fabs(row.Number("psi_max") - upper) < 3e-5;
                  }), 1) << old.Text("psi") << " " << old.Text("h") << " " << old.Text("k") << " " << old.Text("l");
    }
}
