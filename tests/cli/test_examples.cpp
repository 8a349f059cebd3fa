// The shipped examples end to end against their reference runs, byte for byte (silicon's rows of
// 1 1 1 were checked by hand: beta 83.9966, psi -38.9966, 128.9966 and -231.0034, calibration
// 4.8576), and as options; and a survey of more than 5000 curves, each of them searched.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kelto_run.h"

// sc, bcc, fcc and diamond: every structure type's reflections, factors and curves.
TEST(Examples, ReferenceRunsAndTheSameAnswersAsOptions)
{
    for (const std::string name : {"silicon", "copper_fcc", "iron_bcc", "polonium_sc"}) {
        std::istringstream example(ReadWholeFile(KELTO_SOURCE_DIR "/examples/" + name + ".txt"));
        std::vector<std::string> a;
        for (std::string line; std::getline(example, line);) a.push_back(line);
        a[1] = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
        std::string text;
        for (const std::string& answer : a) text += answer + "\n";
        const KeltoRun dialogue = RunKelto(text, FreshFolder("dialogue_" + name));
        ASSERT_EQ(dialogue.status, 0) << name;
        const std::string golden = KELTO_SOURCE_DIR "/tests/golden/" + name + "/";
        // A difference is shown line by line.
        EXPECT_EQ(dialogue.output, ReadWholeFile(golden + "stdout.txt")) << name << " standard output";
        for (const char* file : kOutputNames) EXPECT_EQ(dialogue.File(file), ReadWholeFile(golden + file)) << name << " " << file;
        // The options run writes the same files and prints what the dialogue run prints after its last prompt.
        const std::string options = "--structure " + a[0] + " --table " + a[1] + " --lattice " + a[2] + " --hmax " + a[3] +
                                    "," + a[4] + "," + a[5] + " --wavelength " + a[6] + " --symbol " + a[7] + " --psi " +
                                    a[8] + "," + a[9] + " --primary " + a[10] + "," + a[11] + "," + a[12] + " --band " + a[13];
        std::vector<KeltoRun> runs = {RunKelto("", FreshFolder("options_" + name), options)};
        if (name == "silicon") {
            runs.push_back(RunKelto("", FreshFolder("options_script"), "", "KELTO='" KELTO_BINARY "' sh '" KELTO_SOURCE_DIR
                                                                            "/examples/silicon_options.sh' > stdout.out 2> stderr.out"));
        }
        for (const KeltoRun& run : runs) {
            ASSERT_EQ(run.status, 0) << run.errors;
            for (const char* file : kOutputNames) EXPECT_TRUE(run.File(file) == dialogue.File(file)) << name << " " << file;
            EXPECT_TRUE(dialogue.output.ends_with(" Enter the delta lambda of Ewald's sphere:" + run.output)) << name;
        }
    }
}

// Silicon at Mo K-alpha, hMax 20: every curve numbered once in each echo, and the crossings of
// those after the 5000th on their own curve a / sqrt(k2 / cos^2(psi - psi0) + p2), from the indices
// (on 0 0 2: x = l, y = h, z = k, so k2 = (h^2 + k^2 + l^2 - 2l)^2 / (4 (h^2 + k^2)), p2 = 1).
TEST(Examples, EveryCurveOfALargeSurveyIsSearched)
{
    Answers answers;
    answers.hMax = "20", answers.lambda = "0.7107";
    const KeltoRun run = RunKelto(answers.Text(), FreshFolder("mo_kalpha"));
    ASSERT_EQ(run.status, 0);
    std::set<std::array<int, 3>> early, late;  // reflections with a curve before / after the 5000th
    std::map<std::string, long> next;          // the number each kind of echo line expects next
    std::istringstream out(run.output);
    for (std::string line; std::getline(out, line);) {
        for (const std::string kind : {"curve [", "calispe_param[", "Curve "}) {
            if (!line.starts_with(kind)) continue;
            const long n = std::stol(line.substr(kind.size()));
            ASSERT_EQ(n, next[kind]++) << line;
            std::array<int, 3> hkl{};
            const char* indices = line.c_str() + line.size() - 9;
            if (kind == "calispe_param[" && std::sscanf(indices, "%d %d %d", &hkl[0], &hkl[1], &hkl[2]) == 3) {
                (n < 5000 ? early : late).insert(hkl);
            }
        }
    }
    const long curves = next["Curve "];
    EXPECT_TRUE(curves > 5000 && next["curve ["] == curves && next["calispe_param["] == curves) << curves;
    EXPECT_EQ(Count(run.output, "There are " + std::to_string(curves) + " curves"), 1);

    const double a = 5.431f, edges[2] = {0.7107f - 0.01f, 0.7107f + 0.01f};
    std::istringstream rows(run.File("kelto_unweg.dat").substr(42));  // after the header line
    int checked = 0;
    for (double psi[2], intensity; rows >> psi[0] >> psi[1] >> intensity;) {
        int h = 0, k = 0, l = 0;
        rows >> h >> k >> l;
        if (!late.contains({h, k, l}) || early.contains({h, k, l})) continue;
        const double k2 = std::pow(h * h + k * k + l * l - 2 * l, 2) / (4.0 * (h * h + k * k));
        const double psi0 = std::atan2(k, h) * 180 / std::numbers::pi;
        const auto lambda = [&](double at) {
            return a / std::sqrt(k2 / std::pow(std::cos((at - psi0) * std::numbers::pi / 180), 2) + 1);
        };
        for (int i = 0; i < 2; ++i) {  // each azimuth printed to 0.001 degree
            const double slope = std::fabs(lambda(psi[i] + 0.001) - lambda(psi[i] - 0.001)) / 0.002;
            EXPECT_NEAR(lambda(psi[i]), edges[i], slope * 0.0006 + 1e-6) << h << " " << k << " " << l;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}
