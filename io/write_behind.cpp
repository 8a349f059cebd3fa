#include "io/write_behind.h"

#include "io/interrupt_signals.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Large enough that the writer writes in big pieces, small enough that two for each of the five
// streams stay well within the memory a survey may take.
constexpr std::size_t kBufferBytes = 256 * 1024;

struct WriteBehind {
    int fd;
    std::vector<char> filling;   // the caller's
    std::vector<char> writing;   // the writer's while `busy`
    bool busy = false;
    std::atomic<int> error = 0;  // errno of the first failed write; the caller reads it unlocked
    std::atomic<long long> written = 0;  // bytes the file has taken, for the progress line
};

// One writer thread serves every stream in the order the buffers were handed over, so that it
// runs steadily beside the caller instead of five threads waking in turn on the caller's core.
struct Writer {
    std::mutex mutex;
    std::condition_variable handed;   // a buffer is waiting
    std::condition_variable written;  // a buffer is written
    std::deque<WriteBehind*> queue;
    std::vector<std::pair<std::FILE*, WriteBehind*>> streams;  // for draining one by its FILE*
    bool serial = false;  // no thread could be started: the caller writes each buffer itself
};

void WriteAll(WriteBehind* w)
{
    const char* data = w->writing.data();
    std::size_t left = w->writing.size();
    while (left > 0) {
        const ssize_t n = ::write(w->fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            w->error = n < 0 ? errno : EIO;
            return;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
        w->written += n;
    }
}

void Run(Writer* writer)
{
    std::unique_lock lock(writer->mutex);
    for (;;) {
        writer->handed.wait(lock, [writer] { return !writer->queue.empty(); });
        WriteBehind* w = writer->queue.front();
        writer->queue.pop_front();
        lock.unlock();
        if (w->error == 0) WriteAll(w);
        lock.lock();
        w->writing.clear();
        w->busy = false;
        writer->written.notify_all();
    }
}

// Never destroyed, nor its thread joined: the console's stream lives until the process ends, and
// the writer may still wait for work while static objects go. Interrupts are held back from the
// writer: they go to the caller's thread, which holds them back while it renames the files.
// Where no thread can be started (too little address space for its stack, too many threads) the
// run goes on without one, writing as an ordinary stream would.
Writer& TheWriter()
{
    static Writer* writer = [] {
        auto* made = new Writer;
        sigset_t interrupts, previous;
        sigemptyset(&interrupts);
        AddInterruptSignals(&interrupts);
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
        try {
            std::thread(Run, made).detach();
        } catch (const std::system_error&) {
            made->serial = true;
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return made;
    }();
    return *writer;
}

// Hands the filled buffer to the writer once it has written this stream's previous one.
bool HandOver(WriteBehind* w)
{
    Writer& writer = TheWriter();
    std::unique_lock lock(writer.mutex);
    writer.written.wait(lock, [w] { return !w->busy; });
    if (w->error != 0) {
        errno = w->error;
        return false;
    }
    if (w->filling.empty()) return true;
    std::swap(w->filling, w->writing);
    if (writer.serial) {
        // As the thread would: a failure shows at the stream's next write or drain.
        lock.unlock();
        WriteAll(w);
        w->writing.clear();
        return true;
    }
    w->busy = true;
    writer.queue.push_back(w);
    writer.handed.notify_one();
    return true;
}

bool Drain(WriteBehind* w)
{
    if (!HandOver(w)) return false;
    Writer& writer = TheWriter();
    std::unique_lock lock(writer.mutex);
    writer.written.wait(lock, [w] { return !w->busy; });
    errno = w->error;
    return w->error == 0;
}

// stdio's writer: a failure is 0 bytes taken (never a negative count), errno telling why.
ssize_t CookieWrite(void* cookie, const char* data, std::size_t size)
{
    auto* w = static_cast<WriteBehind*>(cookie);
    if (w->error != 0) {
        errno = w->error;
        return 0;
    }
    w->filling.insert(w->filling.end(), data, data + size);
    if (w->filling.size() >= kBufferBytes && !HandOver(w)) return 0;
    return static_cast<ssize_t>(size);
}

int CookieClose(void* cookie)
{
    auto* w = static_cast<WriteBehind*>(cookie);
    const bool written = Drain(w);
    {
        Writer& writer = TheWriter();
        std::lock_guard lock(writer.mutex);
        std::erase_if(writer.streams, [w](const auto& entry) { return entry.second == w; });
    }
    const int closed = ::close(w->fd);
    const int error = w->error;
    delete w;
    if (!written || closed != 0) {
        errno = error != 0 ? error : errno;
        return -1;
    }
    return 0;
}

}  // namespace

// Bytes of the console still on their way when the process ends, a message of its failure among
// them, are written before it ends.
static void DrainConsoleAtExit() { DrainWriteBehind(stdout); }

std::FILE* OpenWriteBehind(int fd)
{
    auto* w = new WriteBehind{};
    w->fd = fd;
    w->filling.reserve(kBufferBytes + 64 * 1024);
    w->writing.reserve(kBufferBytes + 64 * 1024);
    cookie_io_functions_t functions{};
    functions.write = CookieWrite;
    functions.close = CookieClose;
    std::FILE* stream = ::fopencookie(w, "w", functions);
    if (stream == nullptr) {
        delete w;
        return nullptr;
    }
    // The writer's own buffer is the stream's: stdio copies nothing more.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    Writer& writer = TheWriter();
    std::lock_guard lock(writer.mutex);
    writer.streams.emplace_back(stream, w);
    return stream;
}

bool DrainWriteBehind(std::FILE* stream)
{
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) return false;
    WriteBehind* w = nullptr;
    {
        Writer& writer = TheWriter();
        std::lock_guard lock(writer.mutex);
        for (const auto& [file, entry] : writer.streams) {
            if (file == stream) w = entry;
        }
    }
    return w == nullptr || Drain(w);  // an ordinary stream: fflush has written it
}

long long WrittenBytes(std::FILE* stream)
{
    {
        Writer& writer = TheWriter();
        std::lock_guard lock(writer.mutex);
        for (const auto& [file, entry] : writer.streams) {
            if (file == stream) return entry->written;
        }
    }
    const off_t position = ::ftello(stream);  // an ordinary stream
    return position > 0 ? position : 0;
}

void WriteConsoleBehind()
{
    // A person watching a terminal sees the echo line by line.
    if (::isatty(STDOUT_FILENO)) return;
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    std::FILE* console = fd < 0 ? nullptr : OpenWriteBehind(fd);
    if (console == nullptr) return;  // the ordinary standard output does the work then
    stdout = console;
    std::atexit(DrainConsoleAtExit);
}
