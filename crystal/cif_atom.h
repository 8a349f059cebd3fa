// An atom of a crystal read from a CIF, as its sites are expanded into the unit cell, and the
// limits the structure factor sets on them.
#pragma once

#include <cstddef>
#include <string>

struct CifAtom {
    std::string label;
    int element;       // atomic number
    double x, y, z;    // fractional, in [0, 1)
    double occupancy;
    double b;          // isotropic displacement parameter B = 8 pi^2 U, square angstrom
};

// The most atoms a unit cell may hold: every structure factor sums over them all.
inline constexpr std::size_t kMostUnitCellAtoms = 100000;

// A reflection counts as forbidden where |F| is below this share of |F(0 0 0)|, the largest |F|.
inline constexpr double kForbiddenShare = 1e-6;
