#include "crystal/space_group_name.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The name with a setting written as a last word (S, Z, H, R) or as ':S' or ':Z' in gemmi's form,
// ':1', ':2', ':H', ':R'; other names as they are.
std::string SettingMarked(const std::string& name)
{
    std::string marked = name;
    const std::size_t end = marked.find_last_not_of(" \t");
    if (end == std::string::npos || end == 0) return marked;
    const char last = Upper(marked[end]);
    const std::size_t before = marked.find_last_not_of(" \t", end - 1);
    if (std::strchr("SZHR", last) == nullptr || before == std::string::npos) return marked;
    // A lone last letter: no Hermann-Mauguin symbol ends in one of these (the lattice letter only starts it).
    if (end == before + 1 && marked[before] != ':') return marked;
    const char setting = last == 'S' ? '1' : last == 'Z' ? '2' : last;
    marked.erase(marked[before] == ':' ? before : before + 1);
    return marked + " :" + setting;
}

// An old cubic symbol, with 3 where the new ones write -3 after a mirror or glide (F m 3 m,
// Pn3, I a 3 d): a 3 that follows a letter other than the lattice letter.
std::string NewStyleCubic(const std::string& name)
{
    std::string fixed;
    char previous = '\0';
    bool lattice = true;
    for (const char c : name) {
        if (c == '3' && !lattice && previous != '\0' && std::strchr("mnadMNAD", previous) != nullptr) fixed += '-';
        fixed += c;
        if (c != ' ' && c != '\t') {
            if (previous != '\0') lattice = false;
            previous = c;
        }
    }
    return fixed;
}

std::string Trimmed(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    return begin == std::string::npos ? "" : text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// An old name with the International Tables' qualifier of its setting after a colon: 'C2:b1' (unique
// axis b, cell choice 1: C 1 2 1), 'P 21/c:c2' or 'Pnma:cab'; the entry of gemmi's tables of that
// group's number and qualifier, nullptr for other names.
const gemmi::SpaceGroup* QualifiedName(const std::string& name)
{
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos) return nullptr;
    const std::string qualifier = Trimmed(name.substr(colon + 1));
    const gemmi::SpaceGroup* group = gemmi::find_spacegroup_by_name(Trimmed(name.substr(0, colon)));
    if (group == nullptr || qualifier.empty()) return nullptr;
    for (const gemmi::SpaceGroup& entry : gemmi::spacegroup_tables::main) {
        if (entry.number == group->number && qualifier == entry.qualifier) return &entry;
    }
    return nullptr;
}

}  // namespace

NamedSpaceGroup FindSpaceGroupByName(const std::string& name, double alpha, double gamma)
{
    std::string plain;
    for (const char c : name) {
        if (c != '_') plain += c;  // subscripts: P 6_3/m m c is P 63/m m c
    }
    NamedSpaceGroup found;
    if ((found.group = QualifiedName(plain)) != nullptr) return found;
    plain = SettingMarked(plain);
    for (const std::string& reading : {plain, NewStyleCubic(plain)}) {
        found.group = gemmi::find_spacegroup_by_name(reading, alpha, gamma);
        if (found.group != nullptr) {
            const std::size_t colon = reading.find(':');
            found.originStated = colon != std::string::npos && reading.find_first_of("12", colon) != std::string::npos;
            return found;
        }
    }
    return found;
}

const gemmi::SpaceGroup* OriginChoice(const gemmi::SpaceGroup& group, char choice)
{
    if (group.ext != '1' && group.ext != '2') return nullptr;
    for (const gemmi::SpaceGroup& entry : gemmi::spacegroup_tables::main) {
        if (entry.number == group.number && entry.ext == choice && std::strcmp(entry.hm, group.hm) == 0) return &entry;
    }
    return nullptr;
}
