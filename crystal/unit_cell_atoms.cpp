#include "crystal/unit_cell_atoms.h"

#include <gemmi/elem.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "crystal/cif_sites.h"
#include "io/run_error.h"

namespace {

using Point = std::array<double, 3>;

// The shortest of the differences b - a through the cell's faces, fractional.
Point Across(const Point& a, const Point& b)
{
    Point d;
    for (int i = 0; i < 3; ++i) d[i] = (b[i] - a[i]) - std::round(b[i] - a[i]);
    return d;
}

double Span(const Lattice& lattice, const Point& d) { return Length(lattice.Direct(d[0], d[1], d[2])); }

// The images of one site: each group of images closer than kSamePosition is one atom at its mean.
void AddImages(const CifAtom& site, const std::vector<gemmi::Op>& ops, const Lattice& lattice, std::vector<CifAtom>* atoms)
{
    const Point at{site.x, site.y, site.z};
    // The site's own symmetry: the operations that leave it within kSamePosition; it moves to the
    // mean of those images, onto the symmetry element.
    Point shift{0, 0, 0};
    std::size_t order = 0;
    for (const gemmi::Op& op : ops) {
        const Point d = Across(at, op.apply_to_xyz(at));
        if (Span(lattice, d) >= kSamePosition) continue;
        for (int i = 0; i < 3; ++i) shift[i] += d[i];
        ++order;
    }
    if (order == 0) throw ExpansionError("the operations hold no identity x,y,z");
    const Point centre{at[0] + shift[0] / order, at[1] + shift[1] / order, at[2] + shift[2] / order};

    struct Group {
        Point first, sum;
        std::size_t count;
    };
    std::vector<Group> groups;
    for (const gemmi::Op& op : ops) {
        const Point image = op.apply_to_xyz(centre);
        const auto near = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
            return Span(lattice, Across(g.first, image)) < kSamePosition;
        });
        if (near == groups.end()) {
            groups.push_back({image, {0, 0, 0}, 1});
            continue;
        }
        const Point d = Across(near->first, image);  // the image unwrapped to the group's first one
        for (int i = 0; i < 3; ++i) near->sum[i] += d[i];
        ++near->count;
    }
    const bool even = std::all_of(groups.begin(), groups.end(), [&](const Group& g) { return g.count == order; });
    if (!even || groups.size() * order != ops.size()) {
        std::string sizes;
        for (const Group& g : groups) {
            const std::string size = std::to_string(g.count);
            if (sizes.find(" " + size + ",") == std::string::npos) sizes += " " + size + ",";
        }
        sizes.pop_back();
        throw ExpansionError(Printed("site %s at %g %g %g stands near a symmetry element, neither on it nor clear of it: %zu of "
                                     "its %zu images stand within %g angstrom of it, but the images gather in groups of%s; "
                                     "give it on the element or further off",
                                     site.label.c_str(), site.x, site.y, site.z, order, ops.size(), kSamePosition, sizes.c_str()));
    }
    for (const Group& g : groups) {
        if (atoms->size() == kMostUnitCellAtoms) {
            throw TooManyAtoms("the unit cell holds more than " + std::to_string(kMostUnitCellAtoms) + " atoms, more than kelto plans for");
        }
        CifAtom atom = site;
        atom.x = IntoUnitCell(g.first[0] + g.sum[0] / g.count);
        atom.y = IntoUnitCell(g.first[1] + g.sum[1] / g.count);
        atom.z = IntoUnitCell(g.first[2] + g.sum[2] / g.count);
        atoms->push_back(atom);
    }
}

// Transition metals (zinc's group too), lanthanides and actinides, by atomic number.
bool TransitionOrInner(int z) { return (z >= 21 && z <= 30) || (z >= 39 && z <= 48) || (z >= 57 && z <= 80) || z >= 89; }

// The least distance two atoms may stand apart when they hold more than one atom between them.
double Limit(const CifAtom& a, const CifAtom& b)
{
    const double radii = gemmi::Element(a.element).covalent_r() + gemmi::Element(b.element).covalent_r();
    const bool lenient = a.element == 1 || b.element == 1 || TransitionOrInner(a.element) || TransitionOrInner(b.element);
    return std::max(kShortestContact, (lenient ? kMetalOrHydrogenBondShare : kMainGroupBondShare) * radii);
}
static_assert(kShortestContact > kSamePosition, "atoms on one place are closer than any bond allows");
static_assert(kMetalOrHydrogenBondShare <= kMainGroupBondShare, "the main-group share bounds every limit");

