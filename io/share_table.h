// A table of the harmonics' shares of the beam against the monochromator's setting, as a user
// writes it: a row for each setting, its energy in keV first, then the shares (numbers separated
// by blanks, tabs, commas or semicolons), with '#' comments, blank lines and perhaps a first line
// of words naming the columns.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ShareRow {
    std::size_t line;            // the row's line in the file, from 1
    double energy;               // keV
    std::vector<double> shares;  // as written
};

// The rows of `text`. Throws std::invalid_argument naming the line where a line is neither a row of
// numbers nor the header, a setting is not above the last, a share lies outside 0 to 1, or the
// rows' counts of shares differ; and where fewer than two rows are given.
std::vector<ShareRow> ParseShareTable(const std::string& text);

// The same from the file at `path`; throws RunError (a refusal naming the file) when it cannot be
// read or is not such a table.
std::vector<ShareRow> ReadShareTable(const std::string& path);
