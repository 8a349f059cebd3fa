// The silicon example end to end: the four files and standard output, byte for byte, against the
// reference run kept beside this test. Its rows for the reflection 1 1 1 were checked by hand
// (beta 83.9966, psi -38.9966, 128.9966 and -231.0034, calibration wavelength 4.8576).
#include <gtest/gtest.h>

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

}  // namespace

TEST(SiliconExample, MatchesTheReferenceRunByteForByte)
{
    const KeltoRun run = RunKelto(SiliconAnswers(), FreshFolder("silicon"));
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.output, ReadWholeFile(kGolden + "stdout.txt"));
    for (const char* name : kOutputNames) {
        const std::string expected = ReadWholeFile(kGolden + name);
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_TRUE(run.File(name) == expected) << name << " differs from the reference run";
    }
}

TEST(SiliconExample, ReflectionOneOneOneGivesTheThreeAzimuths)
{
    const KeltoRun run = RunKelto(SiliconAnswers(), FreshFolder("silicon111"));
    ASSERT_EQ(run.status, 0);
    const std::string dat = run.File("kelto_spaghetti.dat");
    EXPECT_NE(dat.find("  1   1   1   14.22  59.42     428118.00    84.00    45.00  -39.00\t4.8576\n"
                       "  1   1   1   14.22  59.42     428118.00    84.00    45.00  129.00\t4.8576\n"
                       "  1   1   1   14.22  59.42     428118.00    84.00  -315.00  -231.00\t4.8576\n"),
              std::string::npos);
}
