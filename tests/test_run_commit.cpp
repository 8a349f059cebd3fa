// The run's commit, ended at each of its steps: a run ended before its journal leaves the earlier
// files, one ended after it is finished by the next run in the folder, and a rename that fails
// brings every earlier file back. Each commit runs in a child process that the test ends.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "io/folder_journal.h"
#include "io/output_files.h"
#include "io/run_error.h"
#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

struct Stop {
    std::string step;
    int at;        // the how-manieth call of that step ends the run
    bool breakIt;  // instead: the file's temporary becomes a folder, so that its rename fails
};
Stop g_stop;
int g_calls = 0;

void StopAtStep(const char* step, const std::string& path)
{
    if (g_stop.step != step || ++g_calls != g_stop.at) return;
    if (!g_stop.breakIt) ::raise(SIGKILL);
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path())) {
        const std::string name = entry.path().filename();
        if (name.starts_with(".kelto-" + fs::path(path).filename().string() + ".")) {
            fs::remove(entry.path());
            fs::create_directories(entry.path() / "in the way");
        }
    }
}

// The run's files in `folder`: the four and a table in a subfolder.
std::vector<std::string> Outputs(const fs::path& folder)
{
    std::vector<std::string> outputs;
    for (const char* name : kOutputNames) outputs.push_back(folder / name);
    outputs.push_back(folder / "tables" / "events.csv");
    return outputs;
}

// A child writes "new <name>" into every output and commits; returns its wait status.
int CommitInChild(const fs::path& folder, const Stop& stop)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_stop = stop, g_calls = 0;
        SetCommitObserver(StopAtStep);
        SetOutputFolder(folder);
        try {
            PrepareOutputs(Outputs(folder), {});
            OutputFiles files = OpenOutputFiles();
            for (std::FILE* file : {files.spaghettiDat, files.spaghettiMac, files.unwegDat, files.unwegMac}) std::fputs("new\n", file);
            CloseOutputFiles(&files);
            std::FILE* table = OpenOutputFile(Outputs(folder).back());
            std::fputs("new\n", table);
            CloseOutputFile(table);
            CommitOutputFiles();
        } catch (const RunError& error) {
            ::_exit(error.status());
        }
        ::_exit(0);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return raw;
}

std::vector<std::string> Contents(const fs::path& folder)
{
    std::vector<std::string> contents;
    for (const std::string& path : Outputs(folder)) contents.push_back(ReadWholeFile(path));
    return contents;
}

bool Leftovers(const fs::path& folder)
{
    return !TemporaryFiles(folder).empty() || !TemporaryFiles(folder / "tables").empty() || fs::exists(folder / kJournalName) ||
           fs::exists(folder / "tables" / kJournalName);
}

}  // namespace

TEST(RunCommit, EndedAtEachStep)
{
    const std::vector<std::string> earlier(5, "earlier\n"), fresh(5, "new\n");
    const struct {
        Stop stop;
        bool killed;
        std::vector<std::string> after;  // once the next run in the folder has finished what it found
    } cases[] = {
        {{"commit", 1, false}, true, earlier},   // before the journal: nothing was renamed
        {{"rename", 3, false}, true, fresh},     // two renamed, the rest named by the journal
        {{"renamed", 5, false}, true, fresh},    // every file renamed, journal and kept files left
        {{"rename", 3, true}, false, earlier},   // the third rename fails: every earlier file returns
        {{"none", 0, false}, false, fresh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stop.step + " " + std::to_string(c.stop.at) + (c.stop.breakIt ? " failing" : ""));
        const fs::path folder = FreshFolder("commit");
        fs::create_directory(folder / "tables");
        for (const std::string& path : Outputs(folder)) WriteWholeFile(path, "earlier\n");
        const int raw = CommitInChild(folder, c.stop);
        EXPECT_EQ(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL, c.killed) << raw;
        if (!c.killed) {
            EXPECT_EQ(WEXITSTATUS(raw), c.stop.breakIt ? 1 : 0);
        }
        if (c.killed) {
            // The next run in the folder (here one that writes a table of its own) finishes first.
            const KeltoRun next = RunKelto("", folder, "--structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 "
                                           "--glitches other.csv --at-psi 10 --energies 5,6");
            EXPECT_EQ(next.status, 0) << next.errors;
            EXPECT_EQ(next.errors.find("finished the renames") != std::string::npos, c.after == fresh) << next.errors;
            // The table's folder is finished by the next run there.
            RunKelto("", folder / "tables", "--structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 "
                     "--glitches other.csv --at-psi 10 --energies 5,6");
        }
        for (const fs::path& where : {folder, folder / "tables"}) {  // the folder put in a rename's way
            for (const auto& entry : fs::directory_iterator(where)) {
                if (entry.is_directory() && entry.path().filename().string().starts_with(".kelto-")) fs::remove_all(entry.path());
            }
        }
        EXPECT_EQ(Contents(folder), c.after);
        EXPECT_FALSE(Leftovers(folder));
    }
}
