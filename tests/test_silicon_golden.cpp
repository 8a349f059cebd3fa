// The silicon example end to end: the four files and standard output, byte for byte, against the
// reference run kept beside this test (its rows for the reflection 1 1 1 were checked by hand:
// beta 83.9966, psi -38.9966, 128.9966 and -231.0034, calibration wavelength 4.8576), and a
// survey of more than 5000 curves, each of them searched.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>

#include "kelto_run.h"

namespace {

// The shipped answers, with the coefficient file named by its full path so that the run can take
// place in a folder of its own.
std::string SiliconAnswers()
{
    std::istringstream example(ReadWholeFile(KELTO_SOURCE_DIR "/examples/silicon.txt"));
    std::string answers, line;
    for (int i = 0; std::getline(example, line); ++i) {
        answers += (i == 1 ? std::string(KELTO_SOURCE_DIR "/data/f0_it1992.txt") : line) + "\n";
    }
    return answers;
}

const std::string kGolden = KELTO_SOURCE_DIR "/tests/golden/silicon/";

// The first line at which `actual` differs from `expected`, with both lines; empty when equal.
std::string FirstDifference(const std::string& actual, const std::string& expected)
{
    if (actual == expected) return "";
    std::istringstream a(actual), e(expected);
    std::string lineA, lineE;
    for (int n = 1;; ++n) {
        const bool moreA = static_cast<bool>(std::getline(a, lineA));
        const bool moreE = static_cast<bool>(std::getline(e, lineE));
        if (moreA != moreE || lineA != lineE) {
            return "line " + std::to_string(n) + ":\n  run:       " + (moreA ? lineA : "(end of file)") +
                   "\n  reference: " + (moreE ? lineE : "(end of file)");
        }
        if (!moreA) return "the line ends differ";
    }
}

}  // namespace

TEST(SiliconExample, MatchesTheReferenceRunByteForByte)
{
    const KeltoRun run = RunKelto(SiliconAnswers(), FreshFolder("silicon"));
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(FirstDifference(run.output, ReadWholeFile(kGolden + "stdout.txt")), "") << "standard output";
    for (const char* name : kOutputNames) {
        const std::string expected = ReadWholeFile(kGolden + name);
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_EQ(FirstDifference(run.File(name), expected), "") << name << " differs from the reference run";
    }
}

// Silicon at Mo K-alpha with hMax 20 records more than 5000 curves: every one is numbered once in
// each echo, and the crossings of the curves recorded after the 5000th are in kelto_unweg.dat, on
// their own dispersion curve lambda(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2), worked out here
// from the indices: on (0 0 2), x = l, y = h, z = k, so k2 = (h^2 + k^2 + l^2 - 2l)^2 /
// (4 (h^2 + k^2)), p2 = 1 and psi0 = atan2(k, h).
TEST(SiliconExample, EveryCurveOfALargeSurveyIsSearched)
{
    Answers answers;
    answers.hMax = "20";
    answers.lambda = "0.7107";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("mo_kalpha"));
    ASSERT_EQ(run.status, 0);
    std::istringstream out(run.output);
    std::map<std::string, long> next;  // the number each kind of echo line expects next
    std::set<std::array<int, 3>> early, late;  // reflections with a curve before / after the 5000th
    long curves = -1;
    for (std::string line; std::getline(out, line);) {
        for (const char* kind : {"curve [", "calispe_param[", "Curve "}) {
            if (!line.starts_with(kind)) continue;
            const long n = std::stol(line.substr(std::strlen(kind)));
            ASSERT_EQ(n, next[kind]++) << line;
            int h = 0, k = 0, l = 0;
            if (std::strcmp(kind, "calispe_param[") == 0 &&
                std::sscanf(line.c_str() + line.size() - 9, "%d %d %d", &h, &k, &l) == 3) {
                (n < 5000 ? early : late).insert({h, k, l});
            }
        }
        std::sscanf(line.c_str(), "There are %ld curves", &curves);
    }
    EXPECT_GT(curves, 5000);
    for (const char* kind : {"curve [", "calispe_param[", "Curve "}) EXPECT_EQ(next[kind], curves) << kind;

    const double a = 5.431f, edges[2] = {0.7107f - 0.01f, 0.7107f + 0.01f};
    std::istringstream rows(run.File("kelto_unweg.dat"));
    std::string line;
    std::getline(rows, line);
    int checked = 0;
    for (double psi[2], intensity; rows >> psi[0] >> psi[1] >> intensity;) {
        int h = 0, k = 0, l = 0;
        rows >> h >> k >> l;
        if (!late.contains({h, k, l}) || early.contains({h, k, l})) continue;
        const double k2 = std::pow(h * h + k * k + l * l - 2 * l, 2) / (4.0 * (h * h + k * k));
        const double psi0 = std::atan2(k, h) * 180 / std::numbers::pi;
        const auto lambda = [&](double at) {
            return a / std::sqrt(k2 / std::pow(std::cos((at - psi0) * std::numbers::pi / 180), 2) + 1);
        };
        for (int i = 0; i < 2; ++i) {  // each azimuth printed to 0.001 degree
            const double slope = std::fabs(lambda(psi[i] + 0.001) - lambda(psi[i] - 0.001)) / 0.002;
            EXPECT_NEAR(lambda(psi[i]), edges[i], slope * 0.0006 + 1e-6) << h << " " << k << " " << l;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}
