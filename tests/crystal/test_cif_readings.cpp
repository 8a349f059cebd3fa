// CIF files as they are found: each one read the same crystal as the structure given with its
// group's operations listed, whatever the file names the group by (a Hall symbol kelto does not
// know, old-style names, a number, magnetic operations), an origin choice the file leaves open,
// tags given twice, a value with blanks, coordinates rounded near a symmetry element.
#include <gtest/gtest.h>

#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>

#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "crystal/cif_crystal.h"
#include "crystal/space_group_name.h"

namespace {

// A CIF of the cell "a b c alpha beta gamma", the lines `symmetry` and the sites, rows
// "label symbol x y z B".
std::string Cif(const std::string& cell, const std::string& symmetry, const std::string& sites)
{
    const char* tags[] = {"_cell_length_a", "_cell_length_b", "_cell_length_c", "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
    std::string text = "data_t\n";
    std::size_t at = 0;
    for (const char* tag : tags) {
        const std::size_t end = std::min(cell.find(' ', at), cell.size());
        text += std::string(tag) + " " + cell.substr(at, end - at) + "\n";
        at = end + 1;
    }
    return text + symmetry + "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                             "_atom_site_fract_z\n_atom_site_B_iso_or_equiv\n" + sites;
}

const gemmi::SpaceGroup& Group(const std::string& name)
{
    const gemmi::SpaceGroup* group = gemmi::find_spacegroup_by_name(name);
    EXPECT_NE(group, nullptr) << name;
    return group != nullptr ? *group : gemmi::get_spacegroup_p1();
}

// The operations of group `name` from gemmi's tables, listed as a CIF lists them.
std::string Operations(const std::string& name)
{
    std::string text = "loop_\n_space_group_symop_operation_xyz\n";
    for (const gemmi::Op& op : Group(name).operations()) text += "'" + op.triplet() + "'\n";
    return text;
}

// The same as a magnetic CIF lists them: each with a time reversal, the centrings apart, every
// other one an anticentring.
std::string MagneticOperations(const std::string& name)
{
    const gemmi::GroupOps ops = Group(name).operations();
    std::string text = "loop_\n_space_group_symop_magn_operation.id\n_space_group_symop_magn_operation.xyz\n";
    for (std::size_t i = 0; i < ops.sym_ops.size(); ++i) {
        text += std::to_string(i + 1) + " '" + ops.sym_ops[i].triplet() + (i % 3 == 1 ? ",-1'\n" : ",+1'\n");
    }
    text += "loop_\n_space_group_symop_magn_centering.id\n_space_group_symop_magn_centering.xyz\n";
    for (std::size_t i = 0; i < ops.cen_ops.size(); ++i) {
        gemmi::Op centring = gemmi::Op::identity();
        centring.tran = ops.cen_ops[i];
        text += std::to_string(i + 1) + " '" + centring.triplet() + (i % 2 == 1 ? ",-1'\n" : ",+1'\n");
    }
    return text;
}

std::string Exact(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

}  // namespace

TEST(CifReadings, SameCrystalAsTheListedOperations)
{
    const std::string silicon = "5.4307 5.4307 5.4307 90 90 90", feSe = "3.7734 3.7734 5.5258 90 90 90";
    const std::string spinel = "Mg1 Mg 0.125 0.125 0.125 0.4\nAl1 Al 0.5 0.5 0.5 0.3\nO1 O 0.2624 0.2624 0.2624 0.5\n";
    const std::string gaAs = "Ga1 Ga 0 0 0 0.66\nAs1 As 0.25 0.25 0.25 0.56\n";
    const std::string third = Exact(1.0 / 3), twoThirds = Exact(2.0 / 3);
    // The group whose listed operations make the same crystal, the sites for them where they differ
    // from the sites as the file rounds them, and a part of the notice ("" for none).
    const struct { std::string cell, symmetry, sites, reference, referenceSites, notice; } cases[] = {
        // Origin choices the file leaves open, settled by Z and the formula, by their proportions
        // or by atoms the wrong choice would put 0.28 angstrom apart.
        {silicon, "_symmetry_space_group_name_H-M 'F d -3 m'\n_cell_formula_units_Z 8\n_chemical_formula_sum 'Si'\n",
         "Si1 Si 0.125 0.125 0.125 0.46\n", "F d -3 m:2", "",
         "kelto takes origin choice 2 (F d -3 m :2), since in choice 1 the cell would hold 16 Si where Z = 8 formula units of Si hold 8"},
        {silicon, "_symmetry_space_group_name_H-M 'F d -3 m'\n_cell_formula_units_Z 8\n_chemical_formula_sum 'Si'\n",
         "Si1 Si 0 0 0 0.46\n", "F d -3 m:1", "", "kelto takes origin choice 1"},
        {feSe, "_symmetry_space_group_name_H-M 'P 4/n m m'\n_cell_formula_units_Z 2\n_chemical_formula_sum 'Fe Se'\n",
         "Fe1 Fe 0.75 0.25 0 0.5\nSe1 Se 0.25 0.25 0.2673 0.6\n", "P 4/n m m:2", "", "kelto takes origin choice 2"},
        {feSe, "_space_group_IT_number 129\n_cell_formula_units_Z 2\n_chemical_formula_sum 'Fe Se'\n",
         "Fe1 Fe 0 0 0 0.5\nSe1 Se 0 0.5 0.2673 0.6\n", "P 4/n m m:1", "", "kelto takes origin choice 1 (P 4/n m m :1)"},
        {"4.2696 4.2696 4.2696 90 90 90", "_symmetry_space_group_name_H-M 'P n -3 m'\n_chemical_formula_sum 'Cu2 O'\n",
         "O1 O 0.25 0.25 0.25 0.7\nCu1 Cu 0 0 0 1.2\n", "P n -3 m:2", "", "4 O, 2 Cu, not in the proportions of Cu2 O"},
        {"8.0832 8.0832 8.0832 90 90 90", "_symmetry_space_group_name_H-M 'F d -3 m'\n", spinel, "F d -3 m:2", "",
         "atoms of O1 and O1 would stand 0.283 angstrom apart"},
        // Names as files write them (SpaceGroupNames holds the rest): an old style with its origin
        // stated, subscripts.
        {silicon, "_symmetry_space_group_name_H-M 'F d 3 m Z'\n", "Si1 Si 0.125 0.125 0.125 0.46\n", "F d -3 m:2", "", ""},
        {"3.2498 3.2498 5.2066 90 90 120", "_space_group_name_H-M_alt 'P 6_3 m c'\n", "Zn1 Zn 0.3333 0.6667 0 0.5\n", "P 63 m c",
         "Zn1 Zn " + third + " " + twoThirds + " 0 0.5\n", ""},
        // A Hall symbol kelto does not know, then the name; a name it does not know, then the
        // number, in the setting of the cell (rhombohedral axes).
        {"4.7589 4.7589 12.991 90 90 120",
         "_space_group_name_Hall '-R 3;-2\"c'\n_symmetry_space_group_name_H-M 'R -3 c'\n_symmetry_Int_Tables_number 167\n",
         "Al1 Al 0 0 0.35216 0.19\nO1 O 0.30624 0 0.25 0.23\n", "R -3 c:H", "",
         "_space_group_name_Hall '-R 3;-2\"c' is no Hall symbol kelto knows: kelto takes _symmetry_space_group_name_H-M 'R -3 c' (line 9)"},
        {"5.128 5.128 5.128 55.28 55.28 55.28", "_symmetry_space_group_name_H-M 'R -3 c rhombohedral'\n_space_group_IT_number 167\n",
         "Al1 Al 0.35216 0.35216 0.35216 0.19\nO1 O 0.5563 -0.0563 0.25 0.23\n", "R -3 c:R", "",
         "is no space group kelto knows: kelto takes _space_group_IT_number '167' (line 9)"},
        // Tags given twice where the meaning is clear, and a value with blanks.
        {"5.65325 5.65325 5.65325 90 90 90",
         "_chemical_formula_sum 'Ga As'\n_chemical_formula_sum ''\n_cell_length_a 5.65325\n_journal_year 1998\n_journal_year 1999\n"
         "_space_group_name_H-M_alt 'F -4 3 m'\n",
         gaAs, "F -4 3 m", "",
         "t.cif: _cell_length_a is given at lines 2 and 10 with the same value\n"
         "t.cif: _chemical_formula_sum is given at lines 8 and 9, empty at line 9: kelto takes 'Ga As'\n"
         "t.cif: _journal_year is given at lines 11 and 12 with different values: kelto reads none of them"},
        {"5.65325 5.65325 5.65325 90 90 90", "_pd_phase_name  Na0.8CoO2_P63mmc supercell\n_space_group_name_H-M_alt 'F -4 3 m'\n",
         gaAs, "F -4 3 m", "", "t.cif:8: the value of _pd_phase_name runs on after a blank without quotes: kelto reads it as 'Na0.8CoO2_P63mmc supercell'"},
        // A setting whose symmetry the cell lacks, read in the one setting of it the cell has: the
        // unique axis named along a on a cell whose unique axis is b, hexagonal against
        // rhombohedral axes both ways, a primitive 60-degree cell named with its F group (2 atoms,
        // not 16), a number whose standard setting the cell lacks; an old name of a setting.
        {"10.6 7.2 12.4 90 117 90", "_symmetry_space_group_name_H-M 'I 2/c 1 1'\n", "Pt1 Pt 0.1 0.2 0.3 0.5\nO1 O 0 0 0 0.7\n",
         "I 1 2/c 1", "", "t.cif:8: _symmetry_space_group_name_H-M 'I 2/c 1 1' is the group I 2/c 1 1, whose symmetry the cell does not "
         "have: kelto reads it as 'I 1 2/c 1', with the axes a and b exchanged, the one setting of it that the cell has"},
        {"5.128 5.128 5.128 55.28 55.28 55.28", "_symmetry_space_group_name_H-M 'R -3 c :H'\n",
         "Al1 Al 0.35216 0.35216 0.35216 0.19\nO1 O 0.5563 -0.0563 0.25 0.23\n", "R -3 c:R", "", "kelto reads it as 'R -3 c:R', on rhombohedral axes"},
        {"4.7589 4.7589 12.991 90 90 120", "_space_group_name_H-M_alt 'R -3 c :R'\n", "Al1 Al 0 0 0.35216 0.19\nO1 O 0.30624 0 0.25 0.23\n",
         "R -3 c:H", "", "kelto reads it as 'R -3 c:H', on hexagonal axes"},
        {"3.8403 3.8403 3.8403 60 60 60", "_symmetry_space_group_name_H-M 'F d -3 m :1'\n", "Si1 Si 0 0 0 0.46\n", "P 1",
         "Si1 Si 0 0 0 0.46\nSi2 Si 0.25 0.25 0.25 0.46\n", "kelto reads it in the primitive cell of its F lattice"},
        // Sites that stand on symmetry images of an earlier one of the same element and occupancy
        // are its atoms listed again, as exports that write out every atom of the cell list them:
        // the primitive cell with both its atoms, the origin left open (choice 2 would put atoms of
        // silicon 1.35 angstrom apart) and stated; the cube with all eight.
        {"3.81 3.81 3.81 60 60 60", "_symmetry_space_group_name_H-M 'Fd-3m'\n", "Si1 Si 0 0 0 0.46\nSi2 Si 0.25 0.25 0.25 0.46\n", "P 1", "",
         "kelto takes origin choice 1 (F d -3 m :1), since in choice 2 atoms of Si1 and Si2 would stand 1.35 angstrom apart, closer "
         "than any bond between them allows (1.44 angstrom)\nt.cif:9: sites on a symmetry image of an earlier site of the same element "
         "and occupancy are that site's atoms listed again: kelto reads Si2 as Si1"},
        {"3.8403 3.8403 3.8403 60 60 60", "_symmetry_space_group_name_H-M 'F d -3 m :1'\n", "Si1 Si 0.25 0.25 0.25 0.46\nSi2 Si 1 0 0 0.46\n",
         "P 1", "Si1 Si 0.25 0.25 0.25 0.46\nSi2 Si 0 0 0 0.46\n", "kelto reads Si2 as Si1"},
        {silicon, "_symmetry_space_group_name_H-M 'F d -3 m'\n",
         "Si1 Si 0 0 0 0.46\nSi2 Si 0 0.5 0.5 0.46\nSi3 Si 0.5 0 0.5 0.46\nSi4 Si 0.5 0.5 0 0.46\nSi5 Si 0.25 0.25 0.25 0.46\n"
         "Si6 Si 0.25 0.75 0.75 0.46\nSi7 Si 0.75 0.25 0.75 0.46\nSi8 Si 0.75 0.75 0.25 0.46\n",
         "F d -3 m:1", "Si1 Si 0 0 0 0.46\n", "kelto reads Si2 as Si1, Si3 as Si1, Si4 as Si1, Si5 as Si1, Si6 as Si1, Si7 as Si1 and Si8 as Si1"},
        {"5 6 7 90 90 100", "_space_group_IT_number 4\n", "Si1 Si 0.1 0.2 0.3 0.5\n", "P 1 1 21", "", "kelto reads it as 'P 1 1 21',"},
        {"10.6 7.2 12.4 90 117 90", "_symmetry_space_group_name_H-M C2:b1\n", "Pt1 Pt 0.1 0.2 0.3 0.5\n", "C 1 2 1", "", ""},
        // Exports as they are found: characters beyond ASCII in a value kelto does not read and
        // typographic quotes (UTF-8 and Windows-1252), ICSD's '.' for 0, elements from labels that
        // go on in letters, sites without a displacement parameter among others with one.
        {"5.65325 5.65325 5.65325 90 90 90",
         "_journal_page_first 385\xC3\x90" "386\n_publ_section_title \xE2\x80\x98GaAs\xE2\x80\x99s structure\xE2\x80\x99\n"
         "_journal_name_full \x93Z. Kristallogr.\x94\n_journal_coden_ASTM \xE2\x80\x98ZEKRDZ\n_space_group_name_H-M_alt 'F -4 3 m'\n",
         gaAs, "F -4 3 m", "",
         "t.cif:8: the value of _journal_page_first holds characters beyond ASCII without quotes: kelto reads it as it stands\n"
         "t.cif:9: the value of _publ_section_title stands between typographic quotes: kelto reads them as quotes\n"
         "t.cif:10: the value of _journal_name_full stands between typographic quotes: kelto reads them as quotes\n"
         "t.cif:11: the value of _journal_coden_ASTM holds characters beyond ASCII"},  // an opening quote without its closing one
        {"5.65325 5.65325 5.65325 90 90 90", "_database_code_ICSD 41674\n_space_group_name_H-M_alt 'F -4 3 m'\n",
         "Ga1 Ga . . . 0.66\nAs1 As 0.25 0.25 0.25 0.56\n", "F -4 3 m", gaAs, "site Ga1 gives '.' for a coordinate, which ICSD's files write for 0"},
        {"9.1 9.1 9.1 90 90 90", "_space_group_name_H-M_alt 'P m -3 m'\n", "OH2 ? 0 0 0 ?\nOw1 ? 0.5 0.5 0.5 0.8\nNa1 ? 0.5 0 0 ?\n",
         "P m -3 m", "O1 O 0 0 0 0\nO2 O 0.5 0.5 0.5 0.8\nNa1 Na 0.5 0 0 0\n",
         "t.cif:9: kelto takes each element from its site's label where there is no _atom_site_type_symbol; these labels go on in "
         "letters after the element's symbol: OH2 as O and Ow1 as O\nt.cif:9: sites OH2 and Na1 (2 of 3) give no displacement "
         "parameter: kelto takes B = 0 for them"},
        // With a formula a label's element is one the formula holds: Nit1 is nitrogen, not nickel.
        {"9.1 9.1 9.1 90 90 90", "_space_group_name_H-M_alt 'P m -3 m'\n_chemical_formula_sum 'N O3 Na4'\n",
         "Nit1 ? 0 0 0 0.6\nOw1 ? 0 0.5 0.5 0.8\nNa1 ? 0.5 0 0 0.5\nNa2 ? 0.5 0.5 0.5 0.5\n", "P m -3 m",
         "N1 N 0 0 0 0.6\nO1 O 0 0.5 0.5 0.8\nNa1 Na 0.5 0 0 0.5\nNa2 Na 0.5 0.5 0.5 0.5\n",
         "t.cif:10: kelto takes each element from its site's label where there is no _atom_site_type_symbol; these labels go on in "
         "letters after the element's symbol, which _chemical_formula_sum holds: Nit1 as N and Ow1 as O"},
        // Type symbols of groups with hydrogen, as a Pauling File export writes them, read as their other atom.
        {"9.1 9.1 9.1 90 90 90", "_space_group_name_H-M_alt 'P m -3 m'\n",
         "Ow1 OH2 0 0 0 0.8\nOh2 OH- 0.5 0.5 0.5 0.8\nOw3 H2O 0 0.5 0.5 0.9\nN1 NH4+ 0.25 0 0 1.1\nNa1 Na 0.5 0 0 0.5\n", "P m -3 m",
         "Ow1 O 0 0 0 0.8\nOh2 O 0.5 0.5 0.5 0.8\nOw3 O 0 0.5 0.5 0.9\nN1 N 0.25 0 0 1.1\nNa1 Na 0.5 0 0 0.5\n",
         "t.cif:9: sites Ow1, Oh2, Ow3 and N1 are typed with a group of atoms, not an element: kelto reads each as its atom other "
         "than hydrogen, leaving the hydrogen out: Ow1 ('OH2') as O, Oh2 ('OH-') as O, Ow3 ('H2O') as O and N1 ('NH4+') as N"},
        // A magnetic CIF: its operations and (anti)centrings without their time reversal.
        {"4.4457 4.4457 4.4457 90 90 90", MagneticOperations("F m -3 m"), "Mn1 Mn 0 0 0 0.3\nO1 O 0.5 0.5 0.5 0.4\n", "F m -3 m", "",
         "kelto reads the magnetic operations of _space_group_symop_magn_operation.xyz without their time reversal"},
    };
    for (const auto& c : cases) {
        const std::string text = Cif(c.cell, c.symmetry, c.sites);
        const std::string reference = Cif(c.cell, Operations(c.reference), c.referenceSites.empty() ? c.sites : c.referenceSites);
        std::string notice, none;
        std::unique_ptr<CifCrystal> read, listed;
        try {
            read = CifCrystal::Parse(text, "t.cif", &notice);
            listed = CifCrystal::Parse(reference, "reference.cif", &none);
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.symmetry << e.what();
            continue;
        }
        SCOPED_TRACE(c.symmetry + c.sites);
        EXPECT_TRUE(c.notice.empty() ? notice.empty() : notice.find(c.notice) != std::string::npos) << notice;
        EXPECT_TRUE(none.empty()) << none;
        ASSERT_EQ(read->atoms().size(), listed->atoms().size());
        const auto scattering = read->At(8.048), expected = listed->At(8.048);
        const double largest = std::abs(expected->F({0, 0, 0}));
        const gemmi::GroupOps ops = Group(c.reference).operations();
        for (int h = -3; h <= 3; ++h) {
            for (int k = -3; k <= 3; ++k) {
                for (int l = -3; l <= 3; ++l) {
                    const Miller m{h, k, l};
                    const double modulus = std::abs(scattering->F(m));
                    EXPECT_NEAR(modulus, std::abs(expected->F(m)), 1e-9 * largest) << h << " " << k << " " << l;
                    EXPECT_EQ(scattering->Allows(m), expected->Allows(m)) << h << " " << k << " " << l;
                    EXPECT_EQ(read->Extinct(m), listed->Extinct(m)) << h << " " << k << " " << l;
                    // Equivalent reflections scatter alike, anomalous terms and all.
                    for (const gemmi::Op& op : ops.sym_ops) {
                        const auto [p, q, r] = op.apply_to_hkl({h, k, l});
                        EXPECT_NEAR(std::abs(scattering->F({p, q, r})), modulus, 1e-9 * largest) << h << k << l << " " << op.triplet();
                    }
                }
            }
        }
    }
}

// Silicon as most databases write it, on 8a of origin choice 2 at 1/8 1/8 1/8: four atoms of the
// cube's fcc lattice and four a quarter of the diagonal on, so |F(1 1 1)| = 4 sqrt 2 |f|,
// |F(2 2 0)| = 8 |f| and 2 2 2 is forbidden; expanded in origin choice 1 it would be 16 atoms.
// And as a CASTEP export writes it: the primitive 60-degree cell (a = 3.81, the cube's a / sqrt 2)
// with both its atoms, 0 0 0 and 1/4 1/4 1/4, its origin left open. Its indices h' = (k + l, h + l,
// h + k) / 2 of the cube's, it holds a quarter of the cube's atoms: |F(1 1 1)| = sqrt 2 |f|,
// |F(1 1 2)| (the cube's 2 2 0) = 2 |f|, and 2 2 2 is forbidden.
TEST(CifReadings, SiliconInOriginChoiceTwo)
{
    const double b = 0.46, keV = 8.048;
    const auto f = [&](double a, double n2) {
        const double s2 = n2 / (4 * a * a);
        double fpp = 0;
        const double fp = gemmi::cromer_liberman(14, keV * 1000, &fpp);
        return std::abs(gemmi::IT92<double>::get(gemmi::El::Si).calculate_sf(s2) + std::complex<double>(fp, fpp)) * std::exp(-b * s2);
    };
    std::string notice;
    const double a = 5.4307;
    const auto silicon = CifCrystal::Parse(Cif("5.4307 5.4307 5.4307 90 90 90",
                                               "_symmetry_space_group_name_H-M 'F d -3 m'\n_cell_formula_units_Z 8\n_chemical_formula_sum 'Si'\n",
                                               "Si1 Si 0.125 0.125 0.125 0.46\n"),
                                           "si.cif", &notice);
    ASSERT_EQ(silicon->atoms().size(), 8u);
    EXPECT_EQ(silicon->spaceGroup(), "F d -3 m :2");
    const auto scattering = silicon->At(keV);
    EXPECT_NEAR(scattering->Modulus({1, 1, 1}), 4 * std::sqrt(2.0) * f(a, 3), 1e-9);
    EXPECT_NEAR(scattering->Modulus({2, 2, 0}), 8 * f(a, 8), 1e-9);
    EXPECT_EQ(scattering->Modulus({2, 2, 2}), 0.0);
    EXPECT_TRUE(silicon->Extinct({2, 2, 2}) && silicon->Extinct({2, 0, 0}));

    const double cube = 3.81 * std::sqrt(2.0);
    const auto primitive = CifCrystal::Parse(Cif("3.81 3.81 3.81 60 60 60", "_symmetry_space_group_name_H-M 'Fd-3m'\n",
                                                 "Si1 Si 0 0 0 0.46\nSi2 Si 0.25 0.25 0.25 0.46\n"),
                                             "castep.cif", &notice);
    ASSERT_EQ(primitive->atoms().size(), 2u);
    EXPECT_EQ(primitive->spaceGroup(), "F d -3 m :1");
    const auto two = primitive->At(keV);
    EXPECT_NEAR(two->Modulus({1, 1, 1}), std::sqrt(2.0) * f(cube, 3), 1e-9);
    EXPECT_NEAR(two->Modulus({1, 1, 2}), 2 * f(cube, 8), 1e-9);
    EXPECT_LT(two->Modulus({2, 2, 2}), 1e-12);
    EXPECT_TRUE(primitive->Extinct({2, 2, 2}));
}

// Hermann-Mauguin names as files write them, each the group of gemmi's tables it means; an origin
// choice counts as stated only where the name states it.
TEST(CifReadings, SpaceGroupNames)
{
    const struct { const char* name; double alpha, gamma; const char* group; bool stated; } names[] = {
        {"F m 3 m", 90, 90, "F m -3 m", false},     {"Pm3m", 90, 90, "P m -3 m", false},
        {"I a 3 d", 90, 90, "I a -3 d", false},     {"P n 3 n :2", 90, 90, "P n -3 n:2", true},
        {"P 3 1 m", 90, 120, "P 3 1 m", false},     {"P 6_3/m m c", 90, 120, "P 63/m m c", false},
        {"P 21/c", 90, 90, "P 1 21/c 1", false},   {"R -3 c H", 90, 120, "R -3 c:H", false},
        {"R -3 c", 55.28, 55.28, "R -3 c:R", false}, {"R -3 c:R", 90, 120, "R -3 c:R", false},
        {"F d -3 m S", 90, 90, "F d -3 m:1", true}, {"f d -3 m z", 90, 90, "F d -3 m:2", true},
        {"Fd-3m", 90, 90, "F d -3 m:1", false},     {"F d 3 m:2", 90, 90, "F d -3 m:2", true}, {"P21/c:c2", 90, 100, "P 1 1 21/n", false},
    };
    for (const auto& n : names) {
        const NamedSpaceGroup found = FindSpaceGroupByName(n.name, n.alpha, n.gamma);
        ASSERT_NE(found.group, nullptr) << n.name;
        EXPECT_EQ(found.group->xhm(), n.group) << n.name;
        EXPECT_EQ(found.originStated, n.stated) << n.name;
    }
    for (const char* unknown : {"Q 9", "P m -3 m :1", "F d -3 m Q", ""}) EXPECT_EQ(FindSpaceGroupByName(unknown, 90, 90).group, nullptr) << unknown;
    // Only groups of two origin choices have a second one.
    EXPECT_EQ(OriginChoice(*FindSpaceGroupByName("P n n n", 90, 90).group, '2')->xhm(), "P n n n:2");
    EXPECT_EQ(OriginChoice(*FindSpaceGroupByName("P m -3 m", 90, 90).group, '2'), nullptr);
}
