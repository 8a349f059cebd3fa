#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "setup/answer_reader.h"

namespace {

// The widest psi window in which events are sought: ten turns.
constexpr double kWidestPlanningWindow = 3600.0;

// A usage error: what is wrong, in one line. Thrown while the options are converted.
struct UsageError {
    std::string what;
};

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == ',') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

// `count` numbers separated by commas (one or three for --hmax).
template <typename T>
std::vector<T> Numbers(const std::string& option, const std::string& text, std::vector<std::size_t> counts,
                       bool (*parse)(const std::string&, T*), const char* form)
{
    const std::vector<std::string> parts = SplitList(text);
    std::vector<T> values(parts.size());
    bool good = std::find(counts.begin(), counts.end(), parts.size()) != counts.end();
    for (std::size_t i = 0; good && i < parts.size(); ++i) good = parse(parts[i], &values[i]);
    if (!good) throw UsageError{option + ": '" + text + "' is not " + form};
    return values;
}

float Float(const std::string& option, const std::string& text)
{
    return Numbers<float>(option, text, {1}, ParseFloatAnswer, "a number")[0];
}

bool ParseDouble(const std::string& text, double* value)
{
    float check = 0.0f;
    if (!ParseFloatAnswer(text, &check)) return false;  // the same words as a float answer
    *value = std::strtod(text.c_str(), nullptr);
    return true;
}

int Structure(const std::string& text)
{
    std::string word = text;
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char* names[] = {"sc", "bcc", "fcc", "diamond"};
    for (int i = 0; i < 4; ++i) {
        if (word == names[i] || word == std::to_string(i + 1)) return i + 1;
    }
    throw UsageError{"--structure: '" + text + "' is not sc, bcc, fcc, diamond or 1 to 4"};
}

void CopyWord(const std::string& option, const std::string& text, char* field, std::size_t capacity)
{
    if (text.empty() || text.size() >= capacity || text.find('\0') != std::string::npos) {
        throw UsageError{option + ": '" + text + "' is empty or longer than " + std::to_string(capacity - 1) +
                         " characters"};
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
}

// Every reflection that can diffract lies within h <= 2a / lambda, the radius of the limiting
// sphere (2a formed in single precision, as the survey does).
int LimitingSphereReach(float latticeA, float lambda)
{
    const double reach = std::ceil(static_cast<double>(latticeA + latticeA) / static_cast<double>(lambda));
    if (!(reach >= 0.0)) return 0;
    return reach >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(reach);
}

void PrintHelp()
{
    std::printf(R"(Usage: kelto [OPTION]...
The multiple-beam (Umweg) pattern of an azimuthal scan of a cubic crystal of one
element about a primary reflection H K L: writes kelto_spaghetti.dat,
kelto_spaghetti.mac, kelto_unweg.dat and kelto_unweg.mac. Without options, kelto
asks its fourteen questions on standard input instead.

Required:
  --structure TYPE      crystal structure: sc, bcc, fcc or diamond (or 1 to 4)
  --lattice A           lattice parameter a, in angstrom
  --symbol S            crystal symbol, the key of its record in the coefficient
                        table (Si, Cu, Fe3+...; any case)
  --primary H,K,L       primary reflection (integers, not all 0)
  --wavelength A        wavelength lambda, in angstrom, or
  --energy E            photon energy, in keV: lambda = hc / E with
                        hc = 12.398419843320026 keV angstrom (CODATA 2018)
  --band D              full width delta lambda of the wavelength band, in
                        angstrom, or
  --relative-band R     the band as a share of the wavelength:
                        delta lambda = R lambda
Optional:
  --hmax H[,K,L]        largest Miller index surveyed; K and L are only echoed
                        in the table header (default ceil(2a / lambda): every
                        reflection that can diffract)
  --psi MIN,MAX         azimuth window of the band-crossing search, in degrees,
                        both ends excluded (default -180,180)
  --table FILE          scattering-factor coefficient file (default the table
                        that comes with kelto,
                        %s)
  -o, --output-dir DIR  folder for the four files; it must exist (default the
                        current folder)
  -q, --quiet           print only a short summary on standard output instead
                        of the echo of every curve
Planning a scan:
  --events FILE         also write the multiple-beam events, ranked by strength
                        |F(X)| |F(G - X)| with their coupling reflection, to the
                        CSV table FILE
  --clean WIDTH[,FRACTION]
                        also print the azimuth windows at least WIDTH degrees
                        wide free of events above FRACTION (default 0.01) of
                        the strongest
  --glitches FILE       instead of the four files, write the glitch spectrum of
                        an energy scan at a fixed azimuth to the CSV table FILE;
                        needs --at-psi and --energies, takes no wavelength,
                        band, --psi, --events, --clean or --output-dir
  --at-psi PSI          the azimuth of the energy scan, in degrees
  --energies EMIN,EMAX  its energy range, in keV (the survey reaches hc / EMAX)
Other:
  -h, --help            show this help and exit
      --version         show the version and exit
A value follows its option after a space or an '=', negative values too
(--psi -90,90).

Examples (silicon at Cu K-alpha 1, primary reflection 0 0 2; the glitches of a
silicon 1 1 1 monochromator from 5 to 30 keV):
  kelto --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 \
        --energy 8.04778 --band 0.02 --output-dir si002 \
        --events si002/kelto_events.csv --clean 2
  kelto --structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 \
        --glitches kelto_glitches.csv --at-psi 10 --energies 5,30

Exit status: 0 the run completed; 1 the run was refused or a file could not be
written (the message says why); 2 the command line is wrong; 128 + n the run was
interrupted by signal n.
)", ShippedTable().c_str());
}

}  // namespace

