// Reflection conditions, structure factor, multiplicity and intensity of one reflection, and the
// index sorting of the survey driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "setup/input_struct.h"
#include "survey/index_sort.h"
#include "survey/intensity.h"
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

// Bragg angle on silicon at Cu K-alpha 1 as the survey driver hands it over: double arithmetic
// on the float parameters, narrowed to float.
float BraggAngle(Hkl x)
{
    const double n = x.h * x.h + x.k * x.k + x.l * x.l;
    return static_cast<float>(std::asin(std::sqrt(n) * 1.5406f / 2.0 / 5.431f));
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

TEST(SortHKL, LargestSmallestAndFormulaMiddle)
{
    // middle = min(max(a, b), c): not the median when c is the smallest (2 3 1).
    const struct { int a, b, c, largest, middle, smallest; } cases[] = {
        {3, 1, 2, 3, 2, 1}, {1, 2, 3, 3, 2, 1}, {2, 3, 1, 3, 1, 1}, {-4, 0, -7, 0, -7, -7}};
    for (const auto& c : cases) {
        int largest = 99, middle = 99, smallest = 99;
        SortHKL(c.a, c.b, c.c, &largest, &middle, &smallest);
        EXPECT_EQ(std::tie(largest, middle, smallest), std::tie(c.largest, c.middle, c.smallest))
            << c.a << " " << c.b << " " << c.c;
    }
}

TEST(StructureFactor, WorkedExampleDiamond)
{
    const struct { Hkl x; double f, intensity; } cases[] = {{{1, 1, 1}, 70.40154, 600910.2},
                                                            {{2, 2, 0}, 88.48139, 465177.4}};
    for (const auto& c : cases) {
        InputStruct r = Silicon({6, 1, 4, 2, 2, 10, 1, 50, 1});
        const float theta = BraggAngle(c.x);
        CalculStrucFactors(4, theta, &r, c.x.h, c.x.k, c.x.l);
        EXPECT_NEAR(r.structureFactor, c.f, 1e-6 * c.f) << c.x;
        CalculIntensity(theta, &r, c.x.h, c.x.k, c.x.l);
        EXPECT_NEAR(r.intensity, c.intensity, 1e-6 * c.intensity) << c.x;
    }
}

// LP(30 deg) = (1 + cos^2 60) / (2 sin^2 30 cos 30) = 1.25 / (2 * 0.25 * 0.8660254) = 2.886751.
TEST(Intensity, MultiplicityOfTheFormTimesLorentzPolarisationAtThirtyDegrees)
{
    const struct { Hkl x; int m; double f; } cases[] = {
        {{1, 1, 1}, 8, 3.0},  {{2, 0, 0}, 6, 1.0},  {{2, 2, 0}, 12, 0.5},  {{2, 2, 1}, 24, 2.0},
        {{3, 1, 1}, 24, 1.5}, {{2, 1, 0}, 24, 1.0}, {{3, 2, 1}, 48, 7.25}, {{4, 2, 0}, 24, 0.0}};
    for (const auto& c : cases) {
        EXPECT_EQ(Multiplicity(c.x.h, c.x.k, c.x.l), c.m) << c.x;
        InputStruct r{};
        r.structureFactor = c.f;
        r.intensity = -1.0;
        CalculIntensity(static_cast<float>(std::numbers::pi / 6.0), &r, c.x.h, c.x.k, c.x.l);
        const double want = c.m * 2.886751 * c.f * c.f;
        EXPECT_NEAR(r.intensity, want, 1e-6 * want) << c.x;
    }
}

}  // namespace
