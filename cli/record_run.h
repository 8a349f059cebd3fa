// A run from its filled record, as the dialogue and the command-line options both set it up: the
// survey of the four files and the planning tables beside it or instead of it, all committed
// together.
#pragma once

#include "cli/command_line.h"
#include "setup/input_struct.h"

// Checks the record as the dialogue's answers are checked (the messages name the options when
// the answers came from options), refuses a run that would not fit on the disk or in the memory,
// runs the survey into the chosen folder and the planning the options ask for, and gives every
// file its name once all are complete; with --quiet, prints the survey's summary. Returns the
// exit status.
int RunFromRecord(InputStruct* record, const RunOptions& options);

// The run of the dialogue's answers in `record`: its wording, the current folder, nothing planned.
RunOptions DialogueRun(const InputStruct& record);
