// What a run does to its folder: the four files are replaced whole, and only by a complete run,
// whatever stands at their names, whatever fails or interrupts the run, and however many runs
// share the folder.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kEarlier = "earlier run\n";

void PlantEarlierFiles(const fs::path& folder)
{
    for (const char* name : kOutputNames) WriteWholeFile(folder / name, kEarlier);
}

// Polls `done` for up to ten seconds.
bool Eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Silicon at Mo K-alpha: a run whose files outgrow the stream buffers.
std::string LargeRun()
{
    Answers answers;
    answers.hMax = "20";
    answers.lambda = "0.7107";
    return answers.Text();
}

}  // namespace

TEST(OutputFiles, ReplacedWholeOrNotAtAll)
{
    const KeltoRun reference = RunKelto(Answers().Text(), FreshFolder("outputs_reference"));
    ASSERT_EQ(reference.status, 0);
    const fs::path outside = FreshFolder("outputs_outside") / "target.txt";
    Answers noSymbol;
    noSymbol.symbol = "Xx";
    const std::string quietOutput = " 2> stderr.out | tail -c 2000 > stdout.out; exit ${PIPESTATUS[0]}";
    const struct {
        const char* name;
        std::function<void(const fs::path&)> plant;
        std::string answers, shell;
        int status;
        std::string message;  // on standard output or standard error
    } cases[] = {
        {"complete", nullptr, Answers().Text(), "", 0, ""},
        // A link at a name is replaced, and its target outside the folder left alone.
        {"link", [&](const fs::path& f) { fs::remove(f / "kelto_unweg.dat"); fs::create_symlink(outside, f / "kelto_unweg.dat"); },
         Answers().Text(), "", 0, ""},
        {"fifo", [](const fs::path& f) { fs::remove(f / "kelto_unweg.mac"); ::mkfifo((f / "kelto_unweg.mac").c_str(), 0600); },
         Answers().Text(), "", 0, ""},
        {"folder_at_name", [](const fs::path& f) { fs::remove(f / "kelto_unweg.dat"); fs::create_directory(f / "kelto_unweg.dat"); },
         Answers().Text(), "", 1, "Cannot create output file kelto_unweg.dat: Is a directory\nProgram QOR exits with error \n"},
        {"symbol_missing", nullptr, noSymbol.Text(), "", 1, "Symbol XX not found\nProgram QOR exits with error \n"},
        // The first buffer of kelto_spaghetti.mac outgrows the limit: the run stops there.
        {"size_limit", nullptr, LargeRun(), "ulimit -f 100; {kelto} < answers.in" + quietOutput, 1,
         "Output file kelto_spaghetti.mac could not be written completely\nProgram QOR exits with error \n"},
        {"stdout_full", nullptr, Answers().Text(), "{kelto} < answers.in > /dev/full 2> stderr.out", 1,
         "Standard output could not be written completely\n"},
        {"closed_pipe", nullptr, Answers().Text(),
         "{kelto} < answers.in 2> stderr.out | head -c 100 > stdout.out; exit ${PIPESTATUS[0]}", 1,
         "Standard output could not be written completely\n"},
        // Closed standard output: the console text must not end up in an output file.
        {"stdout_closed", nullptr, Answers().Text(), "{kelto} < answers.in >&- 2> stderr.out", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = FreshFolder(std::string("outputs_") + c.name);
        PlantEarlierFiles(folder);
        WriteWholeFile(outside, "outside\n");
        if (c.plant) c.plant(folder);
        const KeltoRun run = c.shell.empty() ? RunKelto(c.answers, folder) : RunKelto(c.answers, folder, "", c.shell);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((run.output + run.errors).find(c.message), std::string::npos) << run.output << run.errors;
        EXPECT_EQ(run.output.find("There are"), c.status == 0 ? run.output.find("There are") : std::string::npos);
        for (const char* name : kOutputNames) {
            if (c.status == 0) {
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / name))) << name;
                EXPECT_EQ(run.File(name), reference.File(name)) << name;
            } else if (!fs::is_directory(folder / name)) {
                EXPECT_EQ(run.File(name), kEarlier) << name;
            }
        }
        EXPECT_EQ(ReadWholeFile(outside), "outside\n");
        EXPECT_TRUE(TemporaryFiles(folder).empty());
    }
}

// An interrupted run (blocked here on a console nobody reads) ends with 128 + the signal and
// leaves the earlier files and no temporary file.
TEST(OutputFiles, InterruptedRunLeavesTheEarlierFiles)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const fs::path folder = FreshFolder("interrupted");
        PlantEarlierFiles(folder);
        int output = -1;
        const pid_t pid = StartKelto(Answers().Text(), folder, "run", &output);
        ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 4; }));
        ::kill(pid, signal);
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        ::close(output);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + signal) << raw;
        for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), kEarlier) << name;
        EXPECT_TRUE(TemporaryFiles(folder).empty());
    }
}

// A second run waits for the first one in the same folder, then replaces its files whole.
TEST(OutputFiles, RunsInOneFolderTakeTurns)
{
    Answers second;
    second.lambda = "1.6";
    const KeltoRun reference = RunKelto(second.Text(), FreshFolder("turns_reference"));
    const fs::path folder = FreshFolder("turns");
    int firstOutput = -1, secondOutput = -1;
    const pid_t first = StartKelto(Answers().Text(), folder, "first", &firstOutput);
    ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 4; }));
    const pid_t next = StartKelto(second.Text(), folder, "second", &secondOutput);
    EXPECT_TRUE(Eventually([&] {
        return ReadWholeFile(folder / "second.err").find("waiting for another run") != std::string::npos;
    }));
    EXPECT_EQ(TemporaryFiles(folder).size(), 4u);
    EXPECT_EQ(FinishKelto(first, firstOutput), 0);
    EXPECT_EQ(FinishKelto(next, secondOutput), 0);
    for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), reference.File(name)) << name;
    EXPECT_TRUE(TemporaryFiles(folder).empty());
}
