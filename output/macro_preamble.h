// The opening lines that both IDL macros share: header comment, azimuth grid, abscissa unit and
// x range. Each macro writes its own y title between the two groups.
#pragma once

#include <cstdio>

void WriteMacroGridLines(std::FILE* mac);
void WriteMacroRangeLines(std::FILE* mac);
