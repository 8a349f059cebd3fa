// The journal that makes a run's renames all-or-nothing in one folder, whatever ends the process.
//
// Before the first rename, every folder the run writes into gets a journal naming, for each of its
// files, the temporary name, the final name and the name under which the earlier file is kept
// alive during the renames (a hard link, so that renaming over it frees no blocks and takes
// microseconds). A run that finds a journal finishes what it says before it does anything else:
// a commit journal is rolled forward (every file takes its name), a rollback journal (written when
// a rename failed) rolled back (every earlier file returns). The journal goes once the renames are
// done; the kept files after it.
#pragma once

#include <string>
#include <vector>

// One file of a folder's journal; names within the folder, without a slash.
struct JournalEntry {
    std::string temporary;
    std::string final;
    std::string keep;  // empty when no earlier file stood at the final name
};

// The journal's name in a folder, and the temporary name it is written under first.
inline constexpr const char* kJournalName = ".kelto-journal";

// Writes the folder's journal whole (a temporary file renamed over it); false when it could not.
bool WriteJournal(const std::string& folder, const std::vector<JournalEntry>& entries, bool rollback);
// Removes the folder's journal.
void RemoveJournal(const std::string& folder);

// Every file takes its final name; the kept earlier files go. Safe to repeat.
void RollForward(const std::string& folder, const std::vector<JournalEntry>& entries);
// Every earlier file returns to its name and the new files go. Safe to repeat.
void RollBack(const std::string& folder, const std::vector<JournalEntry>& entries);

// Under the folder's lock: finishes a journal that an ended run left, then removes kelto's
// temporary and kept files that no journal names (a live run would hold the lock). Returns a line
// for the user saying what it did, or "".
std::string RecoverFolder(const std::string& folder);

// True for the names kelto gives its temporary and kept files: ".kelto-NAME.XXXXXX", the same
// with ".keep", ".kelto-journal.XXXXXX", and the temporary names of earlier versions
// (".kelto_spaghetti.dat.XXXXXX" and the like).
bool IsKeltoTemporaryName(const std::string& name);
