// The space group of a CIF, from the first of these the file gives and kelto can read: its
// symmetry operations (a magnetic CIF's too), its Hall symbol, its Hermann-Mauguin name, its
// number (in the setting of its cell). A source given but unreadable is passed over with a notice.
#pragma once

#include <gemmi/symmetry.hpp>

#include <string>
#include <vector>

#include "crystal/cif_reader.h"
#include "crystal/lattice.h"

struct CifSymmetry {
    std::vector<gemmi::Op> ops;  // every operation, centrings included, translations in [0, 1)
    // For a group of two origin choices that the file settles by neither operations, a Hall
    // symbol nor its name: `ops` are those of origin choice 1, these those of choice 2.
    std::vector<gemmi::Op> secondOrigin;
    std::string given;           // what the symmetry was read from: "_symmetry_space_group_name_H-M 'F d -3 m'"
    int line = 0;                // its line
    std::string name;            // the group's name for titles, as the file writes it where it does
    std::string choiceNames[2];  // with two open origin choices: "F d -3 m :1" and "F d -3 m :2"
    std::vector<std::string> notices;
};

// Throws CrystalFileError when the file gives no space group kelto can read.
CifSymmetry ReadSymmetry(const CifReader& r, const Lattice& lattice);
