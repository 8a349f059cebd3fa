// Planning a scan: the multiple-beam events of the silicon example against its kelto_unweg.dat,
// the clean azimuth windows, and a glitch energy worked out from the dispersion curve.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kelto_run.h"
#include "planning/events.h"
#include "setup/answer_source.h"

namespace {

const std::string kSilicon = "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 ";
using Hkl = std::tuple<int, int, int>;
using Row = std::map<std::string, double>;

// The rows of a CSV table, each a map from column name to number ("in" read as 1, "out" as 0).
std::vector<Row> Table(const std::string& text)
{
    std::istringstream in(text);
    std::string line, field;
    std::getline(in, line);
    std::vector<std::string> names;
    for (std::istringstream header(line); std::getline(header, field, ',');) names.push_back(field);
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        for (Row& row = rows.emplace_back(); const std::string& name : names) {
            std::getline(fields, field, ',');
            row[name] = field == "in" ? 1.0 : field == "out" ? 0.0 : std::stod(field);
        }
    }
    return rows;
}

Hkl Indices(const Row& row, const std::string& prefix = "")
{
    return {int(row.at(prefix + "h")), int(row.at(prefix + "k")), int(row.at(prefix + "l"))};
}

}  // namespace

// On (0 0 2) the frame is x = l, y = h, z = k: psi0 = atan2(k, h), and the coupling of h k l is -h -k 2-l.
TEST(Planning, EventsOfTheSiliconExample)
{
    const KeltoRun run = RunKelto("", FreshFolder("events"), kSilicon + "--wavelength 1.5406 --band 0.02 --hmax 7 --events e.csv");
    ASSERT_EQ(run.status, 0) << run.errors;
    std::multimap<Hkl, std::pair<double, double>> unweg;  // every row of kelto_unweg.dat
    std::istringstream rows(run.File("kelto_unweg.dat").substr(42));  // after its header
    for (double a, b, intensity, h, k, l; rows >> a >> b >> intensity >> h >> k >> l;) unweg.insert({{h, k, l}, {a, b}});
    const auto events = Table(run.File("e.csv"));
    ASSERT_GT(events.size(), 100u);
    std::set<std::pair<Hkl, long>> seen;
    int forbiddenCouplings = 0, oneOneOne = 0;
    for (const Row& e : events) {
        const auto [h, k, l] = Indices(e);
        const double psi = e.at("psi"), lower = e.at("psi_lower"), upper = e.at("psi_upper");
        SCOPED_TRACE(testing::Message() << h << " " << k << " " << l << " at " << psi);
        EXPECT_TRUE(seen.insert({Indices(e), std::lround(psi * 1000)}).second);
        EXPECT_EQ(Indices(e, "coupling_"), Hkl(-h, -k, 2 - l));
        EXPECT_GT(std::cos((psi - std::atan2(k, h) * 180 / std::numbers::pi) * std::numbers::pi / 180), 0.0);  // on the sphere
        EXPECT_EQ(e.at("direction"), upper > lower ? 1.0 : 0.0);
        EXPECT_NEAR(e.at("strength"), e.at("F") * e.at("F_coupling"), 0.01);  // F printed to four decimals
        bool listed = false;  // as a row of kelto_unweg.dat, at its printed precision
        for (auto [at, end] = unweg.equal_range(Indices(e)); at != end; ++at) {
            listed |= std::fabs(at->second.first - lower) < 6e-4 && std::fabs(at->second.second - upper) < 6e-4;
        }
        EXPECT_TRUE(listed);
        // Diamond forbids all-even reflections whose index sum is 2 modulo 4.
        if (h % 2 == 0 && k % 2 == 0 && l % 2 == 0 && (h + k + 2 - l) % 4 != 0) {
            ++forbiddenCouplings;
            EXPECT_EQ(e.at("strength"), 0.0);
        }
        if (Indices(e) == Hkl(1, 1, 1)) {  // |F| 59.42 (the reflection table's) for both; 59.42^2
            ++oneOneOne;
            EXPECT_TRUE(std::fabs(e.at("F") - 59.42) < 0.005 && e.at("F") == e.at("F_coupling"));
            EXPECT_TRUE(std::fabs(e.at("strength") - 3531.0) < 1.0 && std::fabs(std::fabs(psi - 45.0) - 83.9966) < 1e-4);
        }
    }
    EXPECT_TRUE(forbiddenCouplings > 0 && oneOneOne == 2);
    // 2 2 0 crosses the band at 159.5 degrees on its far branch: there -2 -2 2, which diamond
    // forbids, would be on the sphere. kelto_unweg.dat lists the row; it is no event.
    const auto near = [](double psi) { return std::fabs(psi - 159.5) < 0.5; };
    bool phantomListed = false;
    for (auto [at, end] = unweg.equal_range({2, 2, 0}); at != end; ++at) phantomListed |= near(at->second.first);
    EXPECT_TRUE(phantomListed);
    for (const Row& e : events) EXPECT_FALSE(near(e.at("psi")) && Indices(e) == Hkl(2, 2, 0));
}

