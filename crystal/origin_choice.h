// A space group of two origin choices whose file settles neither: the structure decides when one
// choice is impossible and the other not. A choice is impossible when its cell is no structure
// (UnitCellAtoms: a site's images in groups of different sizes, a place holding more than one atom,
// two atoms closer than any bond allows), its sites listed again counted once, or when its cell's
// composition contradicts the file's _cell_formula_units_Z and _chemical_formula_sum.
#pragma once

#include <gemmi/symmetry.hpp>

#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crystal/cif_atom.h"
#include "crystal/lattice.h"
#include "crystal/unit_cell_atoms.h"

// A cell's count of an element may differ from Z times the formula's by this share (rounded formulas).
inline constexpr double kCompositionTolerance = 0.05;

// What the file says of its composition.
struct StatedComposition {
    double z = std::numeric_limits<double>::quiet_NaN();  // formula units in the cell; NaN when not stated
    std::vector<std::pair<int, double>> formula;          // atomic number, count; empty when not stated
    std::string formulaText;                              // as written
};

struct SettledOrigin {
    int choice;                   // 1 or 2
    CellAtoms cell;               // the unit cell in that choice
    std::string otherFault;       // why the other choice cannot be
};

// When the structure fits both choices or neither; the message says what each gives.
class UnsettledOrigin : public std::runtime_error {
public:
    UnsettledOrigin(const std::string& what, bool fitsBoth) : std::runtime_error(what), fitsBoth_(fitsBoth) {}
    // Either choice, named, gives a cell the file allows; where neither does, naming one would not mend it.
    bool fitsBoth() const { return fitsBoth_; }

private:
    bool fitsBoth_;
};

// `ops[0]` and `ops[1]` are the operations of origin choices 1 and 2.
SettledOrigin SettleOrigin(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op> (&ops)[2], const Lattice& lattice,
                           const StatedComposition& stated);
