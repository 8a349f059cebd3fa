#include "geometry/equivalents.h"

#include "geometry/beta_psi0.h"

void PrintAllPermutations(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h,
                          int k, int l, float theta, float F, float intensity)
{
    const int index[3] = {h, k, l};
    ForEachPermutation(h, k, l, [&](int p, int q, int r) {
        PrintNegPermutationsIndex(fileDat, fileMac, record, index, p, q, r, theta, F, intensity);
    });
}

void PrintNegPermutationsIndex(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record,
                               const int* index, int p, int q, int r, float theta, float F,
                               float intensity)
{
    PrintNegPermutations(fileDat, fileMac, record, index[p], index[q], index[r], theta, F,
                         intensity);
}

void PrintNegPermutations(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h,
                          int k, int l, float theta, float F, float intensity)
{
    ForEachSignVariant(h, k, l, [&](int sh, int sk, int sl) {
        CalculBetaPsi0(fileDat, fileMac, record, sh, sk, sl, theta, F, intensity);
    });
}
