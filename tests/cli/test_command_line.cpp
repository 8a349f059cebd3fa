// The command line: options fill the record as the dialogue's answers would, usage errors end the
// run with status 2 before anything is written, and an options run writes what the dialogue run
// with the same answers writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "crystal/thermal_expansion.h"
#include "csv_table.h"
#include "setup/units.h"
#include "kelto_run.h"

namespace {

const std::string kRequired = "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 ";

// ParseCommandLine on the words of `line`: its result, the record, and what it wrote on standard error.
int Parse(const std::string& line, InputStruct* record, std::string* errors, RunOptions* parsed = nullptr)
{
    std::istringstream in("kelto " + line);
    const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    RunOptions options;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), record, &options);
    testing::internal::GetCapturedStdout();
    *errors = testing::internal::GetCapturedStderr();
    if (parsed != nullptr) *parsed = options;
    return status;
}

// The options of a line that ParseCommandLine accepts, and the record they fill.
RunOptions Accepted(const std::string& line, InputStruct* record)
{
    RunOptions options;
    std::string errors;
    EXPECT_EQ(Parse(line, record, &errors, &options), -1) << line << errors;
    return options;
}

}  // namespace

TEST(CommandLine, OptionsFillTheRecordOrAreRefused)
{
    const float byEnergy = static_cast<float>(kHcKeVAngstrom / 8.04778);
    const struct { std::string line; std::vector<double> fields; } filled[] = {  // structure, hMax, kMax, lMax, H, K, L, lambda, delta lambda, psi
        {kRequired + "--wavelength 1.5406 --band 0.02", {4, 8, 8, 8, 0, 0, 2, 1.5406f, 0.02f, -180, 180}},
        {"--structure FCC --lattice=3.615 --symbol cu --primary -1,1,1 --wavelength=1.5406 --band 0.02 --psi -90,90 --hmax 5",
         {3, 5, 5, 5, -1, 1, 1, 1.5406f, 0.02f, -90, 90}},
        {"--structure 2 --lattice 2.8665 --symbol Fe --primary 1,1,0 --energy 8.04778 --relative-band 0.01 --hmax 4,3,-2 "
         "--psi=-45.5,1e2", {2, 4, 3, -2, 1, 1, 0, byEnergy, static_cast<float>(0.01 * byEnergy), -45.5f, 100}},
        {"--structure sc --lattice 3.359 --symbol Po --primary 1,0,0 --band 0.02 --wavelength 1.5",
         {1, 5, 5, 5, 1, 0, 0, 1.5f, 0.02f, -180, 180}},
    };
    for (const auto& c : filled) {
        InputStruct r{};
        Accepted(c.line, &r);
        const std::vector<double> got = {double(r.structure), double(r.hMax), double(r.kMax), double(r.lMax), double(r.primaryH),
                                         double(r.primaryK), double(r.primaryL), r.lambda, r.deltaLambda, r.psiMin, r.psiMax};
        EXPECT_EQ(got, c.fields) << c.line;
        EXPECT_EQ(std::string(r.factorFile), KELTO_SOURCE_DIR "/data/f0_it1992.txt");
    }
    // Planning options: the clean search's width and fraction, the psi window and the divergence.
    const struct { std::string line; std::vector<double> plan; } planned[] = {  // width, fraction, psi min, max, divergence,
                                                                                  // max depth, energies' min width
        {kRequired + "--wavelength 1.5 --band 0.02 --events e.csv --clean 5,0.02 --psi -10,20", {5, 0.02, -10, 20, 0, 0, 0.5}},
        {kRequired + "--wavelength 1.5 --band 0.02 --clean 2.5 --divergence 0.1", {2.5, 0.01, -180, 180, 0.1, 0, 0.5}},
        {kRequired + "--wavelength 1.5 --band 0.02 --clean 2.5 --max-depth 0.25 --polarisation pi --surface 0,1,1",
         {2.5, 0.01, -180, 180, 0, 0.25, 0.5}},
        {kRequired + "--clean-energies 8,12 --max-depth 0.1 --min-width 0 --divergence 0.01,0.002", {0, 0.01, -180, 180, 0.01, 0.1, 0}},
    };
    for (const auto& c : planned) {
        InputStruct r{};
        const PlanOptions p = Accepted(c.line, &r).plan;
        EXPECT_EQ((std::vector<double>{p.cleanWidth, p.cleanFraction, p.window.min, p.window.max, p.beam.acrossDegrees, p.maxDepth,
                                       p.cleanMinWidth}), c.plan) << c.line;
    }
    // The beam of the glitch spectrum: its spreads across and along, polarisation, surface and harmonics.
    const struct { std::string options; double across, along; Polarisation polarisation; std::optional<Miller> surface; int harmonics; } beams[] = {
        {"", 0, 0, Polarisation::kSigma, std::nullopt, 1},
        {"--divergence 0.001,0.0005 --polarisation pi --surface 1,1,0 --harmonics 3", 0.001, 0.0005, Polarisation::kPi,
         Miller{1, 1, 0}, 3},
        {"--divergence 0.002 --polarisation unpolarised", 0.002, 0, Polarisation::kUnpolarised, std::nullopt, 1},
    };
    for (const auto& b : beams) {
        InputStruct r{};
        const std::string line = kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 " + b.options;
        const PlanOptions p = Accepted(line, &r).plan;
        EXPECT_TRUE(p.beam.acrossDegrees == b.across && p.beam.alongDegrees == b.along && p.beam.polarisation == b.polarisation &&
                    p.beam.surface == b.surface && p.harmonics == b.harmonics) << line;
    }
    // Harmonic shares over the orders that pass: silicon 1 1 1 forbids 2 2 2, which is said once and
    // takes no share; one share serves every order, or one for each order that passes.
    const std::string si = "--crystal Si --spectrum s.csv --at-psi 10 --energies 8,8.2 --primary ";
    const std::string note = "kelto: 2 2 2 is forbidden: no second-order glitches\n";
    const std::string table = KELTO_SOURCE_DIR "/examples/harmonic_content.dat";
    const std::string shortTable = (FreshFolder("short_share_table") / "shares.dat").string();
    std::ofstream(shortTable) << "8.1 0.1\n9 0.2\n";
    const struct { std::string options; int status; std::string found; bool noted; } shares[] = {
        {"1,1,1 --harmonics 3", 0, "; harmonic content 1.000000, 0.000000, 0.010000\n", true},
        {"1,1,1 --harmonics 4 --harmonic-content 0.2", 0, "; harmonic content 1.000000, 0.000000, 0.200000, 0.200000\n", true},
        {"1,1,1 --harmonics 4 --harmonic-content 0.2,0.05", 0, "; harmonic content 1.000000, 0.000000, 0.200000, 0.050000\n", true},
        {"1,1,1 --harmonics 4 --harmonic-content 0.2,0.05,0.1", 1, "--harmonic-content: '0.2,0.05,0.1' has 3 shares, but 2 2 2 "
         "is forbidden: give one for every harmonic or one for each of 3 3 3 and 4 4 4 (or 0 for 2 2 2)\n", false},
        {"1,1,1 --harmonics 5 --harmonic-content 0.2,0.05", 1, "--harmonic-content: '0.2,0.05' has 2 shares, but 2 2 2 is forbidden: "
         "give one for every harmonic or one for each of 3 3 3, 4 4 4 and 5 5 5\n", false},
        // A share of 0 for the forbidden order says what leaving it out says.
        {"1,1,1 --harmonics 4 --harmonic-content 0,0.2,0.05", 0, "; harmonic content 1.000000, 0.000000, 0.200000, 0.050000\n", true},
        {"1,1,1 --harmonics 3 --harmonic-content 0,0", 0, "; harmonic content 1.000000, 0.000000, 0.000000\n", true},
        {"2,2,0 --harmonics 3 --harmonic-content 0.2,0.05", 0, "; harmonic content 1.000000, 0.200000, 0.050000\n", false},
        // A table of shares against the setting, interpolated to the ends of the scan.
        {"1,1,1 --harmonics 3 --harmonic-content " + table, 0,
         "; harmonic content 1.000000, 0.000000, 0.050000 at 8.000000 keV to 1.000000, 0.000000, 0.048000 at 8.200000 keV\n", true},
        {"1,1,1 --harmonics 3 --harmonic-content " + shortTable, 1,
         "The harmonic content table " + shortTable + " runs from 8.1 to 9 keV: it must cover --energies 8 to 8.2 keV\n", false},
    };
    for (const auto& c : shares) {
        const KeltoRun done = RunKelto("", FreshFolder("harmonic_shares"), si + c.options);
        const std::string said = c.status == 0 ? done.File("s.csv") : done.errors;
        EXPECT_TRUE(done.status == c.status && Count(said, c.found) == 1 && Count(done.errors, note) == (c.noted ? 1 : 0))
            << c.options << "\n" << said << done.errors;
    }
    // An azimuth whole turns away from one within -180 to 180 writes its rows to the last digit; the
    // first lines say the azimuth as given.
    const std::string scan = "--crystal Si --primary 1,1,1 --reference 1,-1,0 --glitches g.csv --spectrum s.csv --energies 8,12 --at-psi ";
    const std::pair<std::string, std::string> turns[] = {{"10", "370"}, {"10", "-350"}, {"-170", "190"}};
    for (const auto& [within, beyond] : turns) {
        const KeltoRun one = RunKelto("", FreshFolder("azimuth_turns"), scan + within);
        const KeltoRun other = RunKelto("", FreshFolder("azimuth_turns"), scan + beyond);
        ASSERT_TRUE(one.status == 0 && other.status == 0) << one.errors << other.errors;
        for (const char* table : {"g.csv", "s.csv"}) {
            const std::string a = one.File(table), b = other.File(table);
            EXPECT_TRUE(a.size() > 1000 && a.substr(a.find('\n')) == b.substr(b.find('\n'))) << within << " and " << beyond << ": " << table;
            EXPECT_NE(b.find("; at psi " + beyond + ".000000 degrees;"), std::string::npos) << b.substr(0, b.find('\n'));
        }
    }
    const std::string run = kRequired + "--wavelength 1.5 --band 0.02 ", fit = "--crystal Si --primary 2,2,0 --fit-glitches f.csv ";
    const std::pair<std::string, std::string> refused[] = {
        {run + "--bogus", "unknown option '--bogus'\n"}, {run + "--enrgy 8", "unknown option '--enrgy' (did you mean --energy?)"},
        {run + "--hamonic-content=0.1", "(did you mean --harmonic-content?)"}, {run + "extra", "unexpected argument 'extra'"},
        {run + "--hmax", "--hmax"}, {kRequired + "--wavelength 1.5", "give either --band or --relative-band"},
        {run + "--energy 8", "give either --wavelength or --energy"}, {kRequired + "--band 0.02", "give either --wavelength or --energy"},
        {"--lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02", "--structure is required"},
        {kRequired + "--wavelength 1.5 --band 0,02", "--band: '0,02' is not a number"},
        {"--structure hcp --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02",
         "--structure: 'hcp' is not sc, bcc, fcc, diamond or 1 to 4"},
        {run + "--psi 10", "--psi: '10' is not MIN,MAX (two numbers)"}, {run + "--hmax 3,2", "--hmax: '3,2' is not H or H,K,L"},
        {"--structure 4 --lattice 5.431 --symbol Si --primary 0,0,2.0 --wavelength 1.5 --band 0.02", "--primary: '0,0,2.0' is not H,K,L"},
        {run + "-o /nonexistent/folder", "'/nonexistent/folder' is not an existing folder"},
        {run + "--at-psi 10", "--at-psi and --energies go with --glitches, --spectrum or --fit-glitches (and --energies with --glitch-map)"},
        {kRequired + "--glitches g.csv --at-psi 10", "--glitches needs --at-psi and --energies"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --band 0.02", "--band has no use with --glitches"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 30,5", "--energies: '30,5' is not EMIN,EMAX with 0 < EMIN < EMAX"},
        {run + "--clean 0", "--clean: '0' is not a width above 0 degrees"},
        {run + "--events e.csv --psi -inf,0", "--psi: '-inf,0' is not MIN,MAX with MIN below MAX"},
        {run + "--psi 10,10", "--psi: '10,10' is not MIN,MAX with MIN below MAX"},
        {run + "--events e.csv --psi -3000,3000", "--psi: '-3000,3000' must be MIN,MAX with MIN below MAX, at most 3600"},
        {kRequired + "--wavelength 1.5 --band 0", "--band: '0' is not a positive finite number"},
        {kRequired + "--wavelength 1.5 --relative-band -0.01", "--relative-band: '-0.01' is not a positive finite number"},
        {run + "--events e.csv --reference 0,0,-4", "--reference: '0,0,-4' is zero or parallel to the primary"},
        {run + "--reference 1,0,0", "--reference has no use without a planning option"},
        {run + "--clean 5 --divergence -1", "--divergence: '-1' is not one or two numbers of degrees from 0 to 90"},
        {run + "--clean 5 --divergence 0.1,inf", "--divergence: '0.1,inf' is not one or two numbers"},
        {run + "--clean 5 --divergence 1,2,3", "--divergence: '1,2,3' is not ACROSS[,ALONG] (degrees)"},
        {run + "--divergence 1", "--divergence goes with --clean, --clean-energies, --events, --glitches, --spectrum or --glitch-map"},
        {run + "--polarisation pi", "--polarisation goes with --events, --clean, --glitches, --spectrum, --glitch-map or --clean-energies"},
        {run + "--events e.csv --max-depth 0.1", "--max-depth goes with --clean or --clean-energies"},
        {run + "--clean 5,0.02 --max-depth 0.1", "--max-depth and the FRACTION of --clean '5,0.02' are two thresholds: give one"},
        {kRequired + "--clean-energies 8,12,0.05 --max-depth 0.1",
         "--max-depth and the FRACTION of --clean-energies '8,12,0.05' are two thresholds: give one"},
        {run + "--clean 5 --max-depth 1", "--max-depth: '1' is not a share of I0 above 0 and below 1"},
        {run + "--clean 5 --max-depth 0", "--max-depth: '0' is not a share of I0 above 0 and below 1"},
        {run + "--clean 5 --max-depth 0.1,0.2", "--max-depth: '0.1,0.2' is not a number"},
        {run + "--clean 5 --min-width 1", "--min-width has no use with --clean, whose WIDTH is the narrowest window it lists"},
        {run + "--events e.csv --min-width 1", "--min-width goes with --clean-energies"},
        {kRequired + "--clean-energies 8,12 --min-width -1", "--min-width: '-1' is not a finite number of degrees from 0 up"},
        {kRequired + "--clean-energies 8,12 --min-width inf", "--min-width: 'inf' is not a finite number of degrees from 0 up"},
        {run + "--events e.csv --harmonics 2", "--harmonics goes with --glitches, --spectrum or --fit-glitches"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --harmonic-content 0.1", "--harmonic-content goes with --spectrum"},
        {kRequired + "--spectrum s.csv --at-psi 10 --energies 5,30 --harmonic-content 0.1", "--harmonic-content needs --harmonics 2 or more"},
        {kRequired + "--spectrum s.csv --at-psi 10 --energies 5,30 --harmonics 3 --harmonic-content 0.1,0.1,0.1",
         "--harmonic-content: '0.1,0.1,0.1' is not C or C2,...,CN"},
        {kRequired + "--spectrum s.csv --at-psi 10 --energies 5,30 --harmonics 2 --harmonic-content 2", "--harmonic-content: '2' has a share outside 0 to 1"},
        // Numbers that are no shares, not names of a table.
        {kRequired + "--spectrum s.csv --at-psi 10 --energies 5,30 --harmonics 3 --harmonic-content nan,0.1",
         "--harmonic-content: 'nan,0.1' has a share that is not a finite number"},
        {kRequired + "--spectrum s.csv --energies 5,30", "--spectrum needs --at-psi and --energies"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --polarisation circular",
         "--polarisation: 'circular' is not sigma, pi or unpolarised"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --harmonics 10", "--harmonics: '10' is not a whole number from 1 to 9"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --harmonics 0", "--harmonics: '0' is not a whole number from 1 to 9"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --harmonics 2.5", "--harmonics: '2.5' is not N (an integer)"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --surface 0,0,0", "--surface: '0,0,0' is no direction"},
        // The second crystal's azimuth belongs to a double monochromator's energy scans.
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --second-psi 40", "--second-psi is the azimuth of a double monochromator's second crystal: give --monochromator double"},
        {fit + "--energies 6,14 --monochromator double --second-psi 40", "--second-psi goes with --glitches, --spectrum, --glitch-map, --clean-energies or --fit-second"},
        {fit + "--energies 6,14 --fit-second", "--fit-second fits a double monochromator's second crystal: give --monochromator double"},
        {kRequired + "--spectrum s.csv --at-psi 10 --energies 5,30 --monochromator double --second-psi nan", "--second-psi: 'nan' is not an azimuth from -3600 to 3600 degrees"},
        {run + "--events e.csv --windows w.csv", "--windows goes with --clean or --clean-energies"},
        {kRequired + "--glitch-map m.csv", "--glitch-map needs --energies"},
        {kRequired + "--clean-energies 8,12 --energies 5,30", "--energies goes with --glitches, --spectrum, --glitch-map or --fit-glitches"},
        {kRequired + "--clean-energies 8,12 --hmax 5", "--hmax has no use with --clean-energies"},
        {kRequired + "--clean-energies 8,12,1", "--clean-energies: '8,12,1' has a FRACTION outside 0 to below 1"},
        {run + "--clean 2 --windows-shown 3", "--windows-shown goes with --clean-energies"},
        {kRequired + "--clean-energies 8,8.1 --windows-shown -1", "--windows-shown: '-1' is not a whole number from 0 up"},
        {kRequired + "--glitches g.csv --at-psi 10 --energies 5,30 --psi 0,90", "--psi has no use with --glitches alone"},
        // Crystals from CIF files: the planning tables only.
        {"--cif c.cif --structure diamond --primary 0,0,2 --wavelength 1.54 --band 0.02 --events e.csv", "--structure has no use with --cif"},
        {"--crystal GaAs --lattice 5 --primary 0,0,2 --wavelength 1.54 --band 0.02 --events e.csv", "--lattice has no use with --crystal"},
        {"--crystal GaAs --primary 0,0,2 --wavelength 1.54 --band 0.02", "--crystal writes planning tables only"},
        {"--crystal Unobtainium --primary 0,0,2 --clean-energies 8,9", "--crystal: no shipped crystal is called 'Unobtainium' (there are 4H-SiC, diamond, GaAs"},
        // The cell at a temperature: a shipped crystal of known thermal expansion, inside its range.
        {"--crystal Si --primary 1,1,1 --clean-energies 8,9 --temperature 76",
         "--temperature 76: the thermal expansion of Si is known from 77 to 1500 K (Y. Okada & Y. Tokumaru"},
        {"--crystal GaAs --primary 1,1,1 --clean-energies 8,9 --temperature 100",
         "--temperature 100: kelto knows the thermal expansion of Si, Ge, diamond only, not of 'GaAs'"},
        {"--crystal Si --primary 1,1,1 --clean-energies 8,9 --temperature warm", "--temperature: 'warm' is not a number"},
        {"--cif c.cif --primary 1,1,1 --clean-energies 8,9 --temperature 100", "--temperature goes with --crystal"},
        // The measured scan's fit.
        {fit, "kelto: --fit-glitches needs --energies"}, {fit + "--energies 6,14 --energy 8", "--energy has no use with --fit-glitches"},
        {kRequired + "--glitches g.csv --at-psi 1 --energies 6,14 --fit-table fit.csv", "--fit-table goes with --fit-glitches"},
        {fit + "--energies 6,14 --scan-unit ev", "--scan-unit: 'ev' is not keV or eV"},
        {fit + "--energies 6,14 --max-offset 600", "--max-offset: '600' is not a number of eV from 0 to 500"},
        {fit + "--energies 6,14 --offsets both", "--offsets: 'both' is not each or one"},
        {fit + "--energies 6,14 --significance 0.9", "--significance: '0.9' is not a probability from 0.001 to 0.5"},
        {fit + "--energies 6,14 --calibration c.csv", "--calibration goes with --calibrate"},
        {kRequired + "--glitches g.csv --at-psi 1 --energies 6,14 --calibrate", "--calibrate goes with --fit-glitches"},
        {fit + "--energies 6,14 --calibrate --offsets one", "--offsets has no use with --calibrate"},
        // Azimuths beyond ten turns, which the doubles resolve no longer to the degree.
        {kRequired + "--spectrum s.csv --at-psi -1e308 --energies 5,30", "--at-psi: '-1e308' is not an azimuth from -3600 to 3600 degrees"},
        {kRequired + "--glitch-map m.csv --energies 5,30 --psi 3590,3610", "--psi: '3590,3610' must be MIN,MAX with MIN below MAX, at most 3600 degrees apart, each from -3600 to 3600, for planning"},
    };
    for (const auto& [line, message] : refused) {
        InputStruct r{};
        std::string errors;
        EXPECT_EQ(Parse(line, &r, &errors), 2) << line;
        EXPECT_TRUE(errors.starts_with("kelto: ") && errors.find(message) != std::string::npos &&
                    errors.ends_with("\nTry 'kelto --help' for more information.\n")) << errors;
    }
    InputStruct r{};
    std::string ignored;
    EXPECT_TRUE(Parse("--help", &r, &ignored) == 0 && Parse("--version", &r, &ignored) == 0);
}

// Refusals name the option and, like usage errors, write nothing and end without the dialogue's
// closing line; -o and -q put the files in their folder and only a summary on standard output.
TEST(CommandLine, RunsFromOptions)
{
    const struct { std::string line; int status; std::string message; } refused[] = {
        {kRequired + "--wavelength 1.5 --band 0.02 --events ''", 2, "kelto: --events: the value is empty\n"},
        {"--structure 4 --lattice 0 --symbol Si --primary 0,0,2 --wavelength 1.5 --band 0.02", 1,
         "The lattice parameter a (--lattice) must be a positive finite number, not 0.000000\n"},
        {"--structure 4 --lattice 5.431 --symbol Xx --primary 0,0,2 --wavelength 1.5 --band 0.02", 1,
         "Symbol XX not found (--symbol)\n"},
        {"--structure 4 --lattice 5.431 --symbol Si --primary 0,0,9 --energy 8.04778 --band 0.02", 1,
         "The primary reflection 0 0 9 (--primary) cannot diffract at the wavelength 1.540601 angstrom "
         "(--energy): the longest wavelength at which it can is 1.206889 angstrom (10.273041 keV)\n"},
    };
    for (const auto& c : refused) {
        const KeltoRun run = RunKelto("", FreshFolder("options_refused"), c.line);
        EXPECT_TRUE(run.status == c.status && (run.output + run.errors).find(c.message) != std::string::npos &&
                    Count(run.errors, "Program QOR") == 0 && !HasAnyOutputFile(run)) << c.line << "\n" << run.output << run.errors;
    }
    // Planning refusals: an energy range below the primary reflection's cut-off reaches nothing.
    const std::string si111 = "--structure 4 --lattice 5.431 --symbol Si --primary 1,1,1 ";
    const struct { std::string line; std::string message; } planning[] = {
        {si111 + "--glitches g.csv --at-psi 10 --energies 0.5,1",
         "The primary reflection 1 1 1 (--primary) cannot diffract at the wavelength 12.398419 angstrom (--energies)"},
        {si111 + "--clean-energies 0.5,1", "(--clean-energies): the longest wavelength at which it can is 6.271179 angstrom (1.977048 keV)"},
        {si111 + "--glitch-map m.csv --energies 5,30 --clean-energies 1,1.5",
         "No reflection can reach the Ewald sphere from 1.000000 to 1.500000 keV (--clean-energies): the primary reflection "
         "1 1 1 diffracts only above 1.977048 keV\n"},
        // A surface that the primary reflection's beams would meet from inside the crystal.
        {si111 + "--glitches g.csv --at-psi 10 --energies 5,30 --surface -1,-1,-1",
         "The surface normal -1 -1 -1 (--surface) is 180.0 degrees from the primary reflection 1 1 1: its incident beam would "
         "meet the surface from inside the crystal. kelto takes the surface's outward normal, which lies less than 90 degrees "
         "from the primary reflection (a Bragg case); 1,1,1 is this cut\n"},
        {"--crystal quartz --primary 1,0,0 --glitch-map g.csv --energies 8,9 --surface -1,2,0",
         "is 90.0 degrees from the primary reflection 1 0 0: its incident beam would meet the surface from inside the crystal. "
         "kelto takes the surface's outward normal, which lies less than 90 degrees from the primary reflection (a Bragg case)\n"},
        // Runs that count everything that scales: the harmonic orders of a spectrum and of a fit.
        {si111 + "--spectrum g.csv --at-psi 10 --energies 5,100 --harmonics 9",
         "glitches of 9 harmonic orders of SI from 5 to 100 keV): lower --harmonics or narrow --energies\n"},
        {"--crystal Si --primary 2,2,0 --fit-glitches " KELTO_SOURCE_DIR "/examples/si220_i0_scan.dat --scan-unit eV "
         "--energies 6,100 --harmonics 9", "harmonic orders of Si up to 100 keV that the fit matches): lower --harmonics or the top "
         "of --energies\n"},
    };
    for (const auto& c : planning) {
        const KeltoRun run = RunKelto("", FreshFolder("planning_refused"), c.line);
        EXPECT_TRUE(run.status == 1 && run.errors.find(c.message) != std::string::npos && Count(run.errors, "Program QOR") == 0 &&
                    run.output.empty() && !HasAnyOutputFile(run) &&
                    !std::filesystem::exists(run.folder / "g.csv") && !std::filesystem::exists(run.folder / "m.csv"))
            << c.line << "\n" << run.output << run.errors;
    }
    const std::filesystem::path folder = FreshFolder("options_folder");
    std::filesystem::create_directory(folder / "out");
    const KeltoRun run = RunKelto("", folder, "-q -o out " + kRequired + "--hmax 7 --wavelength 1.5406 --band 0.02");
    const KeltoRun dialogue = RunKelto(Answers().Text(), FreshFolder("options_folder_dialogue"));
    ASSERT_EQ(run.status, 0);
    EXPECT_FALSE(HasAnyOutputFile(run));
    for (const char* file : kOutputNames) EXPECT_TRUE(ReadWholeFile(folder / "out" / file) == dialogue.File(file)) << file;
    const auto lines = [&](const char* file) { return std::ranges::count(dialogue.File(file), '\n'); };
    EXPECT_EQ(run.output, "kelto: " + std::to_string(lines("kelto_spaghetti.dat") - 5) + " result rows and curves, " +
                              std::to_string(lines("kelto_unweg.dat") - 1) + " band crossings\nkelto: wrote out/kelto_spaghetti.dat, "
                              "out/kelto_spaghetti.mac, out/kelto_unweg.dat, out/kelto_unweg.mac\n");
    // A table named without a folder goes beside the four files; one with a folder stays where it says.
    const std::string tables[] = {
        "-q -o out " + kRequired + "--hmax 7 --wavelength 1.5406 --band 0.02 --events e.csv --clean 5 --windows ./w.csv",
        "-o out --structure 4 --lattice 5.431 --symbol Si --primary 1,1,1 --glitch-map e.csv --energies 8,9 "
        "--clean-energies 8,8.1 --windows ./w.csv",
    };
    for (const std::string& line : tables) {
        std::filesystem::remove(folder / "w.csv");
        const KeltoRun planned = RunKelto("", folder, line);
        EXPECT_TRUE(planned.status == 0 && planned.output.find("wrote out/e.csv\n") != std::string::npos &&
                    std::filesystem::exists(folder / "out/e.csv") && !std::filesystem::exists(folder / "e.csv") &&
                    std::filesystem::exists(folder / "w.csv") && !std::filesystem::exists(folder / "out/w.csv"))
            << line << "\n" << planned.output << planned.errors;
    }
}

// What a run says, and where: the unit it suspects before the estimate that refused the run, a
// notice on a forbidden primary reflection, a search in which nothing counts, the tables written
// (with or without -q) and the widest windows of --clean-energies with a count of the others.
TEST(CommandLine, MessagesOfRuns)
{
    const std::string si100 = "--structure diamond --lattice 5.431 --symbol Si --primary 1,0,0 --energy 8.048 --relative-band 1.4e-4 ";
    const std::string forbidden = "kelto: the primary reflection 1 0 0 is forbidden (|F| = 0 at any energy): a scan of it shows only "
                                  "multiple-beam (Umweg) intensity";
    enum Stream { kOut, kErr };
    // A folder `small` of 500 kB on a file system of its own (with a folder `sub`), mounted where only
    // the run sees it; the root of a machine without mount namespaces leaves those rows out.
    const std::string small = "[ -n \"$KELTO_NS\" ] || exec env KELTO_NS=1 unshare -m bash \"$0\"; mkdir small && mount -t tmpfs "
                              "-o size=500k tmpfs small && mkdir small/sub && {kelto} > stdout.out 2> stderr.out";
    const bool mounts = std::system("unshare -m bash -c 'mount -t tmpfs tmpfs /mnt' > /dev/null 2>&1") == 0;
    const struct { std::string line; int status; Stream stream; std::string message, absent = "", shell = ""; } cases[] = {
        // Unit hints, first: the reader checks the unit before the sizes.
        {"--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --energy 8000 --band 0.02", 1, kErr,
         "--energy takes keV: is 8000 in eV (8 keV)? The run would write about "},
        {"--structure diamond --lattice 54310 --symbol Si --primary 0,0,2 --energy 8048 --band 0.02", 1, kErr,
         "--energy takes keV: is 8048 in eV (8.048 keV)? --lattice takes angstrom: is 54310 in another unit? The run would "},
        // The free space of every folder the tables go to, those on one file system counted together:
        // a glitch map of some 490 kB fits into small, with the glitches' 80 kB it does not.
        {"--crystal Si --primary 1,1,1 --glitches small/g.csv --glitch-map small/sub/m.csv --at-psi 10 --energies 5,21.8", 1, kErr,
         "into small and small/sub, more than the 512 kB free there (about 4.3e+03 glitch lines of Si from 5 to 21.8 keV", "", small},
        // The predicted spectrum weighed as written, once computed: some 420 kB fit into small, not beside
        // the glitches written there first; some 160 kB of a spectrum with harmonics, in which an estimate
        // before its glitches' depths saw 1.3 MB, fit.
        {"--crystal Si --primary 1,1,1 --spectrum small/s.csv --at-psi 10 --energies 5,26", 0, kErr, "", "", small},
        {"--crystal Si --primary 1,1,1 --glitches small/g.csv --spectrum small/sub/s.csv --at-psi 10 --energies 5,26", 1, kErr,
         "The predicted spectrum of ", "The run would write", small},
        {"-o small --crystal Si --primary 1,1,1 --spectrum s.csv --at-psi 10 --energies 28,29 --harmonics 3", 0, kOut,
         " energies from 28 to 29 keV at psi 10 degrees, lowest ", "", small},
        // A forbidden primary reflection, by the cubic options and by a CIF's symmetry; none for an allowed one.
        {si100 + "--events e.csv -q", 0, kErr, forbidden},
        {"--crystal Si --primary 2,2,2 --energy 8.048 --relative-band 1.4e-4 --clean 1", 0, kErr,
         "kelto: the primary reflection 2 2 2 is forbidden (|F| = 0 at any energy)"},
        {"--crystal Si --primary 1,1,1 --glitch-map m.csv --energies 8,9", 0, kErr, "", "is forbidden"},
        // Nothing counts: said so, instead of a window of the whole circle.
        {si100 + "--clean 4 -q", 0, kOut, "No event counts: no event in the psi window has a strength above 0, so no azimuth from "
                                          "-180.000 to 180.000 degrees is cleaner than another\n", "Clean azimuth windows"},
        {"--structure diamond --lattice 5.431 --symbol Si --primary 1,0,0 --clean-energies 8,8.1,0.01", 0, kOut,
         "No glitch counts from 8.000 to 8.100 keV: no line in the psi window has a strength above 0"},
        {"--crystal Si --primary 0,0,4 --energy 8.048 --relative-band 1.4e-4 --clean 1 --max-depth 0.5 --psi 20,22", 0, kOut,
         "No event counts: none deeper than 0.500000 of I0 reaches into the psi window, so all of it, 20.000 to 22.000 degrees, "
         "is clean\n"},
        // Every table is announced once it has its name, with or without -q.
        {si100 + "--events e.csv --hmax 3", 0, kOut, "\nkelto: 304 multiple-beam events, all of strength 0, wrote e.csv\n"},
        {"--crystal Si --primary 0,0,4 --energy 8.048 --relative-band 1.4e-4 --events e.csv --clean 3 --windows w.csv", 0, kOut,
         "multiple-beam events, wrote e.csv\nkelto: 48 clean windows, wrote w.csv\n"},
        {"--crystal Si --primary 1,1,1 --clean-energies 8,9 --max-depth 0.01 --divergence 0.01 --windows w.csv", 0, kOut,
         "\nkelto: 5 least bad stretches, wrote w.csv\n"},
        // The widest windows, and how many more the table holds.
        {"--crystal Si --primary 1,1,1 --clean-energies 8,8.1", 0, kOut,
         "  (98 more windows from 0.527 to 4.902 degrees wide not shown: --windows-shown 0 prints every one)\n"
         "  (36 clean stretches narrower than 0.500 degrees left out)\n"},
        {"--crystal Si --primary 1,1,1 --clean-energies 8,8.1 --windows-shown 0", 0, kOut, "", "not shown"},
    };
    for (const auto& c : cases) {
        if (!c.shell.empty() && !mounts) continue;
        const KeltoRun run = RunKelto("", FreshFolder("messages"), c.line, c.shell);
        const std::string& said = c.stream == kOut ? run.output : run.errors;
        EXPECT_TRUE(run.status == c.status && said.find(c.message) != std::string::npos &&
                    (c.absent.empty() || said.find(c.absent) == std::string::npos))
            << c.line << "\nstatus " << run.status << "\n" << run.output << run.errors;
    }
}

// --temperature scales the cell, so every glitch of a fixed geometry moves as 1/a: E(T) / E(T0) =
// a(T0) / a(T); at the shipped cell's temperature the table is the one without the option.
TEST(CommandLine, TemperatureMovesGlitchesAsTheCell)
{
    const std::string glitches = "--crystal Si --primary 1,1,1 --reference 1,-1,0 --glitches g.csv --at-psi 10 --energies 8,12";
    const auto table = [&](const std::string& extra) {
        const KeltoRun run = RunKelto("", FreshFolder("temperature"), glitches + extra);
        EXPECT_EQ(run.status, 0) << extra << run.errors;
        return run.File("g.csv");
    };
    const std::string shipped = table(""), anchored = table(" --temperature 295.65");
    EXPECT_EQ(anchored.substr(anchored.find('\n')), shipped.substr(shipped.find('\n')));
    EXPECT_NE(anchored.find("# kelto glitch spectrum: crystal Si at 295.65 K (a 5.431021 angstrom); "), std::string::npos) << anchored;
    const double aRatio = LatticeRatioAt("Si", 120.0);  // a(120 K) / a(295.65 K), about 1 - 2.3e-4
    std::map<std::string, double> warm;
    const auto key = [](const CsvRow& row) { return row.Text("h") + "," + row.Text("k") + "," + row.Text("l") + "/" + row.Text("order"); };
    for (const CsvRow& row : CsvRows(shipped)) warm[key(row)] = row.Number("energy_keV");
    std::size_t matched = 0;
    for (const CsvRow& row : CsvRows(table(" --temperature 120"))) {
        if (!warm.contains(key(row))) continue;  // a glitch that moved across an end of the range
        ++matched;
        EXPECT_NEAR(row.Number("energy_keV") / warm[key(row)], 1.0 / aRatio, 1e-6) << key(row);
    }
    EXPECT_GT(matched, 10u);
}
