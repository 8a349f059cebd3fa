// Crystals from CIF files: structure factors worked out by hand from the atoms (the two-element
// GaAs, a half-occupied site, germanium across its K edge), an event of a hexagonal crystal worked
// out from its cell, and the silicon CIF against the cubic options.
#include <gtest/gtest.h>

#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>

#include "crystal/cif_crystal.h"
#include "crystal/shipped_crystals.h"
#include "scan/events.h"
#include "dynamics/glitch_depth.h"
#include "glitches/glitches.h"
#include "io/run_error.h"
#include "kelto_run.h"
#include "planning_cases.h"
#include "setup/units.h"

namespace {

using Complex = std::complex<double>;

// f0 + f' + i f'' of an element at s^2 = (sin theta / lambda)^2 and the energy, from the tables.
Complex AtomFactor(gemmi::El element, double s2, double keV)
{
    double fpp = 0;
    const double fp = gemmi::cromer_liberman(static_cast<int>(element), keV * 1000, &fpp);
    return gemmi::IT92<double>::get(element).calculate_sf(s2) + Complex(fp, fpp);
}

// The operations of gemmi's group `name`, one a line, quoted.
std::string Operations(const char* name)
{
    std::string text;
    for (const gemmi::Op& op : gemmi::find_spacegroup_by_name(name)->operations()) text += "'" + op.triplet() + "'\n";
    return text;
}

// `count` loop rows, row i made by `row(i)`.
std::string Rows(int count, auto row)
{
    std::string rows;
    for (int i = 0; i < count; ++i) rows += row(i);
    return rows;
}

}  // namespace

