#include "io/scan_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "io/run_error.h"
#include "io/text_file.h"

namespace {

// A measured scan is text of a few megabytes at most; a larger file is not one.
constexpr std::size_t kLargestScan = 256u << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The field as a number, a decimal comma read as a point where `decimalComma`.
bool Number(std::string field, bool decimalComma, double* value)
{
    if (decimalComma) {
        const std::size_t comma = field.find(',');
        if (comma != std::string::npos) {
            // One comma between digits, and no point: 11648,690.
            const bool between = comma > 0 && comma + 1 < field.size() && std::isdigit(static_cast<unsigned char>(field[comma - 1])) &&
                                 std::isdigit(static_cast<unsigned char>(field[comma + 1]));
            if (!between || field.find(',', comma + 1) != std::string::npos || field.find('.') != std::string::npos) return false;
            field[comma] = '.';
        }
    }
    if (field.empty()) return false;
    char* end = nullptr;
    *value = std::strtod(field.c_str(), &end);
    return end == field.c_str() + field.size();
}

// The fields of a line: split at semicolons and tabs when it has any (its commas then decimal
// commas), else at blanks when each blank-separated field holds a comma inside it and no point
// (11648,690 6743,644: decimal commas), else at commas and blanks.
struct Fields {
    std::vector<std::string> values;
    bool decimalComma = false;
};
Fields Split(const std::string& line)
{
    Fields f;
    const auto split = [&](auto&& separates) {
        std::string current;
        bool any = false;
        for (const char c : line) {
            if (separates(c)) {
                if (any) f.values.push_back(current);
                current.clear();
                any = false;
            } else if (!IsBlank(c) || any) {
                current.push_back(c), any = true;
            }
        }
        if (any) f.values.push_back(current);
        for (std::string& v : f.values) {
            while (!v.empty() && IsBlank(v.back())) v.pop_back();
        }
    };
    if (line.find_first_of(";\t") != std::string::npos) {
        split([](char c) { return c == ';' || c == '\t'; });
        f.decimalComma = true;
        return f;
    }
    split([](char c) { return c == ' '; });
    const bool inner = f.values.size() >= 2 && std::all_of(f.values.begin(), f.values.end(), [](const std::string& v) {
        const std::size_t comma = v.find(',');
        return comma != std::string::npos && comma > 0 && comma + 1 < v.size() && v.find('.') == std::string::npos;
    });
    if (inner) {
        f.decimalComma = true;
        return f;
    }
    f.values.clear();
    split([](char c) { return c == ',' || c == ' '; });
    return f;
}

}  // namespace

ScanFile ParseScan(const std::string& text, double toKeV)
{
    ScanFile scan;
    std::size_t commaLine = 0, pointLine = 0;  // the first point read with decimal commas, and with comma separators
    std::size_t number = 0;
    for (std::size_t at = 0; at <= text.size();) {
        // A line ends at LF, CR LF or CR.
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        ++number;
        if (end == text.size() && line.empty()) break;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t,;") == std::string::npos) continue;
        const Fields fields = Split(line);
        double energy = 0.0, intensity = 0.0;
        const bool numbers = fields.values.size() >= 2 && Number(fields.values[0], fields.decimalComma, &energy) &&
                             Number(fields.values[1], fields.decimalComma, &intensity);
        if (numbers) {
            const bool commas = line.find(',') != std::string::npos;
            if (commas && fields.decimalComma && commaLine == 0) commaLine = number;
            if (commas && !fields.decimalComma && pointLine == 0) pointLine = number;
            if (commaLine != 0 && pointLine != 0) {
                throw std::invalid_argument(Printed("line %zu: '%s' %s, while line %zu %s: kelto cannot tell the decimal commas "
                                                    "from the separators", std::max(commaLine, pointLine), line.c_str(),
                                                    commaLine > pointLine ? "writes decimal commas" : "separates its numbers by commas",
                                                    std::min(commaLine, pointLine),
                                                    commaLine > pointLine ? "separates its numbers by commas" : "writes decimal commas"));
            }
        }
        if (numbers && std::isfinite(energy * toKeV) && energy * toKeV > 0.0 && std::isfinite(intensity)) {
            scan.points.push_back({energy * toKeV, intensity});
        } else if (scan.points.empty() && scan.skipped == 0 && !scan.header && !numbers) {
            scan.header = true;
        } else {
            if (scan.skipped++ == 0) scan.firstSkipped = number;
        }
    }
    return scan;
}

ScanFile ReadScanFile(const std::string& path, double toKeV)
{
    const std::string text = ReadTextFile(path, "measured scan", kLargestScan, "it is no scan of two columns");
    ScanFile scan;
    try {
        scan = ParseScan(text, toKeV);
    } catch (const std::invalid_argument& e) {
        throw RunError::Refusal(Printed("The measured scan %s cannot be read: %s; separate its columns by semicolons or tabs "
                                        "to write decimal commas\n", path.c_str(), e.what()));
    }
    if (scan.points.empty()) {
        throw RunError::Refusal(Printed("The measured scan %s holds no point: no line has an energy and an intensity "
                                        "(two numbers separated by commas, semicolons, blanks or tabs)\n", path.c_str()));
    }
    return scan;
}
