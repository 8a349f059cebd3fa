// The formatter against the C library's snprintf: every conversion the program writes, over
// millions of values, must come out byte for byte the same.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output/text_format.h"

namespace {

struct Conversion { int width; int precision; };

// Every %f conversion that appears in the program's output.
const Conversion kFixedConversions[] = {
    {6, 2}, {11, 2}, {7, 2}, {6, 4}, {2, 3}, {2, 4}, {8, 4}, {7, 3}, {12, 3}, {3, 0},
    {0, 0}, {2, 0}, {1, 4}, {1, 3}, {2, 2}, {6, 3}, {8, 1}, {0, 6},
};

std::string ByPrintf(double value, Conversion c)
{
    char format[16], text[512];
    std::snprintf(format, sizeof format, "%%%d.%df", c.width, c.precision);
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string ByFormatter(double value, Conversion c)
{
    char text[text_format::kMaxNumberText];
    return std::string(text, text_format::FormatFixed(text, value, c.width, c.precision));
}

// Values that stress the conversion: special values, exact ties at the rounding digit, values
// that widen their field, and random floats and doubles of every magnitude.
std::vector<double> TestValues(int precision, std::mt19937_64& random)
{
    std::vector<double> values = {0.0, -0.0, NAN, -NAN, INFINITY, -INFINITY, DBL_MAX, -DBL_MAX,
                                  DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN, 9007199254740992.0,
                                  9007199254740991.5, -0.001, -0.0049, 0.005, 0.015, 2.5, 3.5,
                                  1e6, -123456789.125, 1e300, 4.35, 0.045, 1.0005, 999.9999999};
    std::uniform_int_distribution<std::int64_t> odd(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    for (int i = 0; i < 20000; ++i) {
        // (2q + 1) / 2^(p + 1) times 10^p ends in exactly .5: a tie that printf rounds to even.
        values.push_back(std::ldexp(static_cast<double>(2 * odd(random) + 1), -(precision + 1)));
        values.push_back(std::ldexp(static_cast<double>(2 * odd(random) + 1), -(precision + 1 + i % 12)));
    }
    std::uniform_real_distribution<double> moderate(-5000.0, 5000.0);
    std::uniform_int_distribution<std::uint64_t> bits;
    std::uniform_int_distribution<std::uint32_t> floatBits;
    for (int i = 0; i < 60000; ++i) {
        values.push_back(moderate(random));
        values.push_back(static_cast<double>(static_cast<float>(moderate(random))));
        const std::uint64_t b = bits(random);
        double any;
        std::memcpy(&any, &b, sizeof any);
        values.push_back(any);
        const std::uint32_t fb = floatBits(random);
        float anyFloat;
        std::memcpy(&anyFloat, &fb, sizeof anyFloat);
        values.push_back(static_cast<double>(anyFloat));
    }
    return values;
}

}  // namespace

TEST(TextFormat, FixedConversionsMatchPrintf)
{
    std::mt19937_64 random(424242);
    long compared = 0;
    for (const Conversion c : kFixedConversions) {
        for (const double value : TestValues(c.precision, random)) {
            const std::string expected = ByPrintf(value, c);
            const std::string actual = ByFormatter(value, c);
            const std::string again = ByFormatter(value, c);  // from the recent-conversion cache
            if (expected != actual || expected != again) {
                FAIL() << "%" << c.width << "." << c.precision << "f of " << std::hexfloat << value
                       << ": printf \"" << expected << "\", formatter \"" << actual << "\" then \""
                       << again << "\"";
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 4'000'000);
}

TEST(TextFormat, IntegerConversionsMatchPrintf)
{
    std::mt19937 random(7);
    std::vector<int> values = {0, 1, -1, 9, 10, -10, 99, 100, -100, 999, 1000, INT_MAX, INT_MIN};
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int> small(-2000, 2000);
    for (int i = 0; i < 100000; ++i) {
        values.push_back(any(random));
        values.push_back(small(random));
    }
    for (const int width : {0, 3}) {
        for (const int value : values) {
            char expected[32], actual[text_format::kMaxNumberText];
            std::snprintf(expected, sizeof expected, width == 3 ? "%3d" : "%d", value);
            const std::size_t n = text_format::FormatInt(actual, value, width);
            ASSERT_EQ(std::string(actual, n), expected) << value;
        }
    }
}

TEST(TextFormat, WriterProducesWholeLinesAsPrintfWould)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    ASSERT_NE(stream, nullptr);
    const char* word = "SI";
    const std::string longWord(20000, 'w');  // longer than the writer's buffer
    {
        text_format::TextWriter out(stream);
        out.Print<"  Chosen Primary Reflection  %d %d %d\t Crystal:%s\n">(0, 0, -2, word);
        out.Print<"%3d %3d %3d  %6.2f %6.2f   %11.2f   %6.2f  %7.2f  %6.2f\t%6.4f\n">(
            1, -1, 1, 14.22f, 59.87f, 12345.67f, 70.53f, 45.0f, -25.53f, 1.5406f);
        out.Print<"[%5s|%s]\n">(word, longWord.c_str());
        for (int i = 0; i < 2000; ++i) out.Print<"b3=(%7.3f-parms.xmin)\n">(i * -0.37);
    }
    std::fclose(stream);

    std::string expected(1 << 16, '\0');
    int n = std::snprintf(expected.data(), expected.size(),
                          "  Chosen Primary Reflection  %d %d %d\t Crystal:%s\n"
                          "%3d %3d %3d  %6.2f %6.2f   %11.2f   %6.2f  %7.2f  %6.2f\t%6.4f\n[%5s|%s]\n",
                          0, 0, -2, word, 1, -1, 1, 14.22, double{59.87f}, double{12345.67f},
                          double{70.53f}, 45.0, double{-25.53f}, double{1.5406f}, word, longWord.c_str());
    expected.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < 2000; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "b3=(%7.3f-parms.xmin)\n", i * -0.37);
        expected += line;
    }
    EXPECT_EQ(std::string(text, size), expected);
    std::free(text);
}
