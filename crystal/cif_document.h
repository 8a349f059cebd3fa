// The text of a CIF as plain data: its blocks' single items and loops, with their line numbers,
// values as written (CifString takes off their quotes). Parsed with gemmi's CIF parser in a translation unit of its
// own, whose headers need C++17.
#pragma once

#include <string>
#include <vector>

struct CifItem {
    std::string tag;    // lower case
    std::string value;
    int line;
};

struct CifLoop {
    std::vector<std::string> tags;  // lower case
    std::vector<std::vector<std::string>> rows;
    int line;  // of loop_
};

struct CifBlock {
    std::string name;
    std::vector<CifItem> items;
    std::vector<CifLoop> loops;

    const CifItem* Item(const std::string& tag) const;
    // The loop holding `tag`, and the column of the tag in it (-1 when absent).
    const CifLoop* Loop(const std::string& tag, int* column) const;
};

// Throws CrystalFileError naming `source` and the line when the text is no CIF. An item whose
// unquoted value runs on after a blank is read as that one value, and unquoted values with
// characters beyond ASCII as they stand (crystal/cif_foreign_characters.h), each with a line in
// `notices`. Tags given twice are kept as given (the reader settles them).
std::vector<CifBlock> ReadCifBlocks(const std::string& text, const std::string& source, std::vector<std::string>* notices);

// A CIF number (standard uncertainty in parentheses allowed); NaN for '?', '.' and non-numbers.
double CifNumber(const std::string& value);
// True for the null values '?' and '.'.
bool CifNull(const std::string& value);
// The value as text, without its quotes; "" for the null values.
std::string CifString(const std::string& value);
