#include "crystal/cif_foreign_characters.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool Foreign(char c) { return static_cast<unsigned char>(c) >= 0x80; }

bool StartsWithWord(std::string_view word, std::string_view prefix)
{
    return word.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), word.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

// The bytes of a typographic quote at the start of `s`: opening ones (left single or double quote)
// or closing ones; 0 where there is none. Windows-1252's single bytes count where no byte beyond
// ASCII stands before them (in UTF-8 they would continue a character).
std::size_t QuoteAt(std::string_view s, bool opening, char before)
{
    const std::string_view utf8[2] = {opening ? "\xE2\x80\x98" : "\xE2\x80\x99", opening ? "\xE2\x80\x9C" : "\xE2\x80\x9D"};
    for (const std::string_view quote : utf8) {
        if (s.substr(0, quote.size()) == quote) return quote.size();
    }
    const char single[2] = {opening ? '\x91' : '\x92', opening ? '\x93' : '\x94'};
    if (!s.empty() && !Foreign(before) && (s[0] == single[0] || s[0] == single[1])) return 1;
    return 0;
}

// Which tag each value of the text belongs to: a single item's, or its column's in a loop.
class TagTracker {
public:
    void Tag(std::string_view tag)
    {
        if (inHeader_) {
            loopTags_.emplace_back(tag);
            return;
        }
        loopTags_.clear();
        itemTag_ = tag;
    }
    void Loop()
    {
        loopTags_.clear();
        inHeader_ = true;
        next_ = 0;
    }
    void Block()
    {
        loopTags_.clear();
        inHeader_ = false;
        itemTag_.clear();
    }
    // The tag of the next value.
    std::string Value()
    {
        inHeader_ = false;
        if (loopTags_.empty()) return itemTag_;
        return loopTags_[next_++ % loopTags_.size()];
    }

private:
    std::string itemTag_;
    std::vector<std::string> loopTags_;
    bool inHeader_ = false;
    std::size_t next_ = 0;
};

}  // namespace

void QuoteForeignCharacters(std::string& text, const std::string& source, std::vector<std::string>* notices)
{
    if (std::none_of(text.begin(), text.end(), Foreign)) return;
    std::string out;
    out.reserve(text.size() + 64);
    TagTracker tags;
    bool inTextField = false;
    std::size_t lineNumber = 0;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        const std::string_view line(text.data() + begin, end - begin);
        ++lineNumber;
        const std::string at = source + ":" + std::to_string(lineNumber) + ": ";
        if (!line.empty() && line[0] == ';') {
            if (!inTextField) tags.Value();  // a text field is one value
            inTextField = !inTextField;
        }
        if (inTextField || (!line.empty() && line[0] == ';')) {
            out.append(line);
        } else {
            for (std::size_t i = 0; i < line.size();) {
                if (Blank(line[i])) {
                    out += line[i++];
                    continue;
                }
                if (line[i] == '#') {
                    out.append(line.substr(i));
                    break;
                }
                std::size_t j = i;
                if (line[i] == '\'' || line[i] == '"') {
                    // A quoted value ends at its quote followed by a blank or the line's end.
                    for (j = i + 1; j < line.size() && !(line[j] == line[i] && (j + 1 == line.size() || Blank(line[j + 1]))); ++j) {
                    }
                    j = std::min(j + 1, line.size());
                    tags.Value();
                    out.append(line.substr(i, j - i));
                    i = j;
                    continue;
                }
                while (j < line.size() && !Blank(line[j])) ++j;
                const std::string_view word = line.substr(i, j - i);
                if (word[0] == '_') {
                    tags.Tag(word);
                } else if (StartsWithWord(word, "loop_")) {
                    tags.Loop();
                } else if (StartsWithWord(word, "data_") || StartsWithWord(word, "save_") || StartsWithWord(word, "global_")) {
                    tags.Block();
                } else {
                    const std::string tag = tags.Value();
                    const std::string of = tag.empty() ? "a value" : "the value of " + tag;
                    if (const std::size_t open = QuoteAt(line.substr(i), true, ' '); open > 0) {
                        // The value runs to the first closing quote followed by a blank or the line's end.
                        std::size_t k = i + open;
                        std::size_t close = 0;
                        for (; k < line.size(); ++k) {
                            close = QuoteAt(line.substr(k), false, line[k - 1]);
                            if (close > 0 && (k + close == line.size() || Blank(line[k + close]))) break;
                        }
                        if (k < line.size()) {
                            const std::string_view inside = line.substr(i + open, k - i - open);
                            const bool apostrophe = inside.find("' ") != std::string_view::npos || inside.find("'\t") != std::string_view::npos;
                            const char quote = apostrophe ? '"' : '\'';
                            out.append(1, quote).append(inside).append(1, quote);
                            notices->push_back(at + of + " stands between typographic quotes: kelto reads them as quotes");
                            i = k + close;
                            continue;
                        }
                    }
                    if (std::any_of(word.begin(), word.end(), Foreign)) {
                        out.append(1, '\'').append(word).append(1, '\'');
                        notices->push_back(at + of + " holds characters beyond ASCII without quotes: kelto reads it as it stands");
                        i = j;
                        continue;
                    }
                }
                out.append(word);
                i = j;
            }
        }
        if (end < text.size()) out += '\n';
        begin = end + 1;
    }
    text = std::move(out);
}
