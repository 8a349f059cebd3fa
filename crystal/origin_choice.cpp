#include "crystal/origin_choice.h"

#include <gemmi/elem.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

#include "crystal/cif_sites.h"
#include "crystal/unit_cell_atoms.h"
#include "io/run_error.h"

namespace {

std::string Symbol(int z) { return gemmi::Element(z).name(); }

// The elements of the cell with their atoms (occupancies summed), in the order of the sites.
std::vector<std::pair<int, double>> Composition(const std::vector<CifAtom>& atoms)
{
    std::vector<std::pair<int, double>> counts;
    for (const CifAtom& a : atoms) {
        const auto same = std::find_if(counts.begin(), counts.end(), [&](const auto& e) { return e.first == a.element; });
        if (same != counts.end()) {
            same->second += a.occupancy;
        } else {
            counts.emplace_back(a.element, a.occupancy);
        }
    }
    return counts;
}

std::string Listed(const std::vector<std::pair<int, double>>& counts)
{
    std::string text;
    for (const auto& [z, count] : counts) text += (text.empty() ? "" : ", ") + Printed("%.4g %s", count, Symbol(z).c_str());
    return text;
}

// Where the cell's composition contradicts the stated one: Z formula units of the formula, or
// without Z its proportions. Hydrogen, which X-ray structures often leave out, and elements of only
// one of the two say nothing.
std::string CompositionFault(const std::vector<std::pair<int, double>>& counts, const StatedComposition& stated)
{
    std::vector<std::pair<double, double>> pairs;  // the cell's count, the formula's
    std::vector<int> elements;
    for (const auto& [z, n] : stated.formula) {
        const int element = z;  // a named copy: lambdas may not capture a structured binding before C++20 compilers caught up
        const auto found = std::find_if(counts.begin(), counts.end(), [&](const auto& e) { return e.first == element; });
        if (z == 1 || found == counts.end()) continue;
        pairs.emplace_back(found->second, n);
        elements.push_back(z);
    }
    if (pairs.empty()) return "";
    if (stated.z > 0.0) {
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const double expected = stated.z * pairs[i].second;
            if (std::fabs(pairs[i].first - expected) > kCompositionTolerance * expected) {
                return Printed("the cell would hold %.4g %s where Z = %g formula units of %s hold %.4g", pairs[i].first,
                               Symbol(elements[i]).c_str(), stated.z, stated.formulaText.c_str(), expected);
            }
        }
        return "";
    }
    double least = pairs.front().first / pairs.front().second, most = least;
    for (const auto& [count, n] : pairs) least = std::min(least, count / n), most = std::max(most, count / n);
    if (most > least * (1.0 + kCompositionTolerance)) {
        return "the cell would hold " + Listed(counts) + ", not in the proportions of " + stated.formulaText;
    }
    return "";
}

struct Clash {
    std::size_t first, second;  // indices of the two atoms
    double distance, limit;     // angstrom
};

// The least distance two atoms may stand apart when they hold more than one atom between them.
double Limit(const CifAtom& a, const CifAtom& b)
{
    const double radii = gemmi::Element(a.element).covalent_r() + gemmi::Element(b.element).covalent_r();
    return std::max(kShortestContact, kBondShare * radii);
}

// The two atoms closest to each other for their limit among those nearer than it, which no
// structure holds; nullopt when there are none. Atoms are compared only with those whose x lies
// close enough (|dx| <= |dr| |a*|), in the order of x.
std::optional<Clash> FindClash(const std::vector<CifAtom>& atoms, const Lattice& lattice)
{
    const std::size_t n = atoms.size();
    std::vector<std::size_t> order(n);
    double farthest = kShortestContact;  // the largest limit of any pair
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
        farthest = std::max(farthest, kBondShare * 2 * gemmi::Element(atoms[i].element).covalent_r());
    }
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return atoms[i].x < atoms[j].x; });
    std::optional<Clash> closest;
    const auto pair = [&](std::size_t i, std::size_t j) {
        if (atoms[i].occupancy + atoms[j].occupancy <= 1.0 + kOccupancySlack) return;
        const double apart = Apart(lattice, atoms[i], atoms[j]), limit = Limit(atoms[i], atoms[j]);
        if (apart < limit && (!closest || apart / limit < closest->distance / closest->limit)) {
            closest = Clash{std::min(i, j), std::max(i, j), apart, limit};
        }
    };
    const double reach = farthest * Length(lattice.Reciprocal(1, 0, 0)) * (1.0 + 1e-9);
    for (std::size_t a = 0; a < n; ++a) {
        const std::size_t i = order[a];
        if (reach >= 0.25) {  // a cell a few angstrom wide: every pair
            for (std::size_t b = a + 1; b < n; ++b) pair(i, order[b]);
            continue;
        }
        for (std::size_t b = a + 1; b < n && atoms[order[b]].x - atoms[i].x <= reach; ++b) pair(i, order[b]);
        for (std::size_t b = n - 1; b > a && atoms[i].x + 1.0 - atoms[order[b]].x <= reach; --b) pair(i, order[b]);  // across x = 1
    }
    return closest;
}

struct Trial {
    std::vector<CifAtom> atoms;
    std::string fault;  // empty when the choice is possible
};

Trial Expand(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice, const StatedComposition& stated)
{
    Trial t;
    try {
        t.atoms = UnitCellAtoms(sites, ops, lattice);
    } catch (const ExpansionError& e) {
        t.fault = e.what();
        return t;
    }
    if (const std::optional<Clash> clash = FindClash(t.atoms, lattice)) {
        const CifAtom &a = t.atoms[clash->first], &b = t.atoms[clash->second];
        t.fault = Printed("atoms of %s and %s would stand %.3g angstrom apart, closer than any bond between them allows (%.3g angstrom)",
                          a.label.c_str(), b.label.c_str(), clash->distance, clash->limit);
        return t;
    }
    t.fault = CompositionFault(Composition(t.atoms), stated);
    return t;
}

}  // namespace

SettledOrigin SettleOrigin(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op> (&ops)[2], const Lattice& lattice,
                           const StatedComposition& stated)
{
    Trial trials[2] = {Expand(sites, ops[0], lattice, stated), Expand(sites, ops[1], lattice, stated)};
    const bool possible[2] = {trials[0].fault.empty(), trials[1].fault.empty()};
    if (possible[0] != possible[1]) {
        const int chosen = possible[0] ? 0 : 1;
        return {chosen + 1, std::move(trials[chosen].atoms), std::move(trials[1 - chosen].fault)};
    }
    if (possible[0]) {
        throw UnsettledOrigin("the structure fits both (choice 1: " + Listed(Composition(trials[0].atoms)) + "; choice 2: " +
                              Listed(Composition(trials[1].atoms)) + ")", true);
    }
    throw UnsettledOrigin("the structure fits neither (choice 1: " + trials[0].fault + "; choice 2: " + trials[1].fault + ")", false);
}
