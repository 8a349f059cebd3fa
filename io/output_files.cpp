#include "io/output_files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/write_behind.h"
#include "io/process_setup.h"
#include "io/run_error.h"

namespace {

constexpr int kRunFiles = 4;
constexpr int kTableSlots = 3;  // events or glitches, the glitch map, the clean windows
constexpr const char* kNames[kRunFiles] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                           "kelto_unweg.dat", "kelto_unweg.mac"};

constexpr std::size_t kPathCapacity = 4096;

// One file being written: the four of the run take slots 0 to 3, the tables the others. The
// interrupt handler reads `temporary` and `pending`.
struct Slot {
    std::string path;
    std::FILE* stream = nullptr;
    char temporary[kPathCapacity] = {};
    volatile std::sig_atomic_t pending = 0;
};
Slot g_slots[kRunFiles + kTableSlots];

std::string g_folder = ".";
int g_folderLock = -1;  // the folder, held locked from the creation of the files to their renaming

std::string InFolder(const std::string& name) { return g_folder == "." ? name : g_folder + "/" + name; }

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

private:
    sigset_t previous_;
};

// An advisory lock on the folder itself: nothing is left behind, and it ends with the process.
void TakeTurnInFolder()
{
    if (g_folderLock >= 0) ::close(g_folderLock);  // left by a run that ended early
    g_folderLock = ::open(g_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_folderLock < 0) RefuseFile(InFolder(kNames[0]), errno);
    if (::flock(g_folderLock, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return;
    std::fprintf(stderr, "kelto: waiting for another run in %s to finish\n", g_folder.c_str());
    while (::flock(g_folderLock, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Creates the temporary file of `slot` beside `path`, with the permissions a new file gets.
std::FILE* Create(Slot& slot, const std::string& path)
{
    static const bool cleanupRegistered = std::atexit(RemoveTemporaryOutputFiles) == 0;
    (void)cleanupRegistered;
    struct stat info {};
    // A folder cannot be replaced by a file; anything else at the name (a link, a fifo) is.
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) RefuseFile(path, EISDIR);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string pattern = folder + "." + path.substr(folder.size()) + ".XXXXXX";
    if (pattern.size() >= kPathCapacity) RefuseFile(path, ENAMETOOLONG);
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
    slot.stream = file;
    return file;
}

// Closes the slot's stream; "" when the file was written completely, else the message saying so.
std::string Close(Slot& slot)
{
    const bool writeError = std::ferror(slot.stream) != 0;
    const bool closeError = std::fclose(slot.stream) != 0;
    slot.stream = nullptr;
    return writeError || closeError ? Printed("Output file %s could not be written completely\n", slot.path.c_str()) : "";
}

void Rename(Slot& slot)
{
    if (::rename(slot.temporary, slot.path.c_str()) != 0) {
        throw RunError::Refusal(Printed("Cannot replace output file %s: %s\n", slot.path.c_str(), std::strerror(errno)));
    }
    slot.pending = 0;
}

}  // namespace

void SetOutputFolder(const std::string& folder) { g_folder = folder.empty() ? "." : folder; }

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
    TakeTurnInFolder();
    OutputFiles files{};
    files.spaghettiDat = Create(g_slots[0], InFolder(kNames[0]));
    files.spaghettiMac = Create(g_slots[1], InFolder(kNames[1]));
    files.unwegDat = Create(g_slots[2], InFolder(kNames[2]));
    files.unwegMac = Create(g_slots[3], InFolder(kNames[3]));
    return files;
}

void CloseOutputFiles(OutputFiles* files)
{
    // The console output belongs to the run: a run whose output was lost replaces nothing.
    if (!DrainWriteBehind(stdout)) ReportFailedWrite(stdout);
    std::string failures;
    for (int i = 0; i < kRunFiles; ++i) failures += Close(g_slots[i]);
    *files = OutputFiles{};
    if (!failures.empty()) throw RunError::Refusal(failures);
    InterruptsHeld held;
    for (int i = 0; i < kRunFiles; ++i) Rename(g_slots[i]);
    ::close(g_folderLock);
    g_folderLock = -1;
}

std::FILE* OpenOutputFile(const std::string& path)
{
    for (int i = kRunFiles; i < kRunFiles + kTableSlots; ++i) {
        if (g_slots[i].stream == nullptr && !g_slots[i].pending) return Create(g_slots[i], path);
    }
    RefuseFile(path, EMFILE);
}

void CommitOutputFile(std::FILE* file)
{
    for (int i = kRunFiles; i < kRunFiles + kTableSlots; ++i) {
        Slot& slot = g_slots[i];
        if (slot.stream != file || file == nullptr) continue;
        if (const std::string failure = Close(slot); !failure.empty()) throw RunError::Refusal(failure);
        InterruptsHeld held;
        Rename(slot);
        return;
    }
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
