// CIF texts of large cells for the benchmark, generated with a fixed seed: sites at random general
// positions, each kept at least a contact distance from every atom placed before it (through the
// cell's faces), so that the cell expands as a real structure would.
#pragma once

#include <gemmi/symmetry.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace large_cells {

// A 64-bit linear congruential generator (Knuth's MMIX constants): the same cells on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    double Uniform()  // in [0, 1)
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53;
    }

private:
    std::uint64_t state_;
};

struct Cell {
    double a, b, c, beta;  // angstrom, degrees; alpha = gamma = 90
};

// Squared distance between fractional points through the faces of a monoclinic (beta) cell; exact
// enough for the contact test of cells whose beta is near 90.
inline double Apart2(const Cell& cell, const std::array<double, 3>& p, const std::array<double, 3>& q)
{
    double d[3];
    for (int i = 0; i < 3; ++i) d[i] = (p[i] - q[i]) - std::round(p[i] - q[i]);
    const double cb = std::cos(cell.beta * 3.141592653589793 / 180.0), sb = std::sin(cell.beta * 3.141592653589793 / 180.0);
    const double x = cell.a * d[0] + cell.c * cb * d[2], y = cell.b * d[1], z = cell.c * sb * d[2];
    return x * x + y * y + z * z;
}

// `sites` sites of the group `group` (gemmi's name) at general positions, no two atoms closer than
// `contact` angstrom; elements in turn from `elements`, B from 0.3 to 1.5 square angstrom by site.
inline std::string Cif(const char* name, const Cell& cell, const char* group, int sites, double contact,
                       const std::vector<const char*>& elements, std::uint64_t seed)
{
    const gemmi::GroupOps ops = gemmi::find_spacegroup_by_name(group)->operations();
    std::string text = std::string("data_") + name + "\n";
    char line[200];
    std::snprintf(line, sizeof line,
                  "_cell_length_a %.4f\n_cell_length_b %.4f\n_cell_length_c %.4f\n_cell_angle_alpha 90\n_cell_angle_beta %.3f\n"
                  "_cell_angle_gamma 90\n_space_group_name_H-M_alt '%s'\n",
                  cell.a, cell.b, cell.c, cell.beta, group);
    text += line;
    text += "loop_\n_space_group_symop_operation_xyz\n";
    for (const gemmi::Op& op : ops) text += "'" + op.triplet() + "'\n";
    text += "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
            "_atom_site_B_iso_or_equiv\n";
    Random random(seed);
    std::vector<std::array<double, 3>> placed;
    const double contact2 = contact * contact;
    for (int site = 0; site < sites;) {
        const std::array<double, 3> at{random.Uniform(), random.Uniform(), random.Uniform()};
        std::vector<std::array<double, 3>> images;
        bool clear = true;
        for (const gemmi::Op& op : ops) {
            const std::array<double, 3> image = op.apply_to_xyz(at);
            for (const auto& other : images) clear = clear && Apart2(cell, image, other) >= contact2;
            for (const auto& other : placed) clear = clear && Apart2(cell, image, other) >= contact2;
            if (!clear) break;
            images.push_back(image);
        }
        if (!clear) continue;
        placed.insert(placed.end(), images.begin(), images.end());
        const char* element = elements[static_cast<std::size_t>(site) % elements.size()];
        std::snprintf(line, sizeof line, "%s%d %s %.6f %.6f %.6f %.2f\n", element, site + 1, element, at[0], at[1], at[2],
                      0.3 + 1.2 * random.Uniform());
        text += line;
        ++site;
    }
    return text;
}

// A 45 angstrom cell of F -4 3 m holding 76 sites of 96 atoms each: 7296 atoms.
inline std::string CubicCell() { return Cif("cubic7296", {45.0, 45.0, 45.0, 90.0}, "F -4 3 m", 76, 1.6, {"Zn", "S", "O", "Ga"}, 7296); }

// A monoclinic cell of P 1 holding 4608 atoms, a third of them silicon, the rest oxygen.
inline std::string TriclinicCell()
{
    return Cif("p1_4608", {40.2, 39.5, 26.3, 92.5}, "P 1", 4608, 1.5, {"Si", "O", "O"}, 4608);
}

}  // namespace large_cells
