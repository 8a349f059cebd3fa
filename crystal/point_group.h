// The rotations of a crystal's point group as they act on Miller indices: a reflection h k l and
// its image under any of them scatter alike (|F| equal at every energy, allowed alike), and the
// lattice carries the one onto the other with the same length.
#pragma once

#include <gemmi/symmetry.hpp>

#include <vector>

#include "crystal/vec3.h"

// h' = M h for the column (h, k, l). For a symmetry operation x' = W x + t of fractional
// coordinates, M = W transposed: F(W^T h) = F(h) exp(-2 pi i h.W^-1 t).
struct MillerRotation {
    int m[3][3];
    Miller operator()(Miller x) const
    {
        return {m[0][0] * x.h + m[0][1] * x.k + m[0][2] * x.l, m[1][0] * x.h + m[1][1] * x.k + m[1][2] * x.l,
                m[2][0] * x.h + m[2][1] * x.k + m[2][2] * x.l};
    }
    friend bool operator==(const MillerRotation&, const MillerRotation&) = default;
};

// The 48 operations of m-3m: every permutation of h, k, l with every choice of signs.
std::vector<MillerRotation> CubicPointGroup();

// The distinct rotation parts of a space group's operations, as they act on Miller indices.
std::vector<MillerRotation> PointGroupOf(const std::vector<gemmi::Op>& operations);
