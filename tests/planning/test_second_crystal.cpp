// A double monochromator's second crystal at its own azimuth: its glitches, and its levels on the
// glitch map, against the Ewald construction of the test, and the azimuth of a channel-cut's second wall against that wall
// worked out as it stands, reflecting -G with the beam the first wall sends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "glitch_energies.h"
#include "kelto_run.h"
#include "planning/second_crystal.h"
#include "planning_cases.h"

namespace {

struct PairCase {
    const char* crystal;
    Miller primary;
    std::optional<Miller> reference;
    double psi, eMin, eMax;
};

const PairCase kPairs[] = {
    {"Si", {1, 1, 1}, Miller{1, -1, 0}, 10.0, 8.0, 12.0},
    {"Si", {2, 2, 0}, Miller{-1, 1, -2}, 7.3, 9.0, 11.0},
    {"GaAs", {1, 1, 1}, std::nullopt, -63.0, 7.0, 10.0},  // no centre of symmetry; the matrix's frame
    {"quartz", {1, 0, 1}, Miller{0, 1, 0}, 151.0, 6.0, 8.0},
};

constexpr double kHc = 12.398419843320026;  // keV angstrom

// The second wall of a channel-cut as it stands: the same lattice reflecting -G, its incident beam
// the first wall's G beam k0 + G = G / 2 + a u (u the first's beam direction across G). Y lies on
// its sphere where 2 (k0 + G) . Y + |Y|^2 = 0, that is at a = -(G . Y + |Y|^2) / (2 u . Y).
std::vector<double> SecondWallEnergies(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax)
{
    const double r = psi * 3.141592653589793 / 180.0;
    const Vec3 u = frame.beam * (std::cos(r) * frame.e2 + std::sin(r) * frame.e3);
    std::vector<double> energies;
    for (const Miller& m : ewald::AllowedReflections(crystal, frame.primary, 2.0 * eMax / kHc)) {
        const Vec3 y = crystal.lattice().Reciprocal(m);
        const double a = -(Dot(frame.G, y) + Dot(y, y)) / (2.0 * Dot(u, y));
        if (!(a > 0.0)) continue;
        const double keV = kHc * std::sqrt(a * a + Dot(frame.G, frame.G) / 4.0);
        if (keV >= eMin && keV <= eMax) energies.push_back(keV);
    }
    std::sort(energies.begin(), energies.end());
    return energies;
}

std::vector<double> EnergiesOf(const std::vector<ewald::TrueGlitch>& glitches)
{
    std::vector<double> energies;
    for (const ewald::TrueGlitch& g : glitches) energies.push_back(g.keV);
    return energies;
}

void ExpectSameEnergies(const std::vector<double>& found, const std::vector<double>& expected)
{
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_NEAR(found[i], expected[i], 1e-9 * expected[i]) << i;
}

}  // namespace

// A crystal at the azimuth given for a channel-cut's second wall meets that wall's glitches, for
// crystals with and without a centre of symmetry, in either frame of psi.
TEST(SecondCrystal, ChannelCutWallSitsAtItsAzimuth)
{
    for (const PairCase& c : kPairs) {
        SCOPED_TRACE(c.crystal);
        const std::unique_ptr<Crystal> crystal = Shipped(c.crystal);
        const ScanSetting scan = SetUpScan(*crystal, c.primary, c.reference, BeamRequest{}, kOptionNames);
        const std::vector<double> wall = SecondWallEnergies(*crystal, scan.frame, c.psi, c.eMin, c.eMax);
        ASSERT_FALSE(wall.empty());
        std::vector<double> found;
        for (const Glitch& g : FindGlitches(*crystal, scan.frame, ChannelCutSecondPsi(c.psi), c.eMin, c.eMax)) found.push_back(g.energy);
        ExpectSameEnergies(found, wall);
    }
}

// With the second crystal elsewhere, each crystal's glitches are those of one crystal at its own
// azimuth, marked by crystal; at the channel-cut's azimuth, or an image of it by the symmetry,
// the pair is the channel-cut, and near it it is not.
TEST(SecondCrystal, EachCrystalMeetsItsOwnGlitches)
{
    const PairCase& c = kPairs[0];
    const std::unique_ptr<Crystal> silicon = Shipped(c.crystal);
    BeamRequest beam;
    beam.monochromator = Monochromator::kDouble;
    const ScanSetting scan = SetUpScan(*silicon, c.primary, c.reference, beam, kOptionNames);
    const double second = 41.0;
    const std::vector<Glitch> pair = ShapedPairGlitches(scan, c.psi, second, c.eMin, c.eMax, 1);
    std::vector<double> found[2];
    for (const Glitch& g : pair) found[g.crystal - 1].push_back(g.energy);
    EXPECT_TRUE(std::is_sorted(pair.begin(), pair.end(), [](const Glitch& a, const Glitch& b) { return a.energy < b.energy; }));
    ExpectSameEnergies(found[0], EnergiesOf(ewald::Glitches(*silicon, scan.frame, c.psi, c.eMin, c.eMax)));
    ExpectSameEnergies(found[1], EnergiesOf(ewald::Glitches(*silicon, scan.frame, second, c.eMin, c.eMax)));

    // Silicon 1 1 1 turns into itself every 120 degrees about G.
    for (const double wall : {ChannelCutSecondPsi(c.psi), ChannelCutSecondPsi(c.psi) + 120.0, ChannelCutSecondPsi(c.psi) - 240.0}) {
        EXPECT_TRUE(SecondAtChannelCut(scan, c.psi, wall, c.eMax)) << wall;
    }
    EXPECT_FALSE(SecondAtChannelCut(scan, c.psi, ChannelCutSecondPsi(c.psi) + 0.01, c.eMax));
    EXPECT_FALSE(SecondAtChannelCut(scan, c.psi, c.psi, c.eMax));
}

