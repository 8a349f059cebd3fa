#include "crystal/origin_choice.h"

#include <gemmi/elem.hpp>

#include <algorithm>
#include <cmath>

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

struct Trial {
    CellAtoms cell;
    std::string fault;  // empty when the choice is possible
};

Trial Expand(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice, const StatedComposition& stated)
{
    Trial t;
    try {
        t.cell = UnitCellAtoms(sites, ops, lattice);
    } catch (const ExpansionError& e) {
        t.fault = e.what();
        return t;
    }
    t.fault = CompositionFault(Composition(t.cell.atoms), stated);
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
        return {chosen + 1, std::move(trials[chosen].cell), std::move(trials[1 - chosen].fault)};
    }
    if (possible[0]) {
        throw UnsettledOrigin("the structure fits both (choice 1: " + Listed(Composition(trials[0].cell.atoms)) + "; choice 2: " +
                              Listed(Composition(trials[1].cell.atoms)) + ")", true);
    }
    throw UnsettledOrigin("the structure fits neither (choice 1: " + trials[0].fault + "; choice 2: " + trials[1].fault + ")", false);
}
