// The four output files of a run. They are written under temporary names in the output folder
// and take their own names together, only once all four are complete: a run that fails or is
// interrupted leaves the files of an earlier run as they were. Runs in one folder take turns.
#pragma once

#include <cstdio>
#include <string>

struct OutputFiles {
    std::FILE* spaghettiDat;
    std::FILE* spaghettiMac;
    std::FILE* unwegDat;
    std::FILE* unwegMac;
};

// The folder the files go to; the current folder unless set.
void SetOutputFolder(const std::string& folder);

// Waits until no other run writes into the output folder, then creates the four temporary files
// for kelto_spaghetti.dat, kelto_spaghetti.mac, kelto_unweg.dat and kelto_unweg.mac. A file that
// cannot be created ends the run (RunError) with a message naming it.
OutputFiles OpenOutputFiles();

// Closes the four files in the order of opening and, when standard output and every file were
// written completely, gives them their names. Otherwise names what failed and ends the run with
// status 1, the earlier files untouched.
void CloseOutputFiles(OutputFiles* files);

// A further output file at `path` (a table of events or glitches), written under a temporary
// name beside it and given its name by CommitOutputFile once complete. A file that cannot be
// created ends the run with a message naming it.
std::FILE* OpenOutputFile(const std::string& path);
void CommitOutputFile(std::FILE* file);

// Removes the temporary files not yet renamed. Safe to call from a signal handler.
void RemoveTemporaryOutputFiles();

// Ends the run after a write to `stream` failed, naming the file (standard output on standard
// error): throws RunError with status 1. The temporary files go when the process ends.
[[noreturn]] void ReportFailedWrite(std::FILE* stream);

// The status of a run that has done all its work: 0, unless standard output could not be written
// completely, which is then reported on standard error and gives 1.
int CompletedRunStatus();
