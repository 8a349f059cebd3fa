// Whole runs of the program driven through its dialogue: what is accepted, what is refused, and
// that a refusal leaves no output file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kelto_run.h"

namespace {

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// The rows of kelto_spaghetti.dat after its five header lines.
std::vector<std::string> TableRows(const KeltoRun& run)
{
    std::istringstream in(run.File("kelto_spaghetti.dat"));
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);) rows.push_back(line);
    rows.erase(rows.begin(), rows.begin() + std::min<std::size_t>(5, rows.size()));
    return rows;
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

// Every refusal: its message, the error line, status 1 and no output file.
TEST(Dialogue, AnswersThatAreRefused)
{
    const std::string digits = "1" + std::string(99'999, '0');
    const struct { const char* name; std::function<void(Answers&)> change; std::string message; } cases[] = {
        {"structure_7", [](Answers& a) { a.structure = "7"; }, "The crystal structure must be 1, 2, 3 or 4 (5 exits), not 7\n"},
        {"structure_0", [](Answers& a) { a.structure = "0"; }, "The crystal structure must be 1, 2, 3 or 4 (5 exits), not 0\n"},
        {"structure_minus", [](Answers& a) { a.structure = "-2 words"; }, "must be 1, 2, 3 or 4 (5 exits), not -2\n"},
        {"structure_point", [](Answers& a) { a.structure = "4.5"; }, "No valid answer for the crystal structure number\n"},
        {"text_for_a", [](Answers& a) { a.latticeA = "abc"; }, "No valid answer for the lattice parameter a\n"},
        {"a_zero", [](Answers& a) { a.latticeA = "0"; }, "lattice parameter a must be a positive finite number, not 0.000000\n"},
        {"a_negative", [](Answers& a) { a.latticeA = "-5.431"; }, "lattice parameter a must be a positive finite"},
        {"a_nan", [](Answers& a) { a.latticeA = "nan"; }, "lattice parameter a must be a positive finite number, not nan\n"},
        {"a_huge", [&](Answers& a) { a.latticeA = digits; }, "lattice parameter a must be a positive finite number, not inf\n"},
        {"lambda_inf", [](Answers& a) { a.lambda = "inf"; }, "wavelength lambda must be a positive finite"},
        {"lambda_minus_zero", [](Answers& a) { a.lambda = "-0"; }, "wavelength lambda must be a positive finite"},
        {"h_overflow", [](Answers& a) { a.hMax = "2147483648"; }, "No valid answer for the maximum Miller index H\n"},
        {"h_huge", [&](Answers& a) { a.hMax = digits; }, "No valid answer for the maximum Miller index H\n"},
        {"l_underflow", [](Answers& a) { a.primaryL = "-99999999999"; }, "No valid answer for the Miller index L"},
        {"sign_only", [](Answers& a) { a.kMax = "-"; }, "No valid answer for the maximum Miller index K\n"},
        {"integer_point", [](Answers& a) { a.primaryL = "2.0"; }, "No valid answer for the Miller index L of the primary reflection\n"},
        {"comma_decimal", [](Answers& a) { a.deltaLambda = "0,02"; }, "No valid answer for the delta lambda of Ewald's sphere\n"},
        {"number_and_text", [](Answers& a) { a.psiMin = "-180deg"; }, "No valid answer for the minimum psi angle\n"},
        {"primary_000", [](Answers& a) { a.primaryL = "0"; }, "The primary reflection 0 0 0 has no reflection frame\n"},
        {"primary_008", [](Answers& a) { a.primaryL = "8"; },
         "The primary reflection 0 0 8 cannot diffract at the wavelength 1.540600 angstrom: "
         "the longest wavelength at which it can is 1.357750 angstrom\n"},
        {"primary_huge", [](Answers& a) { a.primaryL = "2147483647"; }, "cannot diffract at the wavelength 1.540600"},
        {"long_file", [](Answers& a) { a.factorFile = std::string(380, 'f'); }, "No valid answer for the scattering-coefficient file"},
        {"huge_file", [](Answers& a) { a.factorFile = std::string(100'000, 'f'); }, "No valid answer for the scattering-coefficient file"},
        {"long_symbol", [](Answers& a) { a.symbol = std::string(80, 's'); }, "No valid answer for the crystal symbol"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Answers answers;
        c.change(answers);
        ExpectRefused(RunKelto(answers.Text(), FreshFolder(c.name)), c.message);
    }
    // Not a byte-order mark: the first answer does not begin with a number.
    ExpectRefused(RunKelto("\xEF\xBB" + Answers().Text(), FreshFolder("half_mark")),
                  "No valid answer for the crystal structure number\n");
}

// The rest of the structure answer's line is discarded however long it is and however it arrives;
// from the file name on, answers may share lines; a byte-order mark before the first is skipped.
TEST(Dialogue, AnswersReadTheSameWhateverTheirLayout)
{
    const std::string answers = Answers().Text();
    const std::string rest = answers.substr(2);  // after "4\n"
    std::string oneLine = rest;
    std::replace(oneLine.begin(), oneLine.end() - 1, '\n', ' ');
    const KeltoRun plain = RunKelto(answers, FreshFolder("plain"));
    ASSERT_EQ(plain.status, 0);
    const struct { const char* name; std::string input; std::string shell; } cases[] = {
        {"extra_words", "4 and some words the flush discards\n" + rest, ""},
        {"one_line", "4\n" + oneLine, ""},
        {"crlf", "4\r\n" + rest, ""},
        {"byte_order_mark", "\xEF\xBB\xBF" + answers, ""},
        {"5k_line", "4 " + std::string(5'000, 'x') + "\n" + rest, ""},
        {"70k_line", "4 " + std::string(70'000, 'x') + "\n" + rest, ""},
        // The structure line arrives in two writes of a pipe, with a pause between them.
        {"split_line", rest, "{ printf '4 and'; sleep 0.3; printf ' more\\n'; cat answers.in; } | "
                             "{kelto} > stdout.out 2> stderr.out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeltoRun run = c.shell.empty() ? RunKelto(c.input, FreshFolder(c.name))
                                             : RunKelto(c.input, FreshFolder(c.name), "", c.shell);
        ASSERT_EQ(run.status, 0) << run.output.substr(0, 600);
        for (const char* name : kOutputNames) EXPECT_EQ(run.File(name), plain.File(name)) << name;
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
    EXPECT_EQ(TableRows(run), TableRows(same));
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
}

TEST(Dialogue, NulByteEndsTheSymbolWhereCReadsIt)
{
    Answers answers;
    answers.symbol = std::string("si\0zz", 5);
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("nul_symbol"));
    ASSERT_EQ(run.status, 0);
    const KeltoRun plain = RunKelto(Answers().Text(), FreshFolder("nul_plain"));
    EXPECT_EQ(run.File("kelto_spaghetti.dat"), plain.File("kelto_spaghetti.dat"));
}

TEST(Dialogue, SpecialNumbersWhereTheyAreHarmless)
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
    EXPECT_TRUE(run.output.ends_with("There are 0 curves...., now calculating intersections\n"));
}

TEST(SurveyRun, LimitingSphereIsStrict)
{
    // a 5.431 and lambda 1.5406 put the sphere at N = 49.7: N = 49 is surveyed, N = 50 is not.
    Answers answers;
    answers.structure = "1";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("sphere"));
    ASSERT_EQ(run.status, 0);
    int largest = 0;
    for (const std::string& line : TableRows(run)) {
        int h = 0, k = 0, l = 0;
        double theta = 0;
        std::istringstream(line) >> h >> k >> l >> theta;
        const int n = h * h + k * k + l * l;
        if (n == 49 || n == 3) {
            EXPECT_DOUBLE_EQ(theta, n == 49 ? 83.14 : 14.22) << line;
        }
        largest = std::max(largest, n);
    }
    EXPECT_EQ(largest, 49);
}
