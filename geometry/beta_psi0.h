// psi0 (the azimuth of a reflection's component across the primary reflection) and beta (the
// half-distance between the two azimuths at which it is excited together with the primary).
#pragma once

#include <cstdio>

#include "setup/input_struct.h"

void CalculBetaPsi0(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h, int k,
                    int l, float theta, float F, float intensity);
void CalculPsi0(float y, float z, InputStruct* record);
void CalculBeta(float x, float y, float z, InputStruct* record);
