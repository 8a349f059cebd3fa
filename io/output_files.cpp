#include "io/output_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/folder_journal.h"
#include "io/interrupt_signals.h"
#include "io/run_error.h"
#include "io/write_behind.h"

namespace {

constexpr int kRunFiles = static_cast<int>(kSurveyFileNames.size());
constexpr int kTableSlots = 3;  // events or glitches, the glitch map, the clean windows
constexpr int kSlots = kRunFiles + kTableSlots;
constexpr std::size_t kPathCapacity = PATH_MAX;
// A temporary name is the final one with ".kelto-" before it and ".XXXXXX.keep" after it at most.
constexpr std::size_t kTemporaryNameExtra = 7 + 7 + 5;

// The state of the run's files is namespace-scope, not held by an object of the run, because what
// removes the temporary files and journals of a run that ends early, the interrupt handler and the
// exit handler registered with atexit, can reach nothing else; a process makes one run, so it has
// one set of files. Each variable below says what it keeps.

// One file of the run: the four of the survey take slots 0 to 3, the tables the others. The
// interrupt handler reads `folder`, `temporary` and `pending`.
struct Slot {
    bool reserved = false;
    std::string path;   // as the user named it
    std::string final;  // its name in its folder
    int folder = 0;     // index into the held folders
    std::FILE* stream = nullptr;
    std::uint64_t inode = 0;
    char temporary[NAME_MAX + 1] = {};
    volatile std::sig_atomic_t pending = 0;
};
Slot g_slots[kSlots];  // read by the handlers (above)

// The folders whose turn the run holds (advisory locks on the folders themselves, held until the
// commit is done or the process ends), in the order of device and inode: the first one's journal
// decides. The interrupt handler reads the descriptors, the journal flags and the journal's name.
std::vector<HeldFolder> g_folders;  // with the slots: the folders of the process's one set of files
int g_folderFd[kSlots];  // read by the handlers
volatile std::sig_atomic_t g_journalIn[kSlots];  // read by the handlers: which folders hold a journal
volatile std::sig_atomic_t g_folderCount = 0;  // read by the handlers
char g_journalName[32] = {};  // read by the handlers
Journal g_journal;  // with the slots: what the journals say, rewritten by the commit

// The folder of the four files, set once a run before its files are prepared: it goes with the
// slots, and the survey opens its files (OpenOutputFiles) knowing nothing of the options.
std::string g_outputFolder = ".";
// A test's observer of the commit's steps: it watches the process's one set of files.
CommitObserver g_observer = nullptr;
// Set once the commit has given the run's files their names; the interrupt handler reads it.
volatile std::sig_atomic_t g_replaced = 0;

[[noreturn]] void RefuseFile(const std::string& path, int error)
{
    throw RunError::Refusal(Printed("Cannot create output file %s: %s\n", path.c_str(), std::strerror(error)));
}

// Blocks the interrupts while the set of temporary files and journals changes, so that the
// handler never misses a file or removes a renamed one.
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

void Observe(const char* step, const std::string& path)
{
    if (g_observer != nullptr) g_observer(step, path);
}

// Six letters or digits from the kernel's random source, so that no two runs share journal or
// temporary names.
std::string RandomRunId()
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        std::uint64_t mixed = static_cast<std::uint64_t>(::getpid()) * 0x9e3779b97f4a7c15ull ^
                              static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(mixed >>= 8);
    }
    std::string id;
    for (const unsigned char byte : bytes) id += kDigits[byte % 62];
    return id;
}