// Distances between atoms through the cell's faces, in a cell of any angles.
class Separation {
public:
    explicit Separation(const Lattice& lattice) : lattice_(lattice)
    {
        const Vec3 stars[3] = {lattice.Reciprocal(1, 0, 0), lattice.Reciprocal(0, 1, 0), lattice.Reciprocal(0, 0, 1)};
        for (int i = 0; i < 3; ++i) spacing_[i] = 1.0 / Length(stars[i]);
    }

    // How far apart two atoms stand between their nearest images (angstrom) where that is below
    // `within`; `within` or more otherwise. A difference of u (fractional, brought into -1/2 to 1/2)
    // along an axis puts an image at least u times the spacing of the faces across that axis away,
    // which passes over most pairs at once; the rest try the shifts of up to two cells each way that
    // can come within `within`, exact for faces at least `within` / 1.5 apart (an oblique cell, such
    // as the 60-degree cell of an F lattice, has its nearest image beyond the rounded difference).
    double Apart(const Point& a, const Point& b, double within) const
    {
        const Point d = Across(a, b);
        double lower = 0.0;
        for (int i = 0; i < 3; ++i) lower = std::max(lower, std::fabs(d[i]) * spacing_[i]);
        if (lower >= within) return lower;
        const auto reaches = [&](int axis, int shift) { return std::fabs(d[axis] + shift) * spacing_[axis] < within; };
        double nearest = std::numeric_limits<double>::infinity();  // the unshifted image reaches: finite at the end
        for (int i = -2; i <= 2; ++i) {
            if (!reaches(0, i)) continue;
            for (int j = -2; j <= 2; ++j) {
                if (!reaches(1, j)) continue;
                for (int k = -2; k <= 2; ++k) {
                    if (reaches(2, k)) nearest = std::min(nearest, Span(lattice_, {d[0] + i, d[1] + j, d[2] + k}));
                }
            }
        }
        return nearest;
    }
    double Apart(const CifAtom& a, const CifAtom& b, double within) const { return Apart({a.x, a.y, a.z}, {b.x, b.y, b.z}, within); }

    // How far along x (fractional) an atom within `distance` may lie.
    double Reach(double distance) const { return distance / spacing_[0] * (1.0 + 1e-9); }

private:
    const Lattice& lattice_;
    double spacing_[3];
};

// Whether `later` lists again the atom `earlier` stands for: the same element and occupancy, which
// together would hold more than one atom, so that they cannot share the place.
bool ListedAgain(const CifAtom& earlier, const CifAtom& later)
{
    return earlier.element == later.element && std::fabs(earlier.occupancy - later.occupancy) <= kOccupancySlack &&
           earlier.occupancy + later.occupancy > 1.0 + kOccupancySlack;
}

struct Near {
    std::size_t first, second;  // indices of two atoms, first < second
    double distance;            // angstrom
};

// The pairs of atoms that stand on one place (closer than kSamePosition) and those that hold more
// than one atom between them and stand closer than their Limit. Atoms are compared only with those
// whose x lies close enough (|dx| <= |dr| |a*|), in the order of x, so that large cells stay quick.
std::vector<Near> NearPairs(const std::vector<CifAtom>& atoms, const Separation& separation)
{
    const std::size_t n = atoms.size();
    std::vector<std::size_t> order(n);
    double farthest = kShortestContact;  // the largest limit of any pair
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
        farthest = std::max(farthest, kMainGroupBondShare * 2 * gemmi::Element(atoms[i].element).covalent_r());
    }
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return atoms[i].x < atoms[j].x; });
    std::vector<Near> near;
    const auto pair = [&](std::size_t i, std::size_t j) {
        const bool crowded = atoms[i].occupancy + atoms[j].occupancy > 1.0 + kOccupancySlack;
        const double within = crowded ? Limit(atoms[i], atoms[j]) : kSamePosition;
        const double apart = separation.Apart(atoms[i], atoms[j], within);
        if (apart < within) near.push_back({std::min(i, j), std::max(i, j), apart});
    };
    const double reach = separation.Reach(farthest);
    for (std::size_t a = 0; a < n; ++a) {
        const std::size_t i = order[a];
        if (reach >= 0.25) {  // a cell a few angstrom wide: every pair
            for (std::size_t b = a + 1; b < n; ++b) pair(i, order[b]);
            continue;
        }
        for (std::size_t b = a + 1; b < n && atoms[order[b]].x - atoms[i].x <= reach; ++b) pair(i, order[b]);
        for (std::size_t b = n - 1; b > a && atoms[i].x + 1.0 - atoms[order[b]].x <= reach; --b) pair(i, order[b]);  // across x = 1
    }
    return near;
}

