// Runs that would run away are refused before anything is computed or written: one whose files
// would not fit in the free space of their folders, or whose memory would exceed what the machine
// can give. Where an answer looks like a unit mistake, the message says which unit was meant.
#pragma once

#include <string>
#include <vector>

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

// One part of a run: the file it writes (empty: none), the bytes it writes there and the memory
// it holds while it is computed, what it is ("about 2.8e+09 glitches ...") and what makes it
// smaller ("lower --harmonics"; empty: nothing to say).
struct RunPart {
    std::string path;
    double bytes = 0.0;
    double memory = 0.0;
    std::string what;
    std::string advice;
    double visits = 0.0;  // reflections it looks at
};

// The reflections a run looks at, at most: about a minute of work on one core (a glitch spectrum
// to 100 keV looks at 3e6, its ninth harmonic at 2e9).
inline constexpr double kMostVisits = 1e9;

// Refuses (RunError) a run whose parts would write more into the file system of any of their
// folders than is free there (the parts on one file system counted together), whose largest
// part would hold more memory than the machine can give, or that would look at more than
// kMostVisits reflections; `hints` begin the message, which names the largest part of what is
// too large.
void RefuseRunaway(const std::vector<RunPart>& parts, const std::string& hints);

// Refuses (RunError) a table whose size is known exactly only once it is computed (the predicted
// spectrum, whose energies its glitches decide), just before it is written: `table.bytes` beyond the
// space free now in the file system of its folder, what the run has written there already taken.
// "The <what> would take <n> bytes in <folder>, more than the <size> free there: <advice>".
void RefuseTableBeyondFreeSpace(const RunPart& table);
