// The files a run writes. Each is written under a temporary name beside its final name; once all
// of them, and standard output, are complete, one commit gives them their names together, behind
// journals that a later run settles should the process end half-way (io/folder_journal.h). A run
// that fails or is interrupted before the commit leaves every earlier file as it was. Runs that
// write into one folder take turns there. A folder is known by its device and inode and held open
// from the start of the run, so that two spellings of it are one folder and its renaming changes
// nothing.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

// The names of the four files of the survey, in the order of OutputFiles' members: the reflection
// table and its plotting macro, the band crossings and theirs.
inline constexpr std::array<const char*, 4> kSurveyFileNames = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                                                "kelto_unweg.dat", "kelto_unweg.mac"};

struct OutputFiles {
    std::FILE* spaghettiDat;
    std::FILE* spaghettiMac;
    std::FILE* unwegDat;
    std::FILE* unwegMac;
};

// A file the run reads, which no output may overwrite: `role` names it in messages ("coefficient
// table").
struct RunInput {
    std::string role;
    std::string path;
};

// The folder of the four files; the current folder unless set.
void SetOutputFolder(const std::string& folder);
// `name` in that folder.
std::string InOutputFolder(const std::string& name);
// The four files of the survey in that folder, in the order of kSurveyFileNames.
std::vector<std::string> SurveyFilesInOutputFolder();

// Before anything is written: refuses (RunError) an output name that holds anything but a regular
// file, a link or a fifo, that is too long for its temporary name or is one of kelto's own, or that
// names an input or another output (by path, or by the file it resolves to); then takes the run's
// turn in every folder it writes into, settles there what an ended run left, and writes the run's
// journal into each. Called once per run, before the files are opened.
void PrepareOutputs(const std::vector<std::string>& outputs, const std::vector<RunInput>& inputs);

// Creates the temporary files of the four files of the survey (kSurveyFileNames) in the output
// folder (preparing them first when nothing was prepared).
OutputFiles OpenOutputFiles();
// Closes them, refusing the run when one was not written completely; renames nothing.
void CloseOutputFiles(OutputFiles* files);

// A further output file at `path` (a table, prepared with the others), under a temporary name
// beside it.
std::FILE* OpenOutputFile(const std::string& path);
// Closes it, refusing the run when it was not written completely.
void CloseOutputFile(std::FILE* file);

// The run's commit: checks that standard output and every file were written completely, then
// gives every file its name, behind the journals. A rename that fails brings every earlier file
// back and refuses the run. The run's turns are given back.
void CommitOutputFiles();

// Removes the temporary files not yet committed, and the run's journals. Safe to call from a
// signal handler.
void RemoveTemporaryOutputFiles();

// For the interrupt handler (async-signal-safe): what the run has done to the files at its outputs'
// names, "no file was replaced" until the commit has given every file its name.
const char* InterruptedRunOutcome();

// Ends the run after a write to `stream` failed, naming the file (standard output on standard
// error): throws RunError with status 1. The temporary files go when the process ends.
[[noreturn]] void ReportFailedWrite(std::FILE* stream);

// The status of a run that has done all its work: 0, unless standard output could not be written
// completely, which is then reported on standard error (saying that the files were written, when
// the commit gave files their names) and gives 1.
int CompletedRunStatus();

// For the tests of the commit: called at each step with the step's name ("prepared" once a
// folder's journal is written before the files, "commit" before the decision, "journal" once it is
// written, "rename" before a file's rename, "renamed" after it) and the folder or file; nullptr for
// none.
using CommitObserver = void (*)(const char* step, const std::string& path);
void SetCommitObserver(CommitObserver observer);
