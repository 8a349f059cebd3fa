// Runs the kelto program as a user would, with the answers redirected from a file, in a fresh
// working folder, and collects its exit status, standard output and output files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

constexpr const char* kOutputNames[4] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac",
                                         "kelto_unweg.dat", "kelto_unweg.mac"};

struct KeltoRun {
    int status = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
    std::filesystem::path folder;

    std::string File(const std::string& name) const;
    bool Has(const std::string& name) const;
};

// A fresh, empty working folder for one test.
std::filesystem::path FreshFolder(const std::string& name);

// Runs kelto in `folder` with `answers` on standard input and `arguments` on its command line,
// through the bash command `shell`, in which {kelto} stands for the program with its arguments;
// the default reads answers.in (which holds `answers`) and sends standard output and error to
// stdout.out and stderr.out.
KeltoRun RunKelto(const std::string& answers, const std::filesystem::path& folder,
                  const std::string& arguments = "",
                  const std::string& shell = "{kelto} < answers.in > stdout.out 2> stderr.out");

// Starts kelto in `folder` with `answers` (kept in NAME.in), standard output into a pipe whose
// reading end is returned in `output`, standard error into NAME.err; returns its process id.
pid_t StartKelto(const std::string& answers, const std::filesystem::path& folder,
                 const std::string& name, int* output);

// Reads a started run's standard output to its end and returns its exit status.
int FinishKelto(pid_t pid, int output);

std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& text);

// The temporary files of kelto's runs in `folder`.
std::vector<std::string> TemporaryFiles(const std::filesystem::path& folder);

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
