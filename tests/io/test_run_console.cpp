// What a run shows beside its tables: the frame their first line names, the progress line of a
// planning run at a terminal, and the line an interrupt leaves on standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "io/console.h"
#include "io/output_files.h"
#include "io/process_setup.h"
#include "io/run_error.h"
#include "csv_table.h"
#include "kelto_run.h"
#include "run_record.h"
#include "scan/scan_frame.h"
#include "planning/tables.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The first line of an events table of the matrix frame.
std::string EventsHeader(const Lattice& lattice, Miller primary)
{
    const ScanFrame frame = MatrixFrame(lattice, primary);
    std::FILE* file = std::tmpfile();
    WriteEventsTable(file, TableSubject{"X", primary, &frame, {-180.0, 180.0}}, Band{1.5, 0.01},
                     GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, {});
    const std::string text = ReadStream(file);
    std::fclose(file);
    return text.substr(0, text.find('\n') + 1);
}

}  // namespace

// Without --reference the first line names the frame as it does with one: the sense and the
// reference R in whole indices. Counting from R in that sense must give the matrix frame's psi of
// every direction, for the reversed beam; the cases cover each branch of the matrix's columns.
TEST(TableFrame, MatrixFrameNamedByItsReference)
{
    const Lattice cubic = Lattice::Cubic(5.431), hexagonal(4.7589, 4.7589, 12.991, 90.0, 90.0, 120.0);
    const struct { const Lattice* lattice; Miller primary; const char* named; } cases[] = {
        {&cubic, {0, 0, 2}, "right-handed about the primary from reference 1 0 0"},
        {&cubic, {1, 1, -1}, "left-handed about the primary from reference 1 -1 0"},
        {&cubic, {-2, 0, 0}, "left-handed about the primary from reference 0 1 0"},
        {&cubic, {1, 2, 4}, "left-handed about the primary from reference -22 19 -4"}, {&cubic, {2, 2, 0}, "from reference -1 1 0"},
        {&cubic, {0, 3, -1}, "from reference 0 1 3"}, {&hexagonal, {1, 0, 4}, "from reference 4 0 -1"},
    };
    const std::string lead = "psi in the frame of the orientation matrix: ";
    for (const auto& c : cases) {
        const std::string header = EventsHeader(*c.lattice, c.primary);
        SCOPED_TRACE(header);
        EXPECT_NE(header.find(c.named), std::string::npos);
        const std::size_t at = header.find(lead);
        ASSERT_NE(at, std::string::npos);
        char hand[8] = {};
        Miller r{};
        int end = 0;
        ASSERT_EQ(std::sscanf(header.c_str() + at + lead.size(),
                              "%7[a-z]-handed about the primary from reference %d %d %d to the reversed beam;%n", hand, &r.h,
                              &r.k, &r.l, &end),
                  4);
        ASSERT_GT(end, 0);  // the words after the reference are there too
        ASSERT_TRUE(std::string(hand) == "right" || std::string(hand) == "left") << hand;
        EXPECT_EQ(std::gcd(std::gcd(r.h, r.k), r.l), 1);
        const double sense = std::string(hand) == "right" ? 1.0 : -1.0;
        const ScanFrame matrix = MatrixFrame(*c.lattice, c.primary);
        const ScanFrame named = ReferenceFrame(*c.lattice, c.primary, r);
        for (const Miller v : {Miller{1, 0, 0}, Miller{0, 1, 0}, Miller{0, 0, 1}, Miller{1, 2, 3}, Miller{-2, 1, 5}}) {
            if (Parallel(v, c.primary)) continue;
            const Vec3 x = c.lattice->Reciprocal(v);
            const double turn = std::remainder(matrix.Azimuth(x) - sense * named.Azimuth(x), 360.0);
            EXPECT_NEAR(turn, 0.0, 1e-9) << v.h << " " << v.k << " " << v.l;
        }
        EXPECT_EQ(matrix.beam, -1);  // "to the reversed beam"
    }
}

