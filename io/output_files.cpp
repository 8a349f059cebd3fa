#include "io/output_files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/folder_journal.h"
#include "io/process_setup.h"
#include "io/run_error.h"
#include "io/write_behind.h"

namespace {

constexpr int kRunFiles = 4;
constexpr int kTableSlots = 3;  // events or glitches, the glitch map, the clean windows
constexpr const char* kNames[kRunFiles] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                           "kelto_unweg.dat", "kelto_unweg.mac"};
constexpr std::size_t kPathCapacity = PATH_MAX;
// A temporary name is the final one with ".kelto-" before it and ".XXXXXX.keep" after it at most.
constexpr std::size_t kTemporaryNameExtra = 7 + 7 + 5;

// One file being written: the four of the run take slots 0 to 3, the tables the others. The
// interrupt handler reads `temporary` and `pending`.
struct Slot {
    std::string path;      // the final name
    std::string folder;    // its folder, "." for the current one
    std::FILE* stream = nullptr;
    bool closed = false;
    char temporary[kPathCapacity] = {};
    volatile std::sig_atomic_t pending = 0;
};
Slot g_slots[kRunFiles + kTableSlots];

std::string g_folder = ".";
CommitObserver g_observer = nullptr;

// The folders whose turn the run holds: advisory locks on the folders themselves, held until the
// commit is done (or the process ends).
struct FolderTurn {
    std::string path;
    dev_t device;
    ino_t inode;
    int fd;
};
std::vector<FolderTurn> g_turns;

[[noreturn]] void RefuseFile(const std::string& path, int error)
{
    throw RunError::Refusal(Printed("Cannot create output file %s: %s\n", path.c_str(), std::strerror(error)));
}

// Blocks the interrupts while the set of temporary files changes, so that the handler never
// misses a file or removes a renamed one.
class InterruptsHeld {
public:
    InterruptsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        AddInterruptSignals(&held);
        ::sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~InterruptsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t previous_;
};

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Takes the run's turn in `folder` (waiting while another run has it), then finishes what an
// interrupted run left there. `forPath` names the file in messages.
void TakeTurn(const std::string& folder, const std::string& forPath)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) RefuseFile(forPath, errno);
    if (!S_ISDIR(info.st_mode)) RefuseFile(forPath, ENOTDIR);
    for (const FolderTurn& turn : g_turns) {
        if (turn.device == info.st_dev && turn.inode == info.st_ino) return;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RefuseFile(forPath, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        std::fprintf(stderr, "kelto: waiting for another run in %s to finish\n", folder.c_str());
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    g_turns.push_back({folder, info.st_dev, info.st_ino, fd});
    const std::string notice = RecoverFolder(folder);
    if (!notice.empty()) std::fputs(notice.c_str(), stderr);
}

void ReleaseTurns()
{
    for (const FolderTurn& turn : g_turns) ::close(turn.fd);
    g_turns.clear();
}

// Creates the temporary file of `slot` beside `path`, with the permissions a new file gets.
std::FILE* Create(Slot& slot, const std::string& path)
{
    static const bool cleanupRegistered = std::atexit(RemoveTemporaryOutputFiles) == 0;
    (void)cleanupRegistered;
    const std::string folder = FolderOf(path), name = NameOf(path);
    TakeTurn(folder, path);
    struct stat info {};
    // A folder cannot be replaced by a file; anything else at the name (a link, a fifo) is.
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) RefuseFile(path, EISDIR);
    const std::string pattern = (folder == "." && path.find('/') == std::string::npos ? "" : folder + "/") + ".kelto-" + name + ".XXXXXX";
    if (pattern.size() >= kPathCapacity || name.size() + kTemporaryNameExtra > NAME_MAX) RefuseFile(path, ENAMETOOLONG);
    int fd = -1;
    {
        InterruptsHeld held;
        std::memcpy(slot.temporary, pattern.c_str(), pattern.size() + 1);
        fd = ::mkostemp(slot.temporary, O_CLOEXEC);
        if (fd >= 0) slot.pending = 1;
    }
    if (fd < 0) RefuseFile(path, errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);  // as a new file would get: mkstemp makes it private
    std::FILE* file = OpenWriteBehind(fd);
    if (file == nullptr) RefuseFile(path, errno);
    slot.path = path;
    slot.folder = folder;
    slot.stream = file;
    slot.closed = false;
    return file;
}

// Closes the slot's stream; "" when the file was written completely, else the message saying so.
std::string Close(Slot& slot)
{
    if (slot.stream == nullptr) return "";
    const bool writeError = std::ferror(slot.stream) != 0;
    const bool closeError = std::fclose(slot.stream) != 0;
    slot.stream = nullptr;
    slot.closed = true;
    return writeError || closeError ? Printed("Output file %s could not be written completely\n", slot.path.c_str()) : "";
}