// Zinc blende: 4 Ga at the fcc positions, 4 As a quarter of the diagonal on. For 0 0 2 the Ga
// phases are all 1 and the As phases all exp(i pi) = -1: F = 4 (f_Ga - f_As), the quasi-forbidden
// reflection; for 1 1 1 F = 4 (f_Ga - i f_As); for 2 0 0 and 0 0 2 alike; 1 0 0 is forbidden.
// Half an atom of Si and half of Ge on each diamond site scatter as their mean.
TEST(CifCrystal, StructureFactorsWorkedOutByHand)
{
    const double a = 5.65325, keV = 8.048;
    const auto gaas = FromText(CubicCif(a, "F -4 3 m", "Ga1 Ga 0 0 0 1 0.6\nAs1 As 0.25 0.25 0.25 1 0.5\n"));
    ASSERT_EQ(gaas->atoms().size(), 8u);
    const auto scattering = gaas->At(keV);
    const auto s2 = [a](double n2) { return n2 / (4 * a * a); };
    const auto ga = [&](double n2) { return AtomFactor(gemmi::El::Ga, s2(n2), keV) * std::exp(-0.6 * s2(n2)); };
    const auto as = [&](double n2) { return AtomFactor(gemmi::El::As, s2(n2), keV) * std::exp(-0.5 * s2(n2)); };
    const struct { Miller m; Complex F; } cases[] = {
        {{0, 0, 2}, 4.0 * (ga(4) - as(4))}, {{2, 0, 0}, 4.0 * (ga(4) - as(4))}, {{1, 1, 1}, 4.0 * (ga(3) - Complex(0, 1) * as(3))},
        {{0, 0, 4}, 4.0 * (ga(16) + as(16))}, {{1, 0, 0}, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_LT(std::abs(scattering->F(c.m) - c.F), 1e-9 * std::abs(4.0 * (ga(0) + as(0))))
            << c.m.h << c.m.k << c.m.l << " " << scattering->F(c.m) << " " << c.F;
    }
    EXPECT_TRUE(gaas->Extinct({1, 0, 0}) && !scattering->Allows({1, 0, 0}) && scattering->Allows({0, 0, 2}));
    EXPECT_FALSE(gaas->Extinct({0, 0, 2}));

    const auto alloy = FromText(CubicCif(5.54, "F d -3 m :1", "Si1 Si 0 0 0 0.5 0\nGe1 Ge 0 0 0 0.5 0\n"));
    // The pure crystal's site lies a hair off the origin: its images stay inside the cell, none at x = 1.
    const auto pure = FromText(CubicCif(5.54, "F d -3 m :1", "Si1 Si -1e-30 1e-30 0 1 0\n"));
    const double n2 = 3 / (4 * 5.54 * 5.54);
    const Complex mean = 0.5 * (AtomFactor(gemmi::El::Si, n2, keV) + AtomFactor(gemmi::El::Ge, n2, keV));
    EXPECT_NEAR(std::abs(alloy->At(keV)->F({1, 1, 1})), 4 * std::sqrt(2.0) * std::abs(mean), 1e-9);
    EXPECT_NEAR(std::abs(pure->At(keV)->F({1, 1, 1})), 4 * std::sqrt(2.0) * std::abs(AtomFactor(gemmi::El::Si, n2, keV)), 1e-9);
    ASSERT_EQ(alloy->atoms().size(), 16u);  // eight sites, each two half atoms
    // A site shared in rounded thirds holds one atom; two half atoms 0.0554 angstrom apart are two sites.
    const std::string thirds = "Si1 Si 0 0 0 0.3334 0\nGe1 Ge 0 0 0 0.3334 0\nC1 C 0 0 0 0.3334 0\n";
    EXPECT_EQ(FromText(CubicCif(5.54, "F d -3 m :1", thirds))->atoms().size(), 24u);
    EXPECT_EQ(FromText(CubicCif(5.54, "P 1", "Si1 Si 0 0 0 0.5 0\nGe1 Ge 0.01 0 0 0.5 0\n"))->atoms().size(), 2u);

    for (const CifAtom& atom : pure->atoms()) EXPECT_TRUE(atom.x < 1.0 && atom.y < 1.0) << atom.x << " " << atom.y;
}

// Three atoms at general positions with their own displacements, summed by hand, for reflections
// inside the limiting sphere of the energy (where the atoms' phases come from tables), beyond it,
// and again once a higher energy has widened the tables.
TEST(CifCrystal, StructureFactorsOfGeneralPositions)
{
    const double a = 4.9;
    const struct { gemmi::El element; const char* symbol; double x, y, z, occupancy, b; } atoms[] = {
        {gemmi::El::Si, "Si", 0.1234, 0.8765, 0.3141, 1.0, 0.4}, {gemmi::El::O, "O", 0.7071, 0.2718, 0.5772, 0.5, 1.1},
        {gemmi::El::Fe, "Fe", 0.4142, 0.1618, 0.9009, 1.0, 0.0},
    };
    std::string sites;
    for (const auto& at : atoms) {
        char row[128];
        std::snprintf(row, sizeof row, "%s1 %s %.4f %.4f %.4f %.2f %.1f\n", at.symbol, at.symbol, at.x, at.y, at.z, at.occupancy, at.b);
        sites += row;
    }
    const auto crystal = FromText(CubicCif(a, "P 1", sites));
    const auto byHand = [&](Miller m, double keV) {
        const double s2 = (m.h * m.h + m.k * m.k + m.l * m.l) / (4 * a * a);
        Complex F = 0.0;
        for (const auto& at : atoms) {
            const double phase = 2 * std::numbers::pi * (m.h * at.x + m.k * at.y + m.l * at.z);
            F += at.occupancy * AtomFactor(at.element, s2, keV) * std::exp(-at.b * s2) * std::polar(1.0, phase);
        }
        return F;
    };
    const struct { double keV; Miller m; } cases[] = {
        {8.0, {1, 2, 3}}, {8.0, {-5, 4, -2}}, {8.0, {0, 0, 6}},
        {8.0, {23, -19, 31}},   // far beyond the limiting sphere at 8 keV
        {30.0, {23, -19, 17}},  // inside it at 30 keV: the tables now reach it
        {8.0, {-5, 4, -2}},     // and the narrower energy uses the wider tables
    };
    for (const auto& c : cases) {
        const Complex expected = byHand(c.m, c.keV);
        const Complex F = crystal->At(c.keV)->F(c.m);
        EXPECT_LT(std::abs(F - expected), 1e-10 * std::abs(byHand({0, 0, 0}, c.keV))) << c.keV << " " << c.m.h << c.m.k << c.m.l;
        EXPECT_FALSE(crystal->Extinct(c.m));
    }
}

// A cell of F -4 3 m, 206 atoms on general and special positions, just above the Ga K edge (f''
// near 3.9 electrons: Friedel mates scatter apart), against the same atoms written out in P 1,
// whose structure factors are summed over every atom, no sets of equivalent reflections: each
// complex F to 1e-12 of F(0 0 0); the same events and glitches, with |F| to 1e-12, their widths
// and depths to 1e-3.
TEST(CifCrystal, SetsOfEquivalentReflectionsAgainstDirectSums)
{
    const double keV = 10.38;
    const auto crystal = FromText(CubicCif(12.0, "F -4 3 m",
                                           "Ga1 Ga 0 0 0 1 0.6\nAs1 As 0.25 0.25 0.25 0.5 0.5\nFe1 Fe 0.1234 0.2718 0.3141 0.5 0.8\n"
                                           "As2 As 0.4142 0.1618 0.0577 0.5 0.4\nGa2 Ga 0.31 0.31 0.0 1 0.7\n"));
    ASSERT_EQ(crystal->atoms().size(), 4u + 4 + 96 + 96 + 48);
    std::string sites;
    int n = 0;
    for (const CifAtom& a : crystal->atoms()) {
        sites += Printed("A%d %s %.17g %.17g %.17g %.17g %.17g\n", ++n, gemmi::Element(a.element).name(), a.x, a.y, a.z, a.occupancy, a.b);
    }
    const auto written = FromText(CubicCif(12.0, "P 1", sites));
    const CifCrystal& direct = *written;
    const auto made = crystal->At(keV), summed = direct.At(keV);
    const double largest = std::abs(summed->F({0, 0, 0}));
    double bijvoet = 0;
    for (int h = -3; h <= 3; ++h) {
        for (int k = -3; k <= 3; ++k) {
            for (int l = -3; l <= 3; ++l) {
                EXPECT_LT(std::abs(made->F({h, k, l}) - summed->F({h, k, l})), 1e-12 * largest) << h << " " << k << " " << l;
                EXPECT_EQ(crystal->Extinct({h, k, l}), direct.Extinct({h, k, l})) << h << " " << k << " " << l;
                bijvoet = std::max(bijvoet, std::fabs(std::abs(summed->F({h, k, l})) - std::abs(summed->F({-h, -k, -l}))));
            }
        }
    }
    EXPECT_GT(bijvoet, 1.0);  // the mates' |F| differ by electrons, far beyond the tolerance
    const ScanFrame frame = MatrixFrame(crystal->lattice(), {0, 0, 4});
    const Band band{kHcKeVAngstrom / keV, 0.002};
    std::vector<Event> events = FindEvents(*crystal, frame, band, {-180, 180}), expected = FindEvents(direct, frame, band, {-180, 180});
    ASSERT_EQ(events.size(), expected.size());
    ASSERT_GT(events.size(), 1000u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event &e = events[i], &d = expected[i];
        EXPECT_TRUE(e.x == d.x && e.psi == d.psi && e.passage == d.passage) << i;
        EXPECT_LT(std::fabs(e.F - d.F) + std::fabs(e.couplingF - d.couplingF), 1e-12 * largest) << i;
    }
    std::vector<Glitch> glitches = FindGlitchesWithHarmonics(*crystal, frame, 15, 10.3, 10.5, 2);
    std::vector<Glitch> reference = FindGlitchesWithHarmonics(direct, frame, 15, 10.3, 10.5, 2);
    ShapeGlitches(*crystal, frame, 15, 10.3, 10.5, Beam{}, &glitches);
    ShapeGlitches(direct, frame, 15, 10.3, 10.5, Beam{}, &reference);
    ASSERT_EQ(glitches.size(), reference.size());
    ASSERT_GT(glitches.size(), 50u);
    for (std::size_t i = 0; i < glitches.size(); ++i) {
        const Glitch &g = glitches[i], &d = reference[i];
        EXPECT_TRUE(g.x == d.x && g.energy == d.energy && g.order == d.order) << i;
        EXPECT_LT(std::fabs(g.F - d.F) + std::fabs(g.couplingF - d.couplingF), 1e-12 * largest) << i;
        // A dip is the loss binned along the deviation and integrated over nodes chosen from the
        // case: F that differ by rounding move nodes across bins, to some 1e-4 of the dip.
        EXPECT_NEAR(g.depth, d.depth, 1e-3 * d.depth + 1e-12) << i;
        EXPECT_NEAR(g.widthEV, d.widthEV, 1e-3 * d.widthEV) << i;
    }
}

// Germanium across its K edge (11.103 keV): the event of 1 1 1 on 0 0 2 carries
// |F(1 1 1)| = 4 sqrt 2 |f0 + f' + i f''| exp(-B s^2) at the run's energy, which jumps at the edge.
TEST(CifCrystal, AnomalousScatteringAtTheKEdge)
{
    std::string notice;
    const auto germanium = CifCrystal::Read(ShippedCrystalPath("Ge"), &notice);
    EXPECT_TRUE(notice.empty());
    const double a = germanium->lattice().a(), s2 = 3 / (4 * a * a), b = germanium->atoms().front().b;
    double previous = 0;
    for (double keV : {11.08, 11.10, 11.106, 11.13}) {
        const std::vector<Event> events =
            FindEvents(*germanium, MatrixFrame(germanium->lattice(), {0, 0, 2}), {kHcKeVAngstrom / keV, 0.001}, {-180, 180});
        const auto found = std::find_if(events.begin(), events.end(), [](const Event& e) { return e.x == Miller{1, 1, 1}; });
        ASSERT_NE(found, events.end()) << keV;
        const double expected = 4 * std::sqrt(2.0) * std::abs(AtomFactor(gemmi::El::Ge, s2, keV)) * std::exp(-b * s2);
        EXPECT_NEAR(found->F, expected, 1e-9) << keV;
        EXPECT_TRUE(keV != 11.106 || found->F - previous > 0.2) << found->F - previous;  // f'' jumps by about 3.4 electrons
        previous = found->F;
    }
}

// Sapphire 0 0 6 from 1 0 0 (hexagonal axes, a = 4.7589, c = 12.991 A): |a*| = 2 / (a sqrt 3),
// c* = 1 / c along G, a* and b* 60 degrees apart. X = 1 0 4 lies across G along a*, at psi 0;
// n = (|X|^2 - X.G) / 2 = (4 / 3a^2 + 16 / c^2 - 24 / c^2) / 2 and |k_perp|^2 = 1 / lambda^2 - 9 / c^2,
// so cos(psi) = -n / (|k_perp| |a*|): X enters the sphere at +psi, leaves at -psi, coupled
// through G - X = -1 0 2. Al given anisotropic U on its 3-fold axis, U11 = U22 = 2 U12 = u and
// U33 = v, has the principal values u, u, v: B = 8 pi^2 (2u + v) / 3.
TEST(CifCrystal, HexagonalEventWorkedOutFromTheCell)
{
    std::string text = ReadWholeFile(ShippedCrystalPath("sapphire"));
    text.replace(text.find("0.35216 1 0.19"), 14, "0.35216 1 ?");
    const auto sapphire = FromText(text + "loop_ _atom_site_aniso_label _atom_site_aniso_U_11 _atom_site_aniso_U_22 _atom_site_aniso_U_33"
                                          " _atom_site_aniso_U_12 _atom_site_aniso_U_13 _atom_site_aniso_U_23 Al1 0.01 0.01 0.02 0.005 0 0\n");
    for (const CifAtom& atom : sapphire->atoms()) {
        EXPECT_NEAR(atom.b, atom.element == 13 ? 8 * std::numbers::pi * std::numbers::pi * 0.04 / 3 : 0.23, 1e-12);
    }
    const double a = 4.7589, c = 12.991, lambda = 1.5406;
    const double n = (4 / (3 * a * a) + 16 / (c * c) - 24 / (c * c)) / 2;
    const double across = std::sqrt(1 / (lambda * lambda) - 9 / (c * c)), aStar = 2 / (a * std::sqrt(3.0));
    const double psi = std::acos(-n / (across * aStar)) * 180 / std::numbers::pi;
    const std::vector<Event> events =
        FindEvents(*sapphire, ReferenceFrame(sapphire->lattice(), {0, 0, 6}, {1, 0, 0}), {lambda, 0.01}, {-180, 180});
    for (const auto& [at, passage] : {std::pair{psi, Passage::kIn}, {-psi, Passage::kOut}}) {
        EXPECT_EQ(std::count_if(events.begin(), events.end(), [&](const Event& e) {
                      return e.x == Miller{1, 0, 4} && e.coupling == Miller{-1, 0, 2} && e.passage == passage &&
                             std::fabs(e.psi - at) < 1e-9 && e.strength > 0;
                  }), 1) << at;
    }
}

// The silicon CIF and the cubic options describe one crystal: the same events and glitches at the
// same azimuths and energies; |F| differs only by the two tables' f0 and by f' + i f''.
TEST(CifCrystal, SiliconTwoWays)
{
    const double a = 5.431020511, keV = 8.048, b = 0.117;  // the cubic options' temperature factor
    const auto fromCif = FromText(CubicCif(a, "F d -3 m :1", "Si1 Si 0 0 0 1 " + std::to_string(b) + "\n"));
    const CubicCrystal cubic = TableCrystal(4, a, "Si");
    const ScanFrame frame = MatrixFrame(cubic.lattice(), {0, 0, 2});
    const std::vector<Event> one = FindEvents(*fromCif, frame, {kHcKeVAngstrom / keV, 0.02}, {-180, 180});
    const std::vector<Event> other = FindEvents(cubic, frame, {kHcKeVAngstrom / keV, 0.02}, {-180, 180});
    ASSERT_EQ(one.size(), other.size());
    double fpp = 0;
    const double fp = gemmi::cromer_liberman(14, keV * 1000, &fpp);
    for (const Event& e : one) {
        const auto twin = std::find_if(other.begin(), other.end(), [&](const Event& o) {
            return o.x == e.x && o.passage == e.passage && std::fabs(o.psi - e.psi) < 1e-6;
        });
        ASSERT_NE(twin, other.end()) << e.x.h << " " << e.x.k << " " << e.x.l << " at " << e.psi;
        const double s2 = (double(e.x.h) * e.x.h + double(e.x.k) * e.x.k + double(e.x.l) * e.x.l) / (4 * a * a);
        const double f0Difference = 0.01;  // the table and gemmi's, both from International Tables 1992, rounded apart
        const bool odd = e.x.h % 2 != 0;   // F = 4 sqrt 2 f for odd indices, 8 f for even ones
        const double factor = (odd ? 4 * std::sqrt(2.0) : 8) * std::exp(-b * s2);
        EXPECT_LE(std::fabs(e.F - twin->F), factor * (f0Difference + std::abs(Complex(fp, fpp)))) << e.x.h << e.x.k << e.x.l;
    }
    // The shipped CIF: the same azimuths and energies for its own cell.
    const auto shipped = Shipped("si");
    const std::vector<Glitch> glitches = FindGlitches(*shipped, MatrixFrame(shipped->lattice(), {1, 1, 1}), 10, 5, 30);
    const std::vector<Glitch> cubicGlitches = FindGlitches(cubic, MatrixFrame(cubic.lattice(), {1, 1, 1}), 10, 5, 30);
    ASSERT_EQ(glitches.size(), cubicGlitches.size());
    for (std::size_t i = 0; i < glitches.size(); ++i) {
        EXPECT_TRUE(glitches[i].x == cubicGlitches[i].x && std::fabs(glitches[i].energy - cubicGlitches[i].energy) < 1e-6);
    }
}

// Broken CIFs are refused with status 1 and a message naming the file and the tag or line, and
// nothing is written; --crystal list names the shipped crystals.
TEST(CifCrystal, BrokenFilesAndOptionsAreRefused)
{
    const std::string good = ReadWholeFile(KELTO_SOURCE_DIR "/data/crystals/GaAs.cif");
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const auto cell = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& alpha = "90",
                          const std::string& beta = "90", const std::string& gamma = "90") {
        return edited("_cell_length_a 5.65325\n_cell_length_b 5.65325\n_cell_length_c 5.65325\n_cell_angle_alpha 90\n"
                      "_cell_angle_beta 90\n_cell_angle_gamma 90",
                      "_cell_length_a " + a + "\n_cell_length_b " + b + "\n_cell_length_c " + c + "\n_cell_angle_alpha " + alpha +
                          "\n_cell_angle_beta " + beta + "\n_cell_angle_gamma " + gamma);
    };
    std::string siliconFourAtoms = CubicCif(5.4307, "F d -3 m", "Si1 Si 0.125 0.125 0.125 1 0.46\n");
    siliconFourAtoms.replace(siliconFourAtoms.find("loop_"), 5, "_cell_formula_units_Z 4\n_chemical_formula_sum Si\nloop_");
    const struct { std::string text, message; } broken[] = {
        {edited("_cell_length_b 5.65325\n", ""), "c.cif: no _cell_length_b (the cell must be given)"},
        {edited("_cell_angle_gamma 90", "_cell_angle_gamma 190"), "c.cif:10: the cell 5.65325 5.65325 5.65325 90 90 190 is no cell: it needs positive lengths and angles between 0 and 180"},
        {cell("5.65325", "5.65325", "5.65325", "100", "20", "20"), "c.cif:10: the cell 5.65325 5.65325 5.65325 100 20 20 is no cell: its angles leave no volume"},
        // Cells beyond the doubles, named with their volume from its logarithm.
        {cell("1e300", "1e300", "1e300"), "c.cif:10: the cell 1e+300 1e+300 1e+300 90 90 90 is no cell: its volume 1e+900 angstrom^3 is beyond what kelto can compute with"},
        {cell("1e-300", "1e-300", "1e-300"), "is no cell: its volume 1e-900 angstrom^3 is beyond what kelto can compute with"},
        {cell("9.9999e102", "9.9999e102", "9.9999e102"), "is no cell: its volume 1e+309 angstrom^3 is beyond"},  // 9.9997e+308
        {cell("2e-160", "1e200", "1e200"), "is no cell: its length 2e-160 angstrom is beyond what kelto can compute with"},
        {edited("Ga1 Ga 0 0 0 1 0.66\nAs1 As 0.25 0.25 0.25 1 0.56\n", ""), "c.cif:19: no atom sites"},
        {edited("Ga1 Ga 0 0 0", "Ga1 Qq 0 0 0"), "c.cif:19: site Ga1: 'Qq' is no element"},
        {edited("Ga1 Ga 0 0 0", "Ga1 Ga . 0 0"), "c.cif:19: site Ga1 has no position"},  // '.' is 0 in ICSD's files only
        // More than one atom on a site, from the rows that share it: 0.999 1 0 is 0.0057 angstrom from the origin.
        {edited("Ga1 Ga 0 0 0 1 0.66\n", "Ga1 Ga 0 0 0 1 0.66\nGa2 Ga 0 0 0 1 0.66\n"),
         "c.cif:19: sites Ga1, Ga2 at 0 0 0 hold a total occupancy of 2, more than one atom"},
        {edited("Ga1 Ga 0 0 0 1 0.66\n", "Ga1 Ga 0 0 0 0.6 0.66\nAs2 As 0.999 1 0 0.5 0.66\n"),
         "c.cif:19: sites Ga1, As2 at 0 0 0 hold a total occupancy of 1.1, more than one atom"},
        {edited("Ga1 Ga 0 0 0 1 0.66\n", "Ga1 Ga 0 0 0 0.5 0.66\nGa2 Ga 0 0 0 0.502 0.66\n"), "hold a total occupancy of 1.002"},
        {edited("As1 As 0.25 0.25 0.25 1 0.56\n", Rows(7, [](int i) { return "As" + std::to_string(i) + " As 0.25 0.25 0.25 0.2 0.56\n"; })),
         "c.cif:19: sites As0, As1, As2, As3 and 3 more at 0.25 0.25 0.25 hold a total occupancy of 1.4, more than one atom"},
        // Atoms closer than any bond allows: As2 on 24f of F -4 3 m, 0.1 a from Ga1 (a limit of 0.65 of
        // the covalent radii 1.22 and 1.19 angstrom); an F-centring image of Ga1 listed with another
        // occupancy, so that the place holds 1.6 atoms.
        {edited("As1 As 0.25 0.25 0.25 1 0.56\n", "As1 As 0.25 0.25 0.25 1 0.56\nAs2 As 0.1 0 0 1 0.56\n"),
         "c.cif:19: atoms of Ga1 and As2 would stand 0.565 angstrom apart, closer than any bond between them allows (1.57 angstrom)"},
        {edited("Ga1 Ga 0 0 0 1 0.66\n", "Ga1 Ga 0 0 0 1 0.66\nGa2 Ga 0.5 0.5 0 0.6 0.66\n"),
         "c.cif:19: the symmetry puts sites Ga1 and Ga2 on one place, 0 0 0, where they hold a total occupancy of 1.6, more than one atom"},
        // Labels for elements, without type symbols: water sites Wat1 and Wat2 begin with no element of
        // the formula (W, read from the first letter, is not in 'Ga As').
        {edited("As1 As 0.25 0.25 0.25 1 0.56\n", "As1 As 0.25 0.25 0.25 1 0.56\nWat1 ? 0.5 0.5 0.5 1 2\nWat2 ? 0.75 0.75 0.75 1 2\n"),
         "c.cif:19: sites Wat1 and Wat2 give no _atom_site_type_symbol, and their labels begin with no element of "
         "_chemical_formula_sum 'Ga As' (the labels would give W): give their _atom_site_type_symbol"},
        {edited("Ga1 Ga 0 0 0", "Ga1 HCO3- 0 0 0"), "c.cif:19: site Ga1: 'HCO3-' is no element"},  // a group of two atoms besides hydrogen
        {edited("_space_group_name_Hall 'F -4 2 3'", "_space_group_symop_operation_xyz 'x,y,q'"),
         "c.cif:18: _space_group_symop_operation_xyz 'x,y,q' is no symmetry operation"},
        // Every source of the symmetry unreadable; an unknown Hall symbol alone would be passed over.
        {edited("_space_group_IT_number 216\n_space_group_name_H-M_alt 'F -4 3 m'\n_space_group_name_Hall 'F -4 2 3'",
                "_space_group_IT_number 999\n_space_group_name_H-M_alt 'Q 9'\n_space_group_name_Hall 'Q 9'"),
         "c.cif:18: _space_group_name_Hall 'Q 9' is no Hall symbol kelto knows; _space_group_name_H-M_alt 'Q 9' (line 17) is no "
         "space group kelto knows; _space_group_IT_number '999' (line 16) is no space group number (1 to 230)"},
        {edited("_space_group_name_Hall 'F -4 2 3'", "loop_\n_space_group_symop_operation_xyz\nx,y,z\n-x,y,z+1/3\n"),
         "c.cif:18: _space_group_symop_operation_xyz lists operations that make no group: '-x,y,z+1/3' after '-x,y,z+1/3' is "
         "'x,y,z+2/3', which is not listed"},
        {edited("_space_group_name_Hall 'F -4 2 3'", "loop_\n_space_group_symop_magn_operation.xyz\n'x,y,z'\n"),
         "c.cif:18: _space_group_symop_magn_operation.xyz 'x,y,z' is no symmetry operation: a magnetic operation ends in its time "
         "reversal, +1 or -1"},
        // A number alone names the group's standard setting, which this cell (gamma 100) does not fit.
        {edited("_cell_angle_gamma 90\n_space_group_IT_number 216\n_space_group_name_H-M_alt 'F -4 3 m'\n_space_group_name_Hall 'F -4 2 3'",
                "_cell_angle_gamma 100\n_space_group_IT_number 14"),
         "c.cif:16: _space_group_IT_number '14' is the group P 1 21/c 1, whose symmetry the cell does not have; the cell has it as "
         "'P 1 1 21/a', 'P 1 1 21/n' and 'P 1 1 21/b': name the one meant"},
        // Named, or listed, a group the cell (gamma 120) has in no setting.
        {edited("_cell_angle_gamma 90\n_space_group_IT_number 216\n_space_group_name_H-M_alt 'F -4 3 m'\n_space_group_name_Hall 'F -4 2 3'",
                "_cell_angle_gamma 120\n_space_group_name_H-M_alt 'P 4/m m m'"),
         "c.cif:16: _space_group_name_H-M_alt 'P 4/m m m' is the group P 4/m m m, whose symmetry the cell does not have in any setting"},
        {edited("_cell_angle_gamma 90\n_space_group_IT_number 216\n_space_group_name_H-M_alt 'F -4 3 m'\n_space_group_name_Hall 'F -4 2 3'",
                "_cell_angle_gamma 120\nloop_\n_space_group_symop_operation_xyz\n" + Operations("P 4/m m m")),
         "c.cif:16: _space_group_symop_operation_xyz lists the operations of the group P 4/m m m, whose symmetry the cell does not have"},
        // Two origin choices, the file stating neither: silicon at 1/8 1/8 1/8 fits both without Z,
        // and neither with a wrong one.
        {CubicCif(5.4307, "F d -3 m", "Si1 Si 0.125 0.125 0.125 1 0.46\n"),
         "c.cif:8: _space_group_name_H-M_alt 'F d -3 m' names a group of two origin choices and the file states neither; the "
         "structure fits both (choice 1: 16 Si; choice 2: 8 Si): name it 'F d -3 m :1' or 'F d -3 m :2', or list its operations"},
        {siliconFourAtoms,
         "the structure fits neither (choice 1: the cell would hold 16 Si where Z = 4 formula units of Si hold 4; choice 2: the "
         "cell would hold 8 Si where Z = 4 formula units of Si hold 4): check the sites, _cell_formula_units_Z and _chemical_formula_sum"},
        // Tags of the crystal given twice, differently; an unquoted value whose words are not plain.
        {edited("_cell_length_a 5.65325\n", "_cell_length_a 5.65325\n_cell_length_a 5.7\n"),
         "c.cif:11: _cell_length_a is given twice with different values, '5.65325' at line 10 and '5.7' at line 11"},
        {good + "loop_\n_atom_site_label\n_atom_site_fract_x\nGa2 0.5\n", "c.cif:29: _atom_site_label is given twice, at lines 19 and 29"},
        {edited("_chemical_name_common 'gallium arsenide'", "_chemical_name_common gallium 'arsenide'"), "c.cif:8:31: parse error (is it a CIF file?)"},
        // As 0.032 angstrom off its -4 3 m site: some images within 0.05 angstrom of it, not those of a group.
        {edited("As1 As 0.25 0.25 0.25", "As1 As 0.254 0.254 0.25"),
         "c.cif:19: site As1 at 0.254 0.254 0.25 stands near a symmetry element, neither on it nor clear of it: 14 of its 96 images "
         "stand within 0.05 angstrom of it"},
        {cell("5000", "5000", "5000"), "(the limiting sphere of GaAs at 1.530000 angstrom holds about 1.17e+12 reflections)"},
        {"GIF89a\x01\x02", "c.cif:1:1: expected block header (data_) (is it a CIF file?)"},
        {edited("_space_group_name_Hall 'F -4 2 3'", "loop_\n_space_group_symop_operation_xyz\n" + Rows(193, [](int) { return "x,y,z\n"; })),
         "c.cif:18: _space_group_symop_operation_xyz lists 193 operations, more than the 192 of any space group"},
        {edited("As1 As 0.25 0.25 0.25 1 0.56\n", Rows(1042, [](int i) {  // general positions of F -4 3 m, 96 atoms each,
             // 0.00057 angstrom apart: about 180 rows share a place, so each holds a little of an atom
             return "As" + std::to_string(i) + " As " + std::to_string(0.1 + 1e-4 * i) + " 0.43 0.04 0.005 0.5\n";
         })),
         "c.cif: the unit cell holds more than 100000 atoms"},
    };
    for (const auto& c : broken) {
        const std::filesystem::path folder = FreshFolder("cif_refused");
        WriteWholeFile(folder / "c.cif", c.text);
        const KeltoRun run = RunKelto("", folder, "--cif c.cif --primary 0,0,2 --wavelength 1.54 --band 0.02 --events e.csv");
        EXPECT_TRUE(run.status == 1 && run.errors.find(c.message) != std::string::npos && !std::filesystem::exists(folder / "e.csv"))
            << c.message << "\n" << run.output << run.errors;
    }
    const KeltoRun list = RunKelto("", FreshFolder("cif_list"), "--crystal list");
    EXPECT_TRUE(list.status == 0 && Count(list.output, "\n") == 11) << list.status << "\n" << list.output;
}
