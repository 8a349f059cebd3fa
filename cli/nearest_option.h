// The option a mistyped one most likely meant, for the usage error's suggestion.
#pragma once

#include <string>
#include <vector>

// The name among `names` fewest single-character edits (insertions, deletions, substitutions,
// swaps of neighbours) away from `typed`, when it is close enough to be a slip (at most 2 edits,
// and fewer than a third of its characters); "" when none is.
std::string NearestOption(const std::string& typed, const std::vector<std::string>& names);
