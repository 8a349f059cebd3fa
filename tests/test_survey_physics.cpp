// Reflection conditions, structure factor, multiplicity and intensity of one reflection, and the
// index sorting of the survey driver.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>

#include "setup/input_struct.h"
#include "survey/index_sort.h"
#include "survey/intensity.h"
#include "survey/structure_factor.h"

namespace {

struct Hkl {
    int h, k, l;
};

// Bragg angle as the survey driver hands it over: double arithmetic on the float parameters,
// narrowed to float.
float BraggAngle(const InputStruct& r, Hkl x)
{
    const double n = x.h * x.h + x.k * x.k + x.l * x.l;
    return static_cast<float>(std::asin(std::sqrt(n) * r.lambda / 2.0 / r.latticeA));
}

InputStruct Silicon(const float (&coefs)[9])
{
    InputStruct r{};
    r.latticeA = 5.431f;
    r.lambda = 1.5406f;
    for (int i = 0; i < 9; ++i) r.f0Coef[i] = coefs[i];
    return r;
}

const float kWorkedCoefs[9] = {6, 1, 4, 2, 2, 10, 1, 50, 1};
const float kFlatCoefs[9] = {0, 0, 0, 0, 0, 0, 0, 0, 10};

TEST(ConditionOnSphere, ExtinctionRules)
{
    const struct { int structure; Hkl x; int admitted; } cases[] = {
        {1, {1, 0, 0}, 1}, {1, {2, 1, 0}, 1}, {1, {3, 2, 1}, 1},
        {2, {1, 1, 0}, 1}, {2, {2, 0, 0}, 1}, {2, {1, 0, 0}, 0}, {2, {1, 1, 1}, 0}, {2, {2, 1, 0}, 0},
        {3, {1, 1, 1}, 1}, {3, {2, 0, 0}, 1}, {3, {2, 2, 0}, 1}, {3, {3, 1, 1}, 1},
        {3, {1, 0, 0}, 0}, {3, {1, 1, 0}, 0}, {3, {2, 1, 0}, 0},
        {4, {1, 1, 1}, 1}, {4, {2, 2, 0}, 1}, {4, {3, 1, 1}, 1}, {4, {4, 0, 0}, 1}, {4, {4, 2, 2}, 1},
        {4, {2, 0, 0}, 0}, {4, {2, 2, 2}, 0}, {4, {4, 2, 0}, 0}, {4, {2, 1, 0}, 0}, {4, {3, 1, 0}, 0},
        {0, {1, 1, 1}, 0}, {0, {2, 0, 0}, 0},
        {6, {1, 0, 0}, 6}, {6, {2, 1, 0}, 6}, {-1, {1, 0, 0}, -1}, {-1, {1, 1, 1}, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConditionOnSphere(c.structure, c.x.h, c.x.k, c.x.l), c.admitted)
            << "structure " << c.structure << " (" << c.x.h << " " << c.x.k << " " << c.x.l << ")";
    }
}

TEST(Multiplicity, CubicForms)
{
    const struct { Hkl x; int m; } cases[] = {
        {{1, 1, 1}, 8}, {{2, 2, 2}, 8}, {{2, 0, 0}, 6}, {{1, 0, 0}, 6}, {{2, 2, 0}, 12},
        {{2, 2, 1}, 24}, {{3, 1, 1}, 24}, {{2, 1, 0}, 24}, {{4, 2, 0}, 24}, {{3, 2, 1}, 48},
        {{5, 3, 1}, 48},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Multiplicity(c.x.h, c.x.k, c.x.l), c.m) << c.x.h << " " << c.x.k << " " << c.x.l;
    }
}

