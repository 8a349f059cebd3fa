// Whole runs of the program driven through its dialogue: what is accepted, what is refused, and
// that a refusal leaves no output file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

int CountLines(const std::string& text)
{
    int lines = 0;
    for (char c : text) lines += (c == '\n');
    return lines;
}

}  // namespace

TEST(Dialogue, StructureFiveEndsTheRunBeforeTheNextPrompt)
{
    const KeltoRun run = RunKelto("5\n", FreshFolder("structure5"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("your crystal structure:"), std::string::npos);
    EXPECT_EQ(run.output.find("Enter the file"), std::string::npos);
    EXPECT_EQ(run.output.find("Program QOR"), std::string::npos);
    EXPECT_FALSE(HasAnyOutputFile(run));
}

TEST(Dialogue, UnknownStructureNumbersAreAcceptedWithZeroStructureFactor)
{
    for (const char* structure : {"7", "-2"}) {
        Answers answers;
        answers.structure = structure;
        answers.hMax = "2";
        const KeltoRun run = RunKelto(answers.Text(), FreshFolder(std::string("structure") + structure));
        ASSERT_EQ(run.status, 0) << structure;
        // Every family is admitted, and with no structure factor each row shows F and I as 0.
        std::istringstream rows(run.File("kelto_spaghetti.dat"));
        std::string line;
        for (int i = 0; i < 5; ++i) std::getline(rows, line);
        int dataRows = 0;
        while (std::getline(rows, line)) {
            int h = 0, k = 0, l = 0;
            double theta = -1, f = -1, intensity = -1;
            std::istringstream(line) >> h >> k >> l >> theta >> f >> intensity;
            ++dataRows;
            EXPECT_EQ(f, 0.0) << line;
            EXPECT_EQ(intensity, 0.0) << line;
        }
        EXPECT_GT(dataRows, 0);
    }
    Answers none;
    none.structure = "0";
    const KeltoRun run = RunKelto(none.Text(), FreshFolder("structure0"));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("There are 0 curves"), std::string::npos);
}

TEST(Dialogue, ExtraWordsAndAnswersOnOneLineGiveTheSameRun)
{
    const Answers answers;
    const KeltoRun plain = RunKelto(answers.Text(), FreshFolder("plain"));
    ASSERT_EQ(plain.status, 0);

    std::string extraWords = answers.Text();
    extraWords.replace(0, 2, "4 and some words the flush discards\n");
    const KeltoRun extra = RunKelto(extraWords, FreshFolder("extra"));

    std::string oneLine = answers.Text();
    for (std::size_t i = 2; i < oneLine.size() - 1; ++i) {
        if (oneLine[i] == '\n') oneLine[i] = ' ';
    }
    const KeltoRun together = RunKelto(oneLine, FreshFolder("oneline"));

    for (const KeltoRun* run : {&extra, &together}) {
        ASSERT_EQ(run->status, 0);
        for (const char* name : kOutputNames) EXPECT_EQ(run->File(name), plain.File(name)) << name;
    }
}

TEST(Dialogue, TableHeaderShowsTheRunAndTheUpperCasedSymbol)
{
    Answers answers;
    answers.hMax = "3";
    answers.kMax = "1";
    answers.lMax = "0";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("header"));
    ASSERT_EQ(run.status, 0);
    const std::string dat = run.File("kelto_spaghetti.dat");
    EXPECT_EQ(dat.substr(0, dat.find("  H   K   L")),
              "  Chosen Primary Reflection  0 0 2\t Crystal:SI\n"
              "  Hmax=3 Kmax=1 Lmax=0\n"
              "  Wavelentgh(A) =1.541\t Lattice Parameter(A) =5.4310\n"
              "  Chosen Psi Calibration (degres)= 0.000\n");
    // kMax and lMax are only echoed: the survey is bounded by hMax alone.
    answers.kMax = answers.lMax = "3";
    const KeltoRun same = RunKelto(answers.Text(), FreshFolder("header3"));
    const std::string other = same.File("kelto_spaghetti.dat");
    EXPECT_EQ(dat.substr(dat.find("  H   K   L")), other.substr(other.find("  H   K   L")));
    EXPECT_NE(dat.find("  3   3   3 "), std::string::npos);
}

TEST(Dialogue, EveryCutOffAnswerFileIsRefusedWithoutFiles)
{
    const std::string full = Answers().Text();
    std::size_t end = full.find('\n');  // the first answer: the structure number
    for (int answered = 1; answered < 14; ++answered) {
        const std::string cut = full.substr(0, end + 1);
        const KeltoRun run = RunKelto(cut, FreshFolder("cut" + std::to_string(answered)));
        ExpectRefused(run, "No valid answer for ");
        end = full.find('\n', end + 1);
    }
    ExpectRefused(RunKelto("", FreshFolder("cut0")), "No valid answer for the crystal structure");
}

