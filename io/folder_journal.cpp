#include "io/folder_journal.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string InFolder(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The six characters mkstemp puts in a name.
bool IsUniqueSuffix(const std::string& text)
{
    if (text.size() != 6) return false;
    for (const char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// A field of the journal: its length, a colon and its bytes, so that any file name fits.
void PutField(std::string* text, const std::string& field) { *text += std::to_string(field.size()) + ":" + field + " "; }

bool GetField(const std::string& text, std::size_t* at, std::string* field)
{
    std::size_t colon = text.find(':', *at);
    if (colon == std::string::npos || colon == *at || colon - *at > 6) return false;
    std::size_t length = 0;
    for (std::size_t i = *at; i < colon; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        length = length * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    if (colon + 1 + length + 1 > text.size() || text[colon + 1 + length] != ' ') return false;
    *field = text.substr(colon + 1, length);
    *at = colon + 1 + length + 1;
    return true;
}

// Reads the folder's journal; false when there is none or it is not whole (it was written under
// a temporary name first, so a journal that is there is whole unless someone else wrote it).
bool ReadJournal(const std::string& folder, std::vector<JournalEntry>* entries, bool* rollback)
{
    std::FILE* file = std::fopen(InFolder(folder, kJournalName).c_str(), "rb");
    if (file == nullptr) return false;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < (1u << 20);) text.append(buffer, n);
    std::fclose(file);
    const std::size_t header = text.find('\n');
    if (header == std::string::npos) return false;
    const std::string kind = text.substr(0, header);
    if (kind != "kelto commit" && kind != "kelto rollback") return false;
    *rollback = kind == "kelto rollback";
    std::size_t at = header + 1;
    while (at < text.size()) {
        JournalEntry e;
        if (!GetField(text, &at, &e.temporary) || !GetField(text, &at, &e.final) || !GetField(text, &at, &e.keep) ||
            at >= text.size() || text[at] != '\n') {
            return false;
        }
        ++at;
        // Names within the folder only: a journal never reaches elsewhere.
        for (const std::string* name : {&e.temporary, &e.final, &e.keep}) {
            if (name->find('/') != std::string::npos || *name == "." || *name == "..") return false;
        }
        if (e.temporary.empty() || e.final.empty()) return false;
        entries->push_back(e);
    }
    return true;
}

}  // namespace

bool IsKeltoTemporaryName(const std::string& name)
{
    if (name.starts_with(".kelto-")) {
        std::string rest = name.substr(7);
        if (rest.ends_with(".keep")) rest.resize(rest.size() - 5);
        const std::size_t dot = rest.rfind('.');
        return dot != std::string::npos && dot > 0 && IsUniqueSuffix(rest.substr(dot + 1));
    }
    for (const char* earlier : {".kelto_spaghetti.dat.", ".kelto_spaghetti.mac.", ".kelto_unweg.dat.", ".kelto_unweg.mac."}) {
        if (name.starts_with(earlier) && IsUniqueSuffix(name.substr(std::strlen(earlier)))) return true;
    }
    return false;
}

bool WriteJournal(const std::string& folder, const std::vector<JournalEntry>& entries, bool rollback)
{
    std::string text = rollback ? "kelto rollback\n" : "kelto commit\n";
    for (const JournalEntry& e : entries) {
        PutField(&text, e.temporary);
        PutField(&text, e.final);
        PutField(&text, e.keep);
        text += "\n";
    }
    std::string temporary = InFolder(folder, std::string(kJournalName) + ".XXXXXX");
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<std::size_t>(n);
    }
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), InFolder(folder, kJournalName).c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void RemoveJournal(const std::string& folder) { ::unlink(InFolder(folder, kJournalName).c_str()); }

void RollForward(const std::string& folder, const std::vector<JournalEntry>& entries)
{
    for (const JournalEntry& e : entries) {
        if (Exists(InFolder(folder, e.temporary))) ::rename(InFolder(folder, e.temporary).c_str(), InFolder(folder, e.final).c_str());
    }
    for (const JournalEntry& e : entries) {
        if (!e.keep.empty()) ::unlink(InFolder(folder, e.keep).c_str());
    }
}

void RollBack(const std::string& folder, const std::vector<JournalEntry>& entries)
{
    for (const JournalEntry& e : entries) {
        const std::string temporary = InFolder(folder, e.temporary), final = InFolder(folder, e.final);
        const std::string keep = e.keep.empty() ? "" : InFolder(folder, e.keep);
        if (Exists(temporary)) {
            // Not renamed: the earlier file is at its name, or kept aside when it could not be linked.
            if (!keep.empty() && Exists(keep) && !Exists(final)) ::rename(keep.c_str(), final.c_str());
            if (!keep.empty()) ::unlink(keep.c_str());
            ::unlink(temporary.c_str());
        } else if (!keep.empty()) {
            if (Exists(keep)) ::rename(keep.c_str(), final.c_str());
        } else {
            ::unlink(final.c_str());  // the new file, where none stood before
        }
    }
}

std::string RecoverFolder(const std::string& folder)
{
    std::string notice;
    std::vector<JournalEntry> entries;
    bool rollback = false;
    const bool journal = Exists(InFolder(folder, kJournalName));
    if (journal && !ReadJournal(folder, &entries, &rollback)) {
        // Not one kelto wrote: the files it may name stay as they are.
        return "kelto: " + InFolder(folder, kJournalName) + " is no journal kelto can read; its temporary files are left alone\n";
    }
    if (journal) {
        if (rollback) {
            RollBack(folder, entries);
        } else {
            RollForward(folder, entries);
        }
        RemoveJournal(folder);
        notice = "kelto: finished the " + std::string(rollback ? "rollback" : "renames") + " of an interrupted run in " + folder +
                 " (" + std::to_string(entries.size()) + " files)\n";
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return notice;
    std::vector<std::string> orphans;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsKeltoTemporaryName(name) && !(name.starts_with(std::string(kJournalName) + ".") && IsUniqueSuffix(name.substr(15)))) {
            continue;
        }
        struct stat info {};
        if (::lstat(InFolder(folder, name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) orphans.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : orphans) ::unlink(InFolder(folder, name).c_str());
    return notice;
}
