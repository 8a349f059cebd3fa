#include "geometry/equivalents.h"

#include "geometry/beta_psi0.h"

void PrintAllPermutations(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink)
{
    const int index[3] = {h, k, l};
    ForEachPermutation(h, k, l, [&](int p, int q, int r) { PrintNegPermutationsIndex(record, index, p, q, r, sink); });
}

void PrintNegPermutationsIndex(InputStruct* record, const int* index, int p, int q, int r, PsiSolutionSink& sink)
{
    PrintNegPermutations(record, index[p], index[q], index[r], sink);
}

void PrintNegPermutations(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink)
{
    ForEachSignVariant(h, k, l, [&](int sh, int sk, int sl) { CalculBetaPsi0(record, sh, sk, sl, sink); });
}
