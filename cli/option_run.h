// A run described by command-line options rather than by the dialogue.
#pragma once

#include "cli/command_line.h"
#include "setup/input_struct.h"

// Checks the record as the dialogue's answers are checked (messages name the options), runs the
// survey into the chosen folder and, with --quiet, prints the summary. Returns the exit status.
int RunFromOptions(InputStruct* record, const RunOptions& options);
