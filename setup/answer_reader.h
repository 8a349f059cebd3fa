// Reading the dialogue's answers from standard input. An answer is one word (leading white space
// skipped, ending at white space or the end of input); a number must be the whole word: "2.0"
// is no integer and "0,02" no number. Integers outside the 32-bit range and words that do not fit
// are refused, never stored.
#pragma once

#include <cstddef>
#include <string>

// Discards the rest of the line on which the last answer stopped. From a file or a pipe it reads
// through to the line end, however long the line and however it arrives; at a terminal it takes
// only what is already there and also discards what was typed ahead.
void FlushStandardInput();

// Each returns true and stores the answer when it is valid, false otherwise (end of input, a word
// that is not a number of the kind asked for, or a word that does not fit in `capacity` bytes with
// its terminating NUL).
bool ReadIntAnswer(int* value);
bool ReadFloatAnswer(float* value);
bool ReadWordAnswer(char* word, std::size_t capacity);

// The conversions of the answers, shared with the command line: true when all of `text` is a
// decimal integer in the 32-bit range, or a number as C's strtof reads it.
bool ParseIntAnswer(const std::string& text, int* value);
bool ParseFloatAnswer(const std::string& text, float* value);