TEST(Planning, CleanWindowsOfAHandMadeList)
{
    SphereReflection r{};
    const auto event = [&r](double lower, double upper, double relative) {
        return Event{(lower + upper) / 2, lower, upper, &r, relative, relative, upper > lower};
    };
    // Two strong events apart, one weak between them, one strong reaching the upper bound.
    const std::vector<Event> events = {event(-170.0, -160.0, 1.0), event(-100.0, -101.0, 0.5), event(-50.0, -40.0, 0.005),
                                       event(100.0, 100.5, 0.02), event(170.0, 179.0, 0.8)};
    const struct { double width, fraction; std::vector<std::pair<double, double>> windows; } cases[] = {
        {5.0, 0.01, {{-180, -170}, {-160, -101}, {-100, 100}, {100.5, 170}}},
        {60.0, 0.01, {{-100, 100}, {100.5, 170}}},
        {5.0, 0.6, {{-180, -170}, {-160, 170}}},  // only the two strongest count
        {10.0, 0.0, {{-180, -170}, {-160, -101}, {-100, -50}, {-40, 100}, {100.5, 170}}},
        {400.0, 0.01, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<double, double>> found;
        for (const AzimuthWindow& w : CleanWindows(events, -180.0, 180.0, c.width, c.fraction)) found.emplace_back(w.start, w.end);
        EXPECT_EQ(found, c.windows) << c.width << " " << c.fraction;
    }
    EXPECT_EQ(CleanWindows({}, -90.0, 90.0, 180.0, 0.01).size(), 1u);  // without events the whole window is clean
    // Silicon has clean windows of 5 degrees between 0 and 90 but none between -20 and 20; the run
    // prints them, also with --quiet.
    const std::string run = kSilicon + "--wavelength 1.5406 --band 0.02 --hmax 7 --clean 5 -q --psi ";
    EXPECT_TRUE(RunKelto("", FreshFolder("clean"), run + "-20,20").output.ends_with(
        "No clean azimuth window at least 5.000 degrees wide (no event above 0.0100 of the strongest)\n"));
    std::istringstream windows(RunKelto("", FreshFolder("clean"), run + "0,90").output);
    int lines = 0;
    double start = 0, end = 0, width = 0;
    for (std::string line; std::getline(windows, line);) {
        if (std::sscanf(line.c_str(), " %lf to %lf degrees, %lf wide", &start, &end, &width) != 3) continue;
        EXPECT_TRUE(start >= 0 && end <= 90 && std::fabs(end - start - width) < 0.002 && width >= 5 && ++lines) << line;
    }
    EXPECT_GT(lines, 0);
}

// At a fixed azimuth, 1 1 1 on (0 0 2) (k2 = 1/8, p2 = 1, psi0 = 45) is on the sphere at
// lambda = a / sqrt(k2 / cos^2(psi - 45) + p2); -1 -1 1, its coupling reflection, is not.
TEST(Planning, GlitchEnergyFromTheDispersionCurve)
{
    const KeltoRun run = RunKelto("", FreshFolder("glitches"), kSilicon + "--glitches g.csv --at-psi 10 --energies 1,30");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_FALSE(HasAnyOutputFile(run));
    const double c = std::cos(-35.0 * std::numbers::pi / 180.0), lambda = 5.431f / std::sqrt(0.125 / (c * c) + 1.0);
    int found = 0;
    std::set<Hkl> seen;
    double previous = 0.0;
    for (const Row& g : Table(run.File("g.csv"))) {
        const double energy = g.at("energy_keV");
        EXPECT_TRUE(energy >= std::max(1.0, previous) && energy <= 30.0 && seen.insert(Indices(g)).second);
        EXPECT_NE(Indices(g), Hkl(-1, -1, 1));
        previous = energy;
        if (Indices(g) == Hkl(1, 1, 1) && ++found) {
            EXPECT_TRUE(std::fabs(g.at("wavelength") - lambda) < 1e-6 && std::fabs(energy - kHcKeVAngstrom / lambda) < 1e-6);
            EXPECT_TRUE(std::fabs(g.at("F") - 59.42) < 0.005 && g.at("F") == g.at("F_coupling"));  // the reflection table's
        }
    }
    EXPECT_EQ(found, 1);
}
