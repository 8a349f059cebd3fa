// The scattering-factor coefficient file: four header lines, then records of a key word and the
// nine numbers a1 b1 a2 b2 a3 b3 a4 b4 c of the four-Gaussian f0 of that atom or ion.
#pragma once

#include "setup/input_struct.h"

// Loads the coefficients of `symbol` into `f0Coef`; ends the run when the file cannot be opened or
// holds no record for the symbol.
void ReadFactors(InputStruct* record);

// 0 when a record for `symbol` was found and its coefficients are in `f0Coef`, non-zero otherwise.
// Ends the run itself when the file cannot be opened.
int ReadFParam(InputStruct* record);

// Upper-cases a NUL-terminated string in place (a to z only) and returns it.
char* StrUpper(char* text);
