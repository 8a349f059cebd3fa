// The symmetry equivalents of a reflection family in the cubic Laue class: every distinct
// permutation of the indices and, for each, every distinct choice of signs, each visited once.
#pragma once

#include <cstdio>

#include "setup/input_struct.h"

void PrintAllPermutations(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h,
                          int k, int l, float theta, float F, float intensity);
void PrintNegPermutationsIndex(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record,
                               const int* index, int p, int q, int r, float theta, float F,
                               float intensity);
void PrintNegPermutations(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h,
                          int k, int l, float theta, float F, float intensity);
