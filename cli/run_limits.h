// Runs that would run away are refused before anything is computed or written: one whose files
// would not fit in the free space of their folder, or whose memory would exceed what the machine
// can give. Where an answer looks like a unit mistake, the message says which unit was meant.
#pragma once

#include <string>

// The answers that a unit mistake shows in: an energy above 1000 keV (eV typed for keV), a lattice
// parameter above 1000 angstrom, a wavelength below 0.001 angstrom. 0 where not given.
struct TypedUnits {
    double latticeA = 0.0;     // angstrom
    double lambda = 0.0;       // angstrom
    double keV = 0.0;          // the highest energy typed
    // How the messages name the answers: the options, or the dialogue's questions.
    const char* latticeName = "--lattice";
    const char* wavelengthName = "--wavelength";
    const char* energyName = "--energy";
};
// "" or the questions that name the probable mistakes, each ending "? ", to begin the message with:
// the unit is what a reader should check first.
std::string UnitHints(const TypedUnits& typed);

// Refuses (RunError) a run of `what` (for example "about 5.5e+14 curves") that would write
// `bytes` into `folder` or hold `memory` bytes, when the free space there or the memory the
// machine can give is smaller; `hints` begin the message.
void RefuseRunaway(const std::string& what, double bytes, double memory, const std::string& folder, const std::string& hints);
