#include "io/process_setup.h"

#include <csignal>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

#include "io/console.h"
#include "io/interrupt_signals.h"

namespace {

// What the interrupt handler does and says: a signal handler reaches only namespace-scope state.
void (*g_cleanup)() = nullptr;         // removes the run's temporary files
const char* (*g_outcome)() = nullptr;  // what became of the run's files
bool g_terminal = false;               // standard error, when the handler was set

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "a signal";
    }
}

void Say(const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    const ssize_t written = ::write(STDERR_FILENO, text, length);
    (void)written;
}

extern "C" void OnInterrupt(int signal)
{
    const bool erased = EraseProgressLineOnSignal();
    if (g_cleanup != nullptr) g_cleanup();
    if (g_outcome != nullptr) {
        // A key typed at a terminal leaves its echo (^C) where the cursor stood.
        if (g_terminal && !erased && (signal == SIGINT || signal == SIGQUIT)) Say("\n");
        Say("kelto: stopped by ");
        Say(SignalName(signal));
        Say("; ");
        Say(g_outcome());
        Say("\n");
    }
    ::_exit(128 + signal);
}

}  // namespace

bool OpenClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            // The lowest free descriptor is taken, which is this one.
            if (::open("/dev/null", O_RDWR) != fd) return false;
        }
    }
    return true;
}

void IgnoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void EndOnInterrupt(void (*cleanup)(), const char* (*outcome)())
{
    g_cleanup = cleanup;
    g_outcome = outcome;
    g_terminal = ::isatty(STDERR_FILENO) != 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    AddInterruptSignals(&action.sa_mask);
    for (int signal : kInterruptSignals) {
        // A signal ignored when the process started (nohup's SIGHUP, a background job's SIGINT)
        // stays ignored: the user asked the run to outlive it.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}
