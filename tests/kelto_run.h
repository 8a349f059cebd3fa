// Runs the kelto program as a user would, in a fresh folder, and collects what it leaves.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

constexpr const char* kOutputNames[4] = {"kelto_spaghetti.dat", "kelto_spaghetti.mac", "kelto_unweg.dat",
                                         "kelto_unweg.mac"};

struct KeltoRun {
    int status = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
    std::filesystem::path folder;

    std::string File(const std::string& name) const;
};

std::filesystem::path FreshFolder(const std::string& name);
int Count(const std::string& text, const std::string& piece);  // occurrences of `piece`
std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& text);

// Runs kelto in `folder` with `answers` in answers.in, through the bash command `shell` (by default
// "{kelto} < answers.in > stdout.out 2> stderr.out"), in which {kelto} stands for the program with
// `arguments`.
KeltoRun RunKelto(const std::string& answers, const std::filesystem::path& folder, const std::string& arguments = "",
                  const std::string& shell = "");

// Starts kelto in `folder` with `answers` (NAME.in) or, given `input`, a pipe on standard input,
// standard output into the pipe `output`, standard error into NAME.err; returns its process id.
pid_t StartKelto(const std::string& answers, const std::filesystem::path& folder, const std::string& name, int* output,
                 int* input = nullptr);
// Reads a started run's standard output to its end and returns its exit status.
int FinishKelto(pid_t pid, int output);

// Polls `done` until it holds, for up to `seconds`; whether it came to hold.
bool Eventually(const std::function<bool()>& done, double seconds = 60);

// The temporary files and journals of kelto's runs in `folder` (every name beginning ".kelto-").
std::vector<std::string> TemporaryFiles(const std::filesystem::path& folder);

// True when the run left any of the four output files in its folder.
bool HasAnyOutputFile(const KeltoRun& run);

// Checks a refusal: status 1, `message` on standard output, the error line, no output file.
void ExpectRefused(const KeltoRun& run, const std::string& message);

// The answers of a complete run: silicon at Cu K-alpha 1 on 0 0 2, with the shipped table.
struct Answers {
    std::string structure = "4", factorFile = KELTO_SOURCE_DIR "/data/f0_it1992.txt", latticeA = "5.431";
    std::string hMax = "7", kMax = "7", lMax = "7", lambda = "1.5406", symbol = "si", psiMin = "-180", psiMax = "180";
    std::string primaryH = "0", primaryK = "0", primaryL = "2", deltaLambda = "0.02";

    // One answer per line, in the order of the prompts.
    std::string Text() const;
};