void Observe(const char* step, const std::string& path)
{
    if (g_observer != nullptr) g_observer(step, path);
}

// What kind of thing stands at a name that kelto will not replace.
const char* KindOf(mode_t mode)
{
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    if (S_ISSOCK(mode)) return "socket";
    return "special file";
}

// The identity of a name: its folder resolved, and the name in it.
std::string Identity(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::canonical(FolderOf(path), error);
    return (error ? std::filesystem::absolute(FolderOf(path), error).lexically_normal() : folder).string() + "/" + NameOf(path);
}

// True when both names resolve to one existing file.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat one {}, other {};
    return ::stat(a.c_str(), &one) == 0 && ::stat(b.c_str(), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

}  // namespace

void SetOutputFolder(const std::string& folder) { g_folder = folder.empty() ? "." : folder; }

std::string InOutputFolder(const std::string& name) { return g_folder == "." ? name : g_folder + "/" + name; }

void SetCommitObserver(CommitObserver observer) { g_observer = observer; }

void PrepareOutputs(const std::vector<std::string>& outputs, const std::vector<RunInput>& inputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& path = outputs[i];
        const std::string name = NameOf(path);
        if (name.empty() || name == "." || name == "..") RefuseFile(path, EISDIR);
        if (name.size() + kTemporaryNameExtra > NAME_MAX || path.size() + kTemporaryNameExtra >= kPathCapacity) {
            RefuseFile(path, ENAMETOOLONG);
        }
        struct stat folder {};
        if (::stat(FolderOf(path).c_str(), &folder) != 0) RefuseFile(path, errno);
        if (!S_ISDIR(folder.st_mode)) RefuseFile(path, ENOTDIR);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode)) RefuseFile(path, EISDIR);
            if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode) && !S_ISFIFO(info.st_mode)) {
                throw RunError::Refusal(Printed("Output file %s is a %s, which kelto never replaces\n", path.c_str(),
                                                KindOf(info.st_mode)));
            }
        }
        for (const RunInput& input : inputs) {
            if (Identity(path) == Identity(input.path) || SameFile(path, input.path)) {
                throw RunError::Refusal(Printed("Output file %s is the %s %s, which kelto reads and does not overwrite\n",
                                                path.c_str(), input.role.c_str(), input.path.c_str()));
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (Identity(path) == Identity(outputs[j]) || SameFile(path, outputs[j])) {
                throw RunError::Refusal(Printed("Output files %s and %s are the same file\n", outputs[j].c_str(), path.c_str()));
            }
        }
    }
    // Turns in a fixed order, so that two runs that share folders never wait for each other.
    std::vector<std::pair<std::pair<dev_t, ino_t>, std::string>> folders;
    for (const std::string& path : outputs) {
        struct stat info {};
        if (::stat(FolderOf(path).c_str(), &info) == 0) folders.push_back({{info.st_dev, info.st_ino}, path});
    }
    std::sort(folders.begin(), folders.end());
    for (const auto& [identity, path] : folders) TakeTurn(FolderOf(path), path);
}

void RemoveTemporaryOutputFiles()
{
    for (Slot& slot : g_slots) {
        if (slot.pending) {
            ::unlink(slot.temporary);
            slot.pending = 0;
        }
    }
}

OutputFiles OpenOutputFiles()
{
    OutputFiles files{};
    files.spaghettiDat = Create(g_slots[0], InOutputFolder(kNames[0]));
    files.spaghettiMac = Create(g_slots[1], InOutputFolder(kNames[1]));
    files.unwegDat = Create(g_slots[2], InOutputFolder(kNames[2]));
    files.unwegMac = Create(g_slots[3], InOutputFolder(kNames[3]));
    return files;
}

void CloseOutputFiles(OutputFiles* files)
{
    std::string failures;
    for (int i = 0; i < kRunFiles; ++i) failures += Close(g_slots[i]);
    *files = OutputFiles{};
    if (!failures.empty()) throw RunError::Refusal(failures);
}

std::FILE* OpenOutputFile(const std::string& path)
{
    for (int i = kRunFiles; i < kRunFiles + kTableSlots; ++i) {
        if (g_slots[i].stream == nullptr && !g_slots[i].pending) return Create(g_slots[i], path);
    }
    RefuseFile(path, EMFILE);
}

void CloseOutputFile(std::FILE* file)
{
    for (Slot& slot : g_slots) {
        if (slot.stream != file || file == nullptr) continue;
        if (const std::string failure = Close(slot); !failure.empty()) throw RunError::Refusal(failure);
        return;
    }
}

