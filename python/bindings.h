// The module's bindings by topic: the crystal itself, the tables of a scan (events, glitches, the
// predicted spectrum, the glitch map, clean windows) and the fit of measured scans.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "py_crystal.h"

namespace kelto_python {

using CrystalClass = pybind11::class_<PyCrystal, std::shared_ptr<PyCrystal>>;

// kelto.Crystal with its constructors and properties, shipped_crystals() and data_folder().
CrystalClass BindCrystal(pybind11::module_& module);
// Crystal.events, glitches, spectrum, glitch_map, clean_energies and kelto.clean_windows.
void BindTables(CrystalClass& crystal, pybind11::module_& module);
// Crystal.fit_glitches.
void BindFit(CrystalClass& crystal);

}  // namespace kelto_python
