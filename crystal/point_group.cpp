#include "crystal/point_group.h"

#include <algorithm>

std::vector<MillerRotation> CubicPointGroup()
{
    std::vector<MillerRotation> group;
    int order[3] = {0, 1, 2};
    do {
        for (int signs = 0; signs < 8; ++signs) {
            MillerRotation r{};
            for (int row = 0; row < 3; ++row) r.m[row][order[row]] = (signs >> row & 1) != 0 ? -1 : 1;
            group.push_back(r);
        }
    } while (std::next_permutation(order, order + 3));
    return group;
}

std::vector<MillerRotation> PointGroupOf(const std::vector<gemmi::Op>& operations)
{
    std::vector<MillerRotation> group;
    for (const gemmi::Op& op : operations) {
        MillerRotation r{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) r.m[i][j] = op.rot[j][i] / gemmi::Op::DEN;
        }
        if (std::find(group.begin(), group.end(), r) == group.end()) group.push_back(r);
    }
    return group;
}