void CommitOutputFiles()
{
    // The console output belongs to the run: a run whose output was lost replaces nothing.
    if (!DrainWriteBehind(stdout)) ReportFailedWrite(stdout);
    std::string failures;
    for (Slot& slot : g_slots) {
        if (slot.pending) failures += Close(slot);
    }
    if (!failures.empty()) throw RunError::Refusal(failures);

    // Each folder's files, and the names under which their earlier files are kept.
    std::vector<std::string> folders;
    std::vector<std::vector<JournalEntry>> entries;
    std::vector<std::vector<Slot*>> slots;
    for (Slot& slot : g_slots) {
        if (!slot.pending) continue;
        auto at = std::find(folders.begin(), folders.end(), slot.folder);
        if (at == folders.end()) {
            folders.push_back(slot.folder), entries.emplace_back(), slots.emplace_back();
            at = folders.end() - 1;
        }
        const std::size_t f = static_cast<std::size_t>(at - folders.begin());
        struct stat info {};
        const std::string temporary = NameOf(slot.temporary);
        const bool earlier = ::lstat(slot.path.c_str(), &info) == 0;
        entries[f].push_back({temporary, NameOf(slot.path), earlier ? temporary + ".keep" : ""});
        slots[f].push_back(&slot);
    }
    const auto path = [&](std::size_t f, const std::string& name) { return folders[f] + "/" + name; };
    std::vector<std::string> kept;
    {
        InterruptsHeld held;
        Observe("commit", "");
        for (std::size_t f = 0; f < folders.size(); ++f) {
            if (!WriteJournal(folders[f], entries[f], false)) {
                const int error = errno;
                for (std::size_t g = 0; g < f; ++g) RemoveJournal(folders[g]);
                throw RunError::Refusal(Printed("Cannot write the journal of the renames in %s: %s\n", folders[f].c_str(),
                                                std::strerror(error)));
            }
            Observe("journal", folders[f]);
        }
        std::string failure;
        for (std::size_t f = 0; f < folders.size() && failure.empty(); ++f) {
            for (std::size_t i = 0; i < entries[f].size() && failure.empty(); ++i) {
                const JournalEntry& e = entries[f][i];
                Observe("rename", slots[f][i]->path);
                // The earlier file kept alive by a second name, so that the rename frees no blocks; where
                // the file system has no hard links, moved aside instead.
                if (!e.keep.empty() && ::link(path(f, e.final).c_str(), path(f, e.keep).c_str()) != 0 &&
                    ::rename(path(f, e.final).c_str(), path(f, e.keep).c_str()) != 0) {
                    failure = Printed("Cannot keep the earlier output file %s while replacing it: %s\n",
                                      slots[f][i]->path.c_str(), std::strerror(errno));
                } else if (::rename(path(f, e.temporary).c_str(), path(f, e.final).c_str()) != 0) {
                    failure = Printed("Cannot replace output file %s: %s\n", slots[f][i]->path.c_str(), std::strerror(errno));
                } else {
                    Observe("renamed", slots[f][i]->path);
                }
            }
        }
        if (!failure.empty()) {
            // Every earlier file comes back, behind rollback journals should this end half-way too.
            for (std::size_t f = 0; f < folders.size(); ++f) WriteJournal(folders[f], entries[f], true);
            for (std::size_t f = 0; f < folders.size(); ++f) RollBack(folders[f], entries[f]);
            for (std::size_t f = 0; f < folders.size(); ++f) RemoveJournal(folders[f]);
            for (Slot& slot : g_slots) slot.pending = 0;
            ReleaseTurns();
            throw RunError::Refusal(failure + "The earlier output files are kept.\n");
        }
        for (Slot& slot : g_slots) slot.pending = 0;
        for (std::size_t f = 0; f < folders.size(); ++f) RemoveJournal(folders[f]);
        for (std::size_t f = 0; f < folders.size(); ++f) {
            for (const JournalEntry& e : entries[f]) {
                if (!e.keep.empty()) kept.push_back(path(f, e.keep));
            }
        }
    }
    // The earlier files' blocks are freed now, after the commit.
    for (const std::string& keep : kept) ::unlink(keep.c_str());
    ReleaseTurns();
}

void ReportFailedWrite(std::FILE* stream)
{
    if (stream == stdout) {
        throw RunError(1, "Standard output could not be written completely\n", RunError::Channel::kError, false);
    }
    for (const Slot& slot : g_slots) {
        if (stream != nullptr && slot.stream == stream) {
            throw RunError::Refusal(Printed("Output file %s could not be written completely\n", slot.path.c_str()));
        }
    }
    throw RunError::Refusal("An output file could not be written completely\n");
}

int CompletedRunStatus()
{
    if (!DrainWriteBehind(stdout)) {
        std::fprintf(stderr, "Standard output could not be written completely\n");
        return 1;
    }
    return 0;
}
