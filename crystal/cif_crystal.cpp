#include "crystal/cif_crystal.h"

#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>

#include "crystal/chemical_formula.h"
#include "crystal/cif_document.h"
#include "crystal/cif_reader.h"
#include "crystal/cif_repeated_tags.h"
#include "crystal/cif_sites.h"
#include "crystal/cif_symmetry.h"
#include "crystal/origin_choice.h"
#include "crystal/unit_cell_atoms.h"
#include "setup/units.h"

namespace {

// The radius of the limiting sphere at `keV`, 2 / lambda (1/angstrom).
double LimitingRadiusAt(double keV) { return 2.0 * keV / kHcKeVAngstrom; }

}  // namespace

// The crystal's scattering at one energy: f0 at each reflection's s, f' and f'' of the energy.
class CifScattering : public Scattering {
    // f0, f' and f'' of one element at one energy.
    struct ElementScattering {
        const gemmi::IT92<double>::Coef* f0;
        std::complex<double> anomalous;
    };

public:
    CifScattering(const CifCrystal& crystal, double keV) : crystal_(crystal), phases_(crystal.PhasesFor(keV))
    {
        for (int z : crystal.elements_) {
            double fpp = 0.0;
            const double fp = gemmi::cromer_liberman(z, keV * 1000.0, &fpp);
            elements_.push_back({&gemmi::IT92<double>::get(static_cast<gemmi::El>(z)), {fp, fpp}});
        }
        largest_ = std::abs(F(Miller{0, 0, 0}));
    }

    std::complex<double> F(Miller m) const override
    {
        const Vec3 x = crystal_.lattice().Reciprocal(m);
        const double s2 = Dot(x, x) / 4.0;
        // A crystal has few elements and displacement groups: their sums on the stack.
        constexpr std::size_t kFew = 16;
        const std::size_t groups = crystal_.groups_.size();
        std::complex<double> few[kFew];
        std::vector<std::complex<double>> many(groups > kFew ? groups : 0);
        std::complex<double>* sums = groups > kFew ? many.data() : few;
        std::fill(sums, sums + groups, std::complex<double>{});
        const std::vector<CifAtom>& atoms = crystal_.atoms();
        if (phases_ && phases_->Covers(m)) {
            for (std::size_t i = 0; i < atoms.size(); ++i) {
                sums[static_cast<std::size_t>(crystal_.groupOf_[i])] += atoms[i].occupancy * phases_->Phase(i, m);
            }
        } else {
            for (std::size_t i = 0; i < atoms.size(); ++i) {
                const CifAtom& a = atoms[i];
                const double phase = 2.0 * std::numbers::pi * (m.h * a.x + m.k * a.y + m.l * a.z);
                sums[static_cast<std::size_t>(crystal_.groupOf_[i])] += a.occupancy * std::polar(1.0, phase);
            }
        }
        std::complex<double> sum = 0.0;
        for (std::size_t g = 0; g < groups; ++g) {
            const CifCrystal::DisplacementGroup& group = crystal_.groups_[g];
            const ElementScattering& e = elements_[static_cast<std::size_t>(group.species)];
            sum += (e.f0->calculate_sf(s2) + e.anomalous) * std::exp(-group.b * s2) * sums[g];
        }
        return sum;
    }

    bool Allows(Miller m) const override { return Modulus(m) > 0.0; }

    double Modulus(Miller m) const override
    {
        const double modulus = std::abs(F(m));
        return !IsZero(m) && modulus >= kForbiddenShare * largest_ ? modulus : 0.0;
    }

private:
    const CifCrystal& crystal_;
    std::shared_ptr<const AtomPhases> phases_;
    std::vector<ElementScattering> elements_;
    double largest_ = 0.0;
};

