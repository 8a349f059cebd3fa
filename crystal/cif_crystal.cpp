#include "crystal/cif_crystal.h"

#include <gemmi/elem.hpp>
#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <string_view>

#include "crystal/cif_document.h"
#include "io/run_error.h"

namespace {

// Symmetry images of a site closer than this (angstrom) are one atom on a special position.
constexpr double kSamePosition = 0.05;
// Rows may share a site (a mixed or disordered one: 0.5 Fe and 0.5 Ni), but no more than one atom
// stands there in all; rounded shares such as three of 0.334 are one atom still.
constexpr double kOccupancySlack = 1e-3;
// The order of the largest space groups (F m -3 m and its kin in the conventional cell).
constexpr std::size_t kMostOperations = 192;

struct Reader {
    std::string source;
    const CifBlock* block;

    [[noreturn]] void Fail(const std::string& what, int line = -1) const
    {
        throw CrystalFileError(source + (line > 0 ? ":" + std::to_string(line) : "") + ": " + what);
    }

    // A number of the block's single items, such as _cell_length_a.
    double Number(const std::string& tag) const
    {
        const CifItem* item = block->Item(tag);
        if (item == nullptr) Fail("no " + tag + " (the cell must be given)");
        const double value = CifNumber(item->value);
        if (!std::isfinite(value)) Fail(tag + " is '" + item->value + "', not a number", item->line);
        return value;
    }
};

// A symmetry operation as x, y, z with small whole numbers and fractions only: what the parser
// takes without overflowing its integers.
bool PlainTriplet(const std::string& text)
{
    std::size_t digits = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (++digits > 3) return false;
            continue;
        }
        digits = 0;
        if (std::string_view("xyzXYZ+-/*, ").find(c) == std::string_view::npos) return false;
    }
    return true;
}

// Lower case, single blanks, none at the ends: Hall symbols compared as written in any layout.
std::string Squeezed(const std::string& text)
{
    std::string squeezed;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!squeezed.empty() && squeezed.back() != ' ') squeezed += ' ';
        } else {
            squeezed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
    return squeezed;
}

