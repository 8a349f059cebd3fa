// The opening lines that both IDL macros share: header comment, azimuth grid, abscissa unit and
// x range. Each macro writes its own y title between the two groups.
#pragma once

#include "io/text_format.h"

void WriteMacroGridLines(text_format::TextWriter& mac);
void WriteMacroRangeLines(text_format::TextWriter& mac);
