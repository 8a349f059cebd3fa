// kelto's command line: every answer of the dialogue as an option, the wavelength also as an
// energy, an output folder, a quiet console, --help and --version.
#pragma once

#include <string>

#include "setup/answer_source.h"
#include "setup/input_struct.h"

struct RunOptions {
    bool quiet = false;
    std::string outputFolder;  // empty: the current folder
    const char* wavelengthOption = "--wavelength";  // the option that gave the wavelength
    // Planning a scan: the events table, the clean azimuth windows (width 0: not asked for) ...
    std::string eventsFile;
    double cleanWidth = 0.0;
    double cleanFraction = 0.01;
    // ... and the glitch spectrum of an energy scan at a fixed azimuth, instead of the four files.
    std::string glitchesFile;
    double atPsi = 0.0;
    double energyMin = 0.0, energyMax = 0.0;  // keV
};

// Fills `record` and `options` from the arguments, with the conversions of the dialogue's
// answers, so that the record is the one the dialogue would fill from the same answers. Returns
// -1 when the run should go on, or the status to end with: 0 after --help or --version, 2 after a
// usage error, which is reported on standard error.
int ParseCommandLine(int argc, const char* const* argv, InputStruct* record, RunOptions* options);

// The coefficient table that comes with kelto: share/kelto/ beside the installed program, or
// data/ in the source tree.
std::string ShippedTable();
