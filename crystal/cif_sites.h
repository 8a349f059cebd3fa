// The atom sites of a CIF, its asymmetric unit: each row of the _atom_site_ loop with its element,
// position, occupancy and isotropic displacement parameter.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "crystal/cif_atom.h"
#include "crystal/cif_reader.h"
#include "crystal/lattice.h"

// Atoms closer than this (angstrom) stand on one place: symmetry images of a site closer than this
// are one atom on a special position.
inline constexpr double kSamePosition = 0.05;
// Rows may share a site (a mixed or disordered one: 0.5 Fe and 0.5 Ni), but no more than one atom
// stands there in all; rounded shares such as three of 0.334 are one atom still.
inline constexpr double kOccupancySlack = 1e-3;

// A fractional coordinate brought into [0, 1). A tiny negative one (the image of 1e-30 under -x)
// would round to 1.0 after subtracting its floor, so that case is the origin.
inline double IntoUnitCell(double p)
{
    const double wrapped = p - std::floor(p);
    return wrapped < 1.0 ? wrapped : 0.0;
}

// The sites, refused (CrystalFileError) where a row has no element kelto knows, no position, an
// occupancy outside 0 to 1, a displacement parameter outside 0 to 100 square angstrom, or where rows
// closer than kSamePosition hold more than one atom. A site without a type symbol takes its element
// from its label: the label's letters where they are an element's symbol, else the element its
// label begins with, two letters or one, which must be one of the file's _chemical_formula_sum where
// it gives one (a label "Wat1" is no tungsten in a mineral without it); such sites are refused
// where the formula holds none. A type symbol that names a group with hydrogen ('OH2', 'H2O',
// 'NH4+') is read as its atom other than hydrogen. Lines for the user go to `notices`: sites without
// a displacement parameter (taken with B = 0), elements read from labels that go on in letters,
// groups read as one atom, an ICSD file's '.' read as a coordinate of 0.
std::vector<CifAtom> AsymmetricUnit(const CifReader& r, const Lattice& lattice, std::vector<std::string>* notices);