std::vector<gemmi::Op> SymmetryOperations(const Reader& r)
{
    for (const char* tag : {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"}) {
        int column = -1;
        const CifLoop* loop = r.block->Loop(tag, &column);
        std::vector<std::string> values;
        int line = 0;
        if (loop != nullptr) {
            for (const auto& row : loop->rows) values.push_back(row[static_cast<std::size_t>(column)]);
            line = loop->line;
        } else if (const CifItem* item = r.block->Item(tag)) {
            values.push_back(item->value);
            line = item->line;
        } else {
            continue;
        }
        std::vector<gemmi::Op> ops;
        for (const std::string& value : values) {
            const std::string triplet = CifString(value);
            try {
                if (!PlainTriplet(triplet)) throw std::invalid_argument("it may hold x, y, z, signs, fractions and '*' only");
                ops.push_back(gemmi::parse_triplet(triplet));
            } catch (const std::exception& e) {
                r.Fail(std::string(tag) + " '" + triplet + "' is no symmetry operation: " + e.what(), line);
            }
        }
        if (ops.empty()) r.Fail(std::string(tag) + " lists no operation", line);
        if (ops.size() > kMostOperations) {
            r.Fail(std::string(tag) + " lists " + std::to_string(ops.size()) + " operations, more than the " +
                   std::to_string(kMostOperations) + " of any space group", line);
        }
        return ops;
    }
    const auto listed = [](const gemmi::GroupOps& group) {
        std::vector<gemmi::Op> ops;
        for (const gemmi::Op& op : group) ops.push_back(op);
        return ops;
    };
    for (const char* tag : {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"}) {
        if (const CifItem* item = r.block->Item(tag)) {
            // Only the Hall symbols of the tables: the symbol parser is not safe for any text.
            const std::string hall = Squeezed(CifString(item->value));
            for (const gemmi::SpaceGroup& group : gemmi::spacegroup_tables::main) {
                if (Squeezed(group.hall) == hall) return listed(group.operations());
            }
            r.Fail(std::string(tag) + " '" + CifString(item->value) + "' is no Hall symbol kelto knows", item->line);
        }
    }
    for (const char* tag : {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M", "_space_group_IT_number",
                            "_symmetry_Int_Tables_number"}) {
        if (const CifItem* item = r.block->Item(tag)) {
            const std::string name = CifString(item->value);
            const gemmi::SpaceGroup* group = gemmi::find_spacegroup_by_name(name, r.Number("_cell_angle_alpha"),
                                                                              r.Number("_cell_angle_gamma"));
            if (group == nullptr) r.Fail(std::string(tag) + " '" + name + "' is no space group kelto knows", item->line);
            return listed(group->operations());
        }
    }
    r.Fail("no space group: give _space_group_symop_operation_xyz, _space_group_name_Hall or _space_group_name_H-M_alt");
}

// B of a site: from U_iso or B_iso, or the isotropic equivalent of its anisotropic U,
// U_eq = 1/3 sum_ij U_ij a*_i a*_j (a_i . a_j). NaN when the CIF gives none.
struct Displacements {
    std::vector<std::string> labels;
    std::vector<double> b;
};

Displacements Anisotropic(const Reader& r, const Lattice& lattice)
{
    Displacements d;
    int labelColumn = -1;
    const CifLoop* loop = r.block->Loop("_atom_site_aniso_label", &labelColumn);
    if (loop == nullptr) return d;
    int columns[6];
    const char* names[6] = {"_atom_site_aniso_U_11", "_atom_site_aniso_U_22", "_atom_site_aniso_U_33",
                            "_atom_site_aniso_U_12", "_atom_site_aniso_U_13", "_atom_site_aniso_U_23"};
    for (int i = 0; i < 6; ++i) {
        if (r.block->Loop(names[i], &columns[i]) != loop) return d;  // no complete U: the sites keep their own
    }
    const double len[3] = {lattice.a(), lattice.b(), lattice.c()};
    const Vec3 star[3] = {lattice.Reciprocal(1, 0, 0), lattice.Reciprocal(0, 1, 0), lattice.Reciprocal(0, 0, 1)};
    const auto cosine = [](double degrees) { return std::cos(degrees * std::numbers::pi / 180); };
    const double cosines[3][3] = {{1, cosine(lattice.gamma()), cosine(lattice.beta())},
                                  {cosine(lattice.gamma()), 1, cosine(lattice.alpha())},
                                  {cosine(lattice.beta()), cosine(lattice.alpha()), 1}};
    for (const auto& row : loop->rows) {
        double u[6];
        for (int i = 0; i < 6; ++i) u[i] = CifNumber(row[static_cast<std::size_t>(columns[i])]);
        const double matrix[3][3] = {{u[0], u[3], u[4]}, {u[3], u[1], u[5]}, {u[4], u[5], u[2]}};
        double sum = 0.0;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) sum += matrix[i][j] * Length(star[i]) * Length(star[j]) * len[i] * len[j] * cosines[i][j];
        }
        d.labels.push_back(CifString(row[static_cast<std::size_t>(labelColumn)]));
        d.b.push_back(8.0 * std::numbers::pi * std::numbers::pi * sum / 3.0);
    }
    return d;
}

// A fractional coordinate brought into [0, 1). A tiny negative one (the image of 1e-30 under -x)
// would round to 1.0 after subtracting its floor, so that case is the origin.
double IntoUnitCell(double p)
{
    const double wrapped = p - std::floor(p);
    return wrapped < 1.0 ? wrapped : 0.0;
}

