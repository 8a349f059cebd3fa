#include "io/console.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <pthread.h>
#include <system_error>
#include <unistd.h>

#include "io/interrupt_signals.h"
#include "io/write_behind.h"

namespace {

// Whether a progress line stands on standard error: set by the thread that draws it, read by the
// interrupt handler, which reaches only namespace-scope state; so here, and lock-free.
std::atomic<bool> g_lineShown{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void ProgressLine::Start(std::FILE* const* files, int fileCount, bool echo)
{
    active_ = ::isatty(STDERR_FILENO) != 0 && (!echo || ::isatty(STDOUT_FILENO) == 0);
    files_ = files;
    fileCount_ = fileCount;
    next_ = Clock::now() + std::chrono::seconds(1);
}

void ProgressLine::Report(const char* phase, std::int64_t done, std::int64_t total)
{
    if (!active_ || (done & 255) != 0) return;
    const Clock::time_point now = Clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(200);
    // Marked before it is written: an interrupt that comes as soon as the line shows finds it
    // marked and takes it away (erasing a line not yet written does no harm).
    shown_ = true;
    g_lineShown = true;
    long long bytes = 0;
    for (int i = 0; i < fileCount_; ++i) bytes += WrittenBytes(files_[i]);
    if (total <= 0) {
        // Nothing to measure against yet: say at least that the run works and writes nothing.
        std::fprintf(stderr, "\rkelto: %s, %lld so far, nothing written yet\033[K", phase, static_cast<long long>(done));
    } else {
        const double share = 100.0 * static_cast<double>(done) / static_cast<double>(total);
        std::fprintf(stderr, "\rkelto: %s %3.0f %% (%lld of %lld), %.1f MB written\033[K", phase, share,
                     static_cast<long long>(done), static_cast<long long>(total), static_cast<double>(bytes) / 1e6);
    }
    std::fflush(stderr);
}

void ProgressLine::End()
{
    if (shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
    g_lineShown = false;
    active_ = false;
}

PhaseLine::PhaseLine(bool show, std::FILE* stream, Clock::duration quiet, Clock::duration every)
    : stream_(stream), quiet_(quiet), every_(every), start_(Clock::now())
{
    if (!show) return;
    // The interrupts stay with the run's own threads, whose handler takes the line away.
    sigset_t held, previous;
    sigemptyset(&held);
    AddInterruptSignals(&held);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to draw it: the run goes on without a line.
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

PhaseLine::~PhaseLine() { End(); }

void PhaseLine::Phase(std::string name)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    phase_ = std::move(name);
    done_ = 0;
    total_ = 0;
}

void PhaseLine::Share(std::int64_t done, std::int64_t total)
{
    done_ = done;
    total_ = total;
}

void PhaseLine::Clear()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!shown_) return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    shown_ = false;
    if (stream_ == stderr) g_lineShown = false;
}

void PhaseLine::End()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    Clear();
}

void PhaseLine::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_until(lock, start_ + quiet_, [this] { return stopping_; })) return;
    do {
        Draw();
    } while (!wake_.wait_for(lock, every_, [this] { return stopping_; }));
}

void PhaseLine::Draw()
{
    if (phase_.empty()) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const std::int64_t done = done_, total = total_;
    // Marked before it is written, as ProgressLine::Report does.
    shown_ = true;
    if (stream_ == stderr) g_lineShown = true;
    if (total > 0) {
        const double share = std::clamp(100.0 * static_cast<double>(done) / static_cast<double>(total), 0.0, 100.0);
        std::fprintf(stream_, "\rkelto: %s: %.0f %%, %.0f s\033[K", phase_.c_str(), share, seconds);
    } else {
        std::fprintf(stream_, "\rkelto: %s, %.0f s\033[K", phase_.c_str(), seconds);
    }
    std::fflush(stream_);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

bool EraseProgressLineOnSignal()
{
    if (!g_lineShown) return false;
    static constexpr char kErase[] = "\r\033[K";
    const ssize_t written = ::write(STDERR_FILENO, kErase, sizeof kErase - 1);
    (void)written;
    g_lineShown = false;
    return true;
}
