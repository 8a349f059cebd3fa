#include "kelto_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

int Count(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1), ++n) {
    }
    return n;
}

std::string KeltoRun::File(const std::string& name) const { return ReadWholeFile(folder / name); }

namespace {

// This process's test folders are removed at the end when every test passed; a failure keeps
// them for a look.
class RemoveTestFolders : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (::testing::UnitTest::GetInstance()->failed_test_count() > 0) return;
        const std::string prefix = "kelto_" + std::to_string(::getpid()) + "_";
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(::testing::TempDir(), error)) {
            if (entry.path().filename().string().starts_with(prefix)) fs::remove_all(entry.path(), error);
        }
    }
};
const auto* const kRemoveTestFolders = ::testing::AddGlobalTestEnvironment(new RemoveTestFolders);

}  // namespace

fs::path FreshFolder(const std::string& name)
{
    // The process id keeps two test runs at once (a mutation run beside a developer's) apart.
    const fs::path folder = fs::path(::testing::TempDir()) / ("kelto_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

KeltoRun RunKelto(const std::string& answers, const fs::path& folder, const std::string& arguments,
                  const std::string& shell)
{
    WriteWholeFile(folder / "answers.in", answers);
    // Under the sanitizers a finding must not pass for the program's own status 1.
    const std::string kelto = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86\" "
                              "UBSAN_OPTIONS=\"${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=87\" '" KELTO_BINARY "' " + arguments;
    std::string script = shell.empty() ? "{kelto} < answers.in > stdout.out 2> stderr.out" : shell;
    if (const auto at = script.find("{kelto}"); at != std::string::npos) script.replace(at, 7, kelto);
    WriteWholeFile(folder / "run.sh", "cd '" + folder.string() + "' || exit 99\n" + script + "\n");
    const int raw = std::system(("bash '" + (folder / "run.sh").string() + "'").c_str());
    return KeltoRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWholeFile(folder / "stdout.out"),
                    ReadWholeFile(folder / "stderr.out"), folder};
}

pid_t StartKelto(const std::string& answers, const fs::path& folder, const std::string& name, int* output, int* input)
{
    WriteWholeFile(folder / (name + ".in"), answers);
    int out[2], in[2];
    if (::pipe(out) != 0 || ::pipe(in) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(99);
        ::dup2(input != nullptr ? in[0] : ::open((name + ".in").c_str(), O_RDONLY), 0);
        ::dup2(out[1], 1);
        ::dup2(::open((name + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::close(out[0]), ::close(in[1]);
        ::execl(KELTO_BINARY, KELTO_BINARY, static_cast<char*>(nullptr));
        ::_exit(98);
    }
    ::close(out[1]), ::close(in[0]);
    *output = out[0];
    if (input != nullptr) *input = in[1];
    else ::close(in[1]);
    return pid;
}

int FinishKelto(pid_t pid, int output)
{
    char buffer[65536];
    while (::read(output, buffer, sizeof buffer) > 0) {
    }
    ::close(output);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

bool Eventually(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<std::string> TemporaryFiles(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename());
    std::erase_if(found, [](const std::string& name) { return !name.starts_with(".kelto-"); });
    return found;
}

std::string Answers::Text() const
{
    std::string text;
    for (const std::string* field : {&structure, &factorFile, &latticeA, &hMax, &kMax, &lMax, &lambda, &symbol, &psiMin,
                                     &psiMax, &primaryH, &primaryK, &primaryL, &deltaLambda}) {
        text += *field + "\n";
    }
    return text;
}

bool HasAnyOutputFile(const KeltoRun& run)
{
    return std::ranges::any_of(kOutputNames, [&](const char* name) { return fs::exists(fs::symlink_status(run.folder / name)); });
}

void ExpectRefused(const KeltoRun& run, const std::string& message)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output.substr(run.output.size() > 400 ? run.output.size() - 400 : 0);
    EXPECT_NE(run.output.find("Program QOR exits with error \n"), std::string::npos);
    EXPECT_FALSE(HasAnyOutputFile(run));
}
