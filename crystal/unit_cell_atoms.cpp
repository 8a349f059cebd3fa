#include "crystal/unit_cell_atoms.h"

#include <algorithm>
#include <array>
#include <cmath>
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

}  // namespace

std::vector<CifAtom> UnitCellAtoms(const std::vector<CifAtom>& sites, const std::vector<gemmi::Op>& ops, const Lattice& lattice)
{
    std::vector<CifAtom> atoms;
    for (const CifAtom& site : sites) AddImages(site, ops, lattice, &atoms);
    return atoms;
}

double Apart(const Lattice& lattice, const CifAtom& a, const CifAtom& b)
{
    return Span(lattice, Across({a.x, a.y, a.z}, {b.x, b.y, b.z}));
}
