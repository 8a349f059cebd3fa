// The command line: options fill the record as the dialogue's answers would, usage errors end the
// run with status 2 before anything is written, and an options run writes what the dialogue run
// with the same answers writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kRequired = "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 ";

struct Parsed {
    int status;
    InputStruct record;
    RunOptions options;
    std::string errors;
};

Parsed Parse(const std::string& line)
{
    std::vector<std::string> words = {"kelto"};
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    Parsed parsed{0, InputStruct{}, RunOptions{}, ""};
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    parsed.status = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &parsed.record, &parsed.options);
    testing::internal::GetCapturedStdout();
    parsed.errors = testing::internal::GetCapturedStderr();
    return parsed;
}

// The answers of an example file, one per line, as command-line options.
std::string OptionsOf(const std::vector<std::string>& a)
{
    return "--structure " + a[0] + " --table " + a[1] + " --lattice " + a[2] + " --hmax " + a[3] + "," +
           a[4] + "," + a[5] + " --wavelength " + a[6] + " --symbol " + a[7] + " --psi " + a[8] + "," + a[9] +
           " --primary " + a[10] + "," + a[11] + "," + a[12] + " --band " + a[13];
}

}  // namespace

TEST(CommandLine, OptionsFillTheRecord)
{
    char hcOverE[64];
    std::snprintf(hcOverE, sizeof hcOverE, "%.17g", kHcKeVAngstrom / 8.04778);
    const struct {
        std::string line;
        int structure, hMax, kMax, lMax, h, k, l;
        float lambda, deltaLambda, psiMin, psiMax;
    } cases[] = {
        {kRequired + "--wavelength 1.5406 --band 0.02", 4, 8, 8, 8, 0, 0, 2, 1.5406f, 0.02f, -180, 180},
        {"--structure FCC --lattice=3.615 --symbol cu --primary -1,1,1 --wavelength=1.5406 --band 0.02 "
         "--psi -90,90 --hmax 5", 3, 5, 5, 5, -1, 1, 1, 1.5406f, 0.02f, -90, 90},
        {"--structure 2 --lattice 2.8665 --symbol Fe --primary 1,1,0 --energy 8.04778 --relative-band 0.01 "
         "--hmax 4,3,-2 --psi=-45.5,1e2", 2, 4, 3, -2, 1, 1, 0, static_cast<float>(kHcKeVAngstrom / 8.04778),
         static_cast<float>(0.01 * static_cast<float>(kHcKeVAngstrom / 8.04778)), -45.5f, 100},
        {"--structure sc --lattice 3.359 --symbol Po --primary 1,0,0 --band 0.02 --wavelength " + std::string(hcOverE),
         1, 5, 5, 5, 1, 0, 0, static_cast<float>(kHcKeVAngstrom / 8.04778), 0.02f, -180, 180},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed p = Parse(c.line);
        ASSERT_EQ(p.status, -1) << p.errors;
        const InputStruct& r = p.record;
        EXPECT_EQ(r.structure, c.structure);
        EXPECT_EQ(std::vector<int>({r.hMax, r.kMax, r.lMax, r.primaryH, r.primaryK, r.primaryL}),
                  std::vector<int>({c.hMax, c.kMax, c.lMax, c.h, c.k, c.l}));
        EXPECT_EQ(r.lambda, c.lambda);
        EXPECT_EQ(r.deltaLambda, c.deltaLambda);
        EXPECT_TRUE(r.psiMin == c.psiMin && r.psiMax == c.psiMax);
        EXPECT_EQ(std::string(r.factorFile), ShippedTable());
    }
    EXPECT_EQ(ShippedTable(), KELTO_SOURCE_DIR "/data/f0_it1992.txt");
}

TEST(CommandLine, UsageErrors)
{
    const struct { std::string line; std::string message; } cases[] = {
        {kRequired + "--wavelength 1.5 --band 0.02 --bogus", "unknown option '--bogus'"},
        {kRequired + "--wavelength 1.5 --band 0.02 extra", "unexpected argument 'extra'"},
        {kRequired + "--wavelength 1.5 --band", "--band"},
        {kRequired + "--wavelength 1.5", "give either --band or --relative-band"},
        {kRequired + "--wavelength 1.5 --energy 8 --band 0.02", "give either --wavelength or --energy"},
        {kRequired + "--band 0.02", "give either --wavelength or --energy"},
        {"--lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02", "--structure is required"},
        {kRequired + "--wavelength 1.5 --band 0,02", "--band: '0,02' is not a number"},
        {"--structure hcp --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02",
         "--structure: 'hcp' is not sc, bcc, fcc, diamond or 1 to 4"},
        {kRequired + "--wavelength 1.5 --band 0.02 --psi 10", "--psi: '10' is not MIN,MAX (two numbers)"},
        {kRequired + "--wavelength 1.5 --band 0.02 --hmax 3,2", "--hmax: '3,2' is not H or H,K,L"},
        {"--structure 4 --lattice 5.431 --symbol Si --primary 0,0,2.0 --wavelength 1.5 --band 0.02",
         "--primary: '0,0,2.0' is not H,K,L (three integers)"},
        {kRequired + "--wavelength 1.5 --band 0.02 -o /nonexistent/folder", "'/nonexistent/folder' is not an existing folder"},
        {kRequired + "--wavelength 1.5 --band 0.02 --at-psi 10", "--at-psi and --energies go with --glitches"},
        {kRequired + "--glitches g.csv --at-psi 10", "--glitches needs --at-psi and --energies"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --band 0.02", "--band has no use with --glitches"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 30,5", "--energies: '30,5' is not EMIN,EMAX with 0 < EMIN < EMAX"},
        {kRequired + "--wavelength 1.5 --band 0.02 --clean 0", "--clean: '0' is not a width above 0 degrees"},
        {kRequired + "--wavelength 1.5 --band 0.02 --events e.csv --psi -inf,0", "--psi: '-inf,0' must be MIN,MAX"},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.line);
        EXPECT_EQ(p.status, 2) << c.line;
        EXPECT_NE(p.errors.find("kelto: " + std::string()), std::string::npos);
        EXPECT_NE(p.errors.find(c.message), std::string::npos) << p.errors;
        EXPECT_TRUE(p.errors.ends_with("\nTry 'kelto --help' for more information.\n")) << p.errors;
    }
    EXPECT_EQ(Parse("--help").status, 0);
    EXPECT_EQ(Parse("--version").status, 0);
}

