// Planning a scan: the multiple-beam events of the silicon example against its kelto_unweg.dat,
// the clean azimuth windows, and a glitch energy worked out from the dispersion curve.
#include <gtest/gtest.h>

#include <cmath>
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

// The rows of a CSV table as column name to text.
std::vector<std::map<std::string, std::string>> Table(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    for (std::istringstream header(line); std::getline(header, line, ',');) names.push_back(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::map<std::string, std::string> row;
        for (const std::string& name : names) std::getline(fields, row[name], ',');
        rows.push_back(row);
    }
    return rows;
}

double Number(const std::map<std::string, std::string>& row, const std::string& name) { return std::stod(row.at(name)); }

std::tuple<int, int, int> Indices(const std::map<std::string, std::string>& row, const std::string& prefix = "")
{
    return {std::stoi(row.at(prefix + "h")), std::stoi(row.at(prefix + "k")), std::stoi(row.at(prefix + "l"))};
}

// On (0 0 2) the frame is x = l, y = h, z = k: psi0 = atan2(k, h).
double Psi0(int h, int k) { return std::atan2(k, h) * 180.0 / std::numbers::pi; }

}  // namespace

TEST(Planning, EventsOfTheSiliconExample)
{
    const KeltoRun run = RunKelto("", FreshFolder("events"), kSilicon + "--wavelength 1.5406 --band 0.02 --hmax 7 "
                                                                        "--events events.csv");
    ASSERT_EQ(run.status, 0) << run.errors;
    struct Crossing { double lower, upper; };
    std::multimap<std::tuple<int, int, int>, Crossing> unweg;  // every row of kelto_unweg.dat
    std::istringstream rows(run.File("kelto_unweg.dat"));
    std::string line;
    std::getline(rows, line);
    for (double a, b, intensity, h, k, l; rows >> a >> b >> intensity >> h >> k >> l;) {
        unweg.insert({{static_cast<int>(h), static_cast<int>(k), static_cast<int>(l)}, {a, b}});
    }
    const auto events = Table(run.File("events.csv"));
    ASSERT_GT(events.size(), 100u);
    std::set<std::tuple<int, int, int, long>> seen;
    int forbiddenCouplings = 0, oneOneOne = 0;
    for (const auto& e : events) {
        const auto [h, k, l] = Indices(e);
        const auto [ch, ck, cl] = Indices(e, "coupling_");
        const double psi = Number(e, "psi"), lower = Number(e, "psi_lower"), upper = Number(e, "psi_upper");
        SCOPED_TRACE(testing::Message() << h << " " << k << " " << l << " at " << psi);
        EXPECT_TRUE(seen.insert({h, k, l, std::lround(psi * 1000)}).second);
        EXPECT_EQ(std::make_tuple(ch, ck, cl), std::make_tuple(-h, -k, 2 - l));
        EXPECT_GT(std::cos((psi - Psi0(h, k)) * std::numbers::pi / 180.0), 0.0);  // the reflection is on the sphere
        EXPECT_EQ(e.at("direction"), upper > lower ? "in" : "out");
        EXPECT_NEAR(Number(e, "strength"), Number(e, "F") * Number(e, "F_coupling"), 0.01);  // F printed to four decimals
        bool listed = false;  // as a row of kelto_unweg.dat, at its printed precision
        for (auto [at, end] = unweg.equal_range({h, k, l}); at != end; ++at) {
            listed = listed || (std::fabs(at->second.lower - lower) < 6e-4 && std::fabs(at->second.upper - upper) < 6e-4);
        }
        EXPECT_TRUE(listed);
        // Diamond forbids all-even reflections whose index sum is 2 modulo 4.
        if (ch % 2 == 0 && ck % 2 == 0 && cl % 2 == 0 && (ch + ck + cl) % 4 != 0) {
            ++forbiddenCouplings;
            EXPECT_EQ(Number(e, "strength"), 0.0);
        }
        if (std::make_tuple(h, k, l) == std::make_tuple(1, 1, 1)) {
            ++oneOneOne;
            // The reflection table's F of 1 1 1; strength 59.42 squared.
            EXPECT_NE(run.File("kelto_spaghetti.dat").find("  1   1   1   14.22  " + e.at("F").substr(0, 5)), std::string::npos);
            EXPECT_EQ(e.at("F"), e.at("F_coupling"));
            EXPECT_NEAR(Number(e, "strength"), 3531.0, 1.0);
            EXPECT_NEAR(std::fabs(psi - 45.0), 83.9966, 1e-4);
        }
    }
    EXPECT_GT(forbiddenCouplings, 0);
    EXPECT_EQ(oneOneOne, 2);
    // 2 2 0 crosses the band at 159.5 degrees on its far branch: there -2 -2 2, which diamond
    // forbids, would be on the sphere. kelto_unweg.dat lists the row; it is no event.
    bool phantomListed = false;
    for (auto [at, end] = unweg.equal_range({2, 2, 0}); at != end; ++at) phantomListed |= std::fabs(at->second.lower - 159.5) < 0.5;
    EXPECT_TRUE(phantomListed);
    for (const auto& e : events) EXPECT_FALSE(std::fabs(Number(e, "psi") - 159.5) < 0.5 && Indices(e) == std::make_tuple(2, 2, 0));
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
        {5.0, 0.6, {{-180, -170}, {-160, 170}}},   // only the two strongest count
        {10.0, 0.0, {{-180, -170}, {-160, -101}, {-100, -50}, {-40, 100}, {100.5, 170}}},
        {400.0, 0.01, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<double, double>> found;
        for (const AzimuthWindow& w : CleanWindows(events, -180.0, 180.0, c.width, c.fraction)) found.emplace_back(w.start, w.end);
        EXPECT_EQ(found, c.windows) << c.width << " " << c.fraction;
    }
    // Without events the whole window is clean. Silicon between -20 and 20 degrees has no clean
    // 5 degrees: the run says so, also with --quiet.
    EXPECT_EQ(CleanWindows({}, -90.0, 90.0, 180.0, 0.01).size(), 1u);
    const KeltoRun run = RunKelto("", FreshFolder("clean"), kSilicon + "--wavelength 1.5406 --band 0.02 --hmax 7 "
                                                                       "--clean 5 -q --psi -20,20");
    EXPECT_TRUE(run.output.ends_with("No clean azimuth window at least 5.000 degrees wide (no event above 0.0100 "
                                     "of the strongest)\n")) << run.output;
}

