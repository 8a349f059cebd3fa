#include "crystal/cif_symmetry.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

#include "crystal/cif_operations.h"
#include "crystal/space_group_name.h"

namespace {

// A cell has a group's symmetry when every rotation R keeps its metric G: R^T G R = G, to this
// share of the longest axis squared (a cell's lengths and angles are rounded where a file gives them).
constexpr double kMetricTolerance = 1e-3;

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
                if (std::fabs(kept / (gemmi::Op::DEN * gemmi::Op::DEN) - g[i][j]) > kMetricTolerance * scale) return false;
            }
        }
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

// Only the Hall symbols of the tables: gemmi's symbol parser is not safe for any text.
const gemmi::SpaceGroup* FindByHall(const std::string& hall)
{
    for (const gemmi::SpaceGroup& group : gemmi::spacegroup_tables::main) {
        if (Squeezed(group.hall) == Squeezed(hall)) return &group;
    }
    return nullptr;
}

class SymmetrySources {
public:
    explicit SymmetrySources(const CifReader& r) : r_(r) {}

    // The first source of the tags the file gives that names a group kelto knows; nullptr when none.
    template <typename Lookup>
    const gemmi::SpaceGroup* First(const char* const (&tags)[2], Lookup lookup, CifSymmetry* s)
    {
        for (const char* tag : tags) {
            const CifItem* item = r_.block->Item(tag);
            if (item == nullptr || CifNull(item->value)) continue;
            const std::string value = CifString(item->value);
            std::string why;
            bool stated = true;
            if (const gemmi::SpaceGroup* group = lookup(value, &why, &stated)) {
                s->given = std::string(tag) + " '" + value + "'";
                s->line = item->line;
                SetGroup(*group, stated, s);
                return group;
            }
            const std::string at = passed_.empty() ? "" : " (line " + std::to_string(item->line) + ")";
            passed_.emplace_back(item->line, std::string(tag) + " '" + value + "'" + at + " is " + why);
        }
        return nullptr;
    }

    // What was passed over, for a notice or the refusal; empty when nothing was.
    std::string Passed() const
    {
        std::string text;
        for (const auto& [line, what] : passed_) text += (text.empty() ? r_.At(line) : "; ") + what;
        return text;
    }

private:
    static void SetGroup(const gemmi::SpaceGroup& group, bool originStated, CifSymmetry* s)
    {
        const gemmi::SpaceGroup* one = originStated ? nullptr : OriginChoice(group, '1');
        const gemmi::SpaceGroup* two = originStated ? nullptr : OriginChoice(group, '2');
        if (one != nullptr && two != nullptr) {
            s->ops = AllOperations(one->operations());
            s->secondOrigin = AllOperations(two->operations());
            s->choiceNames[0] = std::string(group.hm) + " :1";
            s->choiceNames[1] = std::string(group.hm) + " :2";
        } else {
            s->ops = AllOperations(group.operations());
        }
    }

    const CifReader& r_;
    std::vector<std::pair<int, std::string>> passed_;
};

std::string WrittenName(const CifReader& r)
{
    for (const char* tag : kNameTags) {
        if (const CifItem* item = r.block->Item(tag); item != nullptr && !CifNull(item->value)) return CifString(item->value);
    }
    return "";
}

}  // namespace

CifSymmetry ReadSymmetry(const CifReader& r, const Lattice& lattice)
{
    CifSymmetry s;
    const ListedOperations listed = ReadListedOperations(r);
    s.name = WrittenName(r);
    if (!listed.ops.empty()) {
        s.ops = listed.ops;
        s.given = listed.tag;
        s.line = listed.line;
        if (listed.magnetic) {
            s.notices.push_back(r.At(listed.line) + "kelto reads the magnetic operations of " + listed.tag +
                                " without their time reversal: charge scattering sees the atoms only");
        }
        return s;
    }
    SymmetrySources sources(r);
    const gemmi::SpaceGroup* group = sources.First(kHallTags, [](const std::string& hall, std::string* why, bool*) {
        *why = "no Hall symbol kelto knows";
        return FindByHall(hall);
    }, &s);
    if (group == nullptr) {
        group = sources.First(kNameTags, [&](const std::string& name, std::string* why, bool* stated) {
            *why = "no space group kelto knows";
            const NamedSpaceGroup found = FindSpaceGroupByName(name, lattice.alpha(), lattice.gamma());
            *stated = found.originStated;
            return found.group;
        }, &s);
    }
    if (group == nullptr) {
        group = sources.First(kNumberTags, [&](const std::string& text, std::string* why, bool* stated) -> const gemmi::SpaceGroup* {
            *stated = false;
            const double number = CifNumber(text);
            if (!(number >= 1 && number <= 230 && number == std::floor(number))) {
                *why = "no space group number (1 to 230)";
                return nullptr;
            }
            // The group's reference setting; for R groups the hexagonal or rhombohedral axes of the cell.
            const gemmi::SpaceGroup& reference = gemmi::get_spacegroup_reference_setting(static_cast<int>(number));
            const gemmi::SpaceGroup* setting = gemmi::find_spacegroup_by_name(reference.hm, lattice.alpha(), lattice.gamma());
            if (setting == nullptr) setting = &reference;
            if (!CellHasSymmetry(lattice, AllOperations(setting->operations()))) {
                *why = "the group " + setting->xhm() +
                       ", whose symmetry the cell does not have (is the file in another setting? give its operations or its name)";
                return nullptr;
            }
            return setting;
        }, &s);
    }
    const std::string passed = sources.Passed();
    if (group == nullptr) {
        if (!passed.empty()) throw CrystalFileError(passed);
        r.Fail("no space group: give _space_group_symop_operation_xyz, _space_group_name_Hall or _space_group_name_H-M_alt");
    }
    // The name for titles: the file's own where it names the group, else the table's (without the
    // origin choice while that is open).
    const bool nameReadable = FindSpaceGroupByName(s.name, lattice.alpha(), lattice.gamma()).group != nullptr;
    if (!nameReadable) s.name = s.secondOrigin.empty() ? group->xhm() : std::string(group->hm);
    if (!passed.empty()) s.notices.push_back(passed + ": kelto takes " + s.given + " (line " + std::to_string(s.line) + ")");
    return s;
}
