// What a run does to its folder: the four files are replaced whole, and only by a complete run,
// whatever stands at their names, whatever fails or interrupts the run, and however many runs
// share the folder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "crystal/cif_crystal.h"
#include "crystal/shipped_crystals.h"
#include "io/run_error.h"
#include "kelto_run.h"
#include "planning/run_size.h"
#include "setup/units.h"
#include "survey/survey_estimate.h"

namespace fs = std::filesystem;

namespace {

const std::string kEarlier = "earlier run\n";

fs::path FolderWithEarlierFiles(const std::string& name)
{
    const fs::path folder = FreshFolder(name);
    for (const char* file : kOutputNames) WriteWholeFile(folder / file, kEarlier);
    return folder;
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
    const struct { std::function<void(const fs::path&)> plant; std::string answers, shell; int status; std::string message;
                   bool committed = false; } cases[] = {
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
        // The quiet run's summary comes after the commit: its loss leaves the new files, and says so.
        {nullptr, "", "{kelto} -q --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --hmax 7 --wavelength 1.5406 "
                      "--band 0.02 > /dev/full 2> stderr.out", 1,
         "kelto: the files were written; standard output could not be written completely\n", true},
        // The survey's files are complete, the events table outgrows the limit: nothing is replaced,
        // and the run does not say it wrote anything.
        {nullptr, "", "ulimit -f 100; {kelto} --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 0.7 "
                      "--band 0.02 --hmax 1 -q --events e.csv > stdout.out 2> stderr.out", 1,
         "Output file e.csv could not be written completely\n"},
        // Closed standard output: the console text must not end up in an output file.
        {nullptr, Answers().Text(), "{kelto} < answers.in >&- 2> stderr.out", 0, ""},
    };
    for (int i = 0; const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << i++ << " " << c.shell);
        const fs::path folder = FolderWithEarlierFiles("outputs");
        WriteWholeFile(outside, "outside\n");
        if (c.plant) c.plant(folder);
        const KeltoRun run = RunKelto(c.answers, folder, "", c.shell);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((run.output + run.errors).find(c.message), std::string::npos) << run.output << run.errors;
        // A failed write stops the run, which then claims nothing.
        EXPECT_TRUE(c.status == 0 || (run.output.find("There are") == std::string::npos && run.output.find("wrote") == std::string::npos));
        for (const char* name : kOutputNames) {
            const bool kept =
                fs::is_directory(folder / name) || run.File(name) == (c.status == 0 || c.committed ? reference.File(name) : kEarlier);
            EXPECT_TRUE(kept && (c.status != 0 || fs::is_regular_file(fs::symlink_status(folder / name)))) << name;
        }
        EXPECT_TRUE(ReadWholeFile(outside) == "outside\n" && TemporaryFiles(folder).empty());
    }
}

// An interrupted run (blocked here on a console nobody reads) ends with 128 + the signal and
// leaves the earlier files and no temporary file, in its folder even when that was renamed. A
// signal ignored when the run started (nohup's SIGHUP) leaves it to complete.
TEST(OutputFiles, InterruptedRunLeavesTheEarlierFiles)
{
    const KeltoRun reference = RunKelto(Answers().Text(), FreshFolder("interrupted_reference"));
    // Every interrupt signal has the same handler: SIGTERM stands for them.
    const struct { int signal; bool moved; bool ignored = false; } cases[] = {{SIGTERM, false}, {SIGTERM, true}, {SIGHUP, false, true}};
    for (const auto& c : cases) {
        fs::path folder = FolderWithEarlierFiles("interrupted");
        int output = -1, raw = 0;
        // The run inherits what this process ignores.
        const auto before = std::signal(c.signal, c.ignored ? SIG_IGN : SIG_DFL);
        const pid_t pid = StartKelto(Answers().Text(), folder, "run", &output);
        std::signal(c.signal, before);
        ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 5; }));  // four temporaries and the journal
        if (c.moved) {
            fs::remove_all(folder.string() + "_moved");
            fs::rename(folder, folder.string() + "_moved");
            folder += "_moved";
        }
        ::kill(pid, c.signal);
        if (c.ignored) {
            EXPECT_EQ(FinishKelto(pid, output), 0);
        } else {
            ::waitpid(pid, &raw, 0);
            ::close(output);
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + c.signal) << c.signal << " " << raw;
        }
        EXPECT_TRUE(TemporaryFiles(folder).empty());
        for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), c.ignored ? reference.File(name) : kEarlier) << name;
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
    ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 5; }));  // four temporaries and the journal
    const pid_t next = StartKelto(second.Text(), folder, "second", &secondOutput);
    EXPECT_TRUE(Eventually([&] { return ReadWholeFile(folder / "second.err").find("waiting for another run") != std::string::npos; }));
    EXPECT_EQ(TemporaryFiles(folder).size(), 5u);
    EXPECT_TRUE(FinishKelto(first, firstOutput) == 0 && FinishKelto(next, secondOutput) == 0);
    for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), reference.File(name)) << name;
    EXPECT_TRUE(TemporaryFiles(folder).empty());
}

