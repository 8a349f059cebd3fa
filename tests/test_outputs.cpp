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

fs::path FolderWithEarlierFiles(const std::string& name)
{
    const fs::path folder = FreshFolder(name);
    for (const char* file : kOutputNames) WriteWholeFile(folder / file, kEarlier);
    return folder;
}

// Polls `done` for up to ten seconds.
bool Eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

}  // namespace

TEST(OutputFiles, ReplacedWholeOrNotAtAll)
{
    const KeltoRun reference = RunKelto(Answers().Text(), FreshFolder("outputs_reference"));
    const fs::path outside = FreshFolder("outputs_outside") / "target.txt";
    Answers noSymbol, large;
    noSymbol.symbol = "Xx", large.hMax = "20", large.lambda = "0.7107";  // Mo K-alpha: files beyond the stream buffers
    const auto replace = [](const char* file, const std::function<void(const fs::path&)>& plant) {
        return [=](const fs::path& f) { fs::remove(f / file), plant(f / file); };
    };
    // What stands at the names, the answers, the shell, the status and a message on either console.
    const struct { std::function<void(const fs::path&)> plant; std::string answers, shell; int status; std::string message; } cases[] = {
        {nullptr, Answers().Text(), "", 0, ""},
        // A link at a name is replaced, and its target outside the folder left alone; a fifo too.
        {replace("kelto_unweg.dat", [&](const fs::path& p) { fs::create_symlink(outside, p); }), Answers().Text(), "", 0, ""},
        {replace("kelto_unweg.mac", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }), Answers().Text(), "", 0, ""},
        {replace("kelto_unweg.dat", [](const fs::path& p) { fs::create_directory(p); }), Answers().Text(), "", 1,
         "Cannot create output file kelto_unweg.dat: Is a directory\nProgram QOR exits with error \n"},
        {nullptr, noSymbol.Text(), "", 1, "Symbol XX not found\nProgram QOR exits with error \n"},
        // The first buffer of kelto_spaghetti.mac outgrows the file-size limit: the run stops there.
        {nullptr, large.Text(), "ulimit -f 100; {kelto} < answers.in 2> stderr.out | tail -c 2000 > stdout.out; exit ${PIPESTATUS[0]}",
         1, "Output file kelto_spaghetti.mac could not be written completely\nProgram QOR exits with error \n"},
        {nullptr, Answers().Text(), "{kelto} < answers.in > /dev/full 2> stderr.out", 1, "Standard output could not be written completely\n"},
        {nullptr, Answers().Text(), "{kelto} < answers.in 2> stderr.out | head -c 100 > stdout.out; exit ${PIPESTATUS[0]}", 1,
         "Standard output could not be written completely\n"},
        // Closed standard output: the console text must not end up in an output file.
        {nullptr, Answers().Text(), "{kelto} < answers.in >&- 2> stderr.out", 0, ""},
    };
    for (int i = 0; const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << i++ << " " << c.shell);
        const fs::path folder = FolderWithEarlierFiles("outputs");
        WriteWholeFile(outside, "outside\n");
        if (c.plant) c.plant(folder);
        const KeltoRun run = c.shell.empty() ? RunKelto(c.answers, folder) : RunKelto(c.answers, folder, "", c.shell);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((run.output + run.errors).find(c.message), std::string::npos) << run.output << run.errors;
        EXPECT_TRUE(c.status == 0 || run.output.find("There are") == std::string::npos);  // a failed write stops the run
        for (const char* name : kOutputNames) {
            const bool kept = fs::is_directory(folder / name) || run.File(name) == (c.status == 0 ? reference.File(name) : kEarlier);
            EXPECT_TRUE(kept && (c.status != 0 || fs::is_regular_file(fs::symlink_status(folder / name)))) << name;
        }
        EXPECT_TRUE(ReadWholeFile(outside) == "outside\n" && TemporaryFiles(folder).empty());
    }
}

// An interrupted run (blocked here on a console nobody reads) ends with 128 + the signal and
// leaves the earlier files and no temporary file.
TEST(OutputFiles, InterruptedRunLeavesTheEarlierFiles)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const fs::path folder = FolderWithEarlierFiles("interrupted");
        int output = -1, raw = 0;
        const pid_t pid = StartKelto(Answers().Text(), folder, "run", &output);
        ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 4; }));
        ::kill(pid, signal);
        ::waitpid(pid, &raw, 0);
        ::close(output);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + signal && TemporaryFiles(folder).empty()) << signal << " " << raw;
        for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), kEarlier) << name;
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
    EXPECT_TRUE(Eventually([&] { return ReadWholeFile(folder / "second.err").find("waiting for another run") != std::string::npos; }));
    EXPECT_EQ(TemporaryFiles(folder).size(), 4u);
    EXPECT_TRUE(FinishKelto(first, firstOutput) == 0 && FinishKelto(next, secondOutput) == 0);
    for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), reference.File(name)) << name;
    EXPECT_TRUE(TemporaryFiles(folder).empty());
}
