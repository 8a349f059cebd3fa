// What a run finds in its folder and must not obey: journals that someone else wrote, or that are
// not kelto's at all, are left as they are and reported; the user's own files are never touched,
// whatever their names; only what an ended run of this user provably left is taken back.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/journal_format.h"
#include "kelto_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kRun = "Ab12Cd";
const std::string kJournal = ".kelto-journal-" + kRun;
const std::string kGlitchRun =
    "--structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 --glitches e.csv --at-psi 10 --energies 5,6";

std::uint64_t InodeOf(const fs::path& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// A journal in kelto's exact format, checksum included, for `folder`.
std::string JournalFor(const fs::path& folder, JournalState state, const std::vector<JournalFile>& files)
{
    struct stat info {};
    ::stat(folder.c_str(), &info);
    return JournalText(Journal{kRun, state, {{info.st_dev, info.st_ino, fs::canonical(folder).string()}}, files});
}

// Every name in the folder with what it holds (a folder, a link or a fifo by its kind).
std::vector<std::string> Snapshot(const fs::path& folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name.ends_with(".out") || name == "run.sh" || name == "answers.in" || name == "e.csv") continue;
        const fs::file_status status = fs::symlink_status(entry.path());
        entries.push_back(name + (fs::is_regular_file(status) ? "=" + ReadWholeFile(entry.path()) : " (special)"));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

// Each planted journal is left alone with one line on standard error, and the run goes on.
TEST(FolderTrust, PlantedJournalsAreNotObeyed)
{
    const bool root = ::geteuid() == 0;
    // settled: the journal was the user's own and is gone once settled.
    const struct { const char* what; std::function<void(const fs::path&)> plant; std::string message; bool needsRoot = false, settled = false; } cases[] = {
        {"an earlier version's journal deleting a user file",
         [](const fs::path& f) { WriteWholeFile(f / ".kelto-journal", "kelto rollback\n3:zzz 9:notes.txt 0: \n"); },
         "left .kelto-journal alone: kelto no longer writes journals of that name"},
        {"a journal with a wrong checksum",
         [](const fs::path& f) {
             std::string text = JournalFor(f, JournalState::kRollback, {{0, "notes.txt", false, InodeOf(f / "notes.txt"), 0}});
             text[text.size() - 3] = text[text.size() - 3] == '0' ? '1' : '0';
             WriteWholeFile(f / kJournal, text);
         },
         "left " + kJournal + " alone: its checksum does not match its text"},
        {"a journal of another user (a shared folder)",
         [](const fs::path& f) {
             WriteWholeFile(f / kJournal, JournalFor(f, JournalState::kRollback, {{0, "notes.txt", false, InodeOf(f / "notes.txt"), 0}}));
             if (::chown((f / kJournal).c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown";
         },
         "left " + kJournal + " alone: it belongs to another user", true},
        {"a link to a user file", [](const fs::path& f) { fs::create_symlink("notes.txt", f / kJournal); },
         "left " + kJournal + " alone: it is not a regular file"},
        {"a second name of a journal",
         [](const fs::path& f) {
             WriteWholeFile(f / "mine.txt", JournalFor(f, JournalState::kOpen, {{0, "notes.txt", false, 0, 0}}));
             fs::create_hard_link(f / "mine.txt", f / kJournal);
         },
         "left " + kJournal + " alone: it has other names (hard links)"},
        {"a truncated journal",
         [](const fs::path& f) {
             const std::string text = JournalFor(f, JournalState::kCommit, {{0, "notes.txt", false, InodeOf(f / "thesis.txt"), 0}});
             WriteWholeFile(f / kJournal, text.substr(0, text.size() / 2));
         },
         "left " + kJournal + " alone: it is not in the format kelto writes"},
        {"a name with a newline",
         [](const fs::path& f) {
             WriteWholeFile(f / "notes\n.txt", "mine\n");
             WriteWholeFile(f / kJournal, JournalFor(f, JournalState::kRollback, {{0, "notes\n.txt", false, InodeOf(f / "notes\n.txt"), 0}}));
         },
         "left " + kJournal + " alone: it names a file that is not a plain name in its folder"},
        {"the journal of another folder",
         [](const fs::path& f) { WriteWholeFile(f / kJournal, JournalFor(f / "mine", JournalState::kRollback, {{0, "notes.txt", false, 1, 0}})); },
         "left " + kJournal + " alone: it is the journal of another folder"},
        // In kelto's format and the user's own, but what it would move is not a file the run wrote.
        {"a user folder and a fifo as the new files",
         [](const fs::path& f) {
             fs::create_directory(f / (".kelto-kelto_unweg.dat." + kRun));
             ::mkfifo((f / (".kelto-kelto_spaghetti.dat." + kRun)).c_str(), 0644);
             WriteWholeFile(f / kJournal, JournalFor(f, JournalState::kCommit,
                                                     {{0, "kelto_unweg.dat", false, InodeOf(f / (".kelto-kelto_unweg.dat." + kRun)), 0},
                                                      {0, "kelto_spaghetti.dat", false, InodeOf(f / (".kelto-kelto_spaghetti.dat." + kRun)), 0}}));
         },
         "cleared the journal of an interrupted run in .: nothing was left to rename", false, true},
        {"a rename that cannot be done",
         [](const fs::path& f) {
             WriteWholeFile(f / (".kelto-blocked." + kRun), "new\n");
             fs::create_directories(f / "blocked" / "full");
             WriteWholeFile(f / kJournal, JournalFor(f, JournalState::kCommit, {{0, "blocked", false, InodeOf(f / (".kelto-blocked." + kRun)), 0}}));
         },
         "could not settle an interrupted run in .: blocked: Is a directory; its journal " + kJournal + " stays for a later run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !root) continue;  // a file of another user can be made only by root
        const fs::path folder = FreshFolder("trust");
        WriteWholeFile(folder / "notes.txt", "notes\n");
        WriteWholeFile(folder / "thesis.txt", "thesis\n");
        for (const char* name : kOutputNames) WriteWholeFile(folder / name, "earlier run\n");
        fs::create_directory(folder / "mine");
        c.plant(folder);
        std::vector<std::string> before = Snapshot(folder);
        if (c.settled) std::erase_if(before, [](const std::string& entry) { return entry.starts_with(kJournal + "="); });
        const KeltoRun run = RunKelto("", folder, kGlitchRun, "timeout 60 env {kelto} > stdout.out 2> stderr.out");
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(Count(run.errors, c.message), 1) << run.errors;
        EXPECT_EQ(Snapshot(folder), before);
        EXPECT_TRUE(fs::is_regular_file(folder / "e.csv"));
    }
}

// The user's files with names like kelto's temporaries stay; the temporaries of an ended run,
// named by its journal, go without a word, and so does the draft of a journal it left.
TEST(FolderTrust, OnlyAnEndedRunsOwnTemporariesAreTakenBack)
{
    const fs::path folder = FreshFolder("orphans");
    const std::vector<std::string> mine = {".kelto-notes.backup", ".kelto-plot.config", ".kelto-e.csv.Qw3rTy",
                                           ".kelto-e.csv.Qw3rTy.keep", ".kelto_unweg.dat.XyZ123", ".kelto-journal.Qw3rTy"};
    for (const std::string& name : mine) WriteWholeFile(folder / name, "mine\n");
    const std::string left = ".kelto-e2.csv." + kRun;
    WriteWholeFile(folder / left, "half a table\n");
    WriteWholeFile(folder / kJournal, JournalFor(folder, JournalState::kOpen, {{0, "e2.csv", false, 0, 0}}));
    WriteWholeFile(folder / ".kelto-journal-Zz99Zz.new", "kelto jour");
    const KeltoRun run = RunKelto("", folder, kGlitchRun);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    std::vector<std::string> found = TemporaryFiles(folder);
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = mine;
    std::erase_if(expected, [](const std::string& name) { return !name.starts_with(".kelto-"); });
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    for (const std::string& name : mine) EXPECT_EQ(ReadWholeFile(folder / name), "mine\n") << name;
}

// A journal is read only when it is exactly what kelto writes: the largest device and inode
// numbers come back, any other text is refused with its reason.
TEST(FolderTrust, JournalReadOnlyWhenExact)
{
    const Journal journal{kRun, JournalState::kCommit, {{UINT64_MAX, 2, "/data/run one"}, {3, 4, "/"}},
                          {{0, "e.csv", true, UINT64_MAX, 7}, {1, "kelto_unweg.dat", false, 9, 0}}};
    const std::string text = JournalText(journal);
    std::string why;
    const std::optional<Journal> read = ParseJournal(text, &why);
    ASSERT_TRUE(read.has_value()) << why;
    EXPECT_EQ(JournalText(*read), text);
    EXPECT_TRUE(read->folders[0].device == UINT64_MAX && read->files[0].newInode == UINT64_MAX && read->files[0].earlier);
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const struct { std::string text, why; } refused[] = {
        {text + "\n", "format"},
        {edited("folder 3 4", "folder 03 4"), "format"},                        // a number kelto never writes
        {edited("18446744073709551615 2", "18446744073709551616 2"), "format"},  // beyond 64 bits
        {edited("state commit", "state done"), "format"}, {edited("run Ab12Cd", "run Ab12C/"), "format"},
        {edited("1 0 9 0", "1 0 0 0"), "format"},  // a decision without the new file's inode
        {edited("1 0 9 0", "2 0 9 0"), "format"},  // a folder the journal does not list
        {edited("15:kelto_unweg.dat", "15:kelto_unweg/dat"), "plain name"}, {edited("5:e.csv", "5:e.cs\x01"), "plain name"},
        {edited("5:e.csv", "8:.kelto-e"), "plain name"},  // one of kelto's own temporary names
        {edited("e.csv", "f.csv"), "checksum"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(ParseJournal(r.text, &why).has_value()) << r.text;
        EXPECT_NE(why.find(r.why), std::string::npos) << r.text << ": " << why;
    }
}
