#include "io/process_setup.h"

#include <csignal>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace {

void (*g_cleanup)() = nullptr;

extern "C" void OnInterrupt(int signal)
{
    if (g_cleanup != nullptr) g_cleanup();
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

void AddInterruptSignals(sigset_t* set)
{
    for (int signal : kInterruptSignals) sigaddset(set, signal);
}

void IgnoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void EndOnInterrupt(void (*cleanup)())
{
    g_cleanup = cleanup;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    AddInterruptSignals(&action.sa_mask);
    for (int signal : kInterruptSignals) ::sigaction(signal, &action, nullptr);
}
