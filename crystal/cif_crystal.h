// A crystal read from a small-molecule CIF: its cell, its space group (by its symmetry operations,
// its Hall symbol, its Hermann-Mauguin name or its number) and its atom sites, expanded to every atom of the
// unit cell. Its structure factor at the photon energy E sums over those atoms
//   occupancy (f0(s) + f'(E) + i f''(E)) exp(-B s^2) exp(2 pi i (h x + k y + l z)),  s = |X| / 2,
// f0 from the International Tables (1992) coefficients, f' and f'' from the Cromer-Liberman
// calculation; ions scatter as their neutral atoms (crystal/structure_factors.h makes it quickly).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "crystal/cif_atom.h"
#include "crystal/crystal.h"
#include "crystal/crystal_file_error.h"
#include "crystal/structure_factors.h"

namespace gemmi {
struct Op;
}  // namespace gemmi

class CifCrystal : public Crystal {
public:
    // Reads the first data block that has a cell. `notice` receives lines for the user, one for each
    // thing read with a judgement of its own (or stays empty): sites without displacement parameters
    // taken with B = 0, a repeated tag, an unquoted value with blanks or with characters beyond
    // ASCII, typographic quotes, ICSD's '.' for 0, elements from labels, a symmetry source passed
    // over, a group read in the one setting of it the cell has, an origin choice settled from the
    // structure. Throws CrystalFileError. `cellScale` multiplies the cell's lengths before anything
    // is built on them: the cell at another temperature (crystal/thermal_expansion.h).
    static std::unique_ptr<CifCrystal> Read(const std::string& path, std::string* notice, double cellScale = 1.0);
    // The same from the text of a CIF; `source` names it in messages.
    static std::unique_ptr<CifCrystal> Parse(const std::string& text, const std::string& source, std::string* notice,
                                             double cellScale = 1.0);

    const std::vector<CifAtom>& atoms() const { return atoms_; }
    const std::string& spaceGroup() const { return spaceGroup_; }

    std::unique_ptr<Scattering> At(double keV) const override;
    bool Extinct(Miller m) const override;
    std::vector<MillerRotation> PointGroup() const override { return pointGroup_; }

private:
    CifCrystal(Lattice lattice, std::string name, std::string spaceGroup, std::vector<CifAtom> atoms, const std::vector<gemmi::Op>& ops);

    std::string spaceGroup_;
    std::vector<MillerRotation> pointGroup_;  // of the space group's operations
    std::vector<CifAtom> atoms_;
    std::unique_ptr<StructureFactors> factors_;
};
