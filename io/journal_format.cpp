#include "io/journal_format.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* kHeader = "kelto journal 1\n";
constexpr const char* kStates[] = {"open", "commit", "rollback"};
constexpr std::size_t kMostFolders = 64, kMostFiles = 256;

// FNV-1a, 64 bits: enough to tell a journal cut short or edited from the one kelto wrote.
std::uint64_t Checksum(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string Counted(const std::string& text) { return std::to_string(text.size()) + ":" + text; }

// Reads the journal's tokens in order; any departure from the format ends the reading.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool Literal(const std::string& word)
    {
        if (text_.compare(at_, word.size(), word) != 0) return false;
        at_ += word.size();
        return true;
    }
    // A decimal number of 64 bits (a device or an inode may take all of them).
    bool Number(std::uint64_t* value)
    {
        const std::size_t start = at_;
        *value = 0;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            const auto digit = static_cast<std::uint64_t>(text_[at_++] - '0');
            if (*value > (UINT64_MAX - digit) / 10) return false;
            *value = *value * 10 + digit;
        }
        return at_ > start;
    }
    bool CountedText(std::string* value)
    {
        std::uint64_t length = 0;
        if (!Number(&length) || !Literal(":") || length > text_.size() - at_) return false;
        *value = text_.substr(at_, length);
        at_ += length;
        return true;
    }
    bool Word(std::string* value)
    {
        const std::size_t end = text_.find_first_of(" \n", at_);
        if (end == std::string::npos || end == at_) return false;
        *value = text_.substr(at_, end - at_);
        at_ = end;
        return true;
    }
    bool AtEnd() const { return at_ == text_.size(); }
    std::size_t Position() const { return at_; }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

std::string JournalName(const std::string& run) { return ".kelto-journal-" + run; }
std::string JournalDraftName(const std::string& run) { return JournalName(run) + ".new"; }
std::string TemporaryName(const std::string& final, const std::string& run) { return ".kelto-" + final + "." + run; }
std::string KeptName(const std::string& final, const std::string& run) { return TemporaryName(final, run) + ".keep"; }

bool IsRunId(const std::string& text)
{
    if (text.size() != 6) return false;
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

bool IsPlainOutputName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.starts_with(".kelto-")) return false;
    for (const char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

std::string JournalText(const Journal& journal)
{
    std::string text = kHeader;
    text += "run " + journal.run + "\n";
    text += std::string("state ") + kStates[static_cast<int>(journal.state)] + "\n";
    for (const JournalFolder& folder : journal.folders) {
        text += "folder " + std::to_string(folder.device) + " " + std::to_string(folder.inode) + " " + Counted(folder.path) + "\n";
    }
    for (const JournalFile& file : journal.files) {
        text += "file " + std::to_string(file.folder) + " " + (file.earlier ? "1 " : "0 ") + std::to_string(file.newInode) + " " +
                std::to_string(file.earlierInode) + " " + Counted(file.final) + "\n";
    }
    char check[32];
    std::snprintf(check, sizeof check, "check %016" PRIx64 "\n", Checksum(text));
    return text + check;
}

std::optional<Journal> ParseJournal(const std::string& text, std::string* why)
{
    Journal journal;
    Reader reader(text);
    std::string state;
    *why = "it is not in the format kelto writes";
    if (!reader.Literal(kHeader) || !reader.Literal("run ") || !reader.Word(&journal.run) || !reader.Literal("\nstate ") ||
        !reader.Word(&state) || !reader.Literal("\n") || !IsRunId(journal.run)) {
        return std::nullopt;
    }
    bool known = false;
    for (int s = 0; s < 3; ++s) {
        if (state == kStates[s]) journal.state = static_cast<JournalState>(s), known = true;
    }
    if (!known) return std::nullopt;
    while (reader.Literal("folder ")) {
        JournalFolder folder;
        if (!reader.Number(&folder.device) || !reader.Literal(" ") || !reader.Number(&folder.inode) || !reader.Literal(" ") ||
            !reader.CountedText(&folder.path) || !reader.Literal("\n") || journal.folders.size() == kMostFolders) {
            return std::nullopt;
        }
        journal.folders.push_back(folder);
    }
    while (reader.Literal("file ")) {
        JournalFile file;
        std::uint64_t folder = 0, earlier = 0;
        if (!reader.Number(&folder) || !reader.Literal(" ") || !reader.Number(&earlier) || !reader.Literal(" ") ||
            !reader.Number(&file.newInode) || !reader.Literal(" ") || !reader.Number(&file.earlierInode) || !reader.Literal(" ") ||
            !reader.CountedText(&file.final) || !reader.Literal("\n") || journal.files.size() == kMostFiles || earlier > 1) {
            return std::nullopt;
        }
        file.folder = static_cast<std::size_t>(folder), file.earlier = earlier == 1;
        if (folder >= journal.folders.size()) return std::nullopt;
        if (!IsPlainOutputName(file.final)) {
            *why = "it names a file that is not a plain name in its folder";
            return std::nullopt;
        }
        // A decision names the inodes of the files it moves, so that it moves no other file.
        if (journal.state != JournalState::kOpen && (file.newInode == 0 || (file.earlier && file.earlierInode == 0))) {
            return std::nullopt;
        }
        journal.files.push_back(file);
    }
    for (const JournalFolder& folder : journal.folders) {
        if (!folder.path.starts_with("/") || folder.path.find('\0') != std::string::npos) return std::nullopt;
    }
    // The exact text (numbers without leading zeros, nothing after the end), then the checksum.
    const std::string expected = JournalText(journal);
    if (journal.folders.empty() || expected != text) {
        const std::size_t check = expected.rfind("check ");
        if (text.size() == expected.size() && text.compare(0, check + 6, expected, 0, check + 6) == 0) {
            *why = "its checksum does not match its text";
        }
        return std::nullopt;
    }
    return journal;
}

bool IsJournalBeginning(const std::string& text)
{
    const std::string header = kHeader;
    return text.size() <= header.size() ? header.starts_with(text) : text.starts_with(header);
}
