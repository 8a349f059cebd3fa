#include "crystal/reflection_classes.h"

#include <gemmi/symmetry.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <tuple>

namespace {

constexpr int kDen = gemmi::Op::DEN;

// Indices beyond this stay their own class: their images could leave the integers.
constexpr int kLargestIndex = 1 << 28;

bool Larger(Miller a, Miller b) { return std::tie(a.h, a.k, a.l) > std::tie(b.h, b.k, b.l); }

}  // namespace

ReflectionClasses::ReflectionClasses(const std::vector<gemmi::Op>& ops)
{
    for (const gemmi::Op& op : ops) {
        Rotation rotation{};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) rotation.r[i][j] = op.rot[i][j] / kDen;
            rotation.t[i] = op.tran[i];
        }
        bool known = false;
        for (Rotation& other : rotations_) {
            bool same = true;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) same = same && other.r[i][j] == rotation.r[i][j];
            }
            if (!same) continue;
            known = true;
            // Of the operations with this rotation, the one of the least translation.
            if (std::tie(rotation.t[0], rotation.t[1], rotation.t[2]) < std::tie(other.t[0], other.t[1], other.t[2])) other = rotation;
        }
        if (!known) rotations_.push_back(rotation);
    }
}

ReflectionClass ReflectionClasses::Of(Miller h) const
{
    if (std::abs(h.h) > kLargestIndex || std::abs(h.k) > kLargestIndex || std::abs(h.l) > kLargestIndex) return {h, false, 0};
    ReflectionClass best{h, false, 0};
    bool first = true;
    for (const Rotation& rotation : rotations_) {
        int k[3];
        for (int j = 0; j < 3; ++j) {
            const std::int64_t image = std::int64_t{h.h} * rotation.r[0][j] + std::int64_t{h.k} * rotation.r[1][j] +
                                       std::int64_t{h.l} * rotation.r[2][j];
            if (image > kLargestIndex || image < -kLargestIndex) return {h, false, 0};
            k[j] = static_cast<int>(image);
        }
        const std::int64_t shift = std::int64_t{h.h} * rotation.t[0] + std::int64_t{h.k} * rotation.t[1] + std::int64_t{h.l} * rotation.t[2];
        const int phase = static_cast<int>(((shift % kDen) + kDen) % kDen);
        const Miller image{k[0], k[1], k[2]}, mate{-k[0], -k[1], -k[2]};
        if (first || Larger(image, best.representative)) best = {image, false, phase};
        if (Larger(mate, best.representative)) best = {mate, true, phase};
        first = false;
    }
    return best;
}

std::complex<double> TwentyFourthTurn(int n)
{
    n = ((n % kDen) + kDen) % kDen;
    switch (n) {
        case 0: return {1.0, 0.0};
        case 6: return {0.0, 1.0};
        case 12: return {-1.0, 0.0};
        case 18: return {0.0, -1.0};
        default: return std::polar(1.0, 2.0 * std::numbers::pi * n / kDen);
    }
}
