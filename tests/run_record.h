// A run record for tests of the calculation and output routines.
#pragma once

#include <cstdio>
#include <string>

#include "output/curve_table.h"
#include "setup/user_matrix.h"

// A record with the given lattice parameter, wavelength and primary reflection, its matrix built.
inline InputStruct RunRecord(float latticeA, float lambda, int h, int k, int l)
{
    InputStruct record{};
    record.latticeA = latticeA, record.lambda = lambda, record.primaryH = h, record.primaryK = k, record.primaryL = l;
    GetUserMatrix(&record);
    return record;
}

// What a temporary stream holds so far; later writes append.
inline std::string ReadStream(std::FILE* stream)
{
    std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    std::fseek(stream, 0, SEEK_END);
    return text;
}