// At a fixed azimuth, 1 1 1 on (0 0 2) (k2 = 1/8, p2 = 1, psi0 = 45) is on the sphere at
// lambda = a / sqrt(k2 / cos^2(psi - 45) + p2); -1 -1 1, its coupling reflection, is not.
TEST(Planning, GlitchEnergyFromTheDispersionCurve)
{
    const KeltoRun run = RunKelto("", FreshFolder("glitches"), kSilicon + "--glitches glitches.csv --at-psi 10 --energies 1,30");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_FALSE(HasAnyOutputFile(run));
    const double c = std::cos(-35.0 * std::numbers::pi / 180.0);
    const double lambda = 5.431f / std::sqrt(0.125 / (c * c) + 1.0);
    int found = 0;
    std::set<std::tuple<int, int, int>> seen;
    double previous = 0.0;
    for (const auto& g : Table(run.File("glitches.csv"))) {
        const double energy = Number(g, "energy_keV");
        EXPECT_TRUE(energy >= 1.0 && energy <= 30.0 && energy >= previous);
        previous = energy;
        EXPECT_TRUE(seen.insert(Indices(g)).second);
        EXPECT_NE(Indices(g), std::make_tuple(-1, -1, 1));
        if (Indices(g) != std::make_tuple(1, 1, 1)) continue;
        ++found;
        EXPECT_NEAR(Number(g, "wavelength"), lambda, 1e-6);
        EXPECT_NEAR(energy, kHcKeVAngstrom / lambda, 1e-6);
    }
    EXPECT_EQ(found, 1);
}
