// Fuzzes the CIF reader with arbitrary text: every input is a crystal or a CrystalFileError,
// never another exception, a crash or a hang; a crystal that is read scatters finite numbers.
#include <cmath>
#include <cstdint>
#include <string>

#include "crystal/cif_crystal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<CifCrystal> crystal;
    try {
        std::string notice;
        crystal = CifCrystal::Parse(text, "fuzz.cif", &notice);
    } catch (const CrystalFileError&) {
        return 0;
    }
    if (crystal->atoms().empty() || crystal->atoms().size() > kMostUnitCellAtoms) __builtin_trap();
    for (const CifAtom& a : crystal->atoms()) {
        if (!(a.x >= 0.0 && a.x < 1.0 && a.y >= 0.0 && a.y < 1.0 && a.z >= 0.0 && a.z < 1.0 && a.b >= 0.0)) __builtin_trap();
    }
    const auto scattering = crystal->At(8.048);
    for (const Miller m : {Miller{0, 0, 0}, Miller{1, 1, 1}, Miller{0, 0, 2}, Miller{-3, 1, 4}}) {
        if (!std::isfinite(std::abs(scattering->F(m)))) __builtin_trap();
        crystal->Extinct(m);
    }
    return 0;
}
