#include "geometry/equivalents.h"

#include "geometry/beta_psi0.h"

namespace {

// Negates an index without overflowing: -INT_MIN has no int value, so it stays as it is.
int Negated(int v) { return v == -2147483647 - 1 ? v : -v; }

}  // namespace

void PrintAllPermutations(std::FILE* fileDat, std::FILE* fileMac, InputStruct* record, int h,
                          int k, int l, float theta, float F, float intensity)
{
    const int index[3] = {h, k, l};
    const auto visit = [&](int p, int q, int r) {
        PrintNegPermutationsIndex(fileDat, fileMac, record, index, p, q, r, theta, F, intensity);
    };
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
    // Bit 4 negates h, bit 2 k, bit 1 l; a zero index is never negated, so no reflection repeats.
    int mask = 7;
    if (h == 0) mask &= 3;
    if (k == 0) mask &= 5;
    if (l == 0) mask &= 6;
    for (int s = 0; s < 8; ++s) {
        if ((mask & s) != s) continue;
        const int sh = (s & 4) ? Negated(h) : h;
        const int sk = (s & 2) ? Negated(k) : k;
        const int sl = (s & 1) ? Negated(l) : l;
        CalculBetaPsi0(fileDat, fileMac, record, sh, sk, sl, theta, F, intensity);
    }
}