// Refuses rows whose positions coincide (closer than kSamePosition, across the cell's faces too)
// with more than one atom in all. Rows are compared only with those whose x lies close enough
// (|dx| <= |dr| |a*|), in the order of x, so that large asymmetric units stay quick.
void RefuseCrowdedSites(const Reader& r, const std::vector<CifAtom>& sites, const Lattice& lattice, int line)
{
    const auto wrapped = [](double d) { return d - std::round(d); };
    const auto together = [&](const CifAtom& p, const CifAtom& q) {
        return Length(lattice.Direct(wrapped(p.x - q.x), wrapped(p.y - q.y), wrapped(p.z - q.z))) < kSamePosition;
    };
    const std::size_t n = sites.size();
    std::vector<double> x(n), total(n);
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = IntoUnitCell(sites[i].x), total[i] = sites[i].occupancy, order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return x[i] < x[j]; });
    const auto pair = [&](std::size_t i, std::size_t j) {
        if (!together(sites[i], sites[j])) return;
        total[i] += sites[j].occupancy;
        total[j] += sites[i].occupancy;
    };
    const double reach = kSamePosition * Length(lattice.Reciprocal(1, 0, 0)) * (1.0 + 1e-9);
    for (std::size_t a = 0; a < n; ++a) {
        const std::size_t i = order[a];
        if (reach >= 0.25) {  // a cell a few tenths of an angstrom wide: every pair
            for (std::size_t b = a + 1; b < n; ++b) pair(i, order[b]);
            continue;
        }
        for (std::size_t b = a + 1; b < n && x[order[b]] - x[i] <= reach; ++b) pair(i, order[b]);
        for (std::size_t b = n - 1; b > a && x[i] + 1.0 - x[order[b]] <= reach; --b) pair(i, order[b]);  // across x = 1
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (total[i] <= 1.0 + kOccupancySlack) continue;
        std::string labels;
        int named = 0, more = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j != i && !together(sites[i], sites[j])) continue;
            if (named == 4) {
                ++more;
                continue;
            }
            labels += (named++ > 0 ? ", " : "") + sites[j].label;
        }
        if (more > 0) labels += Printed(" and %d more", more);
        r.Fail(Printed("sites %s at %g %g %g hold a total occupancy of %g, more than one atom", labels.c_str(), sites[i].x,
                       sites[i].y, sites[i].z, total[i]), line);
    }
}