// Names that would destroy what is not kelto's, or what the run reads, are refused before anything
// is written; so are option values that can only be mistakes, and runs that would run away.
TEST(OutputFiles, RefusedBeforeAnythingIsWritten)
{
    const std::string silicon = "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 ";
    const std::string run = silicon + "--wavelength 1.5406 --band 0.02 --hmax 7 ";
    const std::string table = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
    const struct { std::string prepare, line; int status; std::string message; } cases[] = {
        // A socket made here stands for every special file (a device among them): a fault in this
        // check must not cost the machine its /dev/null when the tests run as root.
        {"/usr/bin/python3 -c \"import socket; socket.socket(socket.AF_UNIX).bind('sock')\"", run + "--events sock", 1,
         "Output file sock is a socket, which kelto never replaces"},
        {"cp '" + table + "' t.txt", run + "--table t.txt --events t.txt", 1,
         "Output file t.txt is the coefficient table t.txt, which kelto reads and does not overwrite"},
        {"cp '" + table + "' t.txt && ln -s t.txt link.csv", run + "--table t.txt --events link.csv", 1,
         "Output file link.csv is the coefficient table t.txt"},
        {"", run + "--events kelto_unweg.dat", 1, "Output files kelto_unweg.dat and kelto_unweg.dat are the same file"},
        {"", run + "--events .kelto-journal-Ab12Cd", 1,
         "Output file .kelto-journal-Ab12Cd has a name that kelto keeps for its temporary files and journals"},
        {"", silicon + "--glitches g.csv --at-psi 1 --energies 5,6 --glitch-map ./g.csv --energies 5,6", 2, "--energies"},
        {"", silicon + "--glitches g.csv --at-psi 1 --energies 5,6 --glitch-map ./g.csv", 1, "Output files g.csv and ./g.csv are the same file"},
        {"", run + "--events nofolder/e.csv", 1, "Cannot create output file nofolder/e.csv: No such file or directory"},
        {"", run + "--events " + std::string(300, 'e'), 1, "File name too long"},
        {"ln -s loop loop", run + "-o loop", 2, "--output-dir: 'loop' is not an existing folder (Too many levels of symbolic links)"},
        // Unit mistakes, refused up front with the estimate and the unit meant.
        {"", silicon + "--glitches g.csv --at-psi 10 --energies 5000,30000", 1,
         "--energies takes keV: is 30000 in eV (30 keV)? The run would "},
        {"", silicon + "--wavelength 0.0005 --band 0.0001", 1, "--wavelength takes angstrom: is 0.0005 in another unit? The run "},
        // A sphere whose count no double holds: the count from its logarithm, never inf or nan.
        {"", "--crystal GaAs --primary 0,0,2 --wavelength 1e-300 --band 0.02 --events e.csv", 1,
         "--wavelength takes angstrom: is 1e-300 in another unit? The limiting sphere holds about 6.05e+903 reflections, "
         "beyond what kelto can compute with\n"},
    };
    for (const auto& c : cases) {
        const fs::path folder = FolderWithEarlierFiles("refused");
        const KeltoRun done = RunKelto("", folder, c.line, (c.prepare.empty() ? "" : c.prepare + " && ") + "{kelto} > stdout.out 2> stderr.out");
        EXPECT_TRUE(done.status == c.status && done.errors.find(c.message) != std::string::npos) << c.line << "\n" << done.errors;
        for (const char* name : kOutputNames) EXPECT_TRUE(ReadWholeFile(folder / name) == kEarlier) << name << " " << c.line;
        EXPECT_TRUE(TemporaryFiles(folder).empty() && !fs::exists(folder / "g.csv") && done.output.empty()) << c.line;
    }
    // The dialogue's own unit mistake: hMax and a wavelength that would fill any disk.
    Answers huge;
    huge.hMax = "2147483647", huge.lambda = "0.0001";
    const KeltoRun dialogue = RunKelto(huge.Text(), FolderWithEarlierFiles("refused"));
    EXPECT_NE(dialogue.output.find("The wavelength lambda takes angstrom: is 0.0001 in another unit? The run would write about "),
              std::string::npos) << dialogue.output;
    EXPECT_NE(dialogue.output.find("curves)\nProgram QOR exits with error \n"), std::string::npos) << dialogue.output;
}

