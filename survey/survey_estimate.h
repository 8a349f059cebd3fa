// What a survey will write and hold, worked out in closed form from the run's answers before any
// family is visited: a run that would fill the disk or the memory is refused up front instead of
// counting families for hours.
#pragma once

#include "setup/input_struct.h"

struct SurveyEstimate {
    double reflections;  // equivalent reflections the survey takes through the geometry
    double curves;       // rows of the reflection table and the curve table
    double bytes;        // of the four files
    double memory;       // bytes the process holds
};

// The reflections are the lattice points inside both the limiting sphere (radius 2a / lambda in
// index units) and the cube of hMax, times the share the structure allows (sc 1, bcc 1/2, fcc
// 1/4, diamond 3/16). A reflection gives up to four curves (two psi0 representatives, two
// solutions each), the more the further inside the sphere it lies: 2 per reflection on average
// over a whole sphere, up to 4 near its centre. Each curve writes about 1320 bytes.
SurveyEstimate EstimateSurvey(const InputStruct* record);
