#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "setup/exit_qor.h"

namespace {

[[noreturn]] void ThrowRunEnded(int status) { throw RunEnded{status}; }

const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/kelto-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        return std::string(pattern);
    }();
    return folder;
}

}  // namespace

void InterceptEndOfRun() { SetEndProcessHandler(ThrowRunEnded); }

void SilenceStandardOutput()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = ScratchFolder() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

void EnterScratchFolder()
{
    if (::chdir(ScratchFolder().c_str()) != 0) std::abort();
}
