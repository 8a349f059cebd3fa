// kelto_unweg.dat and kelto_unweg.mac: the azimuths at which every recorded curve crosses the two
// edges of the wavelength band, as a table and as the peaks of an approximate Umweg pattern.
#pragma once

#include <cstdint>
#include <cstdio>

#include "setup/input_struct.h"

void CalcIntersections(const InputStruct* record, std::FILE* unwegDat, std::FILE* unwegMac);

// The number of crossings the last search wrote.
std::int64_t CrossingCount();
