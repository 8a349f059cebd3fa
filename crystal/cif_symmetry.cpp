#include "crystal/cif_symmetry.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <utility>

#include "crystal/cell_setting.h"
#include "crystal/cif_operations.h"
#include "crystal/space_group_name.h"

namespace {

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

// A group of gemmi's tables as a setting; a group of two origin choices that the source leaves
// open with both.
GroupSetting TableSetting(const gemmi::SpaceGroup& group, bool originStated)
{
    const gemmi::SpaceGroup* one = originStated ? nullptr : OriginChoice(group, '1');
    const gemmi::SpaceGroup* two = originStated ? nullptr : OriginChoice(group, '2');
    if (one != nullptr && two != nullptr) return {AllOperations(one->operations()), AllOperations(two->operations()), group.hm, ""};
    return {AllOperations(group.operations()), {}, group.xhm(), ""};
}

// The setting of the cell: `given` where the cell has its symmetry, else the one of `others` and of
// the settings derived from `given` that it has, `notice` saying so. Nullopt where it has none or
// several of them, with `why`. Both begin with `subject` ("the group P 4/m m m").
std::optional<GroupSetting> SettingOfTheCell(const Lattice& lattice, const GroupSetting& given, std::vector<GroupSetting> others,
                                             const std::string& subject, std::string* why, std::string* notice)
{
    if (CellHasSymmetry(lattice, given.ops)) return given;
    for (GroupSetting& derived : DerivedSettings(given)) others.push_back(std::move(derived));
    const std::vector<GroupSetting> fitting = SettingsTheCellHas(lattice, others);
    const std::string lacked = subject + ", whose symmetry the cell does not have";
    if (fitting.size() == 1) {
        const GroupSetting& only = fitting.front();
        const std::string as = only.name.empty() ? only.change : "as '" + only.name + "'" + (only.change.empty() ? "" : ", " + only.change);
        *notice = lacked + ": kelto reads it " + as + ", the one setting of it that the cell has";
        GroupSetting taken = only;
        if (taken.name.empty()) taken.name = given.name;
        return taken;
    }
    *why = fitting.empty() ? lacked + " in any setting" : lacked + "; the cell has it as " + SettingNames(fitting) + ": name the one meant";
    return std::nullopt;
}

class SymmetrySources {
public:
    SymmetrySources(const CifReader& r, const Lattice& lattice) : r_(r), lattice_(lattice) {}

    // The first source of the tags the file gives that names a group kelto knows in a setting the
    // cell has; false when none. `lookup(value, why, others)` gives the group's setting with the
    // other settings that may stand for it, or nullopt and why it gives none.
    template <typename Lookup>
    bool First(const char* const (&tags)[2], Lookup lookup, CifSymmetry* s)
    {
        for (const char* tag : tags) {
            const CifItem* item = r_.block->Item(tag);
            if (item == nullptr || CifNull(item->value)) continue;
            const std::string value = CifString(item->value);
            const std::string given = std::string(tag) + " '" + value + "'";
            std::string why, notice;
            std::vector<GroupSetting> others;
            std::optional<GroupSetting> setting = lookup(value, &why, &others);
            if (setting) setting = SettingOfTheCell(lattice_, *setting, std::move(others), "the group " + setting->name, &why, &notice);
            if (setting) {
                s->given = given;
                s->line = item->line;
                s->ops = std::move(setting->ops);
                s->secondOrigin = std::move(setting->secondOrigin);
                chosenName_ = setting->name;
                if (!notice.empty()) {
                    s->notices.push_back(r_.At(item->line) + given + " is " + notice);
                    s->name = setting->name;
                }
                return true;
            }
            const std::string at = passed_.empty() ? "" : " (line " + std::to_string(item->line) + ")";
            passed_.emplace_back(item->line, given + at + " is " + why);
        }
        return false;
    }

    // What was passed over, for a notice or the refusal; empty when nothing was.
    std::string Passed() const
    {
        std::string text;
        for (const auto& [line, what] : passed_) text += (text.empty() ? r_.At(line) : "; ") + what;
        return text;
    }

