// Characters beyond ASCII where a CIF 1.1 parser takes none: in unquoted values. A value written
// between typographic quotes (U+2018/U+2019, U+201C/U+201D, or the single bytes Windows-1252 gives
// them) has them taken for quotes; any other unquoted value holding bytes beyond ASCII (a citation's
// "385Ð386") is quoted as it stands, so that its bytes are kept as they are. Quoted values, text
// fields and comments may hold them already; tags and block names are left for the parser to refuse.
#pragma once

#include <string>
#include <vector>

// Rewrites `text` in place, one line in `notices` for each value so read, naming its tag and line.
void QuoteForeignCharacters(std::string& text, const std::string& source, std::vector<std::string>* notices);