// On the glitch map the second crystal stays put as the first turns: its glitches, with their
// harmonics, are levels across the window at the energies of one crystal at its azimuth; when the
// first's azimuth puts it where a channel-cut's wall would be, the pair is a channel-cut and adds none.
TEST(SecondCrystal, MapHoldsTheSecondsGlitchesAsLevels)
{
    const struct { const PairCase& pair; double second; int harmonics; } cases[] = {
        {kPairs[0], 41.0, 1},
        {kPairs[1], -100.0, 2},  // silicon 4 4 0 passes the second harmonic
    };
    const PsiWindow window{0.0, 20.0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        const std::unique_ptr<Crystal> crystal = Shipped(c.pair.crystal);
        BeamRequest beam;
        beam.monochromator = Monochromator::kDouble;
        const ScanSetting scan = SetUpScan(*crystal, c.pair.primary, c.pair.reference, beam, kOptionNames);
        const std::vector<GlitchLine> lines =
            ShapedPairGlitchMap(scan, window, std::nullopt, c.second, c.pair.eMin, c.pair.eMax, c.harmonics);
        std::vector<double> levels;
        for (const GlitchLine& g : lines) {
            if (g.crystal != 2) continue;
            levels.push_back(g.topEnergy);
            EXPECT_TRUE(g.from == window.min && g.to == window.max && g.centre == c.second) << g.topEnergy;
        }
        const std::vector<ewald::TrueGlitch> expected =
            ewald::Glitches(*crystal, scan.frame, c.second, c.pair.eMin, c.pair.eMax, c.harmonics);
        EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const ewald::TrueGlitch& g) { return g.order == c.harmonics; }));
        ExpectSameEnergies(levels, EnergiesOf(expected));
        if (c.harmonics > 1) continue;  // the channel-cut's case once: the map takes its time

        for (const double wall : {ChannelCutSecondPsi(c.pair.psi), ChannelCutSecondPsi(c.pair.psi) + 0.5}) {
            const std::vector<GlitchLine> pair =
                ShapedPairGlitchMap(scan, window, c.pair.psi, wall, c.pair.eMin, c.pair.eMax, c.harmonics);
            const bool cut = wall == ChannelCutSecondPsi(c.pair.psi);
            EXPECT_EQ(std::none_of(pair.begin(), pair.end(), [](const GlitchLine& g) { return g.crystal == 2; }), cut) << wall;
        }
    }
}

// The command line: a double monochromator whose second crystal sits at the channel-cut's azimuth
// predicts the channel-cut's glitches, spectrum and glitch map, row for row; and a clean-energy search says
// whether the second crystal, which the first's turning does not move, spoils the range.
TEST(SecondCrystal, ChannelCutIsTheDoubleAtItsWallsAzimuth)
{
    const std::string si111 = "--crystal Si --primary 1,1,1 --reference 1,-1,0 --energies 8,10 ";
    const auto tables = [&](const std::string& name, const std::string& monochromator) {
        const KeltoRun run = RunKelto("", FreshFolder("second_crystal_" + name),
                                      si111 + "--at-psi 10 --glitches g.csv --spectrum s.csv --glitch-map m.csv --psi 0,60 "
                                              "--monochromator " + monochromator);
        EXPECT_EQ(run.status, 0) << run.errors;
        const auto body = [](const std::string& text) { return text.substr(text.find('\n') + 1); };
        return std::make_tuple(body(run.File("g.csv")), body(run.File("s.csv")), body(run.File("m.csv")));
    };
    const auto channelCut = tables("cut", "channel-cut");
    EXPECT_EQ(tables("wall", "double --second-psi " + std::to_string(ChannelCutSecondPsi(10.0))), channelCut);
    const auto apart = tables("apart", "double --second-psi 40");
    EXPECT_TRUE(std::get<0>(apart) != std::get<0>(channelCut) && std::get<2>(apart) != std::get<2>(channelCut));

    const struct { std::string second, says; } clean[] = {
        {"", "the clean windows take the two crystals turned together"},
        {"--second-psi 40 ", "the second crystal at psi 40 degrees spoils 8 to 12 keV whatever the first's azimuth"},
        {"--second-psi 40 --clean-energies 8.9,8.905 --max-depth 0.5 ", "the second crystal at psi 40 degrees has no glitch that counts from 8.9 to 8.905 keV"},
    };
    for (const auto& c : clean) {
        const KeltoRun run = RunKelto("", FreshFolder("second_crystal_clean"),
                                      "--crystal Si --primary 1,1,1 --reference 1,-1,0 --clean-energies 8,12 --monochromator double " + c.second);
        EXPECT_TRUE(run.status == 0 && run.errors.find(c.says) != std::string::npos) << c.second << run.errors;
    }
}
