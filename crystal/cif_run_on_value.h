// A single item whose unquoted value runs on after a blank, `_pd_phase_name  NaCoO2 supercell`:
// CIF ends an unquoted value at its first blank, so the parser stops at the second word. When the
// rest of the line is plain words (none a tag, a quoted string, a reserved word or a comment), the
// words are the one value written without its quotes.
#pragma once

#include <cstddef>
#include <string>

struct RunOnValue {
    std::string tag;    // as written; empty when the line is no such item
    std::string value;  // the words, blanks between them as written
};

// Puts quotes around the value of line `line` (1 = the first) of `text` when that line is such an
// item and `column` (1 = its first character, where the parser stopped) lies on its second word or
// after it. Only characters of that line change, so every line keeps its number.
RunOnValue QuoteRunOnValue(std::string& text, std::size_t line, std::size_t column);
