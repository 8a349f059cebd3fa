// Runs fed with hostile answers and hostile surroundings: whatever arrives, the program ends with
// status 0 after a complete run, or with status 1, a message and no output file after a refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "kelto_run.h"

namespace fs = std::filesystem;

TEST(HostileSurroundings, CoefficientFileThatIsAFolderOrCannotBeNamed)
{
    const fs::path folder = FreshFolder("table_folder");
    fs::create_directory(folder / "table");
    Answers answers;
    answers.factorFile = (folder / "table").string();
    ExpectRefused(RunKelto(answers.Text(), folder),
                  "File with f0 data (" + answers.factorFile + ") doesn't exist\nProgram QOR");

    // A path that runs through a regular file, and a name of control and high bytes.
    for (const std::string& name : {std::string(KELTO_SOURCE_DIR "/README.md/table"),
                                   std::string("\x01\x7f\xfe\xff")}) {
        answers.factorFile = name;
        ExpectRefused(RunKelto(answers.Text(), FreshFolder("table_name")),
                      "File with f0 data (" + name + ") doesn't exist\nProgram QOR");
    }
}

TEST(HostileSurroundings, StandardOutputOnAFullDiskIsAFailure)
{
    const fs::path folder = FreshFolder("stdout_full");
    const KeltoRun run = RunKelto(Answers().Text(), folder, "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(ReadWholeFile(folder / "stderr.out").find("Standard output could not be written"),
              std::string::npos);
}

TEST(HostileAnswers, HundredThousandCharacterAnswersAreRefused)
{
    const std::string digits = "1" + std::string(99'999, '0');
    struct Case { std::string name; Answers answers; std::string message; };
    Case cases[3];
    cases[0] = {"long_name", {}, "No valid answer for the scattering-coefficient file name (one word of at most 379 characters)"};
    cases[0].answers.factorFile = std::string(100'000, 'x');
    cases[1] = {"long_index", {}, "No valid answer for the maximum Miller index H"};
    cases[1].answers.hMax = digits;
    cases[2] = {"long_number", {}, "The lattice parameter a must be a positive finite number, not inf"};
    cases[2].answers.latticeA = digits;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRefused(RunKelto(c.answers.Text(), FreshFolder(c.name)), c.message + "\nProgram QOR");
    }
}

TEST(HostileAnswers, NulByteEndsTheSymbolWhereCReadsIt)
{
    Answers answers;
    answers.symbol = std::string("si\0zz", 5);
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("nul_symbol"));
    ASSERT_EQ(run.status, 0);
    const KeltoRun plain = RunKelto(Answers().Text(), FreshFolder("nul_plain"));
    EXPECT_EQ(run.File("kelto_spaghetti.dat"), plain.File("kelto_spaghetti.dat"));
}

TEST(HostileAnswers, SpecialNumbersWhereTheyAreHarmless)
{
    // NaN and infinite windows or bands are accepted: no crossing satisfies them, nothing breaks.
    Answers answers;
    answers.psiMin = "nan";
    answers.deltaLambda = "inf";
    answers.hMax = "-0";
    answers.primaryH = "-0";
    KeltoRun run = RunKelto(answers.Text(), FreshFolder("special"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.File("kelto_unweg.dat"), "  Psi1    Psi2  Intensity      H   K   L \n");
    EXPECT_NE(run.File("kelto_spaghetti.mac").find("OPlot,a2,a2*0.0+inf,LineStyle=4 \n"),
              std::string::npos);

    answers = Answers();
    answers.psiMax = "inf";
    answers.deltaLambda = "-0";
    run = RunKelto(answers.Text(), FreshFolder("special2"));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.File("kelto_unweg.dat").find(" 1   1   1\n"), std::string::npos);
}

TEST(HostileAnswers, BinaryNoiseEndsInAnOrderlyWay)
{
    std::mt19937 random(20261206);
    for (int trial = 0; trial < 40; ++trial) {
        std::string noise(random() % 600, '\0');
        for (char& c : noise) c = static_cast<char>(random() % 256);
        // Half the trials start like a real run, so that the noise reaches the later prompts.
        if (trial % 2 == 1) noise = "4\n" KELTO_SOURCE_DIR "/data/f0_it1992.txt 5.431 " + noise;
        const KeltoRun run = RunKelto(noise, FreshFolder("noise"));
        SCOPED_TRACE(trial);
        ASSERT_TRUE(run.status == 0 || run.status == 1);
        if (run.status == 1 && run.output.find("Program QOR") != std::string::npos &&
            run.output.find("Output file") == std::string::npos) {
            EXPECT_FALSE(HasAnyOutputFile(run));
        }
    }
}
