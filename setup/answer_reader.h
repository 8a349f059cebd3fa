// Reading the dialogue's answers from standard input: the "%d", "%f" and "%s" conversions of the
// scanf family, made safe (integer overflow and over-long words are refused, never stored), and the
// flush of typed-ahead input between prompts.
#pragma once

#include <cstddef>

// Consumes the rest of the current line when the last answer stopped in the middle of it, without
// ever waiting for more input; at a terminal, also discards what was typed ahead.
void FlushStandardInput();

// Each returns true and stores the answer when the conversion succeeded, false otherwise (end of
// input, text that does not match the conversion, a number outside the 32-bit range, or a word that
// does not fit in `capacity` bytes with its terminating NUL).
// Forgets where the last answer stopped, as at the start of a run (for a new standard input).
void ResetAnswerReader();

bool ReadIntAnswer(int* value);
bool ReadFloatAnswer(float* value);
bool ReadWordAnswer(char* word, std::size_t capacity);