// "A", "A and B", "A, B and C".
std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// Refuses a place that atoms of several sites hold with more than one atom between them, then the
// pair of atoms closest for their limit among those that hold more than one atom and stand closer
// than it.
void RefuseCrowdedAtoms(const std::vector<CifAtom>& atoms, const Separation& separation)
{
    const std::vector<Near> near = NearPairs(atoms, separation);
    std::vector<double> total(atoms.size());
    for (std::size_t i = 0; i < atoms.size(); ++i) total[i] = atoms[i].occupancy;
    for (const Near& p : near) {
        if (p.distance >= kSamePosition) continue;
        total[p.first] += atoms[p.second].occupancy;
        total[p.second] += atoms[p.first].occupancy;
    }
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (total[i] <= 1.0 + kOccupancySlack) continue;
        std::vector<std::string> labels{atoms[i].label};
        for (const Near& p : near) {
            if (p.distance >= kSamePosition || (p.first != i && p.second != i)) continue;
            const std::string& other = atoms[p.first == i ? p.second : p.first].label;
            if (std::find(labels.begin(), labels.end(), other) == labels.end()) labels.push_back(other);
        }
        throw ExpansionError(Printed("the symmetry puts %s %s on one place, %.4g %.4g %.4g, where they hold a total occupancy of "
                                     "%.4g, more than one atom",
                                     labels.size() == 1 ? "images of site" : "sites", Joined(labels).c_str(), atoms[i].x,
                                     atoms[i].y, atoms[i].z, total[i]));
    }
    const Near* closest = nullptr;
    for (const Near& p : near) {
        const CifAtom &a = atoms[p.first], &b = atoms[p.second];
        if (a.occupancy + b.occupancy <= 1.0 + kOccupancySlack) continue;
        if (closest == nullptr || p.distance / Limit(a, b) < closest->distance / Limit(atoms[closest->first], atoms[closest->second])) {
            closest = &p;
        }
    }
    if (closest != nullptr) {
        const CifAtom &a = atoms[closest->first], &b = atoms[closest->second];
        throw ExpansionError(Printed("atoms of %s and %s would stand %.3g angstrom apart, closer than any bond between them allows (%.3g angstrom)",
                                     a.label.c_str(), b.label.c_str(), closest->distance, Limit(a, b)));
    }
}

}  // namespace

CellAtoms UnitCellAtoms(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice)
{
    const Separation separation(lattice);
    CellAtoms cell;
    // The atoms so far by x, each with the index of its site, to find a site listed again.
    std::multimap<double, std::pair<std::size_t, std::size_t>> byX;
    const double reach = std::min(separation.Reach(kSamePosition), 0.5);
    for (std::size_t s = 0; s < sites.size(); ++s) {
        const CifAtom& site = sites[s];
        const Point at{IntoUnitCell(site.x), site.y, site.z};
        const CifAtom* repeats = nullptr;
        const auto look = [&](double from, double to) {
            for (auto it = byX.lower_bound(from); repeats == nullptr && it != byX.end() && it->first <= to; ++it) {
                const auto [atom, earlier] = it->second;
                const CifAtom& a = cell.atoms[atom];
                if (ListedAgain(sites[earlier], site) && separation.Apart({a.x, a.y, a.z}, at, kSamePosition) < kSamePosition) {
                    repeats = &sites[earlier];
                }
            }
        };
        look(at[0] - reach, at[0] + reach);
        look(at[0] - reach + 1.0, 1.0);  // across x = 1
        look(-1.0, at[0] + reach - 1.0);  // across x = 0
        if (repeats != nullptr) {
            cell.repeated.emplace_back(site.label, repeats->label);
            continue;
        }
        const std::size_t before = cell.atoms.size();
        AddImages(site, ops, lattice, &cell.atoms);
        for (std::size_t i = before; i < cell.atoms.size(); ++i) byX.emplace(cell.atoms[i].x, std::pair{i, s});
    }
    RefuseCrowdedAtoms(cell.atoms, separation);
    return cell;
}
