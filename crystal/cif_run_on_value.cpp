#include "crystal/cif_run_on_value.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool StartsWith(std::string_view word, std::string_view prefix)
{
    if (word.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), word.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// A word that may stand in an unquoted value: not a tag, a quoted or bracketed value, a text field
// or a reserved word of CIF.
bool PlainWord(std::string_view word)
{
    if (std::string_view("_'\"[]$;").find(word.front()) != std::string_view::npos) return false;
    for (const std::string_view reserved : {"data_", "save_", "loop_", "global_", "stop_"}) {
        if (StartsWith(word, reserved)) return false;
    }
    return true;
}

}  // namespace

RunOnValue QuoteRunOnValue(std::string& text, std::size_t line, std::size_t column)
{
    std::size_t begin = 0;
    for (std::size_t n = 1; n < line; ++n) {
        begin = text.find('\n', begin);
        if (begin == std::string::npos) return {};
        ++begin;
    }
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    const std::string_view whole(text.data() + begin, end - begin);

    // The words of the line: where each begins and ends, up to a comment.
    std::vector<std::pair<std::size_t, std::size_t>> words;
    for (std::size_t i = 0; i < whole.size();) {
        if (Blank(whole[i])) {
            ++i;
            continue;
        }
        if (whole[i] == '#') break;
        std::size_t j = i;
        while (j < whole.size() && !Blank(whole[j])) ++j;
        words.emplace_back(i, j);
        i = j;
    }
    if (words.size() < 3 || whole[words[0].first] != '_' || column < words[2].first + 1) return {};
    for (std::size_t w = 1; w < words.size(); ++w) {
        if (!PlainWord(whole.substr(words[w].first, words[w].second - words[w].first))) return {};
    }
    const std::size_t from = words[1].first, to = words.back().second;
    RunOnValue found{std::string(whole.substr(words[0].first, words[0].second - words[0].first)), std::string(whole.substr(from, to - from))};
    // A kind of quote the value does not hold, so that no quote inside it ends it early.
    const char quote = found.value.find('\'') == std::string::npos ? '\'' : found.value.find('"') == std::string::npos ? '"' : '\0';
    if (quote == '\0') return {};
    text.insert(begin + to, 1, quote);
    text.insert(begin + from, 1, quote);
    return found;
}
