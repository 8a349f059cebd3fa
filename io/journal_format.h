// What a run's journal says, and its exact text. A journal names every folder the run writes into
// (by device and inode, and the absolute path it had) and every file: the folder, the final name,
// whether an earlier file stood there, and, once the run commits, the inodes of the new file and of
// the earlier one. The temporary and kept names are not written: they follow from the final name
// and the run's id, so a journal can name nothing but a run's outputs and kelto's own temporaries.
// The text ends with a checksum of the rest; a journal is read only when re-writing what was read
// gives its text byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class JournalState {
    kOpen,      // the run is writing its files: nothing was renamed, its temporaries go
    kCommit,    // the renames are under way: every file takes its final name
    kRollback,  // a rename failed: every earlier file returns
};

struct JournalFolder {
    std::uint64_t device = 0, inode = 0;
    std::string path;  // absolute, as it was when the run started
};

struct JournalFile {
    std::size_t folder = 0;  // index into the journal's folders
    std::string final;
    bool earlier = false;          // an earlier file stood at the final name: it is kept during the renames
    std::uint64_t newInode = 0;    // the temporary file's inode, once the run commits
    std::uint64_t earlierInode = 0;  // the earlier file's inode, once the run commits
};

struct Journal {
    std::string run;  // the run's id: six letters or digits
    JournalState state = JournalState::kOpen;
    std::vector<JournalFolder> folders;  // the first one holds the journal that decides
    std::vector<JournalFile> files;
};

// The journal's name for run `run`, and the name it is written under before it takes that name.
std::string JournalName(const std::string& run);
std::string JournalDraftName(const std::string& run);
// The temporary name of `final` for run `run`, and the name its earlier file is kept under.
std::string TemporaryName(const std::string& final, const std::string& run);
std::string KeptName(const std::string& final, const std::string& run);

// True for six ASCII letters or digits.
bool IsRunId(const std::string& text);
// True for a name kelto may write in a folder: not empty, not "." or "..", no slash, no control
// character, and not one of kelto's own temporary names.
bool IsPlainOutputName(const std::string& name);

// The journal's exact text.
std::string JournalText(const Journal& journal);
// The journal that `text` is, or nothing (with the reason in `why`) unless the text is exactly
// what JournalText writes and every name in it is plain.
std::optional<Journal> ParseJournal(const std::string& text, std::string* why);
// True when `text` could be the beginning of a journal's text (a draft cut short).
bool IsJournalBeginning(const std::string& text);
