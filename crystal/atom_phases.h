// Sums over a unit cell's atoms of w_j exp(2 pi i (h x_j + k y_j + l z_j)), the costly part of a
// structure factor. Each atom's phase factor is the product of one per axis, exp(2 pi i n x) for
// integer n; tables of these for |n| up to a reach hold them by axis and n with the atoms in a row,
// so that a sum reads memory in order and costs two complex products per atom instead of a sine and
// a cosine. Beyond the tables each factor comes from its own sine and cosine, the same numbers the
// tables hold: a sum is the same to the last bit either way.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "crystal/lattice.h"

struct AtomPosition {
    double x, y, z;  // fractional
};

class AtomPhases {
public:
    // The tables of `atoms` for |h|, |k|, |l| up to reach[0], reach[1], reach[2].
    AtomPhases(const std::vector<AtomPosition>& atoms, const int reach[3]);

    bool Covers(Miller m) const
    {
        return m.h >= -reach_[0] && m.h <= reach_[0] && m.k >= -reach_[1] && m.k <= reach_[1] && m.l >= -reach_[2] &&
               m.l <= reach_[2];
    }
    bool Reaches(const int reach[3]) const { return reach[0] <= reach_[0] && reach[1] <= reach_[1] && reach[2] <= reach_[2]; }
    const int* reach() const { return reach_; }

    // For each run of atoms g, from bounds[g] to bounds[g + 1], the sum of weight[j] exp(2 pi i m . x_j)
    // into sums[g], the tables' atoms in their order; `m` must be covered.
    void Sums(Miller m, const std::vector<std::size_t>& bounds, const double* weight, std::complex<double>* sums) const;

    // The bytes the tables of `atoms` atoms take for the reach.
    static double Bytes(std::size_t atoms, const int reach[3]);

private:
    int reach_[3];
    std::size_t atoms_;
    // Per axis, the real and imaginary parts of exp(2 pi i n x_j) at (n + reach) * atoms + j.
    std::vector<double> re_[3], im_[3];
};

// The same sums as AtomPhases::Sums for any m, each factor from its own sine and cosine.
void PhaseSums(Miller m, const std::vector<AtomPosition>& atoms, const std::vector<std::size_t>& bounds, const double* weight,
               std::complex<double>* sums);
