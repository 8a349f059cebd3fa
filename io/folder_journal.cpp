#include "io/folder_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/run_error.h"

namespace {

constexpr off_t kLargestJournal = 1 << 20;

bool StatAt(int fd, const std::string& name, struct stat* info)
{
    return ::fstatat(fd, name.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string Shown(const std::string& folder, const std::string& name) { return folder == "." ? name : folder + "/" + name; }

enum class Found { kNone, kTrusted, kUntrusted };

// Reads the file `name` of the folder when it is a journal kelto wrote for this user: a regular
// file with one name, owned by the user, never opened otherwise (a fifo would block), and in the
// exact format with its checksum. `why` says what it is not.
Found ReadJournalAt(int fd, const std::string& name, std::string* text, std::string* why)
{
    struct stat info {};
    if (!StatAt(fd, name, &info)) {
        *why = std::strerror(errno);
        return errno == ENOENT ? Found::kNone : Found::kUntrusted;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = "it is not a regular file";
    } else if (info.st_uid != ::geteuid()) {
        *why = "it belongs to another user";
    } else if (info.st_nlink != 1) {
        *why = "it has other names (hard links)";
    } else if (info.st_size > kLargestJournal) {
        *why = "it is too large to be a journal";
    } else {
        const int file = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat opened {};
        if (file < 0 || ::fstat(file, &opened) != 0 || opened.st_ino != info.st_ino || opened.st_dev != info.st_dev) {
            *why = "it changed while it was read";
            if (file >= 0) ::close(file);
            return Found::kUntrusted;
        }
        text->clear();
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(file, buffer, sizeof buffer)) > 0 && text->size() <= static_cast<std::size_t>(kLargestJournal)) {
            text->append(buffer, static_cast<std::size_t>(n));
        }
        ::close(file);
        if (n < 0) {
            *why = std::strerror(errno);
            return Found::kUntrusted;
        }
        return Found::kTrusted;
    }
    return Found::kUntrusted;
}

// The journal of run `run` in the folder, when there is one kelto wrote for this user.
Found ReadJournal(int fd, const std::string& run, Journal* journal, std::string* why)
{
    std::string text;
    const Found found = ReadJournalAt(fd, JournalName(run), &text, why);
    if (found != Found::kTrusted) return found;
    std::optional<Journal> parsed = ParseJournal(text, why);
    if (!parsed) return Found::kUntrusted;
    if (parsed->run != run) {
        *why = "its name and its run differ";
        return Found::kUntrusted;
    }
    *journal = std::move(*parsed);
    return Found::kTrusted;
}

bool SameFolders(const Journal& a, const Journal& b)
{
    return a.folders.size() == b.folders.size() &&
           std::equal(a.folders.begin(), a.folders.end(), b.folders.begin(), [](const JournalFolder& x, const JournalFolder& y) {
               return x.device == y.device && x.inode == y.inode;
           });
}

// Another folder of an ended run, reached for settling: one whose turn this run holds, or one
// reached by its recorded path whose identity matches and whose turn is free (taken here, and
// given back when this goes).
class ReachedFolder {
public:
    ReachedFolder(const JournalFolder& record, const std::vector<HeldFolder>& held)
    {
        for (const HeldFolder& h : held) {
            if (h.device == record.device && h.inode == record.inode) {
                folder_ = h, usable_ = true;
                return;
            }
        }
        folder_.shown = record.path;
        owned_ = ::open(record.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (owned_ < 0) {
            gone_ = errno == ENOENT;
            why_ = std::strerror(errno);
            return;
        }
        struct stat info {};
        if (::fstat(owned_, &info) != 0 || info.st_dev != record.device || info.st_ino != record.inode) {
            why_ = "another folder now has its name";
            return;
        }
        folder_.fd = owned_, folder_.device = record.device, folder_.inode = record.inode;
        readable_ = true;
        // Another run holds it: that run settles it when it takes its turn there, or has already.
        usable_ = ::flock(owned_, LOCK_EX | LOCK_NB) == 0;
    }
    ~ReachedFolder()
    {
        if (owned_ >= 0) ::close(owned_);
    }
    ReachedFolder(const ReachedFolder&) = delete;
    ReachedFolder& operator=(const ReachedFolder&) = delete;

    const HeldFolder& folder() const { return folder_; }
    bool usable() const { return usable_; }                // its files may be settled now
    bool readable() const { return usable_ || readable_; }  // its journal may be read
    bool gone() const { return gone_; }                    // it no longer exists
    const std::string& why() const { return why_; }

private:
    HeldFolder folder_;
    int owned_ = -1;
    bool usable_ = false, readable_ = false, gone_ = false;
    std::string why_;
};

std::string LeftAlone(const std::string& file, const std::string& why)
{
    return "kelto: left " + file + " alone: " + why +
           "; kelto does not act on it or on the files it names. Check them, then remove it.\n";
}

// Settles run `run`, whose journal this folder holds.
std::string SettleRun(const HeldFolder& here, const std::string& run, const std::vector<HeldFolder>& held)
{
    const std::string file = Shown(here.shown, JournalName(run));
    Journal journal;
    std::string why;
    if (ReadJournal(here.fd, run, &journal, &why) != Found::kTrusted) return LeftAlone(file, why);
    const auto self = std::find_if(journal.folders.begin(), journal.folders.end(), [&](const JournalFolder& f) {
        return f.device == here.device && f.inode == here.inode;
    });
    if (self == journal.folders.end()) return LeftAlone(file, "it is the journal of another folder");
    const std::size_t selfIndex = static_cast<std::size_t>(self - journal.folders.begin());

    // The decision is the first folder's journal.
    std::vector<std::unique_ptr<ReachedFolder>> reached(journal.folders.size());
    for (std::size_t k = 0; k < journal.folders.size(); ++k) {
        if (k != selfIndex) reached[k] = std::make_unique<ReachedFolder>(journal.folders[k], held);
    }
    const auto folderOf = [&](std::size_t k) -> const HeldFolder& { return k == selfIndex ? here : reached[k]->folder(); };
    Journal decision = journal;
    if (selfIndex != 0) {
        if (!reached[0]->readable()) {
            return LeftAlone(file, "the folder " + journal.folders[0].path + " that holds its run's decision cannot be reached (" +
                                       reached[0]->why() + ")");
        }
        if (ReadJournal(folderOf(0).fd, run, &decision, &why) != Found::kTrusted || !SameFolders(decision, journal)) {
            return LeftAlone(file, "its run's decision in " + journal.folders[0].path + " is missing or not kelto's");
        }
    }

    // Every other folder first, the deciding one last; a folder whose own journal is gone is settled.
    std::string notices;
    bool settledEverywhere = true;
    for (std::size_t n = 1; n <= journal.folders.size(); ++n) {
        const std::size_t k = n % journal.folders.size();
        const bool usable = k == selfIndex || reached[k]->usable();
        struct stat info {};
        if (k != selfIndex && !reached[k]->readable()) {
            if (!reached[k]->gone()) {
                settledEverywhere = false;
                notices += "kelto: the interrupted run's folder " + journal.folders[k].path + " cannot be reached (" +
                           reached[k]->why() + "); its files there stay as they are\n";
            }
            continue;
        }
        if (k != 0 && !StatAt(folderOf(k).fd, JournalName(run), &info)) continue;  // settled already
        if (!usable) {
            settledEverywhere = false;
            continue;
        }
        std::string failure;
        const int renamed = SettleFolder(folderOf(k), decision, k, &failure);
        if (!failure.empty()) {
            settledEverywhere = false;
            notices += "kelto: could not settle an interrupted run in " + folderOf(k).shown + ": " + failure + "; its journal " +
                       JournalName(run) + " stays for a later run\n";
            continue;
        }
        if (k != 0) RemoveJournal(folderOf(k), run);
        const char* shown = folderOf(k).shown.c_str();
        if (decision.state != JournalState::kOpen && renamed == 0) {
            notices += Printed("kelto: cleared the journal of an interrupted run in %s: nothing was left to %s\n", shown,
                               decision.state == JournalState::kCommit ? "rename" : "restore");
        } else if (decision.state == JournalState::kCommit) {
            notices += Printed("kelto: finished the renames of an interrupted run in %s (%d files)\n", shown, renamed);
        } else if (decision.state == JournalState::kRollback) {
            notices += Printed("kelto: finished the rollback of an interrupted run in %s (%d earlier files restored)\n", shown,
                               renamed);
        }
    }
    if (settledEverywhere) RemoveJournal(folderOf(0), run);
    return notices;
}

// A draft of a journal that an ended run did not get to rename: the user's own, with one name (or
// the journal's second name while it was being renamed), and a journal or the beginning of one.
bool IsLeftDraft(const HeldFolder& folder, const std::string& run)
{
    struct stat draft {}, journal {};
    if (!StatAt(folder.fd, JournalDraftName(run), &draft) || !S_ISREG(draft.st_mode) || draft.st_uid != ::geteuid()) return false;
    if (draft.st_nlink == 2) {
        return StatAt(folder.fd, JournalName(run), &journal) && journal.st_ino == draft.st_ino && journal.st_dev == draft.st_dev;
    }
    std::string text, why;
    if (ReadJournalAt(folder.fd, JournalDraftName(run), &text, &why) != Found::kTrusted) return false;
    return IsJournalBeginning(text) || ParseJournal(text, &why).has_value();
}

}  // namespace

bool WriteJournal(const HeldFolder& folder, const Journal& journal, bool replace)
{
    const std::string text = JournalText(journal), draft = JournalDraftName(journal.run), name = JournalName(journal.run);
    const int fd = ::openat(folder.fd, draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    int error = 0;
    bool linked = false;
    for (std::size_t done = 0; error == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (!(n < 0 && errno == EINTR)) {
            error = n < 0 ? errno : EIO;
        }
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && replace && ::renameat(folder.fd, draft.c_str(), folder.fd, name.c_str()) != 0) error = errno;
    if (error == 0 && !replace && ::renameat2(folder.fd, draft.c_str(), folder.fd, name.c_str(), RENAME_NOREPLACE) != 0) {
        error = errno;
        // Without a no-replace rename on this file system: a second name, then the draft's goes.
        if ((error == EINVAL || error == ENOSYS) && ::linkat(folder.fd, draft.c_str(), folder.fd, name.c_str(), 0) == 0) {
            error = 0;
            linked = true;
        }
    }
    if (error != 0 || linked) ::unlinkat(folder.fd, draft.c_str(), 0);
    errno = error;
    return error == 0;
}

void RemoveJournal(const HeldFolder& folder, const std::string& run) { ::unlinkat(folder.fd, JournalName(run).c_str(), 0); }

int SettleFolder(const HeldFolder& folder, const Journal& journal, std::size_t index, std::string* failure)
{
    failure->clear();
    const int fd = folder.fd;
    int named = 0;
    const auto fail = [&](const std::string& name) {
        if (failure->empty()) *failure = name + ": " + std::strerror(errno);
    };
    // A file of the run: owned by this user and, once the run committed, the inode it recorded.
    const auto runs = [&](const std::string& name, std::uint64_t inode, struct stat* info) {
        return StatAt(fd, name, info) && S_ISREG(info->st_mode) && info->st_uid == ::geteuid() && (inode == 0 || info->st_ino == inode);
    };
    for (const JournalFile& file : journal.files) {
        if (file.folder != index) continue;
        const std::string temporary = TemporaryName(file.final, journal.run), kept = KeptName(file.final, journal.run);
        struct stat info {}, earlier {}, at {};
        switch (journal.state) {
        case JournalState::kOpen:
            if (runs(temporary, 0, &info) && info.st_nlink == 1 && ::unlinkat(fd, temporary.c_str(), 0) != 0) fail(temporary);
            break;
        case JournalState::kCommit:
            if (runs(temporary, file.newInode, &info)) {
                if (::renameat(fd, temporary.c_str(), fd, file.final.c_str()) == 0) {
                    ++named;
                } else {
                    fail(file.final);
                }
            }
            break;
        case JournalState::kRollback: {
            const bool keptAside = file.earlier && StatAt(fd, kept, &earlier) && earlier.st_ino == file.earlierInode;
            if (runs(file.final, file.newInode, &info)) {
                // Renamed: the earlier file returns, or the name goes where none stood.
                if (keptAside) {
                    if (::renameat(fd, kept.c_str(), fd, file.final.c_str()) == 0) ++named; else fail(file.final);
                } else if (!file.earlier && ::unlinkat(fd, file.final.c_str(), 0) != 0) {
                    fail(file.final);
                }
            } else {
                // Not renamed: the earlier file is at its name, or was moved aside where links are not possible.
                if (keptAside && !StatAt(fd, file.final, &at)) {
                    if (::renameat(fd, kept.c_str(), fd, file.final.c_str()) == 0) ++named; else fail(file.final);
                } else if (keptAside && ::unlinkat(fd, kept.c_str(), 0) != 0) {
                    fail(kept);
                }
                if (runs(temporary, file.newInode, &info) && ::unlinkat(fd, temporary.c_str(), 0) != 0) fail(temporary);
            }
            break;
        }
        }
    }
    if (journal.state == JournalState::kCommit && failure->empty()) {
        for (const JournalFile& file : journal.files) {
            const std::string kept = KeptName(file.final, journal.run);
            struct stat info {};
            if (file.folder == index && file.earlier && StatAt(fd, kept, &info) && info.st_ino == file.earlierInode &&
                ::unlinkat(fd, kept.c_str(), 0) != 0) {
                fail(kept);
            }
        }
    }
    return named;
}

std::string RecoverFolder(const HeldFolder& folder, const std::vector<HeldFolder>& held)
{
    const int listing = ::dup(folder.fd);
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return "";
    }
    ::rewinddir(dir);
    std::vector<std::string> journals, drafts;
    bool legacy = false;
    const std::string prefix = JournalName("");
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == ".kelto-journal") legacy = true;
        if (!name.starts_with(prefix)) continue;
        const std::string rest = name.substr(prefix.size());
        if (IsRunId(rest)) journals.push_back(rest);
        if (rest.size() == 10 && rest.ends_with(".new") && IsRunId(rest.substr(0, 6))) drafts.push_back(rest.substr(0, 6));
    }
    ::closedir(dir);
    std::sort(journals.begin(), journals.end());
    std::string notices;
    if (legacy) notices += LeftAlone(Shown(folder.shown, ".kelto-journal"), "kelto no longer writes journals of that name");
    for (const std::string& run : drafts) {
        if (IsLeftDraft(folder, run)) ::unlinkat(folder.fd, JournalDraftName(run).c_str(), 0);
    }
    for (const std::string& run : journals) notices += SettleRun(folder, run, held);
    return notices;
}
