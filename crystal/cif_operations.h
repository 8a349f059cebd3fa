// The symmetry operations a CIF lists: _space_group_symop_operation_xyz or
// _symmetry_equiv_pos_as_xyz, or those of a magnetic CIF, each operation with each (anti)centring
// translation and its time reversal left out, since charge scattering sees the atoms only.
#pragma once

#include <gemmi/symmetry.hpp>

#include <cstddef>
#include <string>
#include <vector>

#include "crystal/cif_reader.h"

// The order of the largest space groups (F m -3 m and its kin in the conventional cell).
inline constexpr std::size_t kMostOperations = 192;
// A magnetic cell holds more: every operation of the largest group with each of 8 centrings.
inline constexpr std::size_t kMostMagneticOperations = 8 * kMostOperations;

struct ListedOperations {
    std::vector<gemmi::Op> ops;  // distinct, translations in [0, 1); empty when the block lists none
    std::string tag;             // the tag they were listed under
    int line = 0;
    bool magnetic = false;
};

// Throws CrystalFileError when a listed operation is no symmetry operation or the operations do
// not make a group (the product of two of them missing).
ListedOperations ReadListedOperations(const CifReader& r);

// The operations of a group from gemmi's tables, centrings included.
std::vector<gemmi::Op> AllOperations(const gemmi::GroupOps& group);
