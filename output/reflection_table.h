// kelto_spaghetti.dat: the reflection table, one row per psi solution of every equivalent reflection.
#pragma once

#include <cstdio>

#include "output/curve_table.h"
#include "setup/input_struct.h"

void WriteReflectionTableHeader(std::FILE* fileDat, const InputStruct* record);

// Writes one row and stores psi0 and the intensity into the curve-table row being filled.
void PrintResult(std::FILE* fileDat, SurveyRun* run, int h, int k, int l, float theta, float F, float intensity,
                 float beta, float psi0, float psi, float calib);