std::vector<CifAtom> AsymmetricUnit(const Reader& r, const Lattice& lattice, bool* displaced)
{
    int column[8];
    const char* tags[8] = {"_atom_site_label", "_atom_site_type_symbol", "_atom_site_fract_x", "_atom_site_fract_y",
                           "_atom_site_fract_z", "_atom_site_U_iso_or_equiv", "_atom_site_B_iso_or_equiv",
                           "_atom_site_occupancy"};
    enum { kLabel, kSymbol, kX, kY, kZ, kU, kB, kOccupancy };
    const CifLoop* loop = r.block->Loop(tags[kLabel], &column[kLabel]);
    if (loop == nullptr) loop = r.block->Loop(tags[kSymbol], &column[kSymbol]);
    if (loop == nullptr) r.Fail("no atom sites (a loop of _atom_site_label and _atom_site_fract_x, y, z)");
    for (int i = 0; i < 8; ++i) {
        if (r.block->Loop(tags[i], &column[i]) != loop) column[i] = -1;  // absent, or in another loop
    }
    const int line = loop->line;
    if (column[kX] < 0 || column[kY] < 0 || column[kZ] < 0) {
        r.Fail("the atom sites have no _atom_site_fract_x, _atom_site_fract_y and _atom_site_fract_z", line);
    }
    const auto value = [&](const std::vector<std::string>& row, int which) -> std::string {
        return column[which] < 0 ? std::string("?") : row[static_cast<std::size_t>(column[which])];
    };
    const Displacements aniso = Anisotropic(r, lattice);
    std::vector<CifAtom> sites;
    *displaced = false;
    for (const auto& row : loop->rows) {
        CifAtom a{};
        a.label = CifString(column[kLabel] >= 0 ? value(row, kLabel) : value(row, kSymbol));
        const std::string symbol = CifNull(value(row, kSymbol)) ? a.label : CifString(value(row, kSymbol));
        const std::size_t letters = symbol.size() > 1 && std::isalpha(static_cast<unsigned char>(symbol[1])) ? 2 : 1;
        const gemmi::Element element(gemmi::find_element(symbol.substr(0, std::min(letters, symbol.size())).c_str()));
        if (element.elem == gemmi::El::X || !gemmi::IT92<double>::has(element.elem)) {
            r.Fail("site " + a.label + ": '" + symbol + "' is no element kelto has scattering factors for", line);
        }
        a.element = element.atomic_number();
        a.x = CifNumber(value(row, kX)), a.y = CifNumber(value(row, kY)), a.z = CifNumber(value(row, kZ));
        if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(a.z)) {
            r.Fail("site " + a.label + " has no position (fract_x, y, z '" + value(row, kX) + "', '" + value(row, kY) + "', '" +
                   value(row, kZ) + "')", line);
        }
        a.occupancy = CifNull(value(row, kOccupancy)) ? 1.0 : CifNumber(value(row, kOccupancy));
        if (!(a.occupancy >= 0.0 && a.occupancy <= 1.0)) {
            r.Fail("site " + a.label + ": occupancy '" + value(row, kOccupancy) + "' is not from 0 to 1", line);
        }
        a.b = std::numeric_limits<double>::quiet_NaN();
        if (!CifNull(value(row, kU))) {
            a.b = 8.0 * std::numbers::pi * std::numbers::pi * CifNumber(value(row, kU));
        } else if (!CifNull(value(row, kB))) {
            a.b = CifNumber(value(row, kB));
        }
        const auto found = std::find(aniso.labels.begin(), aniso.labels.end(), a.label);
        if (std::isnan(a.b) && found != aniso.labels.end()) a.b = aniso.b[static_cast<std::size_t>(found - aniso.labels.begin())];
        if (std::isnan(a.b)) {
            a.b = 0.0;
        } else {
            *displaced = true;
            if (!(a.b >= 0.0 && a.b < 100.0)) {
                r.Fail("site " + a.label + ": its displacement parameter is no B from 0 to 100 square angstrom", line);
            }
        }
        sites.push_back(a);
    }
    if (sites.empty()) r.Fail("no atom sites", line);
    RefuseCrowdedSites(r, sites, lattice, line);
    return sites;
}

// Every atom of the unit cell: each site under each operation, brought into [0, 1), once.
std::vector<CifAtom> UnitCellAtoms(const Reader& r, const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops,
                                   const Lattice& lattice)
{
    std::vector<CifAtom> atoms;
    for (const CifAtom& site : sites) {
        const std::size_t first = atoms.size();
        for (const gemmi::Op& op : ops) {
            const std::array<double, 3> p = op.apply_to_xyz({site.x, site.y, site.z});
            CifAtom image = site;
            image.x = IntoUnitCell(p[0]), image.y = IntoUnitCell(p[1]), image.z = IntoUnitCell(p[2]);
            const bool seen = std::any_of(atoms.begin() + first, atoms.end(), [&](const CifAtom& other) {
                const auto wrapped = [](double d) { return d - std::round(d); };
                const Vec3 direct = lattice.Direct(wrapped(image.x - other.x), wrapped(image.y - other.y), wrapped(image.z - other.z));
                return Length(direct) < kSamePosition;
            });
            if (seen) continue;
            if (atoms.size() == kMostUnitCellAtoms) {
                r.Fail("the unit cell holds more than " + std::to_string(kMostUnitCellAtoms) + " atoms, more than kelto plans for");
            }
            atoms.push_back(image);
        }
    }
    return atoms;
}

// f0, f' and f'' of one element at one energy.
struct ElementScattering {
    const gemmi::IT92<double>::Coef* f0;
    std::complex<double> anomalous;
};