std::string ShippedTable()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed = program.parent_path() / ".." / "share" / "kelto" / "f0_it1992.txt";
        if (std::filesystem::is_regular_file(installed, error)) return installed.lexically_normal().string();
    }
    return KELTO_SOURCE_DATA_DIR "/f0_it1992.txt";
}

int ParseCommandLine(int argc, const char* const* argv, InputStruct* record, RunOptions* options)
{
    CLI::App app{"", "kelto"};
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", "kelto " KELTO_VERSION);
    std::string structure, table = ShippedTable(), lattice, hmax, wavelength, energy, symbol;
    std::string psi = "-180,180", primary, band, relativeBand, folder;
    // Unknown words are collected rather than refused at once, and the required options checked
    // here afterwards, so that a mistyped option is reported as such, not as a missing one.
    app.allow_extras();
    std::string events, clean, glitches, atPsi, energies;
    for (const auto& [name, value] : {std::pair{"--structure", &structure}, {"--lattice", &lattice}, {"--symbol", &symbol},
                                      {"--primary", &primary}, {"--wavelength", &wavelength}, {"--energy", &energy},
                                      {"--band", &band}, {"--relative-band", &relativeBand}, {"--hmax", &hmax}, {"--psi", &psi},
                                      {"--table", &table}, {"-o,--output-dir", &folder}, {"--events", &events},
                                      {"--clean", &clean}, {"--glitches", &glitches}, {"--at-psi", &atPsi},
                                      {"--energies", &energies}}) {
        app.add_option(name, *value);
    }
    app.add_flag("-q,--quiet", options->quiet);
    try {
        app.parse(argc, argv);
        if (!app.remaining().empty()) {
            const std::string word = app.remaining().front();
            throw UsageError{(word.starts_with("-") ? "unknown option '" : "unexpected argument '") + word + "'"};
        }
        for (const auto& [name, value] : {std::pair{"--structure", &structure}, {"--lattice", &lattice},
                                          {"--symbol", &symbol}, {"--primary", &primary}}) {
            if (value->empty()) throw UsageError{std::string(name) + " is required"};
        }
        const bool glitchRun = !glitches.empty();
        if (glitchRun) {
            for (const char* name : {"--wavelength", "--energy", "--band", "--relative-band", "--psi",
                                     "--events", "--clean", "--output-dir"}) {
                if (app.count(name) > 0) throw UsageError{std::string(name) + " has no use with --glitches"};
            }
            if (atPsi.empty() || energies.empty()) throw UsageError{"--glitches needs --at-psi and --energies"};
        } else {
            if (!atPsi.empty() || !energies.empty()) throw UsageError{"--at-psi and --energies go with --glitches"};
            if (wavelength.empty() == energy.empty()) throw UsageError{"give either --wavelength or --energy"};
            if (band.empty() == relativeBand.empty()) throw UsageError{"give either --band or --relative-band"};
        }
        record->structure = Structure(structure);
        CopyWord("--table", table, record->factorFile, sizeof record->factorFile);
        record->latticeA = Float("--lattice", lattice);
        if (glitchRun) {
            options->glitchesFile = glitches;
            options->atPsi = Numbers<double>("--at-psi", atPsi, {1}, ParseDouble, "a number")[0];
            const std::vector<double> range = Numbers<double>("--energies", energies, {2}, ParseDouble, "EMIN,EMAX (two numbers)");
            if (!std::isfinite(options->atPsi)) throw UsageError{"--at-psi: '" + atPsi + "' is not a finite number"};
            if (!(range[0] > 0.0 && range[0] < range[1] && std::isfinite(range[1]))) {
                throw UsageError{"--energies: '" + energies + "' is not EMIN,EMAX with 0 < EMIN < EMAX"};
            }
            options->energyMin = range[0];
            options->energyMax = range[1];
            // The survey's limiting sphere is that of the shortest wavelength of the scan.
            record->lambda = static_cast<float>(kHcKeVAngstrom / range[1]);
            options->wavelengthOption = "--energies";
        } else if (!wavelength.empty()) {
            record->lambda = Float("--wavelength", wavelength);
        } else {
            const double keV = Numbers<double>("--energy", energy, {1}, ParseDouble, "a number")[0];
            record->lambda = static_cast<float>(kHcKeVAngstrom / keV);
            options->wavelengthOption = "--energy";
        }
        CopyWord("--symbol", symbol, record->symbol, sizeof record->symbol);
        const std::vector<float> window = Numbers<float>("--psi", psi, {2}, ParseFloatAnswer, "MIN,MAX (two numbers)");
        record->psiMin = window[0];
        record->psiMax = window[1];
        const std::vector<int> hkl = Numbers<int>("--primary", primary, {3}, ParseIntAnswer, "H,K,L (three integers)");
        record->primaryH = hkl[0];
        record->primaryK = hkl[1];
        record->primaryL = hkl[2];
        if (glitchRun) {
            record->deltaLambda = 0.0f;
        } else if (!band.empty()) {
            record->deltaLambda = Float("--band", band);
        } else {
            const double ratio = Numbers<double>("--relative-band", relativeBand, {1}, ParseDouble, "a number")[0];
            record->deltaLambda = static_cast<float>(ratio * static_cast<double>(record->lambda));
        }
        if (hmax.empty()) {
            record->hMax = record->kMax = record->lMax = LimitingSphereReach(record->latticeA, record->lambda);
        } else {
            const std::vector<int> maxima = Numbers<int>("--hmax", hmax, {1, 3}, ParseIntAnswer, "H or H,K,L (integers)");
            record->hMax = maxima[0];
            record->kMax = maxima[maxima.size() == 3 ? 1 : 0];
            record->lMax = maxima[maxima.size() == 3 ? 2 : 0];
        }
        if (!folder.empty() && !std::filesystem::is_directory(folder)) {
            throw UsageError{"--output-dir: '" + folder + "' is not an existing folder"};
        }
        options->outputFolder = folder;
        if (!clean.empty()) {
            const std::vector<double> c = Numbers<double>("--clean", clean, {1, 2}, ParseDouble, "WIDTH[,FRACTION]");
            options->cleanWidth = c[0];
            if (c.size() == 2) options->cleanFraction = c[1];
            if (!(c[0] > 0.0 && std::isfinite(c[0]) && options->cleanFraction >= 0.0 && options->cleanFraction < 1.0)) {
                throw UsageError{"--clean: '" + clean + "' is not a width above 0 degrees and a fraction from 0 to below 1"};
            }
        }
        options->eventsFile = events;
        // Events are sought at psi0 + 360 n for every n that reaches the window: it must be finite.
        if ((!events.empty() || !clean.empty()) &&
            !(record->psiMin < record->psiMax && record->psiMax - record->psiMin <= kWidestPlanningWindow)) {
            throw UsageError{"--psi: '" + psi + "' must be MIN,MAX with MIN below MAX, at most 3600 degrees apart, "
                             "for --events and --clean"};
        }
    } catch (const CLI::CallForHelp&) {
        PrintHelp();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("kelto %s\n", KELTO_VERSION);
        return 0;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "kelto: %s\nTry 'kelto --help' for more information.\n", error.what());
        return 2;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kelto: %s\nTry 'kelto --help' for more information.\n", error.what.c_str());
        return 2;
    }
    return -1;
}
