// The planning results as NumPy structured arrays, with the columns and units of the program's CSV
// tables.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "fit/glitch_fit.h"
#include "glitches/glitches.h"
#include "scan/events.h"
#include "windows/clean_windows.h"

namespace kelto_python {

pybind11::object EventsArray(const std::vector<Event>& events);
pybind11::object GlitchArray(const std::vector<Glitch>& glitches);
pybind11::object MapArray(const std::vector<GlitchLine>& lines);
// The clean windows, or the least bad stretches when there is none, as rows of the windows table.
pybind11::object WindowArray(const CleanWindows& found, const char* search);
// The rows of --fit-table for the dips of the scans.
pybind11::object DipRows(const GlitchFit& fit, const GlitchFit* second = nullptr);

}  // namespace kelto_python