// Opens each output's folder once, however it is spelled, and takes the run's turn in each, in
// the order of device and inode, so that two runs that share folders never wait for each other;
// then settles what ended runs left there. Returns each output's folder as (device, inode).
std::vector<std::pair<std::uint64_t, std::uint64_t>> TakeTurns(const std::vector<std::string>& outputs)
{
    std::vector<HeldFolder> folders;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> identities;
    try {
        for (const std::string& path : outputs) {
            const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat info {};
            if (fd < 0 || ::fstat(fd, &info) != 0) RefuseFile(path, errno);
            identities.push_back({info.st_dev, info.st_ino});
            const bool known = std::any_of(folders.begin(), folders.end(), [&](const HeldFolder& f) {
                return f.device == info.st_dev && f.inode == info.st_ino;
            });
            if (known) {
                ::close(fd);
            } else {
                folders.push_back({fd, info.st_dev, info.st_ino, FolderOf(path)});
            }
        }
    } catch (...) {
        for (const HeldFolder& f : folders) ::close(f.fd);
        throw;
    }
    std::sort(folders.begin(), folders.end(),
              [](const HeldFolder& a, const HeldFolder& b) { return std::pair(a.device, a.inode) < std::pair(b.device, b.inode); });
    {
        InterruptsHeld held;
        g_folders = folders;
        for (std::size_t f = 0; f < folders.size(); ++f) {
            g_folderFd[f] = folders[f].fd;
            g_journalIn[f] = 0;
        }
        g_folderCount = static_cast<std::sig_atomic_t>(folders.size());
    }
    for (const HeldFolder& folder : g_folders) {
        if (::flock(folder.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            std::fprintf(stderr, "kelto: waiting for another run in %s to finish\n", folder.shown.c_str());
            while (::flock(folder.fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    for (const HeldFolder& folder : g_folders) {
        const std::string notices = RecoverFolder(folder, g_folders);
        if (!notices.empty()) std::fputs(notices.c_str(), stderr);
    }
    return identities;
}

// True when the name exists in the folder.
bool Exists(const HeldFolder& folder, const std::string& name)
{
    struct stat info {};
    return ::fstatat(folder.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// Gives the run its id, the slots of its files (in the folders `identities` gives, one per
// output), and its journal in every folder, before any of its files exists.
void Reserve(const std::vector<std::string>& outputs, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& identities)
{
    int nextTable = kRunFiles;
    for (std::size_t o = 0; o < outputs.size(); ++o) {
        const std::string& path = outputs[o];
        int slot = -1;
        for (int i = 0; i < kRunFiles; ++i) {
            if (path == InOutputFolder(kSurveyFileNames[i])) slot = i;
        }
        if (slot < 0 && nextTable == kSlots) RefuseFile(path, EMFILE);
        if (slot < 0) slot = nextTable++;
        g_slots[slot].reserved = true, g_slots[slot].path = path, g_slots[slot].final = NameOf(path);
        const auto held = std::find_if(g_folders.begin(), g_folders.end(), [&](const HeldFolder& f) {
            return std::pair(f.device, f.inode) == identities[o];
        });
        g_slots[slot].folder = static_cast<int>(held - g_folders.begin());
    }
    std::string run;
    for (int attempt = 0; attempt < 16 && run.empty(); ++attempt) {
        run = RandomRunId();
        for (const HeldFolder& folder : g_folders) {
            if (Exists(folder, JournalName(run)) || Exists(folder, JournalDraftName(run))) run.clear();
        }
        for (const Slot& slot : g_slots) {
            const HeldFolder& folder = g_folders[static_cast<std::size_t>(slot.folder)];
            if (slot.reserved && (Exists(folder, TemporaryName(slot.final, run)) || Exists(folder, KeptName(slot.final, run)))) {
                run.clear();
            }
        }
    }
    if (run.empty()) RefuseFile(outputs.front(), EEXIST);
    g_journal = Journal{run, JournalState::kOpen, {}, {}};
    for (const HeldFolder& folder : g_folders) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::canonical(folder.shown, error);
        if (error) absolute = std::filesystem::absolute(folder.shown, error).lexically_normal();
        g_journal.folders.push_back({folder.device, folder.inode, absolute.string()});
    }
    for (Slot& slot : g_slots) {
        if (slot.reserved) {
            std::snprintf(slot.temporary, sizeof slot.temporary, "%s", TemporaryName(slot.final, run).c_str());
            g_journal.files.push_back({static_cast<std::size_t>(slot.folder), slot.final, false, 0, 0});
        }
    }
    std::snprintf(g_journalName, sizeof g_journalName, "%s", JournalName(run).c_str());
    for (std::size_t f = 0; f < g_folders.size(); ++f) {
        InterruptsHeld held;
        if (!WriteJournal(g_folders[f], g_journal, false)) {
            const int error = errno;
            for (const Slot& slot : g_slots) {
                if (slot.reserved && static_cast<std::size_t>(slot.folder) == f) RefuseFile(slot.path, error);
            }
        }
        g_journalIn[f] = 1;
        Observe("prepared", g_folders[f].shown);
    }
}

// Gives back the turns and forgets the run's files: the commit is done.
void ReleaseTurns()
{
    InterruptsHeld held;
    g_folderCount = 0;
    for (std::size_t f = 0; f < g_folders.size(); ++f) {
        ::close(g_folders[f].fd);
        g_folderFd[f] = -1;
        g_journalIn[f] = 0;
    }
    g_folders.clear();
    for (Slot& slot : g_slots) slot = Slot{};
}

// Creates the temporary file of `slot` in its folder, with the permissions a new file gets.
std::FILE* Create(Slot& slot)
{
    const HeldFolder& folder = g_folders[static_cast<std::size_t>(slot.folder)];
    struct stat info {};
    // A folder cannot be replaced by a file; anything else at the name (a link, a fifo) is.
    if (::fstatat(folder.fd, slot.final.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
        RefuseFile(slot.path, EISDIR);
    }
    int fd = -1;
    {
        InterruptsHeld held;
        fd = ::openat(folder.fd, slot.temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) slot.pending = 1;
    }
    if (fd < 0 || ::fstat(fd, &info) != 0) RefuseFile(slot.path, errno);
    slot.inode = info.st_ino;
    std::FILE* file = OpenWriteBehind(fd);
    if (file == nullptr) RefuseFile(slot.path, errno);
    slot.stream = file;
    return file;
}

// Closes the slot's stream; "" when the file was written completely, else the message saying so.
std::string Close(Slot& slot)
{
    if (slot.stream == nullptr) return "";
    const bool writeError = std::ferror(slot.stream) != 0;
    const bool closeError = std::fclose(slot.stream) != 0;
    slot.stream = nullptr;
    return writeError || closeError ? Printed("Output file %s could not be written completely\n", slot.path.c_str()) : "";
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

// Removes every folder's journal, the deciding one last.
void RemoveJournals()
{
    for (std::size_t f = g_folders.size(); f-- > 0;) {
        RemoveJournal(g_folders[f], g_journal.run);
        g_journalIn[f] = 0;
    }
}

}  // namespace

void SetOutputFolder(const std::string& folder) { g_outputFolder = folder.empty() ? "." : folder; }

std::string InOutputFolder(const std::string& name) { return g_outputFolder == "." ? name : g_outputFolder + "/" + name; }

std::vector<std::string> SurveyFilesInOutputFolder()
{
    std::vector<std::string> paths;
    for (const char* name : kSurveyFileNames) paths.push_back(InOutputFolder(name));
    return paths;
}

void SetCommitObserver(CommitObserver observer) { g_observer = observer; }

void PrepareOutputs(const std::vector<std::string>& outputs, const std::vector<RunInput>& inputs)
{
    if (g_folderCount > 0) throw std::logic_error("the run's outputs are prepared once");
    if (outputs.size() > static_cast<std::size_t>(kSlots)) throw std::logic_error("a run writes at most seven files");
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& path = outputs[i];
        const std::string name = NameOf(path);
        if (name.empty() || name == "." || name == "..") RefuseFile(path, EISDIR);
        if (name.size() + kTemporaryNameExtra > NAME_MAX || path.size() + kTemporaryNameExtra >= kPathCapacity) {
            RefuseFile(path, ENAMETOOLONG);
        }
        if (!IsPlainOutputName(name)) {
            throw RunError::Refusal(Printed("Output file %s has a name that kelto keeps for its temporary files and journals, "
                                            "or a control character\n", path.c_str()));
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
    g_replaced = 0;
    if (outputs.empty()) return;
    static const bool cleanupRegistered = std::atexit(RemoveTemporaryOutputFiles) == 0;
    (void)cleanupRegistered;
    Reserve(outputs, TakeTurns(outputs));
}

void RemoveTemporaryOutputFiles()
{
    const int folders = g_folderCount;
    for (Slot& slot : g_slots) {
        if (slot.pending && slot.folder < folders) ::unlinkat(g_folderFd[slot.folder], slot.temporary, 0);
        slot.pending = 0;
    }
    for (int f = folders; f-- > 0;) {
        if (g_journalIn[f]) ::unlinkat(g_folderFd[f], g_journalName, 0);
        g_journalIn[f] = 0;
    }
}

const char* InterruptedRunOutcome()
{
    return g_replaced ? "its files were complete and had taken their names already" : "no file was replaced";
}

OutputFiles OpenOutputFiles()
{
    if (g_folderCount == 0) PrepareOutputs(SurveyFilesInOutputFolder(), {});
    for (int i = 0; i < kRunFiles; ++i) {
        if (!g_slots[i].reserved || g_slots[i].stream != nullptr || g_slots[i].pending) {
            throw std::logic_error("the survey's files were not prepared for this run");
        }
    }
    OutputFiles files{};
    files.spaghettiDat = Create(g_slots[0]);
    files.spaghettiMac = Create(g_slots[1]);
    files.unwegDat = Create(g_slots[2]);
    files.unwegMac = Create(g_slots[3]);
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
    if (g_folderCount == 0) PrepareOutputs({path}, {});
    for (int i = kRunFiles; i < kSlots; ++i) {
        if (g_slots[i].reserved && g_slots[i].path == path && g_slots[i].stream == nullptr && !g_slots[i].pending) {
            return Create(g_slots[i]);
        }
    }
    throw std::logic_error("output file " + path + " was not prepared for this run");
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
    if (g_folderCount == 0) return;

    // The decision: every file written, with its inode and that of the earlier file at its name.
    Journal decision = g_journal;
    decision.state = JournalState::kCommit;
    decision.files.clear();
    std::vector<Slot*> slots;
    for (Slot& slot : g_slots) {
        if (!slot.pending) continue;
        struct stat info {};
        const bool earlier =
            ::fstatat(g_folderFd[slot.folder], slot.final.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        decision.files.push_back({static_cast<std::size_t>(slot.folder), slot.final, earlier, slot.inode,
                                  earlier ? static_cast<std::uint64_t>(info.st_ino) : 0});
        slots.push_back(&slot);
    }
    {
        InterruptsHeld held;
        Observe("commit", "");
        if (!WriteJournal(g_folders[0], decision, true)) {
            throw RunError::Refusal(Printed("Cannot write the journal of the renames in %s: %s\n", g_folders[0].shown.c_str(),
                                            std::strerror(errno)));
        }
        Observe("journal", g_folders[0].shown);
        std::string failure;
        for (std::size_t i = 0; i < slots.size() && failure.empty(); ++i) {
            const JournalFile& file = decision.files[i];
            const int fd = g_folderFd[slots[i]->folder];
            const std::string kept = KeptName(file.final, decision.run);
            Observe("rename", slots[i]->path);
            // The earlier file kept alive by a second name, so that the rename frees no blocks; where
            // the file system has no hard links, moved aside instead.
            if (file.earlier && ::linkat(fd, file.final.c_str(), fd, kept.c_str(), 0) != 0 &&
                ::renameat(fd, file.final.c_str(), fd, kept.c_str()) != 0) {
                failure = Printed("Cannot keep the earlier output file %s while replacing it: %s\n", slots[i]->path.c_str(),
                                  std::strerror(errno));
            } else if (::renameat(fd, slots[i]->temporary, fd, file.final.c_str()) != 0) {
                failure = Printed("Cannot replace output file %s: %s\n", slots[i]->path.c_str(), std::strerror(errno));
            } else {
                Observe("renamed", slots[i]->path);
            }
        }
        if (!failure.empty()) {
            // Every earlier file comes back, behind the decision turned to a rollback should this end half-way too.
            decision.state = JournalState::kRollback;
            WriteJournal(g_folders[0], decision, true);
            std::string unsettled;
            for (std::size_t f = 0; f < g_folders.size(); ++f) SettleFolder(g_folders[f], decision, f, &unsettled);
            RemoveJournals();
            for (Slot& slot : g_slots) slot.pending = 0;
            ReleaseTurns();
            throw RunError::Refusal(failure + "The earlier output files are kept.\n");
        }
        for (Slot* slot : slots) slot->pending = 0;
        g_replaced = 1;
        // The earlier files' blocks are freed now, and the journals go, the deciding one last.
        for (const JournalFile& file : decision.files) {
            if (file.earlier) ::unlinkat(g_folderFd[file.folder], KeptName(file.final, decision.run).c_str(), 0);
        }
        RemoveJournals();
    }
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
        // What the run said after its commit was lost, not its files.
        std::fputs(g_replaced ? "kelto: the files were written; standard output could not be written completely\n"
                              : "Standard output could not be written completely\n",
                   stderr);
        return 1;
    }
    return 0;
}
