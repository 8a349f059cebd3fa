// Whole runs of the program driven through its dialogue: what is accepted, what is refused, and
// that a refusal leaves no output file behind.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "kelto_run.h"

// Structure 5 ends the run at once, without a message.
TEST(Dialogue, StructureFiveEndsTheRunBeforeTheNextPrompt)
{
    const KeltoRun run = RunKelto("5\n", FreshFolder("structure5"));
    EXPECT_TRUE(run.status == 1 && run.output.ends_with("your crystal structure:") && !HasAnyOutputFile(run)) << run.output;
}

// A person answers each prompt after seeing it: every prompt is out before kelto waits for its answer.
TEST(Dialogue, EachPromptIsShownBeforeItsAnswerIsRead)
{
    int input = -1, output = -1;
    const pid_t pid = StartKelto("", FreshFolder("prompts"), "run", &output, &input);
    std::istringstream answers(Answers().Text());
    std::string shown, answer;
    for (int prompt = 1; std::getline(answers, answer); ++prompt) {
        while (Count(shown, " Enter the ") < prompt) {
            pollfd ready{output, POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 5000), 1) << "no prompt " << prompt << " after:\n" << shown;
            char buffer[4096];
            const ssize_t n = ::read(output, buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        answer += "\n";
        ASSERT_EQ(::write(input, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    }
    ::close(input);
    EXPECT_EQ(FinishKelto(pid, output), 0);
}

// Every refusal: its message, the error line, status 1 and no output file. Each case sets one
// answer (by its number in the dialogue, from 0) of the silicon run. The coefficient files: one
// without SI, one that ends in its header (the symbol is upper-cased only once compared), records
// that are not nine numbers, names that lead nowhere, names that are no regular file, and files
// that are there but cannot be opened (a folder, one without read permission: root reads it all
// the same, so that row is left out for root).
TEST(Dialogue, AnswersThatAreRefused)
{
    const std::filesystem::path folder = FreshFolder("refused_tables");
    const std::string header = "f0 table\nfour-Gaussian coefficients\nfor tests\nkey a1 b1 ...\n", fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto table = [&](const std::string& name, const std::string& body) {
        WriteWholeFile(folder / name, body);
        return (folder / name).string();
    };
    const std::string unreadable = table("unreadable", header + "Si 1 2 3 4 5 6 7 8 9\n");
    ASSERT_EQ(::chmod(unreadable.c_str(), 0), 0);
    const struct { int answer; std::string text, message; } cases[] = {
        {0, "7", "The crystal structure must be 1, 2, 3 or 4 (5 exits), not 7\n"},
        {0, "0 and words", "The crystal structure must be 1, 2, 3 or 4 (5 exits), not 0\n"},
        {0, "4.5", "No valid answer for the crystal structure number\n"},
        {1, std::string(380, 'f'), "No valid answer for the scattering-coefficient file"},
        {1, std::string(379, 'f'), "File with f0 data (" + std::string(379, 'f') + ") cannot be opened: File name too long\n"},  // the longest that fits
        {1, table("ge", header + "Ge 1 2 3 4 5 6 7 8 9\n"), "Symbol SI not found\n"},
        {1, table("short", "f0 table\n"), "Symbol si not found\n"},
        {1, table("comma", header + "Si 6,2915 2.4386\n"), "The record SI on line 5 of " + (folder / "comma").string() +
                                                             " does not hold nine numbers: \"6,2915\" is not a number\n"},
        {1, table("cut", header + "Si 1 2\n"), "does not hold nine numbers: the file ends after 2\n"},
        {1, folder.string(), "File with f0 data (" + folder.string() + ") cannot be opened: Is a directory\n"},
        {1, unreadable, "File with f0 data (" + unreadable + ") cannot be opened: Permission denied\n"},
        {1, unreadable + "/si", "File with f0 data (" + unreadable + "/si) doesn't exist\n"},  // a file as a folder
        {1, fifo, "File with f0 data (" + fifo + ") is not a regular file\n"},
        {2, "abc", "No valid answer for the lattice parameter a\n"},
        {2, "0", "lattice parameter a must be a positive finite number, not 0.000000\n"},
        {2, "1" + std::string(99'999, '0'), "lattice parameter a must be a positive finite number, not inf\n"},
        {3, "2147483648", "No valid answer for the maximum Miller index H\n"}, {4, "-", "No valid answer for the maximum Miller index K\n"},
        {6, "inf", "wavelength lambda must be a positive finite number, not inf\n"},
        {7, std::string(80, 's'), "No valid answer for the crystal symbol"},
        {7, std::string(79, 'q'), "Symbol " + std::string(79, 'Q') + " not found\n"},
        {8, "-180deg", "No valid answer for the minimum psi angle\n"},
        {12, "-99999999999", "No valid answer for the Miller index L"},
        {12, "2.0", "No valid answer for the Miller index L of the primary reflection\n"},
        {12, "0", "The primary reflection 0 0 0 has no reflection frame\n"},
        {12, "8", "The primary reflection 0 0 8 cannot diffract at the wavelength 1.540600 angstrom: "
                  "the longest wavelength at which it can is 1.357750 angstrom\n"},
        {13, "0,02", "No valid answer for the delta lambda of Ewald's sphere\n"},
        {-1, "\xEF\xBB", "No valid answer for the crystal structure number\n"},  // half a byte-order mark
    };
    for (const auto& c : cases) {
        if (c.text == unreadable && ::geteuid() == 0) continue;
        std::istringstream lines(Answers().Text());
        std::string answers, line;
        for (int i = 0; std::getline(lines, line); ++i) answers += (i == c.answer ? c.text : line) + "\n";
        ExpectRefused(RunKelto(c.answer < 0 ? c.text + answers : answers, FreshFolder("refused")), c.message);
    }
}

// The rest of the structure answer's line is discarded however long it is and however it arrives;
// from the file name on, answers may share lines; a byte-order mark before the first is skipped;
// a NUL byte ends the symbol where C reads it ("si").
TEST(Dialogue, AnswersReadTheSameWhateverTheirLayout)
{
    const std::string answers = Answers().Text(), rest = answers.substr(2);  // after "4\n"
    std::string oneLine = rest;
    std::replace(oneLine.begin(), oneLine.end() - 1, '\n', ' ');
    const KeltoRun plain = RunKelto(answers, FreshFolder("plain"));
    const std::string pause = "{ printf '4 and'; sleep 0.3; printf ' more\\n'; cat answers.in; } | {kelto} > stdout.out";
    const std::pair<std::string, std::string> cases[] = {  // the input, and the shell that gives it
        {"4 and some words the flush discards\n" + rest, ""}, {"4\n" + oneLine, ""}, {"4\r\n" + rest, ""},
        {"\xEF\xBB\xBF" + answers, ""}, {"4 " + std::string(5'000, 'x') + "\n" + rest, ""},
        {"4 " + std::string(70'000, 'x') + "\n" + rest, ""},
        {"4\n" + rest.substr(0, rest.find("si\n")) + std::string("si\0zz", 5) + rest.substr(rest.find("si\n") + 2), ""},
        {rest, pause},  // the structure line in two writes of a pipe, a pause between them
    };
    for (const auto& [input, shell] : cases) {
        const KeltoRun run = RunKelto(input, FreshFolder("layout"), "", shell);
        ASSERT_EQ(run.status, 0) << input.substr(0, 80);
        for (const char* name : kOutputNames) EXPECT_EQ(run.File(name), plain.File(name)) << name << " " << input.substr(0, 80);
    }
}

// kMax and lMax are only echoed in the table header: the survey is bounded by hMax alone.
TEST(Dialogue, MaximaKAndLAreOnlyEchoed)
{
    Answers answers;
    answers.hMax = "3", answers.kMax = "1", answers.lMax = "0";
    const std::string dat = RunKelto(answers.Text(), FreshFolder("header")).File("kelto_spaghetti.dat");
    EXPECT_TRUE(dat.find("\n  Hmax=3 Kmax=1 Lmax=0\n") != std::string::npos && dat.find("  3   3   3 ") != std::string::npos);
}

TEST(Dialogue, EveryCutOffAnswerFileIsRefusedWithoutFiles)
{
    const std::string full = Answers().Text();
    for (std::size_t end = 0; end < full.size() - 1; end = full.find('\n', end + 1)) {
        ExpectRefused(RunKelto(full.substr(0, end), FreshFolder("cut")), "No valid answer for ");
    }
}

// NaN and infinite windows or bands are accepted: no crossing satisfies them, nothing breaks. With
// hMax -0 nothing is surveyed: the files hold their headers and preambles only.
TEST(Dialogue, SpecialNumbersAndAnEmptySurvey)
{
    Answers answers;
    answers.psiMin = "nan", answers.deltaLambda = "inf", answers.hMax = "-0", answers.primaryH = "-0", answers.lambda = "1.5";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("special"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.File("kelto_unweg.dat"), "  Psi1    Psi2  Intensity      H   K   L \n");
    EXPECT_TRUE(Count(run.File("kelto_spaghetti.dat"), "\n") == 5 && Count(run.File("kelto_unweg.mac"), "\n") == 18);
    EXPECT_TRUE(run.File("kelto_spaghetti.mac").ends_with("OPlot,a2,a2*0.0+1.500000,LineStyle=3 \nOPlot,a2,a2*0.0+-inf,LineStyle=4 \n"
                                                          "OPlot,a2,a2*0.0+inf,LineStyle=4 \n; \n"));
    EXPECT_TRUE(run.output.ends_with("There are 0 curves...., now calculating intersections\n"));
}
