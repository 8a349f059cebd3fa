// kelto_unweg.dat and kelto_unweg.mac: the azimuths at which every recorded curve crosses the two
// edges of the wavelength band, as a table and as the peaks of an approximate Umweg pattern.
#pragma once

#include <cstdio>

#include "output/curve_table.h"
#include "setup/input_struct.h"

// Searches rows 0 to nbCurves - 1 of the run's curve table and counts the crossings written.
void CalcIntersections(const InputStruct* record, SurveyRun* run, std::FILE* unwegDat, std::FILE* unwegMac);