TEST(SortHKL, LargestSmallestAndFormulaMiddle)
{
    // middle = min(max(a, b), c), which is not the median when c is the smallest (2 3 1, 3 2 1).
    const struct { int a, b, c, largest, middle, smallest; } cases[] = {
        {3, 1, 2, 3, 2, 1}, {1, 2, 3, 3, 2, 1}, {2, 3, 1, 3, 1, 1}, {3, 2, 1, 3, 1, 1},
        {5, 5, 5, 5, 5, 5}, {-4, 0, -7, 0, -7, -7}, {0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        int largest = 99, middle = 99, smallest = 99;
        SortHKL(c.a, c.b, c.c, &largest, &middle, &smallest);
        EXPECT_EQ(std::tie(largest, middle, smallest), std::tie(c.largest, c.middle, c.smallest))
            << c.a << " " << c.b << " " << c.c;
    }
    EXPECT_EQ(max(-3, 2), 2);
    EXPECT_EQ(max(2, -3), 2);
    EXPECT_EQ(min(-3, 2), -3);
    EXPECT_EQ(min(2, -3), -3);
}

TEST(StructureFactor, WorkedExampleDiamond)
{
    const struct { Hkl x; double f, intensity; } cases[] = {
        {{1, 1, 1}, 70.40154, 600910.2},
        {{2, 2, 0}, 88.48139, 465177.4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x.h << " " << c.x.k << " " << c.x.l);
        InputStruct r = Silicon(kWorkedCoefs);
        const float theta = BraggAngle(r, c.x);
        CalculStrucFactors(4, theta, &r, c.x.h, c.x.k, c.x.l);
        EXPECT_NEAR(r.structureFactor, c.f, 1e-6 * c.f);
        CalculIntensity(theta, &r, c.x.h, c.x.k, c.x.l);
        EXPECT_NEAR(r.intensity, c.intensity, 1e-6 * c.intensity);
    }
}

// With a flat f0 = 10 the structure factor is the structure type's factor times 10 times the
// temperature factor exp(-0.117 s^2).
TEST(StructureFactor, FactorOfEachStructureType)
{
    const struct { int structure; Hkl x; double factor; } cases[] = {
        {1, {1, 0, 0}, 1.0}, {1, {2, 1, 0}, 1.0}, {2, {1, 1, 0}, 2.0}, {3, {2, 0, 0}, 4.0},
        {3, {1, 1, 1}, 4.0}, {4, {1, 1, 1}, std::sqrt(32.0)}, {4, {3, 1, 1}, std::sqrt(32.0)},
        {4, {2, 2, 0}, 8.0}, {4, {4, 0, 0}, 8.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "structure " << c.structure << " (" << c.x.h << " "
                                        << c.x.k << " " << c.x.l << ")");
        InputStruct r = Silicon(kFlatCoefs);
        const float theta = BraggAngle(r, c.x);
        const double s = std::sin(theta) / 1.5406;
        CalculStrucFactors(c.structure, theta, &r, c.x.h, c.x.k, c.x.l);
        const double want = c.factor * 10.0 * std::exp(-0.117 * s * s);
        EXPECT_NEAR(r.structureFactor, want, 1e-6 * want);
    }
}

TEST(StructureFactor, UnchangedWhenNothingIsComputed)
{
    const struct { int structure; Hkl x; } cases[] = {
        {0, {1, 1, 1}}, {5, {1, 1, 1}}, {6, {2, 0, 0}}, {-1, {1, 0, 0}},
        {4, {2, 0, 0}}, {4, {2, 1, 0}},  // diamond patterns that are never admitted
    };
    for (const auto& c : cases) {
        InputStruct r = Silicon(kWorkedCoefs);
        r.structureFactor = 123.25;
        CalculStrucFactors(c.structure, BraggAngle(r, c.x), &r, c.x.h, c.x.k, c.x.l);
        EXPECT_EQ(r.structureFactor, 123.25) << "structure " << c.structure;
    }
}

TEST(Intensity, LorentzPolarisationAtThirtyDegrees)
{
    // LP(30 deg) = (1 + cos^2 60) / (2 sin^2 30 cos 30) = 1.25 / (2 * 0.25 * 0.8660254).
    const double lp = 2.886751;
    const float theta = static_cast<float>(std::numbers::pi / 6.0);
    const struct { Hkl x; int m; double f; } cases[] = {
        {{1, 1, 1}, 8, 3.0}, {{2, 0, 0}, 6, 1.0}, {{2, 2, 0}, 12, 0.5}, {{3, 2, 1}, 48, 7.25},
        {{4, 2, 0}, 24, 0.0},  // no structure factor, no intensity
    };
    for (const auto& c : cases) {
        InputStruct r{};
        r.structureFactor = c.f;
        r.intensity = -1.0;
        CalculIntensity(theta, &r, c.x.h, c.x.k, c.x.l);
        const double want = c.m * lp * c.f * c.f;
        EXPECT_NEAR(r.intensity, want, 1e-6 * want) << c.x.h << " " << c.x.k << " " << c.x.l;
    }
}

}  // namespace