// Where no thread can be started (here a thread's stack, as large as the stack limit, never fits
// in the address space), the writer of the files and the glitch map's shares work on the calling
// thread: the run completes with the same files and the same console text. AddressSanitizer
// reserves far more address space than such a limit leaves.
TEST(OutputFiles, RunsWithoutThreadsWriteTheSameFiles)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer cannot run under a small address-space limit";
#endif
    rlimit stack{};
    if (::getrlimit(RLIMIT_STACK, &stack) != 0 || (stack.rlim_max != RLIM_INFINITY && stack.rlim_max < 1'000'000 * 1024ULL)) {
        GTEST_SKIP() << "the stack limit cannot be raised to 1 GB";
    }
    const std::string noThreads = "ulimit -s 1000000 && ulimit -v 400000 && {kelto} < answers.in > stdout.out 2> stderr.out";
    const struct { std::string answers, arguments; std::vector<std::string> files; } runs[] = {
        {Answers().Text(), "", {std::begin(kOutputNames), std::end(kOutputNames)}},
        {"", "--crystal GaAs --primary 0,0,2 --glitch-map m.csv --energies 5,9", {"m.csv"}},  // 388 lines, in shares over the cores
    };
    for (const auto& r : runs) {
        const KeltoRun threaded = RunKelto(r.answers, FreshFolder("threaded"), r.arguments);
        const KeltoRun serial = RunKelto(r.answers, FreshFolder("serial"), r.arguments, noThreads);
        ASSERT_EQ(threaded.status, 0) << r.arguments << threaded.errors;
        EXPECT_EQ(serial.status, 0) << r.arguments << serial.output.substr(serial.output.size() > 300 ? serial.output.size() - 300 : 0)
                                    << serial.errors;
        EXPECT_TRUE(serial.output == threaded.output && serial.errors == threaded.errors) << r.arguments;
        for (const std::string& name : r.files) EXPECT_TRUE(serial.File(name) == threaded.File(name)) << name;
    }
}

// What a killed run left (its temporaries and its journal) is taken back by the next run in the
// folder; SIGQUIT ends a run as the other interrupts do.
TEST(OutputFiles, LeftoversReclaimedAndQuitHandled)
{
    const fs::path folder = FolderWithEarlierFiles("leftovers");
    int output = -1, raw = 0;
    const pid_t killed = StartKelto(Answers().Text(), folder, "killed", &output);
    ASSERT_TRUE(Eventually([&] { return TemporaryFiles(folder).size() == 5; }));  // four temporaries and the journal
    ::kill(killed, SIGKILL);
    ::waitpid(killed, &raw, 0);
    ::close(output);
    const std::vector<std::string> left = TemporaryFiles(folder);
    const pid_t pid = StartKelto(Answers().Text(), folder, "run", &output);
    ASSERT_TRUE(Eventually([&] {
        const std::vector<std::string> now = TemporaryFiles(folder);
        return now.size() == 5 && std::none_of(left.begin(), left.end(), [&](const std::string& name) { return fs::exists(folder / name); });
    }));
    ::kill(pid, SIGQUIT);
    ::waitpid(pid, &raw, 0);
    ::close(output);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGQUIT) << raw;
    EXPECT_TRUE(TemporaryFiles(folder).empty());
    for (const char* name : kOutputNames) EXPECT_EQ(ReadWholeFile(folder / name), kEarlier) << name;
}

// The up-front estimate is within a factor of two of what the survey really records, for a whole
// limiting sphere and for one cut short by hMax.
TEST(OutputFiles, EstimateAgainstTheRealSurvey)
{
    const struct { int structure; float a, lambda; int hMax; const char* options; } surveys[] = {
        {4, 5.431f, 1.5406f, 7, "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5406 --hmax 7"},
        {3, 3.615f, 0.7107f, 11, "--structure fcc --lattice 3.615 --symbol Cu --primary 1,1,1 --wavelength 0.7107"},
        {4, 5.431f, 0.5594f, 8, "--structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 0.5594 --hmax 8"},
    };
    for (const auto& s : surveys) {
        InputStruct record{};
        record.structure = s.structure, record.latticeA = s.a, record.lambda = s.lambda, record.hMax = s.hMax;
        const SurveyEstimate estimate = EstimateSurvey(&record);
        const KeltoRun run = RunKelto("", FreshFolder("estimate"), std::string(s.options) + " --band 0.01 -q");
        long long curves = 0;
        ASSERT_EQ(std::sscanf(run.output.c_str(), "kelto: %lld result rows", &curves), 1) << run.output << run.errors;
        const long long bytes = static_cast<long long>(fs::file_size(run.folder / "kelto_spaghetti.dat") + fs::file_size(run.folder / "kelto_spaghetti.mac") +
                                                       fs::file_size(run.folder / "kelto_unweg.dat") + fs::file_size(run.folder / "kelto_unweg.mac"));
        EXPECT_TRUE(estimate.curves > curves / 2.0 && estimate.curves < curves * 2.0) << s.options << ": " << estimate.curves << " for " << curves;
        EXPECT_TRUE(estimate.bytes > bytes / 2.0 && estimate.bytes < bytes * 2.0) << s.options << ": " << estimate.bytes << " for " << bytes;
    }
}

