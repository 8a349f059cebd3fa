// The phase factors exp(2 pi i (h x + k y + l z)) of a unit cell's atoms, kept as one table per atom
// and axis, exp(2 pi i n x) for |n| up to a reach: a structure factor then costs two complex
// products per atom instead of a sine and a cosine, which in a large cell is nearly all its cost.
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

    // exp(2 pi i (h x + k y + l z)) of atom `atom` (m covered).
    std::complex<double> Phase(std::size_t atom, Miller m) const
    {
        const std::size_t row = atom * 3;
        return table_[offset_[row] + static_cast<std::size_t>(m.h + reach_[0])] *
               table_[offset_[row + 1] + static_cast<std::size_t>(m.k + reach_[1])] *
               table_[offset_[row + 2] + static_cast<std::size_t>(m.l + reach_[2])];
    }

    // The bytes the tables of `atoms` atoms take for the reach.
    static double Bytes(std::size_t atoms, const int reach[3]);

private:
    int reach_[3];
    std::vector<std::size_t> offset_;  // per atom and axis, where its table starts
    std::vector<std::complex<double>> table_;
};
