// kelto's CSV tables as the tests read them: an optional first line "# kelto ...", a header row,
// rows of fields by column name.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct CsvRow {
    std::map<std::string, std::string> fields;
    const std::string& Text(const std::string& column) const { return fields.at(column); }
    double Number(const std::string& column) const { return std::stod(fields.at(column)); }
};

inline std::vector<CsvRow> CsvRows(const std::string& text)
{
    std::vector<std::string> lines = Lines(text);
    if (!lines.empty() && lines.front().starts_with("#")) lines.erase(lines.begin());
    std::vector<CsvRow> rows;
    if (lines.empty()) return rows;
    std::vector<std::string> names;
    std::string field;
    for (std::istringstream header(lines.front()); std::getline(header, field, ',');) names.push_back(field);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        CsvRow& row = rows.emplace_back();
        for (const std::string& name : names) {
            std::getline(fields, field, ',');
            row.fields[name] = field;
        }
    }
    return rows;
}
