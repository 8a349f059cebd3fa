#include "crystal/cif_operations.h"

#include <cctype>
#include <set>
#include <stdexcept>
#include <string_view>

namespace {

// A symmetry operation as x, y, z with small whole numbers and fractions only: what the parser
// takes without overflowing its integers.
bool PlainTriplet(const std::string& text)
{
    std::size_t digits = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (++digits > 3) return false;
            continue;
        }
        digits = 0;
        if (std::string_view("xyzXYZ+-/*, ").find(c) == std::string_view::npos) return false;
    }
    return true;
}

std::string Trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t");
    return begin == std::string::npos ? "" : text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The values of `tag`, a loop's column or a single item; none when the block has no such tag.
std::vector<std::string> Values(const CifReader& r, const char* tag, int* line)
{
    std::vector<std::string> values;
    int column = -1;
    if (const CifLoop* loop = r.block->Loop(tag, &column)) {
        for (const auto& row : loop->rows) values.push_back(CifString(row[static_cast<std::size_t>(column)]));
        *line = loop->line;
    } else if (const CifItem* item = r.block->Item(tag)) {
        values.push_back(CifString(item->value));
        *line = item->line;
    }
    return values;
}

// One operation; a magnetic one ends in its time reversal, +1 or -1, which is left out.
gemmi::Op Operation(const CifReader& r, const std::string& tag, const std::string& value, int line, bool magnetic)
{
    std::string triplet = value;
    try {
        if (magnetic) {
            const std::size_t comma = triplet.rfind(',');
            const std::string reversal = comma == std::string::npos ? "" : Trimmed(triplet.substr(comma + 1));
            if (reversal != "+1" && reversal != "-1" && reversal != "1") {
                throw std::invalid_argument("a magnetic operation ends in its time reversal, +1 or -1");
            }
            triplet.erase(comma);
        }
        if (!PlainTriplet(triplet)) throw std::invalid_argument("it may hold x, y, z, signs, fractions and '*' only");
        gemmi::Op op = gemmi::parse_triplet(triplet);
        constexpr int kVolume = gemmi::Op::DEN * gemmi::Op::DEN * gemmi::Op::DEN;  // of the rotation, in gemmi's units
        if (op.det_rot() != kVolume && op.det_rot() != -kVolume) {
            throw std::invalid_argument("it changes the volume of the cell");
        }
        return op.wrap();
    } catch (const std::exception& e) {
        r.Fail(tag + " '" + value + "' is no symmetry operation: " + e.what(), line);
    }
}

// The operations once each, in their order.
std::vector<gemmi::Op> Distinct(const std::vector<gemmi::Op>& ops)
{
    std::vector<gemmi::Op> distinct;
    std::set<gemmi::Op> seen;
    for (const gemmi::Op& op : ops) {
        if (seen.insert(op).second) distinct.push_back(op);
    }
    return distinct;
}

// Each product of two operations must be one of them (translations taken modulo the cell): a list
// that misses some expands the sites into fewer atoms than the structure holds.
void RefuseNonGroup(const CifReader& r, const std::string& tag, int line, const std::vector<gemmi::Op>& ops)
{
    const std::set<gemmi::Op> listed(ops.begin(), ops.end());
    for (const gemmi::Op& a : ops) {
        for (const gemmi::Op& b : ops) {
            const gemmi::Op product = a.combine(b).wrap();
            if (listed.count(product) == 0) {
                r.Fail(tag + " lists operations that make no group: '" + a.triplet() + "' after '" + b.triplet() + "' is '" +
                           product.triplet() + "', which is not listed",
                       line);
            }
        }
    }
}

}  // namespace

std::vector<gemmi::Op> AllOperations(const gemmi::GroupOps& group)
{
    std::vector<gemmi::Op> ops;
    for (gemmi::Op op : group) ops.push_back(op.wrap());
    return ops;
}

ListedOperations ReadListedOperations(const CifReader& r)
{
    const auto read = [&](const char* tag, bool magnetic, ListedOperations* listed) {
        int line = 0;
        const std::vector<std::string> values = Values(r, tag, &line);
        if (values.empty()) return false;
        if (values.size() > kMostOperations) {
            r.Fail(std::string(tag) + " lists " + std::to_string(values.size()) + " operations, more than the " +
                       std::to_string(kMostOperations) + " of any space group",
                   line);
        }
        for (const std::string& value : values) listed->ops.push_back(Operation(r, tag, value, line, magnetic));
        listed->tag = tag, listed->line = line, listed->magnetic = magnetic;
        return true;
    };
    ListedOperations listed;
    for (const char* tag : kOperationTags) {
        if (read(tag, false, &listed)) {
            listed.ops = Distinct(listed.ops);
            RefuseNonGroup(r, listed.tag, listed.line, listed.ops);
            return listed;
        }
    }
    for (const char* tag : kMagneticOperationTags) {
        if (!read(tag, true, &listed)) continue;
        ListedOperations centrings;
        for (const char* centringTag : kMagneticCentringTags) {
            if (read(centringTag, true, &centrings)) break;
        }
        if (centrings.ops.empty()) centrings.ops.push_back(gemmi::Op::identity());
        std::vector<gemmi::Op> all;
        for (const gemmi::Op& centring : Distinct(centrings.ops)) {
            for (const gemmi::Op& op : listed.ops) all.push_back(centring.combine(op).wrap());
        }
        listed.ops = Distinct(all);
        if (listed.ops.size() > kMostMagneticOperations) {
            r.Fail(std::string(tag) + " and its centrings make " + std::to_string(listed.ops.size()) + " operations, more than the " +
                       std::to_string(kMostMagneticOperations) + " kelto takes",
                   listed.line);
        }
        RefuseNonGroup(r, listed.tag, listed.line, listed.ops);
        return listed;
    }
    return {};
}
