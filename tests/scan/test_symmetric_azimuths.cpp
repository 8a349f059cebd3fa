// The azimuths the crystal's symmetry gives one glitch spectrum, checked against the Ewald
// construction: every listed azimuth has the spectrum of psi to the printed digits, and every
// azimuth that has it is listed (found by putting each reflection at psi's lowest glitch), for
// cubic, hexagonal and trigonal crystals, with and without a centre of symmetry.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "glitch_energies.h"
#include "scan/symmetric_azimuths.h"
#include "planning_cases.h"

namespace {

// The spectra agree to the table's six decimals of keV.
bool SameSpectrum(const std::vector<ewald::TrueGlitch>& a, const std::vector<ewald::TrueGlitch>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::fabs(a[i].keV - b[i].keV) > 5e-7) return false;
    }
    return true;
}

TEST(SymmetricAzimuths, AreExactlyThoseWithTheSameSpectrum)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const auto gaas = Shipped("GaAs"), sic = Shipped("4H-SiC"), sapphire = Shipped("sapphire"), niobate = Shipped("LiNbO3");
    // count: the azimuths of the circle with psi's spectrum.
    const struct { const char* name; const Crystal& crystal; Miller primary; std::size_t count; } cases[] = {
        {"Si 1 1 1 (m-3m: 3m about G)", silicon, {1, 1, 1}, 6}, {"Si 0 0 4 (4mm about G)", silicon, {0, 0, 4}, 8},
        {"Si 2 2 0 (mm2 about G)", silicon, {2, 2, 0}, 4},
        // -4 3 m: -4 about 2 0 0 sends G to -G, with Friedel's inversion a turn of 90.
        {"GaAs 2 0 0 (-4 about G)", *gaas, {2, 0, 0}, 8}, {"4H-SiC 0 0 4 (6mm)", *sic, {0, 0, 4}, 12},
        {"4H-SiC 1 1 0 (a mirror across G)", *sic, {1, 1, 0}, 4}, {"sapphire 1 0 4 (a mirror through G)", *sapphire, {1, 0, 4}, 2},
        // 3m about G, and psi + 180, where G - X is on the sphere at X's energy: the structure
        // allows G - X where it allows X (the R lattice's condition is linear, the glide's along G).
        {"sapphire 0 0 6", *sapphire, {0, 0, 6}, 12}, {"LiNbO3 0 0 6", *niobate, {0, 0, 6}, 12},
        // One glide plane of 3m holds G; the glide's condition bars psi + 180.
        {"LiNbO3 3 0 0", *niobate, {3, 0, 0}, 2},
    };
    const double psi = 23.456, eMin = 5.0, eMax = 8.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScanFrame frame = MatrixFrame(c.crystal.lattice(), c.primary);
        const std::vector<Miller> reflections = ewald::AllowedReflections(c.crystal, c.primary, 2.0 * eMax / 12.398419843320026);
        const std::vector<ewald::TrueGlitch> spectrum = ewald::GlitchesAmong(c.crystal, frame, reflections, psi, eMin, eMax);
        ASSERT_GT(spectrum.size(), 20u);
        // Every azimuth with the spectrum meets psi's lowest glitch with some reflection there.
        std::vector<double> same;
        const double lowest = spectrum.front().keV;
        for (const Miller& m : reflections) {
            const Vec3 x = c.crystal.lattice().Reciprocal(m);
            const double a = std::sqrt(std::pow(lowest / 12.398419843320026, 2) - frame.length * frame.length / 4.0);
            const double along = (Dot(frame.G, x) - Dot(x, x)) / (2.0 * frame.beam * a);  // (cos psi e2 + sin psi e3) . X
            const double x2 = Dot(x, frame.e2), x3 = Dot(x, frame.e3), across = std::hypot(x2, x3);
            if (!(std::fabs(along) <= across)) continue;
            for (const double side : {1.0, -1.0}) {
                const double at = (std::atan2(x3, x2) + side * std::acos(along / across)) * 180.0 / 3.141592653589793;
                const double folded = at - 360.0 * std::floor((at + 180.0) / 360.0);
                if (!SameSpectrum(ewald::GlitchesAmong(c.crystal, frame, reflections, folded, eMin, eMax), spectrum)) continue;
                if (std::none_of(same.begin(), same.end(), [&](double s) { return std::fabs(s - folded) < 1e-6; })) same.push_back(folded);
            }
        }
        std::sort(same.begin(), same.end());
        const std::vector<double> listed = SymmetricAzimuths(AzimuthSymmetries(c.crystal, frame, eMax), psi, {-180.0, 180.0});
        EXPECT_EQ(listed.size(), c.count);
        EXPECT_EQ(same.size(), c.count);
        if (listed.size() != same.size()) continue;
        for (std::size_t i = 0; i < listed.size(); ++i) EXPECT_NEAR(listed[i], same[i], 1e-6);
    }
}

}  // namespace
