#include "crystal/cif_crystal.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "crystal/chemical_formula.h"
#include "crystal/cif_document.h"
#include "crystal/cif_reader.h"
#include "crystal/cif_repeated_tags.h"
#include "crystal/cif_sites.h"
#include "crystal/cif_symmetry.h"
#include "crystal/origin_choice.h"
#include "crystal/unit_cell_atoms.h"

CifCrystal::CifCrystal(Lattice lattice, std::string name, std::string spaceGroup, std::vector<CifAtom> atoms,
                       const std::vector<gemmi::Op>& ops)
    : Crystal(lattice, std::move(name)), spaceGroup_(std::move(spaceGroup)), atoms_(std::move(atoms)),
      factors_(std::make_unique<StructureFactors>(lattice, atoms_, ops))
{
}

std::unique_ptr<Scattering> CifCrystal::At(double keV) const { return factors_->At(keV); }

bool CifCrystal::Extinct(Miller m) const { return factors_->Extinct(m); }

namespace {

// What the file says of its composition, the evidence for an origin choice it leaves open.
StatedComposition Composition(const CifReader& r)
{
    StatedComposition stated;
    if (const CifItem* z = r.block->Item(kFormulaUnitsTag); z != nullptr && CifNumber(z->value) > 0.0) {
        stated.z = CifNumber(z->value);
    }
    if (const CifItem* formula = r.block->Item(kFormulaTag)) {
        stated.formulaText = CifString(formula->value);
        if (const auto sum = FormulaSum(stated.formulaText)) stated.formula = *sum;
    }
    return stated;
}

}  // namespace

std::unique_ptr<CifCrystal> CifCrystal::Parse(const std::string& text, const std::string& source, std::string* notice, double cellScale)
{
    std::vector<std::string> notices;
    std::vector<CifBlock> blocks = ReadCifBlocks(text, source, &notices);
    if (blocks.empty()) throw CrystalFileError(source + ": no data block");
    const auto withCell = std::find_if(blocks.begin(), blocks.end(), [](const CifBlock& b) { return b.Item("_cell_length_a") != nullptr; });
    CifBlock& block = withCell != blocks.end() ? *withCell : blocks.front();
    SettleRepeatedTags(block, source, &notices);
    const CifReader r{source, &block};
    Lattice lattice = Lattice::Cubic(1.0);
    {
        const double a = cellScale * r.Number("_cell_length_a"), b = cellScale * r.Number("_cell_length_b"),
                     c = cellScale * r.Number("_cell_length_c");
        const double alpha = r.Number("_cell_angle_alpha"), beta = r.Number("_cell_angle_beta"), gamma = r.Number("_cell_angle_gamma");
        try {
            lattice = Lattice(a, b, c, alpha, beta, gamma);
        } catch (const std::invalid_argument& e) {
            char cell[160];
            std::snprintf(cell, sizeof cell, "%g %g %g %g %g %g", a, b, c, alpha, beta, gamma);
            r.Fail(std::string("the cell ") + cell + " is no cell: " + e.what(), r.block->Item("_cell_length_a")->line);
        }
    }
    const CifSymmetry symmetry = ReadSymmetry(r, lattice);
    notices.insert(notices.end(), symmetry.notices.begin(), symmetry.notices.end());
    const std::vector<CifAtom> sites = AsymmetricUnit(r, lattice, &notices);
    int column = -1;
    const int sitesLine = r.block->Loop("_atom_site_fract_x", &column)->line;
    CellAtoms cell;
    std::vector<gemmi::Op> ops = symmetry.ops;  // those the atoms are expanded with
    std::string group = symmetry.name;
    try {
        if (symmetry.secondOrigin.empty()) {
            cell = UnitCellAtoms(sites, symmetry.ops, lattice);
        } else {
            const std::string open = symmetry.given + " names a group of two origin choices and the file states neither";
            const std::vector<gemmi::Op> choices[2] = {symmetry.ops, symmetry.secondOrigin};
            try {
                SettledOrigin settled = SettleOrigin(sites, choices, lattice, Composition(r));
                cell = std::move(settled.cell);
                ops = choices[settled.choice - 1];
                const int other = 3 - settled.choice;
                notices.push_back(r.At(symmetry.line) + open + ": kelto takes origin choice " + std::to_string(settled.choice) + " (" +
                                  symmetry.choiceNames[settled.choice - 1] + "), since in choice " + std::to_string(other) + " " +
                                  settled.otherFault);
                group += " :" + std::to_string(settled.choice);
            } catch (const UnsettledOrigin& e) {
                if (e.fitsBoth()) {
                    r.Fail(open + "; " + e.what() + ": name it '" + symmetry.choiceNames[0] + "' or '" + symmetry.choiceNames[1] +
                               "', or list its operations (_space_group_symop_operation_xyz)",
                           symmetry.line);
                }
                r.Fail(open + "; " + e.what() + ": check the sites, " + kFormulaUnitsTag + " and " + kFormulaTag, symmetry.line);
            }
        }
    } catch (const TooManyAtoms& e) {
        r.Fail(e.what());
    } catch (const ExpansionError& e) {
        r.Fail(e.what(), sitesLine);
    }
    if (!cell.repeated.empty()) {
        std::string repeated;
        for (std::size_t i = 0; i < cell.repeated.size(); ++i) {
            repeated += (i == 0 ? "" : i + 1 == cell.repeated.size() ? " and " : ", ") + cell.repeated[i].first + " as " +
                        cell.repeated[i].second;
        }
        notices.push_back(r.At(sitesLine) + "sites on a symmetry image of an earlier site of the same element and occupancy are "
                          "that site's atoms listed again: kelto reads " + repeated);
    }
    if (notice != nullptr) {
        notice->clear();
        for (const std::string& line : notices) *notice += (notice->empty() ? "" : "\n") + line;
    }
    std::unique_ptr<CifCrystal> crystal(new CifCrystal(lattice, r.block->name, group, std::move(cell.atoms), ops));
    crystal->pointGroup_ = PointGroupOf(ops);
    return crystal;
}

std::unique_ptr<CifCrystal> CifCrystal::Read(const std::string& path, std::string* notice, double cellScale)
{
    std::string text;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw CrystalFileError(path + (std::filesystem::exists(path, error) ? ": not a regular file" : ": no such file"));
    }
    {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) throw CrystalFileError(path + ": cannot be read: " + std::strerror(errno));
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            text.append(buffer, n);
            if (text.size() > (std::size_t{64} << 20)) {
                std::fclose(file);
                throw CrystalFileError(path + ": larger than 64 MB, no small-molecule CIF");
            }
        }
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) throw CrystalFileError(path + ": cannot be read");
    }
    return Parse(text, path, notice, cellScale);
}