// The planning tables' estimates are within a factor of two of the tables written, with the
// harmonics, for a cubic and a hexagonal cell; the predicted spectrum, weighed once computed, is
// weighed at the bytes of its table to the byte (seen where a folder of 64 kB refuses it).
TEST(OutputFiles, EstimateAgainstTheRealTables)
{
    const bool mounts = std::system("unshare -m bash -c 'mount -t tmpfs tmpfs /mnt' > /dev/null 2>&1") == 0;
    enum Kind { kEvents, kGlitches, kSpectrum, kMap };
    // Energies in keV (the band's at eMax), the psi window's width in degrees.
    const struct { const char* crystal; Miller primary; Kind kind; double eMin, eMax, width; int harmonics; const char* options; } tables[] = {
        {"Si", {0, 0, 4}, kEvents, 0, 14, 360, 1, "--energy 14 --relative-band 1e-4 --events t.csv"},
        {"quartz", {1, 0, 0}, kEvents, 0, 12, 30, 1, "--energy 12 --relative-band 1e-4 --events t.csv --psi 0,30"},
        {"Si", {1, 1, 1}, kGlitches, 5, 6, 0, 4, "--glitches t.csv --at-psi 10 --energies 5,6 --harmonics 4"},
        {"Si", {1, 1, 1}, kSpectrum, 5, 11, 0, 1, "--spectrum t.csv --at-psi 10 --energies 5,11"},
        {"Si", {1, 1, 1}, kSpectrum, 8, 9, 0, 3, "--spectrum t.csv --at-psi 10 --energies 8,9 --harmonics 3 --harmonic-content 0,0.02"},
        {"GaAs", {0, 0, 2}, kMap, 8, 10, 45, 1, "--glitch-map t.csv --energies 8,10 --psi 0,45"},
    };
    for (const auto& t : tables) {
        const std::unique_ptr<CifCrystal> crystal = CifCrystal::Read(ShippedCrystalPath(t.crystal), nullptr);
        const ScanFrame frame = MatrixFrame(crystal->lattice(), t.primary);
        const std::string line = Printed("--crystal %s --primary %d,%d,%d %s", t.crystal, t.primary.h, t.primary.k, t.primary.l, t.options);
        const KeltoRun run = RunKelto("", FreshFolder("table_estimate"), line);
        ASSERT_EQ(run.status, 0) << line << run.errors;
        const double bytes = static_cast<double>(fs::file_size(run.folder / "t.csv"));
        if (t.kind == kSpectrum) {
            if (!mounts) continue;
            const KeltoRun refused = RunKelto("", FreshFolder("table_estimate"), "-o tiny " + line,
                                              "[ -n \"$KELTO_NS\" ] || exec env KELTO_NS=1 unshare -m bash \"$0\"; mkdir tiny && "
                                              "mount -t tmpfs -o size=64k tmpfs tiny && {kelto} > stdout.out 2> stderr.out");
            EXPECT_TRUE(refused.status == 1 && refused.errors.find(Printed(" would take %.0f bytes in tiny, more than the ", bytes)) !=
                                                   std::string::npos) << line << ": " << bytes << " bytes, " << refused.errors;
            continue;
        }
        const RunSize size = t.kind == kEvents ? EventsSize(*crystal, frame, kHcKeVAngstrom / t.eMax, t.width)
                             : t.kind == kMap  ? GlitchMapSize(*crystal, frame, t.eMax, t.width)
                                               : GlitchesSize(*crystal, frame, t.eMin, t.eMax, t.harmonics);
        EXPECT_TRUE(size.bytes > bytes / 2.0 && size.bytes < bytes * 2.0) << line << ": " << size.bytes << " for " << bytes;
    }
}
