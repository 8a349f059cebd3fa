#include "survey/output_files.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "setup/exit_qor.h"

namespace {

constexpr int kFileCount = 4;
constexpr const char* kNames[kFileCount] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                            "kelto_unweg.dat", "kelto_unweg.mac"};

// Large surveys write hundreds of megabytes: big stream buffers keep the system calls few.
constexpr std::size_t kStreamBuffer = 256 * 1024;
constexpr std::size_t kPathCapacity = 4096;

std::string g_folder = ".";
int g_folderLock = -1;  // the folder, held locked from the creation of the files to their renaming
std::FILE* g_streams[kFileCount] = {};
// The temporary paths, and whether each still has to be removed; the interrupt handler reads them.
char g_temporary[kFileCount][kPathCapacity];
volatile std::sig_atomic_t g_pending[kFileCount] = {};

std::string InFolder(const std::string& name) { return g_folder == "." ? name : g_folder + "/" + name; }

[[noreturn]] void RefuseFile(const std::string& path, int error)
{
    std::printf("Cannot create output file %s: %s\n", path.c_str(), std::strerror(error));
    ExitQOR(1);
}

// Blocks the interrupts while the set of temporary files changes, so that the handler never
// misses a file or removes a renamed one.
class InterruptsHeld {
public:
    InterruptsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
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

std::FILE* Create(int i, mode_t permissions)
{
    const std::string path = InFolder(kNames[i]);
    struct stat info {};
    // A folder cannot be replaced by a file; anything else at the name (a link, a fifo) is.
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) RefuseFile(path, EISDIR);
    const std::string pattern = InFolder(std::string(".") + kNames[i] + ".XXXXXX");
    if (pattern.size() >= kPathCapacity) RefuseFile(path, ENAMETOOLONG);
    int fd = -1;
    {
        InterruptsHeld held;
        std::memcpy(g_temporary[i], pattern.c_str(), pattern.size() + 1);
        fd = ::mkostemp(g_temporary[i], O_CLOEXEC);
        if (fd >= 0) g_pending[i] = 1;
    }
    if (fd < 0) RefuseFile(path, errno);
    ::fchmod(fd, permissions);  // as a new file would get: mkstemp makes it private
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) RefuseFile(path, errno);
    std::setvbuf(file, nullptr, _IOFBF, kStreamBuffer);
    g_streams[i] = file;
    return file;
}

}  // namespace

void SetOutputFolder(const std::string& folder) { g_folder = folder.empty() ? "." : folder; }

void RemoveTemporaryOutputFiles()
{
    for (int i = 0; i < kFileCount; ++i) {
        if (g_pending[i]) {
            ::unlink(g_temporary[i]);
            g_pending[i] = 0;
        }
    }
}

OutputFiles OpenOutputFiles()
{
    static const bool cleanupRegistered = std::atexit(RemoveTemporaryOutputFiles) == 0;
    (void)cleanupRegistered;
    TakeTurnInFolder();
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t permissions = 0666 & ~mask;
    OutputFiles files{};
    files.spaghettiDat = Create(0, permissions);
    files.spaghettiMac = Create(1, permissions);
    files.unwegDat = Create(2, permissions);
    files.unwegMac = Create(3, permissions);
    return files;
}

void CloseOutputFiles(OutputFiles* files)
{
    // The console output belongs to the run: a run whose output was lost replaces nothing.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) ReportFailedWrite(stdout);
    std::FILE** streams[kFileCount] = {&files->spaghettiDat, &files->spaghettiMac,
                                       &files->unwegDat, &files->unwegMac};
    bool failed = false;
    for (int i = 0; i < kFileCount; ++i) {
        std::FILE* stream = *streams[i];
        const bool writeError = std::ferror(stream) != 0;
        const bool closeError = std::fclose(stream) != 0;
        *streams[i] = nullptr;
        g_streams[i] = nullptr;
        if (writeError || closeError) {
            std::printf("Output file %s could not be written completely\n", InFolder(kNames[i]).c_str());
            failed = true;
        }
    }
    if (failed) ExitQOR(1);

    InterruptsHeld held;
    for (int i = 0; i < kFileCount; ++i) {
        const std::string path = InFolder(kNames[i]);
        if (::rename(g_temporary[i], path.c_str()) != 0) {
            std::printf("Cannot replace output file %s: %s\n", path.c_str(), std::strerror(errno));
            ExitQOR(1);
        }
        g_pending[i] = 0;
    }
    ::close(g_folderLock);
    g_folderLock = -1;
}

void ReportFailedWrite(std::FILE* stream)
{
    if (stream == stdout) {
        std::fprintf(stderr, "Standard output could not be written completely\n");
        EndProcess(1);
    }
    for (int i = 0; i < kFileCount; ++i) {
        if (stream != nullptr && g_streams[i] == stream) {
            std::printf("Output file %s could not be written completely\n", InFolder(kNames[i]).c_str());
            ExitQOR(1);
        }
    }
    std::printf("An output file could not be written completely\n");
    ExitQOR(1);
}