TEST(Dialogue, UnusableAnswersAreRefusedBeforeAnyFileExists)
{
    struct Case {
        const char* name;
        std::function<void(Answers&)> change;
        const char* message;
    };
    const std::string longName(380, 'f');
    const std::string longSymbol(80, 's');
    const std::vector<Case> cases = {
        {"text_for_a", [](Answers& a) { a.latticeA = "abc"; }, "No valid answer for the lattice parameter a"},
        {"a_zero", [](Answers& a) { a.latticeA = "0"; }, "lattice parameter a must be a positive finite"},
        {"a_negative", [](Answers& a) { a.latticeA = "-5.431"; }, "lattice parameter a must be a positive finite"},
        {"a_nan", [](Answers& a) { a.latticeA = "nan"; }, "lattice parameter a must be a positive finite"},
        {"lambda_inf", [](Answers& a) { a.lambda = "inf"; }, "wavelength lambda must be a positive finite"},
        {"lambda_minus_zero", [](Answers& a) { a.lambda = "-0"; }, "wavelength lambda must be a positive finite"},
        {"h_overflow", [](Answers& a) { a.hMax = "2147483648"; }, "No valid answer for the maximum Miller index H"},
        {"l_underflow", [](Answers& a) { a.primaryL = "-99999999999"; }, "No valid answer for the Miller index L"},
        {"sign_only", [](Answers& a) { a.kMax = "-"; }, "No valid answer for the maximum Miller index K"},
        {"primary_000", [](Answers& a) { a.primaryL = "0"; }, "primary reflection 0 0 0"},
        {"long_file", [&](Answers& a) { a.factorFile = longName; }, "No valid answer for the scattering-coefficient file"},
        {"long_symbol", [&](Answers& a) { a.symbol = longSymbol; }, "No valid answer for the crystal symbol"},
    };
    for (const Case& c : cases) {
        Answers answers;
        c.change(answers);
        SCOPED_TRACE(c.name);
        ExpectRefused(RunKelto(answers.Text(), FreshFolder(c.name)), c.message);
    }
}

TEST(Dialogue, LongestAcceptedWordsReachTheCoefficientLookup)
{
    Answers answers;
    answers.factorFile = std::string(379, 'f');
    KeltoRun run = RunKelto(answers.Text(), FreshFolder("file379"));
    ExpectRefused(run, "File with f0 data (" + answers.factorFile + ") doesn't exist\n");

    answers = Answers();
    answers.symbol = std::string(79, 'q');
    run = RunKelto(answers.Text(), FreshFolder("symbol79"));
    ExpectRefused(run, "Symbol " + std::string(79, 'Q') + " not found\n");

    // The largest index is read, not refused; no wavelength reaches such a primary reflection.
    answers = Answers();
    answers.primaryL = "2147483647";
    run = RunKelto(answers.Text(), FreshFolder("bigL"));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("There are 0 curves"), std::string::npos);
}

TEST(Dialogue, FailedLookupLeavesEarlierOutputUntouched)
{
    const fs::path folder = FreshFolder("untouched");
    for (const char* name : kOutputNames) std::ofstream(folder / name) << "earlier run\n";
    Answers answers;
    answers.symbol = "Xx";
    const KeltoRun run = RunKelto(answers.Text(), folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Symbol XX not found\nProgram QOR exits with error \n"), std::string::npos);
    for (const char* name : kOutputNames) EXPECT_EQ(run.File(name), "earlier run\n");
}

TEST(SurveyRun, EmptySurveyWritesHeadersPreamblesAndZeroCurves)
{
    Answers answers;
    answers.hMax = "0";
    answers.lambda = "1.5";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("empty"));
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(CountLines(run.File("kelto_spaghetti.dat")), 5);
    const std::string mac = run.File("kelto_spaghetti.mac");
    EXPECT_EQ(CountLines(mac), 20);
    EXPECT_NE(mac.find("OPlot,a2,a2*0.0+1.500000,LineStyle=3 \n"
                       "OPlot,a2,a2*0.0+1.490000,LineStyle=4 \n"
                       "OPlot,a2,a2*0.0+1.510000,LineStyle=4 \n; \n"),
              std::string::npos);
    EXPECT_EQ(run.File("kelto_unweg.dat"), "  Psi1    Psi2  Intensity      H   K   L \n");
    EXPECT_EQ(CountLines(run.File("kelto_unweg.mac")), 18);
    const std::string tail = "There are 0 curves...., now calculating intersections\n";
    EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
}

TEST(SurveyRun, LimitingSphereIsStrict)
{
    // a 5.431 and lambda 1.5406 put the sphere at N = 49.7: N = 49 is surveyed, N = 50 is not.
    Answers answers;
    answers.structure = "1";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("sphere"));
    ASSERT_EQ(run.status, 0);
    std::istringstream rows(run.File("kelto_spaghetti.dat"));
    std::string line;
    for (int i = 0; i < 5; ++i) std::getline(rows, line);
    int largest = 0;
    while (std::getline(rows, line)) {
        int h = 0, k = 0, l = 0;
        double theta = 0;
        std::istringstream(line) >> h >> k >> l >> theta;
        const int n = h * h + k * k + l * l;
        if (n == 49) {
            EXPECT_DOUBLE_EQ(theta, 83.14) << line;
        }
        if (n == 3) {
            EXPECT_DOUBLE_EQ(theta, 14.22) << line;
        }
        largest = std::max(largest, n);
    }
    EXPECT_EQ(largest, 49);
}

TEST(SurveyRun, OutputFileThatCannotBeCreatedIsNamed)
{
    const fs::path folder = FreshFolder("blocked");
    fs::create_directory(folder / "kelto_unweg.dat");
    const KeltoRun run = RunKelto(Answers().Text(), folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Cannot create output file kelto_unweg.dat"), std::string::npos);
    EXPECT_NE(run.output.find("Program QOR exits with error \n"), std::string::npos);
}

TEST(SurveyRun, FullDiskIsReportedAsAFailure)
{
    const fs::path folder = FreshFolder("full");
    fs::create_symlink("/dev/full", folder / "kelto_spaghetti.mac");
    const KeltoRun run = RunKelto(Answers().Text(), folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("Output file kelto_spaghetti.mac could not be written completely\n"
                              "Program QOR exits with error \n"),
              std::string::npos);
    EXPECT_EQ(run.output.find("kelto_spaghetti.dat could not"), std::string::npos);
}
