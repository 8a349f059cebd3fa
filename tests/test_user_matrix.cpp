// Orientation matrix of the primary reflection: its columns are the axes of the reflection frame,
// the first along the primary reflection.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "kelto_run.h"

#include "run_record.h"

namespace {

// The matrix block of a run, character for character: the worked primaries, and H + K = 0 with L
// negative, whose m33 = -(H + K) / L is +0.0 / L, printed -0.0000.
TEST(UserMatrix, PrintedBlockOfKnownPrimaries)
{
    const struct { const char *h, *k, *l, *m[9]; } cases[] = {  // m11 m12 m13 m21 ... m33
        {"1", "1", "1", {"0.5774", "-0.7071", "0.4082", "0.5774", "0.7071", "0.4082", "0.5774", "0.0000", "-0.8165"}},
        {"1", "1", "3", {"0.3015", "-0.7071", "0.6396", "0.3015", "0.7071", "0.6396", "0.9045", "0.0000", "-0.4264"}},
        {"2", "2", "3", {"0.4851", "-0.7071", "0.5145", "0.4851", "0.7071", "0.5145", "0.7276", "0.0000", "-0.6860"}},
        {"1", "-1", "1", {"0.5774", "-0.4082", "0.7071", "-0.5774", "0.4082", "0.7071", "0.5774", "0.8165", "0.0000"}},
        {"1", "-1", "-1", {"0.5774", "0.4082", "0.7071", "-0.5774", "-0.4082", "0.7071", "-0.5774", "0.8165", "-0.0000"}},
        {"0", "0", "-2", {"0.0000", "1.0000", "0.0000", "0.0000", "0.0000", "1.0000", "1.0000", "0.0000", "0.0000"}},
        {"0", "4", "0", {"0.0000", "0.0000", "1.0000", "1.0000", "0.0000", "0.0000", "0.0000", "1.0000", "0.0000"}},
        {"2", "2", "0", {"0.7071", "-0.7071", "0.0000", "0.7071", "0.7071", "0.0000", "0.0000", "0.0000", "1.0000"}},
    };
    for (const auto& c : cases) {
        Answers answers;
        answers.hMax = "0";
        answers.primaryH = c.h, answers.primaryK = c.k, answers.primaryL = c.l;
        const KeltoRun run = RunKelto(answers.Text(), FreshFolder("matrix"));
        char block[256];
        std::snprintf(block, sizeof block,
                      "\nUserMatrix:\nm11= %8s  m12= %8s  m13= %8s\nm21= %8s  m22= %8s  m23= %8s\n"
                      "m31= %8s  m32= %8s  m33= %8s\n",
                      c.m[0], c.m[1], c.m[2], c.m[3], c.m[4], c.m[5], c.m[6], c.m[7], c.m[8]);
        EXPECT_NE(run.output.find(block), std::string::npos) << c.h << " " << c.k << " " << c.l
                                                             << ":\n" << run.output;
    }
}

// Every primary in -3..3 gets an orthonormal frame, its first axis along the primary (the positive
// axis when one index only is non-zero), left-handed when all indices are non-zero.
TEST(UserMatrix, OrthonormalFrameAlongEveryPrimary)
{
    for (int n = 0; n < 7 * 7 * 7; ++n) {
        const int h = n / 49 - 3, k = n / 7 % 7 - 3, l = n % 7 - 3;
        if (h == 0 && k == 0 && l == 0) continue;
        SCOPED_TRACE(testing::Message() << "primary " << h << " " << k << " " << l);
        const InputStruct r = RunRecord(5.431f, 1.5406f, h, k, l);
        const auto m = [&r](int row, int col) { return double{r.userMatrix[3 * row + col]}; };
        const int zeros = (h == 0) + (k == 0) + (l == 0);
        const double len = std::sqrt(h * h + k * k + l * l);
        const double along[3] = {zeros == 2 ? h != 0 : h / len, zeros == 2 ? k != 0 : k / len,
                                 zeros == 2 ? l != 0 : l / len};
        const double sense = zeros == 0 ? -1.0 : 1.0;
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(m(i, 0), along[i], 1e-6) << "axis 1, row " << i;
            for (int j = i; j < 3; ++j)
                EXPECT_NEAR(m(0, i) * m(0, j) + m(1, i) * m(1, j) + m(2, i) * m(2, j), i == j, 1e-6)
                    << "axes " << i << j;
            const int p = (i + 1) % 3, q = (i + 2) % 3;  // axis 1 x axis 2 = sense axis 3
            EXPECT_NEAR(m(p, 0) * m(q, 1) - m(q, 0) * m(p, 1), sense * m(i, 2), 1e-6) << "row " << i;
        }
    }
}

}  // namespace
