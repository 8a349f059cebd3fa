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

KeltoRun RunKelto(const std::string& answers, const fs::path& folder)
{
    const fs::path answersFile = folder / "answers.in";
    const fs::path outputFile = folder / "stdout.out";
    std::ofstream(answersFile, std::ios::binary) << answers;
    const std::string command = "cd '" + folder.string() + "' && '" KELTO_BINARY "' < '" +
                                answersFile.string() + "' > '" + outputFile.string() + "'";
    const int raw = std::system(command.c_str());
    KeltoRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.output = ReadWholeFile(outputFile);
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
