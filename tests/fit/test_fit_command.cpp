// The fit of a measured scan as a user runs it: the shipped example scan, scans in the wrong unit
// or without glitches, and the options that go with the fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "io/run_error.h"
#include "kelto_run.h"

namespace {

const std::string kSilicon220 = "--crystal Si --primary 2,2,0 ";
// Made at psi 15.2 degrees with its energies read 3 eV high (its first lines say so); and three
// short pieces of it, each too short to fix psi.
const std::string kExamples = KELTO_SOURCE_DIR "/examples/";
const std::string kExampleScan = kExamples + "si220_i0_scan.dat";

// A scan of an I0 that only slopes, from 6 to 14 keV.
std::string FlatScan()
{
    std::string text = "energy,I0\n";
    for (int i = 0; i <= 8000; ++i) text += std::to_string(6.0 + i * 0.001) + "," + std::to_string(1000.0 + 0.01 * i) + "\n";
    return text;
}

// The example's points from `from` to `to` eV, every `every`-th, rewritten by `line`(energy, I0).
template <typename Line>
std::string ExamplePart(double from, double to, int every, Line&& line)
{
    std::string text;
    const std::string example = ReadWholeFile(kExampleScan);
    int n = 0;
    for (std::size_t at = 0; at < example.size();) {
        const std::size_t end = example.find('\n', at);
        double energy = 0.0, i0 = 0.0;
        if (std::sscanf(example.c_str() + at, "%lf %lf", &energy, &i0) == 2 && energy >= from && energy <= to && n++ % every == 0) {
            text += line(energy, i0);
        }
        at = end == std::string::npos ? example.size() : end + 1;
    }
    return text;
}

std::string Plain(double energy, double i0) { return std::to_string(energy) + " " + std::to_string(i0) + "\n"; }

// The scans of the cases: the flat one, the example with decimal commas and old Macintosh line
// ends, as a change of I0 in percent, every sixth point of it, a file that mixes decimal commas
// with comma separators, and the example with its energies 30 eV higher still.
void WriteScans(const std::filesystem::path& folder)
{
    WriteWholeFile(folder / "flat.csv", FlatScan());
    WriteWholeFile(folder / "comma.csv", ExamplePart(6000, 10000, 1, [](double energy, double i0) {
        std::string text = Printed("%.1f;%.1f\r", energy, i0);
        std::replace(text.begin(), text.end(), '.', ',');
        return text;
    }));
    WriteWholeFile(folder / "change.dat", ExamplePart(6000, 10000, 1, [](double energy, double i0) {
        return Printed("%.1f %.4f\n", energy, 100.0 * (i0 / (175000.0 * (1.0 + 0.03 * (energy - 6000.0) / 1000.0)) - 1.0));
    }));
    WriteWholeFile(folder / "coarse.dat", ExamplePart(6000, 14000, 5, Plain));
    WriteWholeFile(folder / "mixed.csv", "8000,5;100\n8001,5;99\n8002,98\n");
    WriteWholeFile(folder / "shifted.dat", ExamplePart(6000, 10000, 1, [](double energy, double i0) { return Plain(energy + 30.0, i0); }));
}

TEST(FitCommand, FitsTheExampleScanOrSaysWhyNot)
{
    const std::string eV = " --scan-unit eV --energies 6,14", beam = eV + " --divergence 0.0012,0.0006 --at-psi 15";
    const std::string shortBeam = " --scan-unit eV --energies 6,10 --divergence 0.0012,0.0006 --at-psi 15";
    const struct { const char* name; std::string arguments; int status; std::string message; bool table; } cases[] = {  // table: fit.csv written
        {"one short scan", kExamples + "si220_i0_part2.dat" + eV + " --divergence 0.0012,0.0006 --fit-table fit.csv", 1,
         "kelto: No significant fit to the dips of " + kExamples + "si220_i0_part2.dat from 6 to 14 keV: at best psi", true},
        {"decimal commas and CR line ends, read from a pipe", "<(cat comma.csv)" + shortBeam, 0, "kelto: fitted psi 15.", false},
        {"a change of I0 in percent", "change.dat" + shortBeam, 0, "read as the change of I0 in percent (I0 = 100 + value)", false},
        {"a coarse scan, fitted as its step allows", "coarse.dat" + eV, 0,
         "kelto: the scan's points lie 5 eV apart: where they fall moves the paired dips' centres by +/- ", false},
        {"commas of two kinds", "mixed.csv" + eV, 1,
         "The measured scan mixed.csv cannot be read: line 3: '8002,98' separates its numbers by commas, while line 1 writes "
         "decimal commas", false},
        {"its energies taken as keV", kExampleScan + " --energies 6,14 --fit-table fit.csv", 1,
         "its energies run from 6000 to 14000 keV; are they in eV? Give --scan-unit eV", false},
        {"a scan in keV taken as eV", "flat.csv" + eV, 1, "are they in keV? Leave out --scan-unit eV", false},
        {"an offset beyond --max-offset", "shifted.dat" + shortBeam, 1,
         "eV, beyond --max-offset 25, fits better and significantly: raise --max-offset to take it\n", false},
        {"a chance fit at the bound of the offsets", kExamples + "si220_i0_part3.dat" + beam + " --max-offset 5", 1,
         "eV of --max-offset 5: a larger one may fit; raise --max-offset to look further\n", false},
        {"no glitch in the scan", "flat.csv --energies 6,14 --fit-table fit.csv", 1,
         "kelto: No azimuth explains the dips of flat.csv from 6 to 14 keV: no dip is deeper than the detection threshold", true},
        {"no scan", "missing.csv --energies 6,14", 1, "The measured scan missing.csv cannot be opened: No such file or directory", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = FreshFolder("fit_command");
        WriteScans(folder);
        const KeltoRun run = RunKelto("", folder, kSilicon220 + "--fit-glitches " + c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output << run.errors;
        EXPECT_NE((run.output + run.errors).find(c.message), std::string::npos) << run.output << run.errors;
        EXPECT_EQ(std::filesystem::exists(folder / "fit.csv"), c.table);
    }
}

// The example made for the calibration (tools/make-calibration-scan): silicon 1 1 1 at psi 20.3,
// read back with an angle offset of 0.003 degree and d_ref / d = 1 + 5e-5.
TEST(FitCommand, CalibratesTheExampleScan)
{
    const std::filesystem::path folder = FreshFolder("fit_calibration");
    const std::string scan = kExamples + "si111_readback_scan.dat --scan-unit eV --energies 5,20 --at-psi 20 --calibrate";
    const KeltoRun run = RunKelto("", folder, "--crystal Si --primary 1,1,1 --fit-glitches " + scan + " --calibration cal.csv");
    ASSERT_EQ(run.status, 0) << run.output << run.errors;
    double delta = 0.0, deltaError = 0.0, ratio = 0.0, ratioError = 0.0;
    const std::size_t at = run.output.find("kelto: angle offset ");
    ASSERT_NE(at, std::string::npos) << run.output;
    ASSERT_EQ(std::sscanf(run.output.c_str() + at, "kelto: angle offset %lf +/- %lf degrees, d-spacing ratio %lf +/- %lf", &delta,
                          &deltaError, &ratio, &ratioError), 4) << run.output;
    EXPECT_LT(std::fabs(delta - 0.003), 3.0 * deltaError);
    EXPECT_LT(std::fabs(ratio - (1.0 + 5e-5)), 3.0 * ratioError);
    // Every row's photon energy is the readback's under the printed scale, worked out here: sin(theta
    // + delta) = hc / (2 d_ref E_read), E = hc / (2 d sin theta), d = 5.431020511 / sqrt(3).
    const double d = 5.431020511 / std::sqrt(3.0), hc = 12.398419843320026, radian = std::acos(-1.0) / 180.0;
    const std::string table = ReadWholeFile(folder / "cal.csv");
    const std::size_t header = table.find("readback_keV,photon_keV,readback_minus_photon_eV,error_eV\n");
    ASSERT_NE(header, std::string::npos) << table.substr(0, 400);
    int rows = 0;
    double last = 0.0;
    for (std::size_t line = table.find('\n', header) + 1; line < table.size(); line = table.find('\n', line) + 1) {
        double read = 0.0, photon = 0.0, shift = 0.0, error = 0.0;
        ASSERT_EQ(std::sscanf(table.c_str() + line, "%lf,%lf,%lf,%lf", &read, &photon, &shift, &error), 4);
        const double expected = hc / (2.0 * d * std::sin(std::asin(hc / (2.0 * d * ratio * read)) - delta * radian));
        EXPECT_NEAR(photon, expected, 5e-5) << read;
        EXPECT_NEAR(shift, (read - photon) * 1000.0, 2e-3);
        EXPECT_GT(error, 0.0);
        if (rows > 0) {
            EXPECT_NEAR(read - last, 0.010, 1e-9);
        }
        last = read, ++rows;
    }
    EXPECT_EQ(rows, 1501);  // 5 to 20 keV every 10 eV
}

TEST(FitCommand, NoCalibrationWithoutASignificantFit)
{
    const std::filesystem::path folder = FreshFolder("fit_no_calibration");
    const KeltoRun run = RunKelto("", folder, kSilicon220 + "--fit-glitches " + kExamples + "si220_i0_part1.dat --scan-unit eV "
                                  "--energies 6,14 --calibrate --calibration cal.csv");
    EXPECT_EQ(run.status, 1) << run.output << run.errors;
    EXPECT_EQ(run.output.find("angle offset"), std::string::npos) << run.output;
    const std::string table = ReadWholeFile(folder / "cal.csv");
    EXPECT_NE(table.find("; no calibration: "), std::string::npos) << table;
    EXPECT_TRUE(table.ends_with("readback_keV,photon_keV,readback_minus_photon_eV,error_eV\n")) << table;
}

}  // namespace
