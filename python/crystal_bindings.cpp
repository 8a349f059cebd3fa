#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include <cctype>
#include <cmath>
#include <cstring>

#include "bindings.h"
#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "crystal/shipped_crystals.h"
#include "crystal/thermal_expansion.h"
#include "io/run_error.h"
#include "setup/factor_file.h"

namespace kelto_python {

namespace {

std::shared_ptr<PyCrystal> Cubic(const py::object& structure, double a, const std::string& symbol, const std::optional<std::string>& table)
{
    int type = 0;
    if (py::isinstance<py::int_>(structure)) {
        try {
            type = structure.cast<int>();
        } catch (const py::cast_error&) {  // beyond an int: no structure either
            type = 0;
        }
    } else {
        std::string word = WithoutNul(py::str(structure), "structure");
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const char* names[] = {"sc", "bcc", "fcc", "diamond"};
        for (int i = 0; i < 4; ++i) type = word == names[i] ? i + 1 : type;
    }
    if (type < 1 || type > 4) Refuse("structure must be 'sc', 'bcc', 'fcc', 'diamond' or 1 to 4");
    if (!(a > 0.0 && std::isfinite(a))) Refuse(Printed("The lattice parameter a must be a positive finite number, not %f", a));
    WithoutNul(symbol, "symbol");
    const std::string path = WithoutNul(table.value_or(ShippedTable()), "table");
    InputStruct record{};
    if (path.size() >= sizeof record.factorFile || symbol.empty() || symbol.size() >= sizeof record.symbol) {
        Refuse("the table's name may hold at most 379 characters and the symbol 1 to 79");
    }
    RequireFile(path, "The coefficient table");
    std::strcpy(record.factorFile, path.c_str());
    std::strcpy(record.symbol, symbol.c_str());
    try {
        ReadFactors(&record);
    } catch (const RunError& error) {
        Refuse(Message(error));
    }
    try {
        return std::make_shared<PyCrystal>(std::make_shared<CubicCrystal>(type, a, record.f0Coef, record.symbol), a);
    } catch (const std::invalid_argument& e) {  // a cell beyond the doubles
        Refuse(Printed("The lattice parameter a %g makes no cell: %s", a, e.what()));
    }
}

std::shared_ptr<PyCrystal> FromCif(const std::string& path, double cellScale = 1.0)
{
    RequireFile(WithoutNul(path, "path"), "The CIF file");
    std::string notice;
    try {
        std::shared_ptr<const Crystal> crystal = CifCrystal::Read(path, &notice, cellScale);
        if (!notice.empty()) PyErr_WarnEx(PyExc_UserWarning, notice.c_str(), 1);
        return std::make_shared<PyCrystal>(std::move(crystal));
    } catch (const CrystalFileError& error) {
        Refuse(Message(error));
    }
}

// A shipped crystal, its cell at `temperature` kelvin when given.
std::shared_ptr<PyCrystal> Shipped(const std::string& name, std::optional<double> temperature)
{
    std::string path;
    try {
        path = ShippedCrystalPath(WithoutNul(name, "name"));
    } catch (const CrystalFileError& error) {
        Refuse(Message(error));
    }
    double cellScale = 1.0;
    if (temperature) {
        try {
            cellScale = LatticeRatioAt(name, *temperature);
        } catch (const TemperatureError& error) {
            Refuse(std::string("temperature: ") + error.what());
        }
    }
    return FromCif(path, cellScale);
}

}  // namespace

CrystalClass BindCrystal(py::module_& module)
{
    CrystalClass crystal(module, "Crystal", "A crystal: its lattice and its structure factor at any photon energy.");
    crystal
        .def_static("cubic", &Cubic, py::arg("structure"), py::arg("a"), py::arg("symbol"), py::arg("table") = py::none(),
                    R"(A cubic crystal of one element.

structure: 'sc', 'bcc', 'fcc' or 'diamond' (or 1 to 4); a: the lattice parameter in angstrom;
symbol: the element's key in the coefficient table (any case); table: the coefficient file
(default the one that comes with kelto). F is that of kelto's reflection table: f0 from the table,
the structure's factor and exp(-0.117 s^2); it does not depend on the energy.)")
        .def_static("from_cif", [](const std::string& path) { return FromCif(path); }, py::arg("path"),
                    R"(The crystal of a small-molecule CIF file: cell, space group, atom sites.

F sums occupancy (f0 + f' + i f'') exp(-B s^2) exp(2 pi i h.x) over the unit cell, f' and f''
(Cromer-Liberman) at the energy asked for. A CIF without displacement parameters is taken with
B = 0, with a UserWarning.)")
        .def_static("shipped", &Shipped, py::arg("name"), py::arg("temperature") = py::none(),
                    R"(A crystal that comes with kelto, by name (see shipped_crystals()).

temperature: kelvin; the cell at that temperature from the crystal's published thermal expansion
(Si: 77 to 1500 K, Y. Okada & Y. Tokumaru, J. Appl. Phys. 56, 314 (1984), from 120 K, and below
it the NIST Cryogenic Technologies Group's silicon fit; Ge: 10 to 1085 K, T. Manjo & A. Q. R.
Baron's fit of R. Colella et al. and H. P. Singh (1968); diamond: 10 to 1000 K, P. Jacobson & S.
Stoupin, Diamond Relat. Mater. 97, 107469 (2019)). Without it, the shipped cell (Si: the CODATA
2018 value at 295.65 K; Ge and diamond: 298 K). Refused for another crystal or temperature.)")
        .def_property_readonly("name", [](const PyCrystal& c) { return c.crystal().name(); }, "The crystal's name.")
        .def_property_readonly(
            "cell",
            [](const PyCrystal& c) {
                const Lattice& l = c.crystal().lattice();
                return std::make_tuple(l.a(), l.b(), l.c(), l.alpha(), l.beta(), l.gamma());
            },
            "The cell (a, b, c in angstrom, alpha, beta, gamma in degrees).")
        .def("__repr__", [](const PyCrystal& c) { return "<kelto.Crystal " + c.crystal().name() + ">"; })
        .def("structure_factor", [](const PyCrystal& c, int h, int k, int l, double energy) {
                 if (!(energy > 0.0 && std::isfinite(energy))) Refuse("energy must be a positive number of keV");
                 py::gil_scoped_release released;
                 return c.crystal().At(energy)->F(Miller{h, k, l});
             },
             py::arg("h"), py::arg("k"), py::arg("l"), py::arg("energy"), "F(h, k, l) in electrons at the photon energy (keV), a complex number.");

    module.def("shipped_crystals", &ShippedCrystalNames, "The names of the crystals that come with kelto.");
    module.def("data_folder", &ShippedDataFolder,
               "The folder of the coefficient table and the crystals that come with kelto (share/kelto of an installation).");
    return crystal;
}

}  // namespace kelto_python
