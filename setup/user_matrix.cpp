#include "setup/user_matrix.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void Store(InputStruct* record, double m11, double m12, double m13, double m21, double m22,
           double m23, double m31, double m32, double m33)
{
    const double values[9] = {m11, m12, m13, m21, m22, m23, m31, m32, m33};
    for (int i = 0; i < 9; ++i) record->userMatrix[i] = static_cast<float>(values[i]);
}

std::uint64_t Square(std::int32_t v)
{
    const std::uint64_t magnitude = static_cast<std::uint64_t>(std::llabs(v));
    return magnitude * magnitude;
}

}  // namespace

void GetUserMatrix(InputStruct* record)
{
    const std::int32_t hi = record->primaryH;
    const std::int32_t ki = record->primaryK;
    const std::int32_t li = record->primaryL;
    // The sum of squares is formed in an unsigned 64-bit integer, wide enough for any indices.
    const double g = 1.0 / std::sqrt(static_cast<double>(Square(hi) + Square(ki) + Square(li)));
    const double h = hi;
    const double k = ki;
    const double l = li;

    if (hi != 0 && ki != 0 && li != 0) {
        // Third axis along (1, 1, -(H+K)/L), which is perpendicular to the primary reflection.
        // The numerator -(H+K) is negated as an integer: H + K = 0 gives +0.0 / L, not -0.0 / L.
        const double u = 1.0 / std::sqrt((h + k) * (h + k) / (l * l) + 2.0);
        const double minusHK = static_cast<double>(-(std::int64_t{hi} + ki));
        Store(record, h * g, (-g * u) * ((h + k) * k / l + l), u,
              k * g, (g * u) * ((h + k) * h / l + l), u,
              l * g, (g * u) * (h - k), (minusHK / l) * u);
    } else if (hi != 0 && ki != 0) {  // L = 0
        Store(record, h * g, -k * g, 0.0, k * g, h * g, 0.0, 0.0, 0.0, 1.0);
    } else if (ki != 0 && li != 0) {  // H = 0
        Store(record, 0.0, 0.0, 1.0, k * g, -l * g, 0.0, l * g, k * g, 0.0);
    } else if (hi != 0 && li != 0) {  // K = 0
        Store(record, h * g, l * g, 0.0, 0.0, 0.0, 1.0, l * g, -h * g, 0.0);
    } else if (hi != 0) {
        Store(record, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0);
    } else if (ki != 0) {
        Store(record, 0.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    } else if (li != 0) {
        Store(record, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 1.0, 0.0, 0.0);
    }
    // The primary reflection 0 0 0 has no frame; the run is refused before this is reached.
}
