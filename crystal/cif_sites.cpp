#include "crystal/cif_sites.h"

#include <gemmi/elem.hpp>
#include <gemmi/it92.hpp>

#include <algorithm>
#include <cctype>
#include <limits>
#include <numbers>
#include <string>

#include "crystal/chemical_formula.h"
#include "io/run_error.h"
#include "setup/units.h"

namespace {

// B of a site: from U_iso or B_iso, or the isotropic equivalent of its anisotropic U,
// U_eq = 1/3 sum_ij U_ij a*_i a*_j (a_i . a_j). NaN when the CIF gives none.
struct Displacements {
    std::vector<std::string> labels;
    std::vector<double> b;
};

Displacements Anisotropic(const CifReader& r, const Lattice& lattice)
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
    const auto cosine = [](double degrees) { return std::cos(Radians(degrees)); };
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

// Refuses rows whose positions coincide (closer than kSamePosition, across the cell's faces too)
// with more than one atom in all. Rows are compared only with those whose x lies close enough
// (|dx| <= |dr| |a*|), in the order of x, so that large asymmetric units stay quick.
void RefuseCrowdedSites(const CifReader& r, const std::vector<CifAtom>& sites, const Lattice& lattice, int line)
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

// An element kelto has scattering factors for, from its symbol in any case ("Si", "SI"); X otherwise.
gemmi::Element Scatterer(const std::string& symbol)
{
    const gemmi::Element element(symbol);
    return element.elem != gemmi::El::X && gemmi::IT92<double>::has(element.elem) ? element : gemmi::Element(gemmi::El::X);
}

bool IsLetter(const std::string& text, std::size_t i) { return i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); }

// The element of a type symbol: an element's symbol in any case with no letter after it, at most a
// charge ("Si", "SI", "O2-", "Fe3+"; not "H2O"); X where there is none.
gemmi::Element TypedElement(const std::string& symbol)
{
    std::size_t letters = 0;
    while (IsLetter(symbol, letters)) ++letters;
    const bool charge = std::none_of(symbol.begin() + static_cast<std::ptrdiff_t>(letters), symbol.end(),
                                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
    return (letters == 1 || letters == 2) && charge ? Scatterer(symbol.substr(0, letters)) : gemmi::Element(gemmi::El::X);
}

// The one atom other than hydrogen of a type symbol that names a group of it with hydrogen or
// deuterium, written as formulas are, each element's symbol with its count and a charge at the end
// ('OH2', 'H2O', 'OH-', 'NH4+', 'D2O'); X where the symbol names no such group.
gemmi::Element HeavyAtomOfGroup(const std::string& symbol)
{
    const auto is = [&](std::size_t i, int (*test)(int)) { return i < symbol.size() && test(static_cast<unsigned char>(symbol[i])) != 0; };
    gemmi::Element heavy(gemmi::El::X);
    bool hydrogen = false;
    std::size_t i = 0;
    while (is(i, std::isupper)) {
        const std::size_t length = is(i + 1, std::islower) ? 2 : 1;
        const gemmi::Element element(symbol.substr(i, length));
        i += length;
        const std::size_t digits = i;
        while (is(i, std::isdigit)) ++i;
        const bool one = digits == i || symbol.substr(digits, i - digits) == "1";
        if (element.elem == gemmi::El::X) return gemmi::Element(gemmi::El::X);
        if (element.is_hydrogen()) {
            hydrogen = true;
        } else if (heavy.elem != gemmi::El::X || !one) {
            return gemmi::Element(gemmi::El::X);  // two atoms other than hydrogen
        } else {
            heavy = element;
        }
    }
    if (i < symbol.size() && (symbol[i] == '+' || symbol[i] == '-')) {  // the charge
        ++i;
        while (is(i, std::isdigit)) ++i;
    }
    if (i != symbol.size() || !hydrogen || heavy.elem == gemmi::El::X || !gemmi::IT92<double>::has(heavy.elem)) {
        return gemmi::Element(gemmi::El::X);
    }
    return heavy;
}

// The elements a site's label may name, the longer first: its first two letters where they are the
// symbol of an element kelto has scattering factors for, then its first letter. `whole` is set where
// the label's letters are that symbol and no more ("Si1", "CL2", "O12"; not "Sia1", "OH2" or "Wat1").
std::vector<gemmi::Element> LabelElements(const std::string& label, bool* whole)
{
    std::size_t letters = 0;
    while (IsLetter(label, letters)) ++letters;
    std::vector<gemmi::Element> candidates;
    for (const std::size_t length : {2, 1}) {
        if (letters < length) continue;
        const gemmi::Element element = Scatterer(label.substr(0, length));
        if (element.elem == gemmi::El::X) continue;
        if (length == letters) {
            *whole = true;
            return {element};
        }
        candidates.push_back(element);
    }
    *whole = false;
    return candidates;
}

// The items joined with commas and a last "and", the first kMostNamed of them, then how many more.
std::string Listed(const std::vector<std::string>& items)
{
    constexpr std::size_t kMostNamed = 20;
    std::string text;
    const std::size_t shown = std::min(items.size(), kMostNamed);
    for (std::size_t i = 0; i < shown; ++i) {
        text += (i == 0 ? "" : i + 1 == shown && shown == items.size() ? " and " : ", ") + items[i];
    }
    if (shown < items.size()) text += Printed(" and %zu more", items.size() - shown);
    return text;
}

// "site Ga1", "sites Ga1 and As1".
std::string Sites(const std::vector<std::string>& labels) { return (labels.size() == 1 ? "site " : "sites ") + Listed(labels); }

}  // namespace

