// Every atom of the unit cell from the sites of the asymmetric unit and the operations of the space
// group. The images of a site closer than kSamePosition are one atom on a special position, at their
// mean: the site first moves to the mean of its images within kSamePosition of it (the point of its
// symmetry element nearest to it), so that rounded coordinates (0.3333 for 1/3) give a structure as
// symmetric as exact ones, whose equivalent reflections are equal and forbidden ones 0. A site that
// stands on a symmetry image of an earlier site of the same element and occupancy is that site's
// atom listed again (an export that writes out every atom of the cell) and adds no atom; a cell
// whose atoms crowd one place or stand closer than any bond allows is no structure.
#pragma once

#include <gemmi/symmetry.hpp>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crystal/cif_atom.h"
#include "crystal/lattice.h"

// Two atoms that hold more than one atom between them (their occupancies add up to more) stand no
// closer than a share of the sum of their covalent radii (Cordero et al. 2008, gemmi's table). The
// shortest bonds between main-group atoms, triple ones (N-N in N2, C-O in CO), are about 0.77 of
// it; those of transition metals, lanthanides and actinides reach 0.62 (the Cr-Cr quintuple bond,
// 1.73 angstrom) and 0.65 (U-N, 1.73 angstrom), and X-ray structures put hydrogen atoms short of
// their nuclei: for pairs with one of those, half. Partly occupied atoms of a disordered
// structure, alternatives to each other, may stand as close as they like.
inline constexpr double kMainGroupBondShare = 0.65;
inline constexpr double kMetalOrHydrogenBondShare = 0.5;
// Nor closer than this, whatever their radii (H-H in H2 is 0.74 angstrom).
inline constexpr double kShortestContact = 0.5;

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

struct CellAtoms {
    std::vector<CifAtom> atoms;
    // The sites listed again: each label with that of the earlier site whose atoms it repeats.
    std::vector<std::pair<std::string, std::string>> repeated;
};

// Each site's images must fall into groups of one size, the order of its site symmetry, one group
// for each atom of its multiplicity. ExpansionError where they do not (the site stands near a
// symmetry element, neither on it nor clear of it), where atoms of several sites on one place hold
// more than one atom, or where two atoms that hold more than one atom stand closer than any bond
// between them allows (the closest such pair is named); TooManyAtoms where the cell would hold more
// than kMostUnitCellAtoms. The operations must make a group.
CellAtoms UnitCellAtoms(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice);
