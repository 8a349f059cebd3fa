// Every atom of the unit cell from the sites of the asymmetric unit and the operations of the space
// group. The images of a site closer than kSamePosition are one atom on a special position, at their
// mean: the site first moves to the mean of its images within kSamePosition of it (the point of its
// symmetry element nearest to it), so that rounded coordinates (0.3333 for 1/3) give a structure as
// symmetric as exact ones, whose equivalent reflections are equal and forbidden ones 0.
#pragma once

#include <gemmi/symmetry.hpp>

#include <stdexcept>
#include <vector>

#include "crystal/cif_atom.h"
#include "crystal/lattice.h"

// A structure the sites cannot make; the message names the site but not the file.
class ExpansionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A cell of more atoms than kMostUnitCellAtoms.
class TooManyAtoms : public ExpansionError {
public:
    using ExpansionError::ExpansionError;
};

// Each site's images must fall into groups of one size, the order of its site symmetry, one group
// for each atom of its multiplicity; ExpansionError where they do not (the site stands near a symmetry
// element, neither on it nor clear of it) and TooManyAtoms where the cell would hold more than kMostUnitCellAtoms.
// The operations must make a group.
std::vector<CifAtom> UnitCellAtoms(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice);

// How far apart two atoms stand, between their nearest images through the cell's faces (angstrom);
// exact for cells with right angles, an upper bound for others.
double Apart(const Lattice& lattice, const CifAtom& a, const CifAtom& b);
