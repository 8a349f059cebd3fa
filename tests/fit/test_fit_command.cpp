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
const std::string kParts = kExamples + "si220_i0_part1.dat," + kExamples + "si220_i0_part2.dat," + kExamples + "si220_i0_part3.dat";

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
    WriteWholeFile(folder / "comma.csv", ExamplePart(6000, 14000, 1, [](double energy, double i0) {
        std::string text = Printed("%.1f;%.1f\r", energy, i0);
        std::replace(text.begin(), text.end(), '.', ',');
        return text;
    }));
    WriteWholeFile(folder / "change.dat", ExamplePart(6000, 14000, 1, [](double energy, double i0) {
        return Printed("%.1f %.4f\n", energy, 100.0 * (i0 / (175000.0 * (1.0 + 0.03 * (energy - 6000.0) / 1000.0)) - 1.0));
    }));
    WriteWholeFile(folder / "coarse.dat", ExamplePart(6000, 14000, 5, Plain));
    WriteWholeFile(folder / "mixed.csv", "8000,5;100\n8001,5;99\n8002,98\n");
    WriteWholeFile(folder / "shifted.dat", ExamplePart(6000, 14000, 1, [](double energy, double i0) { return Plain(energy + 30.0, i0); }));
}

TEST(FitCommand, FitsTheExampleScanOrSaysWhyNot)
{
    const std::string eV = " --scan-unit eV --energies 6,14", beam = eV + " --divergence 0.0012,0.0006 --at-psi 15";
    const struct { const char* name; std::string arguments; int status; std::string message; bool table; } cases[] = {  // table: fit.csv written
        {"three short scans with one offset", kParts + beam + " --offsets one --fit-table fit.csv", 0, "kelto: fitted psi 15.2", true},
        {"one short scan", kExamples + "si220_i0_part1.dat" + eV + " --divergence 0.0012,0.0006 --fit-table fit.csv", 1,
         "kelto: No significant fit to the dips of " + kExamples + "si220_i0_part1.dat from 6 to 14 keV: at best psi", true},
        {"decimal commas and CR line ends, read from a pipe", "<(cat comma.csv)" + beam, 0, "kelto: fitted psi 15.", false},
        {"a change of I0 in percent", "change.dat" + beam, 0, "read as the change of I0 in percent (I0 = 100 + value)", false},
        {"a coarse scan, fitted as its step allows", "coarse.dat" + eV, 0,
         "kelto: the scan's points lie 5 eV apart: where they fall moves the paired dips' centres by +/- ", false},
        {"commas of two kinds", "mixed.csv" + eV, 1,
         "The measured scan mixed.csv cannot be read: line 3: '8002,98' separates its numbers by commas, while line 1 writes "
         "decimal commas", false},
        {"its energies taken as keV", kExampleScan + " --energies 6,14 --fit-table fit.csv", 1,
         "its energies run from 6000 to 14000 keV; are they in eV? Give --scan-unit eV", false},
        {"a scan in keV taken as eV", "flat.csv" + eV, 1, "are they in keV? Leave out --scan-unit eV", false},
        {"an offset beyond --max-offset", "shifted.dat" + beam, 1,
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

}  // namespace
