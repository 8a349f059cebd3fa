// Orientation matrix of the primary reflection: its columns are the axes of the reflection frame,
// the first along the primary reflection (the positive axis when only one index is non-zero).
#include <gtest/gtest.h>

#include <cstdio>

#include "kelto_run.h"

namespace {

// The matrix block of a run, character for character, beside the golden runs' primaries: H + K = 0
// with L negative gives m33 = -(H + K) / L = +0.0 / L, printed -0.0000.
TEST(UserMatrix, PrintedBlockOfKnownPrimaries)
{
    const struct { const char *h, *k, *l, *m[9]; } cases[] = {  // m11 m12 m13 m21 ... m33
        {"1", "1", "3", {"0.3015", "-0.7071", "0.6396", "0.3015", "0.7071", "0.6396", "0.9045", "0.0000", "-0.4264"}},
        {"1", "-1", "1", {"0.5774", "-0.4082", "0.7071", "-0.5774", "0.4082", "0.7071", "0.5774", "0.8165", "0.0000"}},
        {"1", "-1", "-1", {"0.5774", "0.4082", "0.7071", "-0.5774", "-0.4082", "0.7071", "-0.5774", "0.8165", "-0.0000"}},
        {"0", "0", "-2", {"0.0000", "1.0000", "0.0000", "0.0000", "0.0000", "1.0000", "1.0000", "0.0000", "0.0000"}},
        {"0", "4", "0", {"0.0000", "0.0000", "1.0000", "1.0000", "0.0000", "0.0000", "0.0000", "1.0000", "0.0000"}},
        {"0", "-1", "2", {"0.0000", "0.0000", "1.0000", "-0.4472", "-0.8944", "0.0000", "0.8944", "-0.4472", "0.0000"}},
        {"2", "0", "-1", {"0.8944", "-0.4472", "0.0000", "0.0000", "0.0000", "1.0000", "-0.4472", "-0.8944", "0.0000"}},
    };
    for (const auto& c : cases) {
        Answers answers;
        answers.hMax = "1", answers.primaryH = c.h, answers.primaryK = c.k, answers.primaryL = c.l;
        const KeltoRun run = RunKelto(answers.Text(), FreshFolder("matrix"));
        char block[256];
        std::snprintf(block, sizeof block, "\nUserMatrix:\nm11= %8s  m12= %8s  m13= %8s\nm21= %8s  m22= %8s  m23= %8s\n"
                      "m31= %8s  m32= %8s  m33= %8s\n", c.m[0], c.m[1], c.m[2], c.m[3], c.m[4], c.m[5], c.m[6], c.m[7], c.m[8]);
        EXPECT_NE(run.output.find(block), std::string::npos) << c.h << " " << c.k << " " << c.l << ":\n" << run.output;
        // Every curve's p2 is |H|^2 / 4 of the primary reflection.
        const int h = std::stoi(c.h), k = std::stoi(c.k), l = std::stoi(c.l), curves = Count(run.output, "curve [");
        std::snprintf(block, sizeof block, "]:\tp2 (%6.2f)", (h * h + k * k + l * l) / 4.0);
        EXPECT_TRUE(curves > 0 && Count(run.output, block) == curves) << c.h << " " << c.k << " " << c.l;
    }
}

}  // namespace