    // The name of the setting taken, as gemmi's tables write it where they have it.
    const std::string& ChosenName() const { return chosenName_; }

private:
    const CifReader& r_;
    const Lattice& lattice_;
    std::string chosenName_;
    std::vector<std::pair<int, std::string>> passed_;
};

std::string WrittenName(const CifReader& r)
{
    for (const char* tag : kNameTags) {
        if (const CifItem* item = r.block->Item(tag); item != nullptr && !CifNull(item->value)) return CifString(item->value);
    }
    return "";
}

// Listed operations in a setting the cell has, or read in the one the cell has with a notice;
// refused where the cell has none or several.
void SettleListedOperations(const CifReader& r, const Lattice& lattice, const ListedOperations& listed, CifSymmetry* s)
{
    if (CellHasSymmetry(lattice, listed.ops)) {
        s->ops = listed.ops;
        return;
    }
    const gemmi::SpaceGroup* table = gemmi::find_spacegroup_by_ops(gemmi::split_centering_vectors(listed.ops));
    const GroupSetting given{listed.ops, {}, table != nullptr ? table->xhm() : s->name, ""};
    const std::string subject = table != nullptr ? "the operations of the group " + given.name : "operations";
    std::string why, notice;
    const std::optional<GroupSetting> setting = SettingOfTheCell(lattice, given, {}, subject, &why, &notice);
    if (!setting) r.Fail(listed.tag + " lists " + why, listed.line);
    s->ops = setting->ops;
    s->notices.push_back(r.At(listed.line) + listed.tag + " lists " + notice);
    s->name = setting->name;
}

}  // namespace

CifSymmetry ReadSymmetry(const CifReader& r, const Lattice& lattice)
{
    CifSymmetry s;
    const ListedOperations listed = ReadListedOperations(r);
    s.name = WrittenName(r);
    if (!listed.ops.empty()) {
        s.given = listed.tag;
        s.line = listed.line;
        SettleListedOperations(r, lattice, listed, &s);
        if (listed.magnetic) {
            s.notices.push_back(r.At(listed.line) + "kelto reads the magnetic operations of " + listed.tag +
                                " without their time reversal: charge scattering sees the atoms only");
        }
        return s;
    }
    SymmetrySources sources(r, lattice);
    const auto named = [](const gemmi::SpaceGroup* group, bool stated) { return TableSetting(*group, stated); };
    bool found = sources.First(kHallTags, [&](const std::string& hall, std::string* why, std::vector<GroupSetting>*) -> std::optional<GroupSetting> {
        *why = "no Hall symbol kelto knows";
        const gemmi::SpaceGroup* group = FindByHall(hall);
        if (group == nullptr) return std::nullopt;
        return named(group, true);
    }, &s);
    if (!found) {
        found = sources.First(kNameTags, [&](const std::string& name, std::string* why, std::vector<GroupSetting>*) -> std::optional<GroupSetting> {
            *why = "no space group kelto knows";
            const NamedSpaceGroup found = FindSpaceGroupByName(name, lattice.alpha(), lattice.gamma());
            if (found.group == nullptr) return std::nullopt;
            GroupSetting setting = named(found.group, found.originStated);
            if (!setting.secondOrigin.empty()) {
                s.choiceNames[0] = std::string(found.group->hm) + " :1";
                s.choiceNames[1] = std::string(found.group->hm) + " :2";
            }
            return setting;
        }, &s);
    }
    if (!found) {
        found = sources.First(kNumberTags, [&](const std::string& text, std::string* why, std::vector<GroupSetting>* others) -> std::optional<GroupSetting> {
            const double number = CifNumber(text);
            if (!(number >= 1 && number <= 230 && number == std::floor(number))) {
                *why = "no space group number (1 to 230)";
                return std::nullopt;
            }
            // The group's reference setting; for R groups the hexagonal or rhombohedral axes of
            // the cell; where the cell lacks its symmetry, any other setting of the number.
            const gemmi::SpaceGroup& reference = gemmi::get_spacegroup_reference_setting(static_cast<int>(number));
            const gemmi::SpaceGroup* setting = gemmi::find_spacegroup_by_name(reference.hm, lattice.alpha(), lattice.gamma());
            if (setting == nullptr) setting = &reference;
            // The other unique axes and cell choices of the International Tables, those with a qualifier.
            for (const gemmi::SpaceGroup& entry : gemmi::spacegroup_tables::main) {
                if (entry.number == setting->number && &entry != setting && entry.qualifier[0] != '\0') {
                    others->push_back(named(&entry, false));
                }
            }
            GroupSetting chosen = named(setting, false);
            if (!chosen.secondOrigin.empty()) {
                s.choiceNames[0] = std::string(setting->hm) + " :1";
                s.choiceNames[1] = std::string(setting->hm) + " :2";
            }
            return chosen;
        }, &s);
    }
    const std::string passed = sources.Passed();
    if (!found) {
        if (!passed.empty()) throw CrystalFileError(passed);
        r.Fail("no space group: give _space_group_symop_operation_xyz, _space_group_name_Hall or _space_group_name_H-M_alt");
    }
    // The name for titles: the file's own where it names the group and the setting is the one
    // named, else the table's (without the origin choice while that is open).
    if (FindSpaceGroupByName(s.name, lattice.alpha(), lattice.gamma()).group == nullptr) s.name = sources.ChosenName();
    if (!passed.empty()) s.notices.push_back(passed + ": kelto takes " + s.given + " (line " + std::to_string(s.line) + ")");
    return s;
}
