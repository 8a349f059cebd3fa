#include "kelto_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string KeltoRun::File(const std::string& name) const { return ReadWholeFile(folder / name); }

bool KeltoRun::Has(const std::string& name) const
{
    return fs::exists(fs::symlink_status(folder / name));
}

fs::path FreshFolder(const std::string& name)
{
    const fs::path folder = fs::path(::testing::TempDir()) / ("kelto_" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

KeltoRun RunKelto(const std::string& answers, const fs::path& folder, const std::string& outputTarget)
{
    const fs::path answersFile = folder / "answers.in";
    const fs::path outputFile = outputTarget.empty() ? folder / "stdout.out" : fs::path(outputTarget);
    std::ofstream(answersFile, std::ios::binary) << answers;
    // Under the sanitizers a finding must not pass for the program's own status 1.
    const std::string command = "cd '" + folder.string() +
                                "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86\""
                                " UBSAN_OPTIONS=\"${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=87\""
                                " '" KELTO_BINARY "' < '" +
                                answersFile.string() + "' > '" + outputFile.string() + "' 2> '" +
                                (folder / "stderr.out").string() + "'";
    const int raw = std::system(command.c_str());
    KeltoRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (outputTarget.empty()) run.output = ReadWholeFile(outputFile);
    run.folder = folder;
    return run;
}

std::string Answers::Text() const
{
    const std::string fields[] = {structure, factorFile, latticeA, hMax, kMax, lMax, lambda,
                                  symbol, psiMin, psiMax, primaryH, primaryK, primaryL,
                                  deltaLambda};
    std::string text;
    for (const auto& field : fields) text += field + "\n";
    return text;
}

bool HasAnyOutputFile(const KeltoRun& run)
{
    for (const char* name : kOutputNames) {
        if (run.Has(name)) return true;
    }
    return false;
}

void ExpectRefused(const KeltoRun& run, const std::string& message)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(message), std::string::npos)
        << run.output.substr(run.output.size() > 400 ? run.output.size() - 400 : 0);
    EXPECT_NE(run.output.find("Program QOR exits with error \n"), std::string::npos);
    EXPECT_FALSE(HasAnyOutputFile(run));
}
