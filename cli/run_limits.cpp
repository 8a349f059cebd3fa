#include "cli/run_limits.h"

#include <cmath>
#include <cstdio>
#include <sys/statvfs.h>
#include <unistd.h>

#include "io/run_error.h"

namespace {

// The memory the machine can give, bytes: MemAvailable of /proc/meminfo, or the physical memory.
double AvailableMemory()
{
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, meminfo) != nullptr) {
            long long kib = 0;
            if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
                std::fclose(meminfo);
                return static_cast<double>(kib) * 1024.0;
            }
        }
        std::fclose(meminfo);
    }
    return static_cast<double>(::sysconf(_SC_PHYS_PAGES)) * static_cast<double>(::sysconf(_SC_PAGE_SIZE));
}

// Bytes as a person reads them: "3.4 GB".
std::string Size(double bytes)
{
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 6) bytes /= 1000.0, ++unit;
    return Printed(unit == 0 ? "%.0f %s" : "%.3g %s", bytes, units[unit]);
}

}  // namespace

std::string UnitHints(const TypedUnits& typed)
{
    std::string hints;
    // Only finite answers are named: a message never prints inf or nan.
    if (typed.keV > 1000.0 && std::isfinite(typed.keV)) {
        hints += Printed("%s takes keV: is %g in eV (%g keV)? ", typed.energyName, typed.keV, typed.keV / 1000.0);
    }
    if (typed.latticeA > 1000.0 && std::isfinite(typed.latticeA)) {
        hints += Printed("%s takes angstrom: is %g in another unit? ", typed.latticeName, typed.latticeA);
    }
    if (typed.lambda > 0.0 && typed.lambda < 0.001) {
        hints += Printed("%s takes angstrom: is %g in another unit? ", typed.wavelengthName, typed.lambda);
    }
    // The dialogue names its answers in words ("the wavelength lambda"), which now begin the message.
    if (!hints.empty() && hints[0] >= 'a' && hints[0] <= 'z') hints[0] = static_cast<char>(hints[0] - 'a' + 'A');
    return hints;
}

void RefuseRunaway(const std::string& what, double bytes, double memory, const std::string& folder, const std::string& hints)
{
    struct statvfs space {};
    const double free = ::statvfs(folder.c_str(), &space) == 0
                            ? static_cast<double>(space.f_bavail) * static_cast<double>(space.f_frsize)
                            : -1.0;
    if (free >= 0.0 && !(bytes <= free)) {
        throw RunError::Refusal(Printed("%sThe run would write about %s into %s, more than the %s free there (%s)\n",
                                        hints.c_str(), Size(bytes).c_str(), folder.c_str(), Size(free).c_str(), what.c_str()));
    }
    const double available = AvailableMemory();
    if (!(memory <= available)) {
        throw RunError::Refusal(Printed("%sThe run would need about %s of memory, more than the %s this machine can give (%s)\n",
                                        hints.c_str(), Size(memory).c_str(), Size(available).c_str(), what.c_str()));
    }
}
