#include "crystal/cif_repeated_tags.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>

#include "crystal/cif_reader.h"

namespace {

bool SameTag(const std::string& lower, const char* tag)
{
    const std::string_view t(tag);
    return lower.size() == t.size() && std::equal(t.begin(), t.end(), lower.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// True for the tags whose values make the crystal: the cell, the symmetry and the atom sites.
bool MakesTheCrystal(const std::string& tag)
{
    if (tag.compare(0, kAtomSitePrefix.size(), kAtomSitePrefix) == 0) return true;
    const auto among = [&](const auto& tags) {
        return std::any_of(std::begin(tags), std::end(tags), [&](const char* t) { return SameTag(tag, t); });
    };
    return among(kCellTags) || among(kOperationTags) || among(kMagneticOperationTags) || among(kMagneticCentringTags) ||
           among(kHallTags) || among(kNameTags) || among(kNumberTags);
}

struct Occurrence {
    int line;
    std::size_t item;  // index into the block's items; npos for a loop
    std::string value;  // of a single item, without quotes ("" for '?' and '.')
};

std::string Lines(const std::vector<Occurrence>& found)
{
    std::string lines = "lines ";
    for (std::size_t i = 0; i < found.size(); ++i) {
        lines += (i == 0 ? "" : i + 1 == found.size() ? " and " : ", ") + std::to_string(found[i].line);
    }
    return lines;
}

}  // namespace

void SettleRepeatedTags(CifBlock& block, const std::string& source, std::vector<std::string>* notices)
{
    constexpr std::size_t kLoop = static_cast<std::size_t>(-1);
    std::map<std::string, std::vector<Occurrence>> occurrences;
    std::vector<std::string> order;  // the tags in the order of the file
    const auto add = [&](const std::string& tag, Occurrence o) {
        auto& list = occurrences[tag];
        if (list.empty()) order.push_back(tag);
        list.push_back(std::move(o));
    };
    for (std::size_t i = 0; i < block.items.size(); ++i) {
        add(block.items[i].tag, {block.items[i].line, i, CifString(block.items[i].value)});
    }
    for (const CifLoop& loop : block.loops) {
        for (const std::string& tag : loop.tags) add(tag, {loop.line, kLoop, ""});
    }
    std::vector<bool> dropped(block.items.size(), false);
    for (const std::string& tag : order) {
        std::vector<Occurrence>& found = occurrences[tag];
        if (found.size() < 2) continue;
        std::sort(found.begin(), found.end(), [](const Occurrence& a, const Occurrence& b) { return a.line < b.line; });
        const bool inLoop = std::any_of(found.begin(), found.end(), [&](const Occurrence& o) { return o.item == kLoop; });
        const Occurrence* kept = nullptr;  // the first with a value
        const Occurrence* other = nullptr; // the first with another value
        for (const Occurrence& o : found) {
            if (o.value.empty()) continue;
            if (kept == nullptr) kept = &o;
            else if (other == nullptr && o.value != kept->value) other = &o;
        }
        std::vector<Occurrence> empty;
        std::copy_if(found.begin(), found.end(), std::back_inserter(empty), [](const Occurrence& o) { return o.value.empty(); });
        if (MakesTheCrystal(tag)) {
            if (inLoop) {
                throw CrystalFileError(source + ":" + std::to_string(found[1].line) + ": " + tag + " is given twice, at " +
                                       Lines(found) + "; kelto cannot tell which to read");
            }
            if (other != nullptr) {
                throw CrystalFileError(source + ":" + std::to_string(other->line) + ": " + tag + " is given twice with different values, '" +
                                       kept->value + "' at line " + std::to_string(kept->line) + " and '" + other->value + "' at line " +
                                       std::to_string(other->line));
            }
        }
        std::string notice = source + ": " + tag + " is given at " + Lines(found);
        if (inLoop || other != nullptr) {
            // Not a tag of the crystal: none of its values is read.
            for (const Occurrence& o : found) {
                if (o.item != kLoop) dropped[o.item] = true;
            }
            notices->push_back(notice + (inLoop ? "" : " with different values") + ": kelto reads none of them");
            continue;
        }
        const Occurrence& keep = kept != nullptr ? *kept : found.front();
        for (const Occurrence& o : found) {
            if (&o != &keep) dropped[o.item] = true;
        }
        if (kept == nullptr) {
            notices->push_back(notice + ", empty each time");
        } else if (!empty.empty()) {
            notices->push_back(notice + ", empty at " + (empty.size() == 1 ? "line " + std::to_string(empty[0].line) : Lines(empty)) +
                               ": kelto takes '" + kept->value + "'");
        } else {
            notices->push_back(notice + " with the same value");
        }
    }
    std::vector<CifItem> items;
    for (std::size_t i = 0; i < block.items.size(); ++i) {
        if (!dropped[i]) items.push_back(std::move(block.items[i]));
    }
    block.items = std::move(items);
}
