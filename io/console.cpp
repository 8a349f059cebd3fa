#include "io/console.h"

#include <chrono>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool g_echo = true;
bool g_progress = false;
bool g_shown = false;
std::FILE* const* g_files = nullptr;
int g_fileCount = 0;
Clock::time_point g_start;
Clock::time_point g_next;

}  // namespace

void SetConsoleEcho(bool on) { g_echo = on; }

bool ConsoleEcho() { return g_echo; }

void StartProgress(std::FILE* const* files, int fileCount)
{
    g_progress = ::isatty(STDERR_FILENO) != 0 && (!g_echo || ::isatty(STDOUT_FILENO) == 0);
    g_files = files;
    g_fileCount = fileCount;
    g_start = Clock::now();
    g_next = g_start + std::chrono::seconds(1);
}

void ReportProgress(const char* phase, std::int64_t done, std::int64_t total)
{
    if (!g_progress || (done & 255) != 0) return;
    const Clock::time_point now = Clock::now();
    if (now < g_next) return;
    g_next = now + std::chrono::milliseconds(200);
    long long bytes = 0;
    for (int i = 0; i < g_fileCount; ++i) bytes += ::ftello(g_files[i]);
    const double share = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
    std::fprintf(stderr, "\rkelto: %s %3.0f %% (%lld of %lld), %.1f MB written\033[K", phase, share,
                 static_cast<long long>(done), static_cast<long long>(total), static_cast<double>(bytes) / 1e6);
    std::fflush(stderr);
    g_shown = true;
}

void EndProgress()
{
    if (g_shown) std::fprintf(stderr, "\r\033[K");
    g_shown = false;
    g_progress = false;
}