std::vector<CifAtom> AsymmetricUnit(const CifReader& r, const Lattice& lattice, std::vector<std::string>* notices)
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
    // ICSD's files write '.' for a coordinate of 0; elsewhere '.' says the coordinate does not apply.
    const bool icsd = r.block->Item(kIcsdCodeTag) != nullptr;
    const Displacements aniso = Anisotropic(r, lattice);
    // The file's formula, which an element read from a label that goes on in letters must be one of.
    const CifItem* formulaItem = r.block->Item(kFormulaTag);
    const std::string formulaText = formulaItem != nullptr && !CifNull(formulaItem->value) ? CifString(formulaItem->value) : "";
    const auto formula = FormulaSum(formulaText);
    const auto inFormula = [&](const gemmi::Element& e) {
        return std::any_of(formula->begin(), formula->end(), [&](const auto& part) { return part.first == e.atomic_number(); });
    };
    std::vector<CifAtom> sites;
    std::vector<std::string> fromLabels, grouped, groupedLabels, outsideFormula, outsideElements, dotted, undisplaced;
    for (const auto& row : loop->rows) {
        CifAtom a{};
        a.label = CifString(column[kLabel] >= 0 ? value(row, kLabel) : value(row, kSymbol));
        const bool typed = !CifNull(value(row, kSymbol));
        const std::string symbol = typed ? CifString(value(row, kSymbol)) : a.label;
        gemmi::Element element(gemmi::El::X);
        if (typed) {
            element = TypedElement(symbol);
            if (element.elem == gemmi::El::X) {
                element = HeavyAtomOfGroup(symbol);
                if (element.elem != gemmi::El::X) {
                    grouped.push_back(a.label + " ('" + symbol + "') as " + element.name());
                    groupedLabels.push_back(a.label);
                }
            }
        } else {
            bool whole = false;
            const std::vector<gemmi::Element> candidates = LabelElements(symbol, &whole);
            if (whole) {
                element = candidates.front();
            } else if (!candidates.empty()) {
                const auto held = formula ? std::find_if(candidates.begin(), candidates.end(), inFormula) : candidates.begin();
                if (held == candidates.end()) {
                    outsideFormula.push_back(a.label);
                    const std::string would = candidates.front().name();
                    if (std::find(outsideElements.begin(), outsideElements.end(), would) == outsideElements.end()) outsideElements.push_back(would);
                    element = candidates.front();  // refused below, once every such site is known
                } else {
                    element = *held;
                    fromLabels.push_back(a.label + " as " + element.name());
                }
            }
        }
        if (element.elem == gemmi::El::X) {
            r.Fail("site " + a.label + ": '" + symbol + "' is no element kelto has scattering factors for", line);
        }
        a.element = element.atomic_number();
        double* coordinates[3] = {&a.x, &a.y, &a.z};
        bool dot = false;
        for (int axis = 0; axis < 3; ++axis) {
            const std::string& written = value(row, kX + axis);
            dot = dot || (icsd && written == ".");
            *coordinates[axis] = icsd && written == "." ? 0.0 : CifNumber(written);
        }
        if (dot) dotted.push_back(a.label);
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
            undisplaced.push_back(a.label);
        } else if (!(a.b >= 0.0 && a.b < 100.0)) {
            r.Fail("site " + a.label + ": its displacement parameter is no B from 0 to 100 square angstrom", line);
        }
        sites.push_back(a);
    }
    if (sites.empty()) r.Fail("no atom sites", line);
    if (!outsideFormula.empty()) {
        const bool one = outsideFormula.size() == 1;
        r.Fail(Sites(outsideFormula) + (one ? " gives" : " give") + " no _atom_site_type_symbol, and " + (one ? "its label begins" : "their labels begin") +
                   " with no element of " + kFormulaTag + " '" + formulaText + "' (" + (one ? "the label" : "the labels") +
                   " would give " + Listed(outsideElements) + "): give " + (one ? "its" : "their") + " _atom_site_type_symbol",
               line);
    }
    RefuseCrowdedSites(r, sites, lattice, line);
    if (!fromLabels.empty()) {
        notices->push_back(r.At(line) + "kelto takes each element from its site's label where there is no _atom_site_type_symbol; " +
                           (fromLabels.size() == 1 ? "this label goes" : "these labels go") + " on in letters after the element's symbol" +
                           (formula ? std::string(", which ") + kFormulaTag + " holds" : std::string()) + ": " + Listed(fromLabels));
    }
    if (!grouped.empty()) {
        notices->push_back(r.At(line) + Sites(groupedLabels) + (grouped.size() == 1 ? " is" : " are") +
                           " typed with a group of atoms, not an element: kelto reads " + (grouped.size() == 1 ? "it" : "each") +
                           " as its atom other than hydrogen, leaving the hydrogen out: " + Listed(grouped));
    }
    if (!dotted.empty()) {
        notices->push_back(r.At(line) + Sites(dotted) + (dotted.size() == 1 ? " gives" : " give") +
                           " '.' for a coordinate, which ICSD's files write for 0: kelto reads 0");
    }
    if (undisplaced.size() == sites.size()) {
        notices->push_back(r.source + " gives no displacement parameters: kelto takes B = 0 for every atom");
    } else if (!undisplaced.empty()) {
        notices->push_back(r.At(line) + Sites(undisplaced) + Printed(" (%zu of %zu)", undisplaced.size(), sites.size()) +
                           (undisplaced.size() == 1 ? " gives" : " give") + " no displacement parameter: kelto takes B = 0 for " +
                           (undisplaced.size() == 1 ? "it" : "them"));
    }
    return sites;
}
