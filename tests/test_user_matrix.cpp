// Orientation matrix of the primary reflection: its columns are the axes of the reflection frame,
// the first along the primary reflection.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <string>

#include "setup/input_struct.h"
#include "setup/user_matrix.h"

namespace {

using Vec = std::array<double, 3>;

struct MatrixCase {
    int h, k, l;
    std::array<double, 9> m;  // m11 m12 m13 m21 m22 m23 m31 m32 m33
};

InputStruct MatrixFor(int h, int k, int l)
{
    InputStruct r{};
    r.primaryH = h;
    r.primaryK = k;
    r.primaryL = l;
    GetUserMatrix(&r);
    return r;
}

Vec Column(const InputStruct& r, int j)
{
    return {r.userMatrix[j], r.userMatrix[3 + j], r.userMatrix[6 + j]};
}

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec Cross(const Vec& a, const Vec& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.h << " " << c.k << " " << c.l; }

class KnownPrimaries : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(KnownPrimaries, MatrixMatchesToFourDecimals)
{
    const MatrixCase& c = GetParam();
    const InputStruct r = MatrixFor(c.h, c.k, c.l);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(r.userMatrix[i], c.m[i], 6e-5) << "element " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Primaries, KnownPrimaries,
    ::testing::Values(
        MatrixCase{1, 1, 1, {0.5774, -0.7071, 0.4082, 0.5774, 0.7071, 0.4082, 0.5774, 0.0, -0.8165}},
        MatrixCase{1, 1, 3, {0.3015, -0.7071, 0.6396, 0.3015, 0.7071, 0.6396, 0.9045, 0.0, -0.4264}},
        MatrixCase{2, 2, 3, {0.4851, -0.7071, 0.5145, 0.4851, 0.7071, 0.5145, 0.7276, 0.0, -0.6860}},
        MatrixCase{1, -1, 1, {0.5774, -0.4082, 0.7071, -0.5774, 0.4082, 0.7071, 0.5774, 0.8165, 0.0}},
        MatrixCase{0, 0, 2, {0, 1, 0, 0, 0, 1, 1, 0, 0}},
        MatrixCase{0, 0, -2, {0, 1, 0, 0, 0, 1, 1, 0, 0}},
        MatrixCase{0, 4, 0, {0, 0, 1, 1, 0, 0, 0, 1, 0}},
        MatrixCase{2, 2, 0, {0.7071, -0.7071, 0, 0.7071, 0.7071, 0, 0, 0, 1}}));

// Every primary with indices in -3..3 gets an orthonormal frame whose first axis is the primary
// reflection direction (the positive axis when only one index is non-zero).
TEST(UserMatrixFrame, OrthonormalAndFirstAxisAlongPrimary)
{
    constexpr double kTol = 1e-6;
    for (int h = -3; h <= 3; ++h) {
        for (int k = -3; k <= 3; ++k) {
            for (int l = -3; l <= 3; ++l) {
                if (h == 0 && k == 0 && l == 0) continue;
                SCOPED_TRACE("primary " + std::to_string(h) + " " + std::to_string(k) + " " +
                             std::to_string(l));
                const InputStruct r = MatrixFor(h, k, l);
                const Vec c[3] = {Column(r, 0), Column(r, 1), Column(r, 2)};
                for (int i = 0; i < 3; ++i) {
                    for (int j = i; j < 3; ++j) EXPECT_NEAR(Dot(c[i], c[j]), i == j, kTol) << i << j;
                }

                const int zeros = (h == 0) + (k == 0) + (l == 0);
                const double len = std::sqrt(double(h * h + k * k + l * l));
                const Vec along = zeros == 2 ? Vec{double(h != 0), double(k != 0), double(l != 0)}
                                             : Vec{h / len, k / len, l / len};
                for (int i = 0; i < 3; ++i) EXPECT_NEAR(c[0][i], along[i], kTol) << "row " << i;

                // With all indices non-zero the frame is left-handed, otherwise right-handed.
                const double sense = zeros == 0 ? -1.0 : 1.0;
                const Vec c12 = Cross(c[0], c[1]);
                for (int i = 0; i < 3; ++i) EXPECT_NEAR(c12[i], sense * c[2][i], kTol) << "row " << i;
            }
        }
    }
}

}  // namespace
