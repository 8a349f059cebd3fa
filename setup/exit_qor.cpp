#include "setup/exit_qor.h"

#include <cstdio>
#include <cstdlib>

void ExitQOR(int code)
{
    std::printf("Program QOR exits with error \n");
    std::exit(code);  // exit flushes standard output and every open stream
}
