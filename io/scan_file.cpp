#include "io/scan_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "io/run_error.h"

namespace {

// A measured scan is text of a few megabytes at most; a larger file is not one.
constexpr std::size_t kLargestScan = 256u << 20;

bool IsSeparator(char c) { return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r'; }

// The line's first two fields as numbers, when they are numbers.
bool TwoNumbers(const std::string& line, double* first, double* second)
{
    double values[2];
    std::size_t at = 0;
    for (double& value : values) {
        while (at < line.size() && IsSeparator(line[at])) ++at;
        const std::size_t start = at;
        while (at < line.size() && !IsSeparator(line[at])) ++at;
        if (start == at) return false;
        const std::string field = line.substr(start, at - start);
        char* end = nullptr;
        value = std::strtod(field.c_str(), &end);
        if (end != field.c_str() + field.size()) return false;
    }
    *first = values[0], *second = values[1];
    return true;
}

}  // namespace

ScanFile ParseScan(const std::string& text, double toKeV)
{
    ScanFile scan;
    std::istringstream lines(text);
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r,;") == std::string::npos) continue;
        double energy = 0.0, intensity = 0.0;
        if (TwoNumbers(line, &energy, &intensity) && std::isfinite(energy * toKeV) && energy * toKeV > 0.0 &&
            std::isfinite(intensity)) {
            scan.points.push_back({energy * toKeV, intensity});
        } else if (scan.points.empty() && scan.skipped == 0 && !scan.header && !TwoNumbers(line, &energy, &intensity)) {
            scan.header = true;
        } else {
            if (scan.skipped++ == 0) scan.firstSkipped = number;
        }
    }
    return scan;
}

ScanFile ReadScanFile(const std::string& path, double toKeV)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw RunError::Refusal(Printed("The measured scan %s cannot be opened: %s\n", path.c_str(), std::strerror(errno)));
    }
    std::string text;
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kLargestScan) {
            throw RunError::Refusal(Printed("The measured scan %s is larger than %zu MiB: it is no scan of two columns\n",
                                            path.c_str(), kLargestScan >> 20));
        }
    }
    if (file.bad()) throw RunError::Refusal(Printed("The measured scan %s cannot be read\n", path.c_str()));
    ScanFile scan = ParseScan(text, toKeV);
    if (scan.points.empty()) {
        throw RunError::Refusal(Printed("The measured scan %s holds no point: no line has an energy and an intensity "
                                        "(two numbers separated by commas, semicolons, blanks or tabs)\n", path.c_str()));
    }
    return scan;
}
