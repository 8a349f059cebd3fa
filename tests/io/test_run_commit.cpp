// The run's commit, ended at each of its steps: a run ended before its decision leaves the earlier
// files, one ended after it is finished by the next run in any of its folders, and a rename that
// fails brings every earlier file back. Each commit runs in a child process that the test ends.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "io/output_files.h"
#include "io/process_setup.h"
#include "io/run_error.h"
#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

struct Stop {
    std::string step;
    int at;                  // the how-manieth call of that step ends the run
    bool breakIt;            // instead: the file's temporary becomes a folder, so that its rename fails
    bool terminate = false;  // instead: SIGTERM, held while the commit goes on
};
Stop g_stop;
int g_calls = 0;

void StopAtStep(const char* step, const std::string& path)
{
    if (g_stop.step != step || ++g_calls != g_stop.at) return;
    if (g_stop.terminate) {
        ::raise(SIGTERM);
        return;
    }
    if (!g_stop.breakIt) ::raise(SIGKILL);
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path())) {
        const std::string name = entry.path().filename();
        if (name.starts_with(".kelto-" + fs::path(path).filename().string() + ".")) {
            fs::remove(entry.path());
            fs::create_directories(entry.path() / "in the way");
        }
    }
}

// The run's files: the four in their folder and a table, in a subfolder or in the same folder
// spelled another way.
struct Layout { const char* what; fs::path survey, table; };  // survey: the four files' folder, as the run names it

Layout TwoFolders(const fs::path& folder) { return {"two folders", folder, folder / "tables" / "events.csv"}; }
Layout OneFolderTwoSpellings(const fs::path& folder)
{
    return {"one folder spelled two ways", folder.string() + "/out/", folder / "." / "out" / "events.csv"};
}

std::vector<std::string> Outputs(const Layout& layout)
{
    SetOutputFolder(layout.survey);
    std::vector<std::string> outputs;
    for (const char* name : kOutputNames) outputs.push_back(InOutputFolder(name));
    outputs.push_back(layout.table);
    return outputs;
}

// A child writes "new" into every output and commits; returns its wait status.
int CommitInChild(const Layout& layout, const Stop& stop)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_stop = stop, g_calls = 0;
        SetCommitObserver(StopAtStep);
        EndOnInterrupt(RemoveTemporaryOutputFiles);
        try {
            PrepareOutputs(Outputs(layout), {});
            OutputFiles files = OpenOutputFiles();
            for (std::FILE* file : {files.spaghettiDat, files.spaghettiMac, files.unwegDat, files.unwegMac}) std::fputs("new\n", file);
            CloseOutputFiles(&files);
            std::FILE* table = OpenOutputFile(layout.table);
            std::fputs("new\n", table);
            CloseOutputFile(table);
            CommitOutputFiles();
        } catch (const RunError& error) {
            RemoveTemporaryOutputFiles();
            ::_exit(error.status());
        }
        ::_exit(0);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return raw;
}

std::vector<std::string> Contents(const Layout& layout)
{
    std::vector<std::string> contents;
    for (const std::string& path : Outputs(layout)) contents.push_back(ReadWholeFile(path));
    return contents;
}

// The next run in `folder`, one that writes a table of its own there.
KeltoRun NextRun(const fs::path& folder)
{
    return RunKelto("", folder, "--structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 --glitches other.csv --at-psi 10 "
                                "--energies 5,5.2");
}

}  // namespace

// Killed at every step of the commit, and of the writing of the journals before it, the run's
// files end all earlier or all new once the next run in any one of its folders has started;
// nothing of kelto's stays once a run has been in each.
TEST(RunCommit, EndedAtEachStep)
{
    const std::vector<std::string> earlier(5, "earlier\n"), fresh(5, "new\n");
    for (int l = 0; l < 2; ++l) {
        std::vector<Stop> stops = {{"prepared", 1, false}, {"commit", 1, false}, {"journal", 1, false},
                                   {"rename", 3, true},    {"none", 0, false}};
        if (l == 0) stops.push_back({"prepared", 2, false});  // between the two folders' journals
        for (int at = 1; at <= 5; ++at) stops.push_back({"rename", at, false}), stops.push_back({"renamed", at, false});
        stops.push_back({"renamed", 3, false, true});
        for (int i = 0; const Stop& stop : stops) {
            const fs::path root = FreshFolder("commit");
            const Layout layout = l == 0 ? TwoFolders(root) : OneFolderTwoSpellings(root);
            SCOPED_TRACE(std::string(layout.what) + ": " + stop.step + " " + std::to_string(stop.at) + (stop.breakIt ? " failing" : "") +
                         (stop.terminate ? " SIGTERM" : ""));
            const fs::path folders[2] = {layout.survey, layout.table.parent_path()};
            fs::create_directories(folders[0]), fs::create_directories(folders[1]);
            for (const std::string& path : Outputs(layout)) WriteWholeFile(path, "earlier\n");
            const int raw = CommitInChild(layout, stop);
            const bool killed = stop.step != "none" && !stop.breakIt && !stop.terminate;
            EXPECT_EQ(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL, killed) << raw;
            if (!killed) {
                EXPECT_EQ(WEXITSTATUS(raw), stop.terminate ? 128 + SIGTERM : stop.breakIt ? 1 : 0);
            }
            // A run that ends by itself, whatever ended it, leaves nothing of kelto's behind.
            if (!killed && !stop.breakIt) {
                EXPECT_TRUE(TemporaryFiles(folders[0]).empty() && TemporaryFiles(folders[1]).empty());
            }
            const bool decided = stop.step == "none" || stop.step == "journal" || stop.step.starts_with("rename");
            const std::vector<std::string>& after = decided && !stop.breakIt ? fresh : earlier;
            // The next run in one of the folders settles every folder of the ended run.
            const KeltoRun next = NextRun(folders[i++ % 2]);
            EXPECT_EQ(next.status, 0) << next.errors;
            EXPECT_EQ(next.errors.find("interrupted run") != std::string::npos, killed && decided) << next.errors;
            for (const fs::path& where : folders) {  // the folder put in a rename's way
                for (const auto& entry : fs::directory_iterator(where)) {
                    if (entry.is_directory() && entry.path().filename().string().starts_with(".kelto-")) fs::remove_all(entry.path());
                }
            }
            EXPECT_EQ(Contents(layout), after);
            EXPECT_EQ(NextRun(folders[i % 2]).status, 0);
            EXPECT_EQ(Contents(layout), after);
            EXPECT_TRUE(TemporaryFiles(folders[0]).empty() && TemporaryFiles(folders[1]).empty());
        }
    }
}
