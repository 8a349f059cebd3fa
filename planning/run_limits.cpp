#include "planning/run_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
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

// Bytes as a person reads them: "3.4 GB"; a count beyond the doubles as what it is beyond.
std::string Size(double bytes)
{
    if (!std::isfinite(bytes)) return "more than 1e+308 bytes";
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 6) bytes /= 1000.0, ++unit;
    return Printed(unit == 0 ? "%.0f %s" : "%.3g %s", bytes, units[unit]);
}

// The time a reflection takes to look at, on one core (measured: a glitch spectrum to 300 keV).
constexpr double kSecondsPerVisit = 7.5e-8;

// A time as a person reads it: "40 seconds", "3.2 hours".
std::string Duration(double seconds)
{
    const struct { double length; const char* name; } units[] = {
        {86400.0 * 365.0, "years"}, {86400.0, "days"}, {3600.0, "hours"}, {60.0, "minutes"}};
    if (!std::isfinite(seconds)) return "more than 1e+300 years";
    for (const auto& unit : units) {
        if (seconds >= 2.0 * unit.length) return Printed("%.3g %s", seconds / unit.length, unit.name);
    }
    return Printed("%.3g seconds", seconds);
}

// "(what): advice", or "(what)".
std::string Described(const RunPart& part) { return "(" + part.what + ")" + (part.advice.empty() ? "" : ": " + part.advice); }

// The folder a part writes into, as the run names it.
std::string FolderOf(const RunPart& part)
{
    const std::filesystem::path folder = std::filesystem::path(part.path).parent_path();
    return folder.empty() ? "." : folder.string();
}

// The bytes free to the user in the file system of `folder`; false when it cannot be asked.
bool FreeSpace(const std::string& folder, double* free)
{
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0) return false;
    *free = static_cast<double>(space.f_bavail) * static_cast<double>(space.f_frsize);
    return true;
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

void RefuseRunaway(const std::vector<RunPart>& parts, const std::string& hints)
{
    // The parts' folders, gathered by file system: they share its free space.
    struct FileSystem {
        dev_t device;
        std::vector<std::string> folders;  // as the run names them
        double bytes;
        const RunPart* largest;
    };
    std::vector<FileSystem> systems;
    for (const RunPart& part : parts) {
        if (part.path.empty()) continue;
        const std::string folder = FolderOf(part);
        struct stat status {};
        const dev_t device = ::stat(folder.c_str(), &status) == 0 ? status.st_dev : 0;
        auto system = std::find_if(systems.begin(), systems.end(), [&](const FileSystem& s) { return s.device == device; });
        if (system == systems.end()) system = systems.insert(systems.end(), FileSystem{device, {}, 0.0, &part});
        if (std::find(system->folders.begin(), system->folders.end(), folder) == system->folders.end()) {
            system->folders.push_back(folder);
        }
        system->bytes += part.bytes;
        if (part.bytes > system->largest->bytes) system->largest = &part;
    }
    for (const FileSystem& system : systems) {
        double free = 0.0;
        if (!FreeSpace(system.folders.front(), &free)) continue;  // the first stands for its file system
        std::string folders;
        for (const std::string& folder : system.folders) folders += (folders.empty() ? "" : " and ") + folder;
        if (!(system.bytes <= free)) {
            throw RunError::Refusal(Printed("%sThe run would write about %s into %s, more than the %s free there %s\n",
                                            hints.c_str(), Size(system.bytes).c_str(), folders.c_str(), Size(free).c_str(),
                                            Described(*system.largest).c_str()));
        }
    }
    const auto hungriest = std::max_element(parts.begin(), parts.end(),
                                            [](const RunPart& a, const RunPart& b) { return a.memory < b.memory; });
    const double available = AvailableMemory();
    if (hungriest != parts.end() && !(hungriest->memory <= available)) {
        throw RunError::Refusal(Printed("%sThe run would need about %s of memory, more than the %s this machine can give %s\n",
                                        hints.c_str(), Size(hungriest->memory).c_str(), Size(available).c_str(),
                                        Described(*hungriest).c_str()));
    }
    double visits = 0.0;
    const RunPart* longest = nullptr;
    for (const RunPart& part : parts) {
        visits += part.visits;
        if (longest == nullptr || part.visits > longest->visits) longest = &part;
    }
    if (!(visits <= kMostVisits)) {
        throw RunError::Refusal(Printed("%sThe run would need about %s of work on one core, looking at about %.3g reflections, more "
                                        "than the %.3g that kelto looks at in one run %s\n",
                                        hints.c_str(), Duration(visits * kSecondsPerVisit).c_str(),
                                        std::isfinite(visits) ? visits : 1e308, kMostVisits, Described(*longest).c_str()));
    }
}

void RefuseTableBeyondFreeSpace(const RunPart& table)
{
    const std::string folder = FolderOf(table);
    double free = 0.0;
    if (table.path.empty() || !FreeSpace(folder, &free) || table.bytes <= free) return;
    throw RunError::Refusal(Printed("The %s would take %.0f bytes in %s, more than the %s free there%s\n", table.what.c_str(),
                                    table.bytes, folder.c_str(), Size(free).c_str(),
                                    table.advice.empty() ? "" : (": " + table.advice).c_str()));
}
