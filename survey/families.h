// The reflection families of a survey: h >= k >= l >= 0 with nLow < h^2 + k^2 + l^2 < nHigh, the
// limiting sphere, and h no larger than hMax.
#pragma once

#include <cmath>
#include <cstdint>

#include "setup/input_struct.h"
#include "survey/index_sort.h"

// The survey's limiting sphere: the squared radii of its shell, N = h^2 + k^2 + l^2 between the
// Bragg angles 0 and 90 degrees, (2a sin 0 / lambda)^2 and (2a sin 90 / lambda)^2, and its radius
// 2a sin 90 / lambda, 2a formed in single precision.
struct LimitingSphereRadii {
    double nLow, nHigh;
    double radius;
};
LimitingSphereRadii LimitingSphere(float latticeA, float lambda);

// The largest index of a reflection that can diffract, ceil(radius), within 0 and INT_MAX: the
// default hMax.
int LimitingSphereReach(float latticeA, float lambda);

// h^2 + k^2 + l^2 of non-negative indices, in a type wide enough for any of them.
inline double SquaredLength(std::int64_t h, std::int64_t k, std::int64_t l)
{
    const auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
    return static_cast<double>(u(h) * u(h) + u(k) * u(k) + u(l) * u(l));
}

// Calls visit(h, k, l, N) for each family, h ascending, then k, then l. Each loop ends as soon as
// its partial sum leaves the sphere, so the work follows the number of families inside it. Loop
// counters are 64-bit so that no bound can overflow them.
template <typename Visit>
void ForEachFamily(int hMax, double nLow, double nHigh, Visit&& visit)
{
    int b1 = 0, b2 = 0, b3 = 0;
    SortHKL(hMax, hMax, hMax, &b1, &b2, &b3);
    for (std::int64_t h = 0; h <= b1 && static_cast<double>(h) <= std::sqrt(nHigh); ++h) {
        const int kBound = min(b2, static_cast<int>(h));
        for (std::int64_t k = 0; k <= kBound && SquaredLength(h, k, 0) <= nHigh; ++k) {
            const int lBound = min(b3, static_cast<int>(k));
            for (std::int64_t l = 0; l <= lBound && SquaredLength(h, k, l) <= nHigh; ++l) {
                const double n = SquaredLength(h, k, l);
                if (!(n > nLow && n < nHigh)) continue;
                visit(static_cast<int>(h), static_cast<int>(k), static_cast<int>(l), n);
            }
        }
    }
}
