// kelto from Python: the planning engine of the program (the same library, no second copy of any
// calculation) as a module for notebooks and scripts. Results are NumPy structured arrays with the
// column names and units of the program's CSV tables; nothing here writes a file or ends the
// process, and the calculations run with the GIL released, stopped by an interrupt. The bindings
// stand by topic: the crystal, the tables of a scan, the fit of measured scans.
#include <pybind11/pybind11.h>

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "bindings.h"
#include "crystal/shipped_crystals.h"

namespace py = pybind11;

namespace {

// Where this module lies; an installed one (PREFIX/lib/python3.X/dist-packages) finds kelto's
// table and crystals in PREFIX/share/kelto.
void FindInstalledData()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FindInstalledData), &info) == 0 || info.dli_fname == nullptr) return;
    const std::filesystem::path share =
        std::filesystem::path(info.dli_fname).parent_path() / ".." / ".." / ".." / "share" / "kelto";
    std::error_code error;
    if (std::filesystem::is_regular_file(share / "f0_it1992.txt", error)) UseShippedDataFolder(share.lexically_normal().string());
}

}  // namespace

PYBIND11_MODULE(kelto, module)
{
    FindInstalledData();
    module.doc() = R"(Planning multiple-beam (Umweg, Renninger) scans and monochromator glitch spectra.

A Crystal (cubic of one element, from a CIF file, or one that comes with kelto) answers where the
multiple-beam events of an azimuthal scan lie (events), which energies glitch at an azimuth
(glitches), every reflection's glitch line E(psi) (glitch_map), and which azimuths keep an energy
range clean (clean_energies); clean_windows finds the azimuths free of strong events. Results are
NumPy structured arrays with the columns and units of kelto's CSV tables (angles in degrees,
energies in keV, wavelengths in angstrom, structure factors in electrons); pandas.DataFrame(result)
reads them. psi counts as in the program: with reference=(H, K, L) right-handed about the primary
reflection from that reciprocal-lattice vector to the incident beam, else in the frame of the
orientation matrix. Bad arguments raise ValueError with the program's messages, led by a hint
where an energy, wavelength or lattice parameter looks like one in another unit ("energy takes keV:
is 8000 in eV (8 keV)? ..."); files that cannot be read, OSError. Ctrl-C stops a long call within a
second with KeyboardInterrupt.)";

    module.attr("__version__") = KELTO_VERSION;

    kelto_python::CrystalClass crystal = kelto_python::BindCrystal(module);
    kelto_python::BindTables(crystal, module);
    kelto_python::BindFit(crystal);
}
