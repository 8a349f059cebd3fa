#include "crystal/cell_setting.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "crystal/cif_operations.h"

namespace {

constexpr int kDen = gemmi::Op::DEN;

// The operations in the basis that `basis` takes the cell to: op' = P^-1 op P, where the columns of
// P are the new axes in the old ones; operations that now differ by a lattice translation are one.
// Empty when an operation does not map the new lattice onto itself.
std::vector<gemmi::Op> Rebased(const std::vector<gemmi::Op>& ops, const gemmi::Op& basis)
{
    const gemmi::Op inverse = basis.inverse();
    std::set<gemmi::Op> seen;
    std::vector<gemmi::Op> rebased;
    for (const gemmi::Op& op : ops) {
        gemmi::Op changed = inverse.combine(op).combine(basis).wrap();
        for (const auto& row : changed.rot) {
            if (std::any_of(row.begin(), row.end(), [](int r) { return r % kDen != 0; })) return {};
        }
        if (seen.insert(changed).second) rebased.push_back(changed);
    }
    return rebased;
}

// The exchange of axes `i` and `j`, the third reversed so that the axes stay right-handed and
// screw axes keep their sense.
gemmi::Op Exchange(int i, int j)
{
    gemmi::Op swap = gemmi::Op::identity();
    swap.rot[i][i] = swap.rot[j][j] = 0;
    swap.rot[i][j] = swap.rot[j][i] = kDen;
    swap.rot[3 - i - j][3 - i - j] = -kDen;
    return swap;
}

// The centring of the lattice: 'P', or the letter of its pure translations.
char Centring(const std::vector<gemmi::Op>& ops) { return gemmi::split_centering_vectors(ops).find_centering(); }

// gemmi's name for the operations; "" when its tables do not have them.
std::string TableName(const std::vector<gemmi::Op>& ops)
{
    const gemmi::SpaceGroup* found = gemmi::find_spacegroup_by_ops(gemmi::split_centering_vectors(ops));
    return found != nullptr ? found->xhm() : "";
}

}  // namespace

bool CellHasSymmetry(const Lattice& lattice, const std::vector<gemmi::Op>& ops)
{
    const Vec3 axes[3] = {lattice.Direct(1, 0, 0), lattice.Direct(0, 1, 0), lattice.Direct(0, 0, 1)};
    double g[3][3];
    double scale = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) g[i][j] = Dot(axes[i], axes[j]);
        scale = std::max(scale, g[i][i]);
    }
    for (const gemmi::Op& op : ops) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                double kept = 0.0;  // (R^T G R)_ij
                for (int k = 0; k < 3; ++k) {
                    for (int l = 0; l < 3; ++l) kept += op.rot[k][i] * g[k][l] * op.rot[l][j];
                }
                if (std::fabs(kept / (kDen * kDen) - g[i][j]) > kMetricTolerance * scale) return false;
            }
        }
    }
    return true;
}

std::vector<GroupSetting> DerivedSettings(const GroupSetting& given)
{
    struct Change {
        gemmi::Op basis;
        std::string how;
    };
    std::vector<Change> changes;
    const char* axis = "abc";
    for (const auto& [i, j] : {std::pair{0, 1}, {1, 2}, {0, 2}}) {
        changes.push_back({Exchange(i, j), std::string("with the axes ") + axis[i] + " and " + axis[j] + " exchanged"});
    }
    const char centring = Centring(given.ops);
    if (centring == 'R') {
        changes.push_back({gemmi::Op{gemmi::centred_to_primitive('R'), {0, 0, 0}}, "on rhombohedral axes"});
    } else if (centring != 'P' && centring != 0) {
        changes.push_back({gemmi::Op{gemmi::centred_to_primitive(centring), {0, 0, 0}},
                           std::string("in the primitive cell of its ") + centring + " lattice"});
    }
    std::vector<GroupSetting> derived;
    for (const Change& c : changes) {
        GroupSetting s;
        s.ops = Rebased(given.ops, c.basis);
        s.secondOrigin = given.secondOrigin.empty() ? given.secondOrigin : Rebased(given.secondOrigin, c.basis);
        if (s.ops.empty() || (!given.secondOrigin.empty() && s.secondOrigin.empty())) continue;
        s.change = c.how;
        s.name = s.secondOrigin.empty() ? TableName(s.ops) : "";
        derived.push_back(std::move(s));
    }
    // Rhombohedral axes to hexagonal ones: the group of gemmi's tables on the other axes.
    const gemmi::SpaceGroup* table = gemmi::find_spacegroup_by_ops(gemmi::split_centering_vectors(given.ops));
    for (const gemmi::SpaceGroup& entry : gemmi::spacegroup_tables::main) {
        if (table == nullptr || table->ext != 'R' || entry.number != table->number || entry.ext != 'H') continue;
        derived.push_back({AllOperations(entry.operations()), {}, entry.xhm(), "on hexagonal axes"});
    }
    return derived;
}

std::vector<GroupSetting> SettingsTheCellHas(const Lattice& lattice, const std::vector<GroupSetting>& candidates)
{
    std::vector<GroupSetting> fitting;
    std::set<std::vector<gemmi::Op>> seen;
    for (const GroupSetting& setting : candidates) {
        if (!CellHasSymmetry(lattice, setting.ops)) continue;
        std::vector<gemmi::Op> sorted = setting.ops;
        std::sort(sorted.begin(), sorted.end());
        if (seen.insert(sorted).second) fitting.push_back(setting);
    }
    return fitting;
}

std::string SettingNames(const std::vector<GroupSetting>& settings)
{
    std::string names;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == settings.size() ? " and " : ", ") + (settings[i].name.empty() ? settings[i].change : "'" + settings[i].name + "'");
    }
    return names;
}
