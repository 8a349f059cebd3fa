#include "crystal/cif_sites.h"

#include <gemmi/elem.hpp>
#include <gemmi/it92.hpp>

#include <algorithm>
#include <cctype>
#include <limits>
#include <numbers>
#include <string>

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

// The element a type symbol or a site's label begins with: its first two letters where they are
// an element's symbol (in any case, as files write them: "Si", "SI"), else its first letter. Where
// `label` and the label goes on in letters after the element taken ("OH2", "Ow1"), `guessed` is
// set; a type symbol must be an element's symbol followed by no letter ("O2-", not "OH-").
gemmi::Element ElementOf(const std::string& text, bool label, bool* guessed)
{
    const auto letter = [&](std::size_t i) { return i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); };
    if (!letter(0)) return gemmi::Element(gemmi::El::X);
    const gemmi::Element two(text.substr(0, 2));
    if (letter(1) && two.elem != gemmi::El::X) return two;
    if (letter(1) && !label) return gemmi::Element(gemmi::El::X);
    *guessed = letter(1);
    return gemmi::Element(text.substr(0, 1));
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
    std::vector<CifAtom> sites;
    std::vector<std::string> fromLabels, dotted, undisplaced;
    for (const auto& row : loop->rows) {
        CifAtom a{};
        a.label = CifString(column[kLabel] >= 0 ? value(row, kLabel) : value(row, kSymbol));
        const bool typed = !CifNull(value(row, kSymbol));
        const std::string symbol = typed ? CifString(value(row, kSymbol)) : a.label;
        bool guessed = false;
        const gemmi::Element element = ElementOf(symbol, !typed, &guessed);
        if (element.elem == gemmi::El::X || !gemmi::IT92<double>::has(element.elem)) {
            r.Fail("site " + a.label + ": '" + symbol + "' is no element kelto has scattering factors for", line);
        }
        if (guessed) fromLabels.push_back(a.label + " as " + element.name());
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
    RefuseCrowdedSites(r, sites, lattice, line);
    if (!fromLabels.empty()) {
        notices->push_back(r.At(line) + "kelto takes each element from its site's label where there is no _atom_site_type_symbol, "
                           "here from the label's first letter alone: " + Listed(fromLabels));
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
