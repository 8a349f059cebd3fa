// The four output files of a run, created together before the survey and closed together after it.
#pragma once

#include <cstdio>

struct OutputFiles {
    std::FILE* spaghettiDat;
    std::FILE* spaghettiMac;
    std::FILE* unwegDat;
    std::FILE* unwegMac;
};

// Creates (or truncates) the four files in the current directory, in this order:
// kelto_spaghetti.dat, kelto_spaghetti.mac, kelto_unweg.dat, kelto_unweg.mac. A file that cannot
// be created ends the run with a message naming it.
OutputFiles OpenOutputFiles();

// Closes the four files in the order of opening. A file that could not be written completely
// (a write error or a failed close) is named in a message, and the run then ends with status 1.
void CloseOutputFiles(OutputFiles* files);
