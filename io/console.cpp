#include "io/console.h"

#include <unistd.h>

#include "io/write_behind.h"

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
    shown_ = true;
}

void ProgressLine::End()
{
    if (shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
    active_ = false;
}
