// Reflection conditions and structure factor of the four structure types. The golden run carries
// the diamond factors, multiplicities and intensities of silicon's families, every form among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "setup/input_struct.h"
#include "survey/structure_factor.h"

namespace {

struct Hkl { int h, k, l; };

std::ostream& operator<<(std::ostream& os, Hkl x) { return os << x.h << " " << x.k << " " << x.l; }

// Silicon at Cu K-alpha 1 with the given coefficients.
InputStruct Silicon(const float (&coefs)[9])
{
    InputStruct r{};
    r.lambda = 1.5406f;
    std::copy(coefs, coefs + 9, r.f0Coef);
    return r;
}

// The Bragg angle on silicon at Cu K-alpha 1 as the survey driver hands it over.
float BraggAngle(Hkl x)
{
    return static_cast<float>(std::asin(std::sqrt(x.h * x.h + x.k * x.k + x.l * x.l) * 1.5406f / 2.0 / 5.431f));
}

// With a constant f0 = 10, F is the factor of the structure type times 10 times the temperature
// factor exp(-0.117 s^2); factor 0: F keeps its earlier value. Other structure numbers come back.
TEST(StructureType, ReflectionConditionAndFactorWithConstantF0)
{
    const double odd = std::sqrt(32.0);
    const struct { int structure; Hkl x; int admitted; double factor; } cases[] = {
        {1, {2, 1, 0}, 1, 1}, {2, {1, 1, 0}, 1, 2}, {2, {2, 0, 0}, 1, 2}, {2, {1, 1, 1}, 0, 2},
        {3, {1, 1, 1}, 1, 4}, {3, {2, 0, 0}, 1, 4}, {3, {1, 0, 0}, 0, 4}, {3, {1, 1, 0}, 0, 4},
        {4, {1, 1, 1}, 1, odd}, {4, {3, 1, 1}, 1, odd}, {4, {2, 2, 0}, 1, 8}, {4, {4, 0, 0}, 1, 8},
        {4, {2, 0, 0}, 0, 0}, {4, {2, 2, 2}, 0, 0}, {4, {2, 1, 0}, 0, 0}, {4, {3, 1, 0}, 0, 0},
        {0, {1, 1, 1}, 0, 0}, {6, {1, 0, 0}, 6, 0}, {-1, {1, 1, 1}, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "structure " << c.structure << ": " << c.x);
        EXPECT_EQ(ConditionOnSphere(c.structure, c.x.h, c.x.k, c.x.l), c.admitted);
        InputStruct r = Silicon({0, 0, 0, 0, 0, 0, 0, 0, 10});
        r.structureFactor = 123.25;
        const float theta = BraggAngle(c.x);
        const double s = std::sin(theta) / 1.5406;
        CalculStrucFactors(c.structure, theta, &r, c.x.h, c.x.k, c.x.l);
        const double want = c.factor == 0.0 ? 123.25 : c.factor * 10.0 * std::exp(-0.117 * s * s);
        EXPECT_NEAR(r.structureFactor, want, 1e-6 * want);
    }
}

}  // namespace
