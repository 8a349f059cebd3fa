// A space group from its Hermann-Mauguin name as CIF files write it: new style (F d -3 m) or old
// (F d 3 m), with or without blanks and subscript marks (P 6_3/m m c), with a setting appended as
// ':1', ':2', ':H' or ':R', or as a last word S or Z (origin choice 1 or 2), H or R; or an old name
// with the qualifier of its setting in the International Tables (C2:b1, P21/c:c2, Pnma:cab).
#pragma once

#include <gemmi/symmetry.hpp>

#include <string>

struct NamedSpaceGroup {
    const gemmi::SpaceGroup* group = nullptr;  // nullptr when no reading of the name is a space group
    bool originStated = false;                 // the name states an origin choice
};

// `alpha` and `gamma` of the cell tell the hexagonal axes of R groups from the rhombohedral ones.
NamedSpaceGroup FindSpaceGroupByName(const std::string& name, double alpha, double gamma);

// For a group with two origin choices, the table's entry of choice `choice` (1 or 2) of the same
// name; nullptr for any other group.
const gemmi::SpaceGroup* OriginChoice(const gemmi::SpaceGroup& group, char choice);
