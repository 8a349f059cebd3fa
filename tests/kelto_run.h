// Runs the kelto program as a user would, with the answers redirected from a file, in a fresh
// working folder, and collects its exit status, standard output and output files.
#pragma once

#include <filesystem>
#include <string>

constexpr const char* kOutputNames[4] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                         "kelto_unweg.dat", "kelto_unweg.mac"};

struct KeltoRun {
    int status = -1;
    std::string output;  // standard output
    std::filesystem::path folder;

    std::string File(const std::string& name) const;
    bool Has(const std::string& name) const;
};

// A fresh, empty working folder for one test.
std::filesystem::path FreshFolder(const std::string& name);

// Runs kelto in `folder` with `answers` on standard input; standard output goes to a file in the
// folder, or to `outputTarget` when one is given (then `output` stays empty).
KeltoRun RunKelto(const std::string& answers, const std::filesystem::path& folder,
                  const std::string& outputTarget = "");

std::string ReadWholeFile(const std::filesystem::path& path);

// True when the run left any of the four output files in its folder.
bool HasAnyOutputFile(const KeltoRun& run);

// Checks a refusal: status 1, `message` on standard output, the error line, no output file.
void ExpectRefused(const KeltoRun& run, const std::string& message);

// The answers of a complete run; the coefficient file is the shipped table.
struct Answers {
    std::string structure = "4";
    std::string factorFile = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
    std::string latticeA = "5.431";
    std::string hMax = "7", kMax = "7", lMax = "7";
    std::string lambda = "1.5406";
    std::string symbol = "si";
    std::string psiMin = "-180", psiMax = "180";
    std::string primaryH = "0", primaryK = "0", primaryL = "2";
    std::string deltaLambda = "0.02";

    // One answer per line, in the order of the prompts.
    std::string Text() const;
};

