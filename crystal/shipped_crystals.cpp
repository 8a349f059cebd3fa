#include "crystal/shipped_crystals.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "crystal/cif_crystal.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Where kelto is installed is a fact of the process, not of a run: named once by the host that
// knows it (the Python module, as it loads), read by every look-up. Empty: found from the program's
// place.
std::string g_dataFolder;

}  // namespace

void UseShippedDataFolder(const std::string& folder) { g_dataFolder = folder; }

std::string ShippedDataFolder()
{
    if (!g_dataFolder.empty()) return g_dataFolder;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = program.parent_path() / ".." / "share" / "kelto";
        if (fs::is_regular_file(installed / "f0_it1992.txt", error)) return installed.lexically_normal().string();
    }
    return KELTO_SOURCE_DATA_DIR;
}

std::string ShippedTable() { return ShippedDataFolder() + "/f0_it1992.txt"; }

std::string ShippedCrystalFolder() { return ShippedDataFolder() + "/crystals"; }

std::vector<std::string> ShippedCrystalNames()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(ShippedCrystalFolder(), error)) {
        if (entry.path().extension() == ".cif") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return names;
}

std::string ShippedCrystalPath(const std::string& name)
{
    std::string known;
    for (const std::string& shipped : ShippedCrystalNames()) {
        if (Lower(shipped) == Lower(name)) return ShippedCrystalFolder() + "/" + shipped + ".cif";
        known += (known.empty() ? "" : ", ") + shipped;
    }
    throw CrystalFileError("no shipped crystal is called '" + name + "' (there are " + known + ")");
}
