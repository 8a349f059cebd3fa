#include "io/share_table.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "io/run_error.h"
#include "io/text_file.h"

namespace {

// A table of shares is a few kilobytes; a larger file is not one.
constexpr std::size_t kLargestTable = 16u << 20;

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::string current;
    for (const char c : line + ' ') {
        if (c == ' ' || c == '\t' || c == ',' || c == ';') {
            if (!current.empty()) fields.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    return fields;
}

bool Number(const std::string& field, double* value)
{
    char* end = nullptr;
    *value = std::strtod(field.c_str(), &end);
    return end == field.c_str() + field.size() && std::isfinite(*value);
}

}  // namespace

std::vector<ShareRow> ParseShareTable(const std::string& text)
{
    std::vector<ShareRow> rows;
    bool header = false;
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
        // A line ends at LF, CR LF or CR.
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        ++number;
        const std::vector<std::string> fields = Fields(line.substr(0, line.find('#')));
        if (fields.empty()) continue;
        ShareRow row{number, 0.0, {}};
        bool numbers = fields.size() >= 2 && Number(fields[0], &row.energy);
        for (std::size_t i = 1; i < fields.size() && numbers; ++i) {
            double share = 0.0;
            numbers = Number(fields[i], &share);
            row.shares.push_back(share);
        }
        if (!numbers) {
            if (rows.empty() && !header) {
                header = true;
                continue;
            }
            throw std::invalid_argument(Printed("line %zu is not a setting in keV and its shares: '%s'", number, line.c_str()));
        }
        if (!(row.energy > 0.0)) throw std::invalid_argument(Printed("line %zu: the setting %g keV is not above 0", number, row.energy));
        if (!rows.empty() && !(row.energy > rows.back().energy)) {
            throw std::invalid_argument(Printed("line %zu: the setting %g keV is not above the last, %g keV", number, row.energy, rows.back().energy));
        }
        for (const double share : row.shares) {
            if (!(share >= 0.0 && share <= 1.0)) throw std::invalid_argument(Printed("line %zu: the share %g lies outside 0 to 1", number, share));
        }
        if (!rows.empty() && row.shares.size() != rows.back().shares.size()) {
            throw std::invalid_argument(Printed("line %zu has %zu shares where line %zu has %zu", number, row.shares.size(),
                                                rows.back().line, rows.back().shares.size()));
        }
        rows.push_back(std::move(row));
    }
    if (rows.size() < 2) throw std::invalid_argument(Printed("%zu rows: a table of shares needs two at least", rows.size()));
    return rows;
}

std::vector<ShareRow> ReadShareTable(const std::string& path)
{
    const std::string text = ReadTextFile(path, "harmonic content table", kLargestTable, "it is no table of shares");
    try {
        return ParseShareTable(text);
    } catch (const std::invalid_argument& e) {
        throw RunError::Refusal(Printed("The harmonic content table %s cannot be read: %s\n", path.c_str(), e.what()));
    }
}
