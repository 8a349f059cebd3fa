// The journals that make a run's renames all-or-nothing across every folder it writes into,
// whatever ends the process.
//
// When a run has taken its turn in its folders it writes its journal into each of them, in state
// "open", before it creates any file. Its commit rewrites the journal of its first folder (in the
// order of device and inode) to "commit", with the inodes of the new and of the earlier files:
// that one write decides for every folder. Then each earlier file is kept alive by a second name
// (a hard link, so that renaming over it frees no blocks), every file takes its name, the kept
// names go, the other folders' journals go, and the deciding journal goes last. A rename that
// fails turns the decision into "rollback" and brings every earlier file back.
//
// A later run that takes its turn in a folder settles what an ended run left there: by the
// deciding journal, its temporaries go ("open"), its files take their names ("commit") or its
// earlier files return ("rollback"), in every folder of that run whose turn it holds or can take.
// A journal is obeyed only when it is provably kelto's: a regular file with one name, owned by
// the user running kelto, in kelto's exact format with its checksum, naming this folder. Anything
// else is left as it is and reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/journal_format.h"

// A folder the run holds open: every file operation in it goes through `fd`, so that another
// spelling of the folder, or its renaming while the run writes, changes nothing.
struct HeldFolder {
    int fd = -1;
    std::uint64_t device = 0, inode = 0;
    std::string shown;  // the folder as messages name it
};

// Writes the journal into the folder under its draft name, then gives it its name: replacing the
// run's earlier journal there when `replace`, never replacing anything otherwise. False (errno
// set) when it could not.
bool WriteJournal(const HeldFolder& folder, const Journal& journal, bool replace);
// Removes run `run`'s journal from the folder.
void RemoveJournal(const HeldFolder& folder, const std::string& run);

// Brings the files that `journal` names in its folder `index` (held open as `folder`) where its
// state says: removes the temporaries (open), gives every new file its name and removes the kept
// earlier files (commit), or brings every earlier file back (rollback). Acts only on files whose
// owner and inode are the run's. Returns how many files took a name; `failure` gets the first
// failure, "" when none.
int SettleFolder(const HeldFolder& folder, const Journal& journal, std::size_t index, std::string* failure);

// Settles every journal of an ended run in `folder` (whose turn this run holds, as it holds those
// of `held`), and removes the drafts such runs left. Returns the lines that tell the user what was
// done, or what was found and left alone.
std::string RecoverFolder(const HeldFolder& folder, const std::vector<HeldFolder>& held);
