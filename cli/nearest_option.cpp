#include "cli/nearest_option.h"

#include <algorithm>

namespace {

// The optimal string alignment distance: Levenshtein's edits and the swap of two neighbours.
std::size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string NearestOption(const std::string& typed, const std::vector<std::string>& names)
{
    // A value after '=' is no part of the name.
    const std::string name = typed.substr(0, typed.find('='));
    std::string nearest;
    std::size_t best = 3;  // more edits than this are no slip
    for (const std::string& candidate : names) {
        const std::size_t distance = EditDistance(name, candidate);
        if (distance < best && 3 * distance < candidate.size()) best = distance, nearest = candidate;
    }
    return nearest;
}
