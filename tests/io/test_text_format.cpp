// The formatter against the C library's snprintf: every %f conversion the program writes, over
// millions of values, comes out byte for byte the same. The runs' golden files carry %d and %s.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/text_format.h"

namespace {

// Special values, exact ties at the rounding digit (printf rounds them to even), values that
// widen their field, and random floats and doubles of every magnitude.
std::vector<double> TestValues(int precision, std::mt19937_64& random)
{
    std::vector<double> values = {0.0, -0.0, NAN, -NAN, INFINITY, -INFINITY, DBL_MAX, -DBL_MAX, DBL_MIN, DBL_TRUE_MIN,
                                  -DBL_TRUE_MIN, 9007199254740992.0, 9007199254740991.5, -0.001, -0.0049, 0.005, 0.015,
                                  2.5, 3.5, 1e6, -123456789.125, 1e300, 4.35, 0.045, 1.0005, 999.9999999};
    std::uniform_int_distribution<std::int64_t> odd(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    std::uniform_real_distribution<double> moderate(-5000.0, 5000.0);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int i = 0; i < 20000; ++i) {
        // (2q + 1) / 2^(p + 1) times 10^p ends in exactly .5.
        values.push_back(std::ldexp(static_cast<double>(2 * odd(random) + 1), -(precision + 1 + i % 12)));
        values.push_back(moderate(random));
        values.push_back(static_cast<double>(static_cast<float>(moderate(random))));
        const std::uint64_t b = bits(random);
        double any;
        float anyFloat;
        std::memcpy(&any, &b, sizeof any);
        std::memcpy(&anyFloat, &b, sizeof anyFloat);
        values.push_back(any);
        values.push_back(static_cast<double>(anyFloat));
    }
    return values;
}

// The conversion of the given precision, chosen at run time.
std::size_t FormatFixed(char* out, double value, int width, int precision)
{
    using text_format::FormatFixed;
    using Conversion = std::size_t (*)(char*, double, int);
    static constexpr Conversion kByPrecision[] = {FormatFixed<0>, FormatFixed<1>, FormatFixed<2>, FormatFixed<3>,
                                                  FormatFixed<4>, FormatFixed<5>, FormatFixed<6>};
    return kByPrecision[precision](out, value, width);
}

}  // namespace

TEST(TextFormat, ConversionsMatchPrintf)
{
    std::mt19937_64 random(424242);
    // Every %f conversion that appears in the program's output.
    const int fixed[][2] = {{6, 2}, {11, 2}, {7, 2}, {6, 4}, {2, 3}, {2, 4}, {8, 4}, {7, 3}, {12, 3}, {3, 0},
                            {0, 0}, {2, 0}, {1, 4}, {1, 3}, {2, 2}, {6, 3}, {8, 1}, {0, 6}, {9, 3}};
    for (const auto [width, precision] : fixed) {
        char format[16], expected[512], actual[text_format::kMaxNumberText];
        std::snprintf(format, sizeof format, "%%%d.%df", width, precision);
        for (const double value : TestValues(precision, random)) {
            std::snprintf(expected, sizeof expected, format, value);
            for (int again = 0; again < 2; ++again) {  // the second from the recent-conversion cache
                const std::size_t n = FormatFixed(actual, value, width, precision);
                ASSERT_EQ(std::string(actual, n), expected) << format << " of " << std::hexfloat << value;
            }
        }
    }
}