// What the console lists of the clean windows reads as the windows table does when rounded to
// the console's three decimals: an end or width just short of a rounding tie at three decimals
// reaches it at the table's six, and a reader of the table rounds that.
TEST(TableFrame, ConsoleWindowsRoundAsTheTableReads)
{
    const ScanFrame frame = MatrixFrame(Lattice::Cubic(5.431), {0, 0, 2});
    const TableSubject subject{"X", {0, 0, 2}, &frame, {-180.0, 180.0}};
    const WindowSearch search{false, 0.5, {}, 0.0, 8.0, 8.0, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, 0};
    CleanWindows found;
    found.windows = {{-173.1545 + 1e-9, 12.0015 - 1e-9}, {45.0125 - 1e-9, 45.6255 - 1e-9}};
    std::FILE* table = std::tmpfile();
    std::FILE* console = std::tmpfile();
    WriteWindowsTable(table, subject, search, found);
    PrintCleanWindows(console, subject.window, search, found);
    const std::vector<CsvRow> rows = CsvRows(ReadStream(table));
    std::string expected, listed;
    for (const CsvRow& row : rows) {
        expected += Printed("  %9.3f to %9.3f degrees, %8.3f wide\n", row.Number("psi_start"), row.Number("psi_end"), row.Number("width"));
    }
    for (const std::string& line : Lines(ReadStream(console))) listed += line.ends_with(" wide") ? line + "\n" : "";
    std::fclose(table);
    std::fclose(console);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(listed, expected);
}

// The planning progress line: nothing during its quiet first stretch or when not shown; then the
// phase, its share where one is known and the seconds; cleared by Clear and at the end, after
// which nothing more is written.
TEST(PhaseLine, DrawnAfterItsQuietStretchAndCleared)
{
    const fs::path folder = FreshFolder("phase_line");
    const struct { bool show; std::chrono::milliseconds quiet; } silent[] = {{false, 0ms}, {true, 3600000ms}};
    for (const auto& c : silent) {
        const fs::path path = folder / "silent.txt";
        std::FILE* stream = std::fopen(path.c_str(), "w");
        {
            PhaseLine line(c.show, stream, c.quiet, 1ms);
            line.Phase("glitch map: the lines from 5 to 80 keV");
            std::this_thread::sleep_for(50ms);
        }
        std::fclose(stream);
        EXPECT_EQ(ReadWholeFile(path), "") << c.show;
    }

    const fs::path path = folder / "shown.txt";
    std::FILE* stream = std::fopen(path.c_str(), "w");
    PhaseLine line(true, stream, 0ms, 1ms);
    const auto shows = [&](const std::string& text) { return Eventually([&] { return ReadWholeFile(path).find(text) != std::string::npos; }); };
    line.Phase("glitch map: the lines from 5 to 80 keV");
    EXPECT_TRUE(shows("\rkelto: glitch map: the lines from 5 to 80 keV, "));
    line.Phase("writing m.csv");
    line.Share(250, 1000);
    EXPECT_TRUE(shows("\rkelto: writing m.csv: 25 %, "));
    line.Share(2000, 1000);  // never beyond the whole
    EXPECT_TRUE(shows("\rkelto: writing m.csv: 100 %, "));
    // The line's next turn (every millisecond) may draw it again before the file is read: the
    // clearing is looked for after what was there before it.
    const std::size_t drawn = ReadWholeFile(path).size();
    line.Clear();
    EXPECT_NE(ReadWholeFile(path).find("\r\033[K", drawn), std::string::npos);
    EXPECT_TRUE(shows("\033[K\r\033[K\rkelto: writing m.csv"));  // drawn again at its next turn
    line.End();
    const std::string ended = ReadWholeFile(path);
    EXPECT_TRUE(ended.ends_with("\r\033[K")) << ended;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ReadWholeFile(path), ended);
    std::fclose(stream);
}

namespace {

const char* g_stopAt = "";

void TerminateAt(const char* step, const std::string&)
{
    if (std::string(step) == g_stopAt) ::raise(SIGTERM);
}

}  // namespace