class CifScattering : public Scattering {
public:
    CifScattering(const CifCrystal& crystal, const std::vector<int>& elements, const std::vector<int>& species, double keV)
        : crystal_(crystal), species_(species)
    {
        for (int z : elements) {
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
        // A crystal has few elements: their scattering factors at s on the stack.
        constexpr std::size_t kFew = 8;
        std::complex<double> few[kFew];
        std::vector<std::complex<double>> many(elements_.size() > kFew ? elements_.size() : 0);
        std::complex<double>* f = elements_.size() > kFew ? many.data() : few;
        for (std::size_t i = 0; i < elements_.size(); ++i) f[i] = elements_[i].f0->calculate_sf(s2) + elements_[i].anomalous;
        std::complex<double> sum = 0.0;
        const std::vector<CifAtom>& atoms = crystal_.atoms();
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            const CifAtom& a = atoms[i];
            const double phase = 2.0 * std::numbers::pi * (m.h * a.x + m.k * a.y + m.l * a.z);
            sum += a.occupancy * std::exp(-a.b * s2) * f[static_cast<std::size_t>(species_[i])] * std::polar(1.0, phase);
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
    const std::vector<int>& species_;
    std::vector<ElementScattering> elements_;
    double largest_ = 0.0;
};

}  // namespace

CifCrystal::CifCrystal(Lattice lattice, std::string name, std::string spaceGroup, std::vector<CifAtom> atoms)
    : Crystal(lattice, std::move(name)), spaceGroup_(std::move(spaceGroup)), atoms_(std::move(atoms))
{
    for (const CifAtom& a : atoms_) {
        auto found = std::find(elements_.begin(), elements_.end(), a.element);
        if (found == elements_.end()) found = elements_.insert(elements_.end(), a.element);
        species_.push_back(static_cast<int>(found - elements_.begin()));
    }
}

bool CifCrystal::Extinct(Miller m) const
{
    // F = sum over elements of f(s, E) S_element, S = sum over its atoms of occupancy exp(2 pi i h.x):
    // the symmetry forbids the reflection when every S vanishes, whatever f is.
    if (IsZero(m)) return true;
    std::vector<std::complex<double>> sums(elements_.size());
    double weight = 0.0;
    for (std::size_t i = 0; i < atoms_.size(); ++i) {
        const CifAtom& a = atoms_[i];
        sums[static_cast<std::size_t>(species_[i])] += a.occupancy * std::polar(1.0, 2.0 * std::numbers::pi * (m.h * a.x + m.k * a.y + m.l * a.z));
        weight += a.occupancy;
    }
    return std::all_of(sums.begin(), sums.end(), [&](std::complex<double> s) { return std::abs(s) < 1e-9 * weight; });
}

std::unique_ptr<Scattering> CifCrystal::At(double keV) const
{
    return std::make_unique<CifScattering>(*this, elements_, species_, keV);
}

std::unique_ptr<CifCrystal> CifCrystal::Parse(const std::string& text, const std::string& source, std::string* notice)
{
    const std::vector<CifBlock> blocks = ReadCifBlocks(text, source);
    const auto withCell = std::find_if(blocks.begin(), blocks.end(), [](const CifBlock& b) { return b.Item("_cell_length_a") != nullptr; });
    if (blocks.empty()) throw CrystalFileError(source + ": no data block");
    const Reader r{source, withCell != blocks.end() ? &*withCell : &blocks.front()};
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
    const std::vector<gemmi::Op> ops = SymmetryOperations(r);
    bool displaced = false;
    const std::vector<CifAtom> sites = AsymmetricUnit(r, lattice, &displaced);
    if (!displaced && notice != nullptr) {
        *notice = source + " gives no displacement parameters: kelto takes B = 0 for every atom";
    }
    std::string group;
    for (const char* tag : {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"}) {
        if (const CifItem* item = r.block->Item(tag); item != nullptr && group.empty()) group = CifString(item->value);
    }
    return std::unique_ptr<CifCrystal>(new CifCrystal(lattice, r.block->name, group, UnitCellAtoms(r, sites, ops, lattice)));
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
