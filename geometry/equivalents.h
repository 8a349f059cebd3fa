// The symmetry equivalents of a reflection family in the cubic Laue class: every distinct
// permutation of the indices and, for each, every distinct choice of signs, each visited once.
#pragma once

#include "geometry/psi_solution.h"
#include "setup/input_struct.h"

// Calls visit(p, q, r) for each distinct permutation (positions into h, k, l): the identity
// first, then those that the equalities among the indices leave distinct.
template <typename Visit>
void ForEachPermutation(int h, int k, int l, Visit&& visit)
{
    visit(0, 1, 2);
    if (h == l && k == l) return;
    if (k == l) {
        visit(1, 2, 0);
        visit(2, 0, 1);
    } else if (k == h) {
        visit(0, 2, 1);
        visit(2, 1, 0);
    } else if (h == l) {
        visit(1, 0, 2);
        visit(0, 2, 1);
    } else {
        visit(0, 2, 1);
        visit(1, 2, 0);
        visit(1, 0, 2);
        visit(2, 1, 0);
        visit(2, 0, 1);
    }
}

// Negates an index without overflowing: -INT_MIN has no int value, so it stays as it is.
inline int Negated(int v) { return v == -2147483647 - 1 ? v : -v; }

// Calls visit(h', k', l') for the sign variants (+,+,+), (+,+,-), ..., (-,-,-), leaving out those
// that would negate a zero index, so that no reflection is visited twice.
template <typename Visit>
void ForEachSignVariant(int h, int k, int l, Visit&& visit)
{
    // Bit 4 negates h, bit 2 k, bit 1 l.
    int mask = 7;
    if (h == 0) mask &= 3;
    if (k == 0) mask &= 5;
    if (l == 0) mask &= 6;
    for (int s = 0; s < 8; ++s) {
        if ((mask & s) != s) continue;
        visit((s & 4) ? Negated(h) : h, (s & 2) ? Negated(k) : k, (s & 1) ? Negated(l) : l);
    }
}

// Every equivalent of the family, permutation by permutation, sign variant by sign variant.
template <typename Visit>
void ForEachEquivalent(int h, int k, int l, Visit&& visit)
{
    const int index[3] = {h, k, l};
    ForEachPermutation(h, k, l, [&](int p, int q, int r) { ForEachSignVariant(index[p], index[q], index[r], visit); });
}

// Hands every psi solution of every equivalent of the family (h, k, l) to `sink`, in survey
// order: permutation, sign variant, psi0 representative, solution.
void PrintAllPermutations(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink);
void PrintNegPermutationsIndex(InputStruct* record, const int* index, int p, int q, int r, PsiSolutionSink& sink);
void PrintNegPermutations(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink);