// An interrupt says on standard error that it stopped the run, and what it left: nothing replaced
// before the commit (the interrupt held back while a journal is written), the new files after it
// (held back until the renames are done).
TEST(Interrupts, SayWhatTheRunLeft)
{
    const struct { const char* step; const char* said; const char* kept; } cases[] = {
        {"prepared", "kelto: stopped by SIGTERM; no file was replaced\n", "earlier\n"},
        {"renamed", "kelto: stopped by SIGTERM; its files were complete and had taken their names already\n", "new\n"},
    };
    for (const auto& c : cases) {
        const fs::path folder = FreshFolder("interrupt_outcome");
        const fs::path table = folder / "e.csv", errors = folder / "stderr.out";
        WriteWholeFile(table, "earlier\n");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDERR_FILENO);
            g_stopAt = c.step;
            SetCommitObserver(TerminateAt);
            EndOnInterrupt(RemoveTemporaryOutputFiles, InterruptedRunOutcome);
            try {
                PrepareOutputs({table.string()}, {});
                std::FILE* file = OpenOutputFile(table.string());
                std::fputs("new\n", file);
                CloseOutputFile(file);
                CommitOutputFiles();
            } catch (const RunError& error) {
                ::_exit(error.status());
            }
            ::_exit(0);
        }
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGTERM) << c.step << " " << raw;
        EXPECT_EQ(ReadWholeFile(errors), c.said) << c.step;
        EXPECT_EQ(ReadWholeFile(table), c.kept) << c.step;
        EXPECT_TRUE(TemporaryFiles(folder).empty()) << c.step;
    }
}

// A long planning run with standard error on a terminal (a pseudo-terminal here) and standard
// output in a file shows its phase there; Ctrl-C takes the line away, says the run stopped and
// leaves the earlier table: a glitch map at work, and a fit waiting for a scan from a fifo that no
// one writes.
TEST(Interrupts, ProgressLineAtATerminalThenStopped)
{
    const struct { std::vector<std::string> arguments; std::string table, phase; } cases[] = {
        {{"--crystal", "LiNbO3", "--primary", "0,0,6", "--glitch-map", "m.csv", "--energies", "5,80"}, "m.csv",
         "\rkelto: glitch map: the lines from 5 to 80 keV, "},
        {{"--crystal", "Si", "--primary", "2,2,0", "--fit-glitches", "scan.fifo", "--energies", "6,14", "--fit-table", "fit.csv"},
         "fit.csv", "\rkelto: fit: reading scan.fifo, "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        const fs::path folder = FreshFolder("interrupt_terminal");
        WriteWholeFile(folder / c.table, "earlier\n");
        ASSERT_EQ(::mkfifo((folder / "scan.fifo").c_str(), 0600), 0);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const std::string terminal = ::ptsname(master);
        std::vector<char*> argv{const_cast<char*>("kelto")};
        for (const std::string& argument : c.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int slave = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
            const int output = ::open((folder / "stdout.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (slave < 0 || output < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(slave, STDERR_FILENO);
            ::execv(KELTO_BINARY, argv.data());
            ::_exit(127);
        }
        std::string shown;
        const auto read = [&](int milliseconds) {  // false once the terminal has no writer left
            pollfd ready{master, POLLIN, 0};
            if (::poll(&ready, 1, milliseconds) <= 0) return true;
            char buffer[4096];
            const ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got <= 0) return false;
            shown.append(buffer, static_cast<std::size_t>(got));
            return true;
        };
        const bool drawn = Eventually([&] { return !read(10) || shown.find(c.phase) != std::string::npos; }, 120);
        ::kill(pid, SIGINT);
        while (read(10000)) {
        }
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        ::close(master);
        EXPECT_TRUE(drawn && shown.starts_with(c.phase)) << shown;
        EXPECT_TRUE(shown.ends_with("\033[K\r\033[Kkelto: stopped by SIGINT; no file was replaced\r\n")) << shown;
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGINT) << raw;
        EXPECT_EQ(ReadWholeFile(folder / c.table), "earlier\n");
        EXPECT_EQ(ReadWholeFile(folder / "stdout.out"), "");
        EXPECT_TRUE(TemporaryFiles(folder).empty());
    }
}