CifCrystal::CifCrystal(Lattice lattice, std::string name, std::string spaceGroup, std::vector<CifAtom> atoms)
    : Crystal(lattice, std::move(name)), spaceGroup_(std::move(spaceGroup)), atoms_(std::move(atoms))
{
    for (const CifAtom& a : atoms_) {
        auto found = std::find(elements_.begin(), elements_.end(), a.element);
        if (found == elements_.end()) found = elements_.insert(elements_.end(), a.element);
        species_.push_back(static_cast<int>(found - elements_.begin()));
        const int species = species_.back();
        auto group = std::find_if(groups_.begin(), groups_.end(),
                                  [&](const DisplacementGroup& g) { return g.species == species && g.b == a.b; });
        if (group == groups_.end()) group = groups_.insert(groups_.end(), {species, a.b});
        groupOf_.push_back(static_cast<int>(group - groups_.begin()));
    }
}

std::shared_ptr<const AtomPhases> CifCrystal::PhasesFor(double keV) const
{
    // Tables beyond this size would cost more to fill and hold than the sines they save.
    constexpr double kLargestTables = 256.0 * 1024 * 1024;
    double bounds[3] = {0.0, 0.0, 0.0};
    lattice().IndexBounds(LimitingRadiusAt(keV), bounds);
    int reach[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!(bounds[axis] < 100000.0)) return nullptr;
        reach[axis] = static_cast<int>(bounds[axis]) + 1;
    }
    const std::lock_guard<std::mutex> held(phasesLock_);
    if (phases_ && phases_->Reaches(reach)) return phases_;
    if (phases_) {
        for (int axis = 0; axis < 3; ++axis) reach[axis] = std::max(reach[axis], phases_->reach()[axis]);
    }
    if (!(AtomPhases::Bytes(atoms_.size(), reach) <= kLargestTables)) return phases_;
    std::vector<AtomPosition> positions;
    for (const CifAtom& a : atoms_) positions.push_back({a.x, a.y, a.z});
    phases_ = std::make_shared<const AtomPhases>(positions, reach);
    return phases_;
}

bool CifCrystal::Extinct(Miller m) const
{
    // F = sum over elements of f(s, E) S_element, S = sum over its atoms of occupancy exp(2 pi i h.x):
    // the symmetry forbids the reflection when every S vanishes, whatever f is.
    if (IsZero(m)) return true;
    std::vector<std::complex<double>> sums(elements_.size());
    std::shared_ptr<const AtomPhases> phases;
    {
        const std::lock_guard<std::mutex> held(phasesLock_);
        phases = phases_;
    }
    const bool tabled = phases && phases->Covers(m);
    double weight = 0.0;
    for (std::size_t i = 0; i < atoms_.size(); ++i) {
        const CifAtom& a = atoms_[i];
        sums[static_cast<std::size_t>(species_[i])] +=
            a.occupancy * (tabled ? phases->Phase(i, m) : std::polar(1.0, 2.0 * std::numbers::pi * (m.h * a.x + m.k * a.y + m.l * a.z)));
        weight += a.occupancy;
    }
    return std::all_of(sums.begin(), sums.end(), [&](std::complex<double> s) { return std::abs(s) < 1e-9 * weight; });
}

std::unique_ptr<Scattering> CifCrystal::At(double keV) const { return std::make_unique<CifScattering>(*this, keV); }

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

std::unique_ptr<CifCrystal> CifCrystal::Parse(const std::string& text, const std::string& source, std::string* notice)
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
        const double a = r.Number("_cell_length_a"), b = r.Number("_cell_length_b"), c = r.Number("_cell_length_c");
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
    std::vector<CifAtom> atoms;
    std::string group = symmetry.name;
    try {
        if (symmetry.secondOrigin.empty()) {
            atoms = UnitCellAtoms(sites, symmetry.ops, lattice);
        } else {
            const std::string open = symmetry.given + " names a group of two origin choices and the file states neither";
            const std::vector<gemmi::Op> ops[2] = {symmetry.ops, symmetry.secondOrigin};
            try {
                SettledOrigin settled = SettleOrigin(sites, ops, lattice, Composition(r));
                atoms = std::move(settled.atoms);
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
    if (notice != nullptr) {
        notice->clear();
        for (const std::string& line : notices) *notice += (notice->empty() ? "" : "\n") + line;
    }
    return std::unique_ptr<CifCrystal>(new CifCrystal(lattice, r.block->name, group, std::move(atoms)));
}

std::unique_ptr<CifCrystal> CifCrystal::Read(const std::string& path, std::string* notice)
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
    return Parse(text, path, notice);
}