// Each shipped example: the options run writes the dialogue run's four files, byte for byte, and
// on standard output what the dialogue run prints after its last prompt.
TEST(CommandLine, ExamplesGiveTheDialogueRunsFiles)
{
    for (const char* name : {"silicon", "copper_fcc", "iron_bcc", "polonium_sc"}) {
        SCOPED_TRACE(name);
        std::istringstream example(ReadWholeFile(std::string(KELTO_SOURCE_DIR "/examples/") + name + ".txt"));
        std::vector<std::string> answers;
        for (std::string line; std::getline(example, line);) answers.push_back(line);
        answers[1] = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
        std::string text;
        for (const std::string& answer : answers) text += answer + "\n";
        const KeltoRun dialogue = RunKelto(text, FreshFolder(std::string("dialogue_") + name));
        const KeltoRun options = RunKelto("", FreshFolder(std::string("options_") + name), OptionsOf(answers));
        ASSERT_EQ(dialogue.status, 0);
        ASSERT_EQ(options.status, 0) << options.errors;
        for (const char* file : kOutputNames) EXPECT_TRUE(options.File(file) == dialogue.File(file)) << file;
        EXPECT_TRUE(dialogue.output.ends_with(" Enter the delta lambda of Ewald's sphere:" + options.output));
        if (std::string(name) != "silicon") continue;
        const KeltoRun script = RunKelto("", FreshFolder("options_script"), "",
                                         "KELTO='" KELTO_BINARY "' sh '" KELTO_SOURCE_DIR
                                         "/examples/silicon_options.sh' > stdout.out 2> stderr.out");
        for (const char* file : kOutputNames) EXPECT_TRUE(script.File(file) == dialogue.File(file)) << file;
    }
}

// Refusals name the option; usage errors and refusals write nothing; -o and -q put the files in
// their folder and only a summary on standard output.
TEST(CommandLine, RunsFromOptions)
{
    const struct { std::string line; int status; std::string message; } refused[] = {
        {kRequired + "--wavelength 1.5 --band 0.02 --bogus", 2, "Try 'kelto --help'"},
        {"--structure 4 --lattice 0 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02", 1,
         "The lattice parameter a (--lattice) must be a positive finite number, not 0.000000\n"},
        {"--structure 4 --lattice 5.431 --symbol Xx --primary 0,0,2 --wavelength 1.5 --band 0.02", 1,
         "Symbol XX not found (--symbol)\nProgram QOR exits with error \n"},
        {"--structure 4 --lattice 5.431 --symbol Si --primary 0,0,9 --energy 8.04778 --band 0.02", 1,
         "The primary reflection 0 0 9 (--primary) cannot diffract at the wavelength 1.540601 angstrom "
         "(--energy): the longest wavelength at which it can is 1.206889 angstrom (10.273041 keV)\n"},
    };
    for (const auto& c : refused) {
        const KeltoRun run = RunKelto("", FreshFolder("options_refused"), c.line);
        EXPECT_EQ(run.status, c.status) << c.line;
        EXPECT_NE((run.output + run.errors).find(c.message), std::string::npos) << run.output << run.errors;
        EXPECT_FALSE(HasAnyOutputFile(run));
    }
    const fs::path folder = FreshFolder("options_folder");
    fs::create_directory(folder / "out");
    const KeltoRun run = RunKelto("", folder, "-q -o out " + kRequired + "--hmax 7 --wavelength 1.5406 --band 0.02");
    const KeltoRun dialogue = RunKelto(Answers().Text(), FreshFolder("options_folder_dialogue"));
    ASSERT_EQ(run.status, 0);
    EXPECT_FALSE(HasAnyOutputFile(run));
    for (const char* file : kOutputNames) EXPECT_TRUE(ReadWholeFile(folder / "out" / file) == dialogue.File(file)) << file;
    const auto lines = [&](const char* file) { return std::to_string(std::ranges::count(dialogue.File(file), '\n')); };
    const std::string rows = std::to_string(std::stoi(lines("kelto_spaghetti.dat")) - 5);
    const std::string crossings = std::to_string(std::stoi(lines("kelto_unweg.dat")) - 1);
    EXPECT_EQ(run.output, "kelto: " + rows + " result rows and curves, " + crossings + " band crossings\n"
                          "kelto: wrote out/kelto_spaghetti.dat, out/kelto_spaghetti.mac, "
                          "out/kelto_unweg.dat, out/kelto_unweg.mac\n");
}
