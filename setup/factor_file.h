// The scattering-factor coefficient file: four header lines, then records of a key word and the
// nine numbers a1 b1 a2 b2 a3 b3 a4 b4 c of the four-Gaussian f0 of that atom or ion.
#pragma once

#include <cstdio>
#include <string>

#include "setup/answer_source.h"
#include "setup/input_struct.h"

// Loads the coefficients of `symbol` into `f0Coef`; ends the run when the file cannot be opened,
// is not a regular file, holds no record for the symbol or holds a broken one. The messages name
// the options the answers came from, if they came from options.
void ReadFactors(InputStruct* record, const AnswerSource& answers = AnswerSource());

// 0 when a record for `symbol` was found and its coefficients are in `f0Coef`, non-zero when
// there is none. Ends the run itself when the file cannot be read or the record is broken.
int ReadFParam(InputStruct* record, const AnswerSource& answers = AnswerSource());

// Upper-cases a NUL-terminated string in place (a to z only) and returns it.
char* StrUpper(char* text);

// The outcome of looking a key up in an open coefficient file.
struct CoefficientLookup {
    enum Result { kFound, kNotFound, kIncomplete } result = kNotFound;
    bool compared = false;  // at least one record was compared with the key
    float coefficients[9] = {};
    int numbers = 0;        // numbers of the matching record that were read
    long keyLine = 0;       // line of the matching record's key, counted from 1
    long lastLine = 0;      // line of its last number read
    std::string stopper;    // the word that is not a number, empty at the end of the file
};

// Scans the file after its four header lines for the first record whose key (at most 7
// characters) equals `upperKey` without regard to case. Any white space separates the words; a
// word that is not a number ends the record it stands in and is read as the next key. The
// matching record is found only when its key is followed by nine numbers.
CoefficientLookup FindCoefficientRecord(std::FILE* file, const std::string& upperKey);
