// The survey: builds the frame and loads the coefficients, creates the output files, visits every
// reflection family inside the limiting sphere that the structure allows and pushes it through
// the rest of the calculation, then runs the intersection search and closes the files.
#pragma once

#include "output/curve_table.h"
#include "setup/input_struct.h"

void CalculHKL(InputStruct* record, SurveyRun* run);
