#include "survey/output_files.h"

#include <cerrno>
#include <cstring>

#include "setup/exit_qor.h"

namespace {

constexpr const char* kNames[4] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac", "kelto_unweg.dat",
                                   "kelto_unweg.mac"};

// Large surveys write hundreds of megabytes: big stream buffers keep the system calls few.
constexpr std::size_t kStreamBuffer = 256 * 1024;

std::FILE* Create(const char* name)
{
    std::FILE* file = std::fopen(name, "w");
    if (file == nullptr) {
        std::printf("Cannot create output file %s: %s\n", name, std::strerror(errno));
        ExitQOR(1);
    }
    std::setvbuf(file, nullptr, _IOFBF, kStreamBuffer);
    return file;
}

}  // namespace

OutputFiles OpenOutputFiles()
{
    OutputFiles files{};
    files.spaghettiDat = Create(kNames[0]);
    files.spaghettiMac = Create(kNames[1]);
    files.unwegDat = Create(kNames[2]);
    files.unwegMac = Create(kNames[3]);
    return files;
}

void CloseOutputFiles(OutputFiles* files)
{
    std::FILE** streams[4] = {&files->spaghettiDat, &files->spaghettiMac, &files->unwegDat,
                              &files->unwegMac};
    bool failed = false;
    for (int i = 0; i < 4; ++i) {
        std::FILE* stream = *streams[i];
        const bool writeError = std::ferror(stream) != 0;
        const bool closeError = std::fclose(stream) != 0;
        *streams[i] = nullptr;
        if (writeError || closeError) {
            std::printf("Output file %s could not be written completely\n", kNames[i]);
            failed = true;
        }
    }
    if (failed) ExitQOR(1);
}
