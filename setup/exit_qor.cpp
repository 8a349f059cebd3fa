#include "setup/exit_qor.h"

#include <cstdio>
#include <cstdlib>

namespace {
EndProcessHandler g_handler = nullptr;
}

void SetEndProcessHandler(EndProcessHandler handler) { g_handler = handler; }

void EndProcess(int status)
{
    if (g_handler != nullptr) g_handler(status);
    std::exit(status);  // exit flushes standard output and every open stream
}

void ExitQOR(int code)
{
    std::printf("Program QOR exits with error \n");
    EndProcess(code);
}
