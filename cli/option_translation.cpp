// The translation of the typed options into a run: the record the dialogue would fill from the
// same answers, and what the planning options ask.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli/command_line.h"
#include "cli/option_grammar.h"
#include "crystal/cif_crystal.h"
#include "crystal/shipped_crystals.h"
#include "crystal/thermal_expansion.h"
#include "io/run_error.h"
#include "fit/glitch_fit.h"
#include "planning/request_checks.h"
#include "setup/answer_reader.h"
#include "setup/answer_source.h"
#include "setup/units.h"
#include "survey/families.h"

namespace {

// The highest harmonic a glitch spectrum takes: a monochromator passes little beyond the fifth.
constexpr int kMostHarmonics = 9;
// A divergence beyond this many degrees would leave no azimuth clean anyway.
constexpr double kWidestDivergence = 90.0;
// A monochromator's energy is set to a few eV; an offset beyond this many is a wrong crystal.
constexpr double kWidestOffsetEV = 500.0;

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

// A list of numbers separated by commas, of one of the lengths `counts`.
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

bool ParseDouble(const std::string& text, double* value)
{
    float check = 0.0f;
    if (!ParseFloatAnswer(text, &check)) return false;  // the same words as a float answer
    *value = std::strtod(text.c_str(), nullptr);
    return true;
}

float Float(const OptionWords& words, const std::string& option)
{
    return Numbers<float>(option, words.Value(option), {1}, ParseFloatAnswer, "a number")[0];
}

double Double(const OptionWords& words, const std::string& option)
{
    return Numbers<double>(option, words.Value(option), {1}, ParseDouble, "a number")[0];
}

// A number typed once and taken twice: into the record as the dialogue reads the same answer
// (single precision, the survey's), and as typed in double precision for the planning engine.
struct TwoPrecisions {
    float record;
    double plan;
};

TwoPrecisions Number(const OptionWords& words, const std::string& option)
{
    return {Float(words, option), Double(words, option)};
}

Miller Indices(const OptionWords& words, const std::string& option)
{
    const std::vector<int> v = Numbers<int>(option, words.Value(option), {3}, ParseIntAnswer, "H,K,L (three integers)");
    return Miller{v[0], v[1], v[2]};
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

// EMIN,EMAX with 0 < EMIN < EMAX, finite; and an optional fraction from 0 to below 1.
void EnergyRange(const std::string& text, const std::string& option, bool withFraction, double* eMin, double* eMax,
                 double* fraction)
{
    const std::vector<double> v = Numbers<double>(option, text, withFraction ? std::vector<std::size_t>{2, 3}
                                                                              : std::vector<std::size_t>{2},
                                                  ParseDouble, withFraction ? "EMIN,EMAX[,FRACTION]" : "EMIN,EMAX (two numbers)");
    if (!(v[0] > 0.0 && v[0] < v[1] && std::isfinite(v[1]))) {
        throw UsageError{option + ": '" + text + "' is not EMIN,EMAX with 0 < EMIN < EMAX"};
    }
    *eMin = v[0], *eMax = v[1];
    if (v.size() == 3) {
        if (!(v[2] >= 0.0 && v[2] < 1.0)) throw UsageError{option + ": '" + text + "' has a FRACTION outside 0 to below 1"};
        *fraction = v[2];
    }
}

// The options that go together, and those that have no use in this kind of run.
void CheckCombinations(const OptionWords& words)
{
    // The scans at one azimuth: the glitch spectrum and the predicted I0 spectrum.
    const bool atPsi = words.Has("--glitches") || words.Has("--spectrum");
    const char* atPsiScan = words.Has("--glitches") ? "--glitches" : "--spectrum";
    const bool fit = words.Has("--fit-glitches");
    const bool energyRun = atPsi || fit || words.Has("--glitch-map") || words.Has("--clean-energies");
    if (words.Has("--cif") || words.Has("--crystal")) {
        const char* source = words.Has("--cif") ? "--cif" : "--crystal";
        for (const char* name : {"--cif", "--structure", "--lattice", "--symbol", "--table", "--hmax"}) {
            if (name != std::string(source) && words.Has(name)) {
                throw UsageError{std::string(name) + " has no use with " + source + " (it writes the planning tables only)"};
            }
        }
        if (words.Has("--cif") && words.Has("--temperature")) {
            throw UsageError{"--temperature goes with --crystal (the shipped Si, Ge or diamond), not with --cif, whose cell is as the file gives it"};
        }
        if (!words.Has("--primary")) throw UsageError{"--primary is required"};
        if (!energyRun && !words.Has("--events") && !words.Has("--clean")) {
            throw UsageError{std::string(source) + " writes planning tables only: give --events or --clean (with a "
                             "wavelength and band), or --glitches, --spectrum, --glitch-map, --clean-energies or "
                             "--fit-glitches"};
        }
    } else {
        if (words.Has("--temperature")) {
            throw UsageError{"--temperature goes with --crystal (the shipped Si, Ge or diamond), not with --structure and --lattice, whose "
                             "cell is as given"};
        }
        for (const char* name : {"--structure", "--lattice", "--symbol", "--primary"}) {
            if (!words.Has(name)) throw UsageError{std::string(name) + " is required"};
        }
    }
    if (energyRun) {
        const char* energyScan = atPsi                     ? atPsiScan
                                 : fit                       ? "--fit-glitches"
                                 : words.Has("--glitch-map") ? "--glitch-map"
                                                             : "--clean-energies";
        for (const char* name : {"--wavelength", "--energy", "--band", "--relative-band", "--hmax", "--events", "--clean"}) {
            if (words.Has(name)) throw UsageError{std::string(name) + " has no use with " + energyScan};
        }
        if (atPsi && !(words.Has("--at-psi") && words.Has("--energies"))) {
            throw UsageError{std::string(atPsiScan) + " needs --at-psi and --energies"};
        }
        if (words.Has("--glitch-map") && !words.Has("--energies")) throw UsageError{"--glitch-map needs --energies"};
        if (fit && !words.Has("--energies")) throw UsageError{"--fit-glitches needs --energies"};
        if (words.Has("--at-psi") && !atPsi && !fit) throw UsageError{"--at-psi goes with --glitches, --spectrum or --fit-glitches"};
        if (words.Has("--energies") && !atPsi && !fit && !words.Has("--glitch-map")) {
            throw UsageError{"--energies goes with --glitches, --spectrum, --glitch-map or --fit-glitches"};
        }
        if (words.Has("--psi") && !words.Has("--glitch-map") && !words.Has("--clean-energies") && !fit) {
            throw UsageError{std::string("--psi has no use with ") + atPsiScan + " alone"};
        }
    } else {
        if (words.Has("--at-psi") || words.Has("--energies")) {
            throw UsageError{"--at-psi and --energies go with --glitches, --spectrum or --fit-glitches (and --energies "
                             "with --glitch-map)"};
        }
        if (words.Has("--wavelength") == words.Has("--energy")) throw UsageError{"give either --wavelength or --energy"};
        if (words.Has("--band") == words.Has("--relative-band")) throw UsageError{"give either --band or --relative-band"};
    }
    const bool windows = words.Has("--clean") || words.Has("--clean-energies");
    if (words.Has("--windows") && !windows) throw UsageError{"--windows goes with --clean or --clean-energies"};
    // The runs whose widths and depths take the beam: the clean windows too, every event and
    // glitch line taking the azimuths of its own width.
    const bool beamed = atPsi || fit || windows || words.Has("--events") || words.Has("--glitch-map");
    if (words.Has("--divergence") && !beamed) {
        throw UsageError{"--divergence goes with --clean, --clean-energies, --events, --glitches, --spectrum or --glitch-map"};
    }
    for (const char* name : {"--polarisation", "--surface"}) {
        if (words.Has(name) && !beamed) {
            throw UsageError{std::string(name) + " goes with --events, --clean, --glitches, --spectrum, --glitch-map or "
                             "--clean-energies"};
        }
    }
    // The monochromator's build decides the dips of its glitches, not an azimuthal scan's events.
    if (words.Has("--monochromator") && !energyRun) {
        throw UsageError{"--monochromator goes with --glitches, --spectrum, --glitch-map, --clean-energies or --fit-glitches"};
    }
    if (words.fitSecond) {
        if (!fit) throw UsageError{"--fit-second goes with --fit-glitches"};
        if (!words.Has("--monochromator") || words.Value("--monochromator") != "double") {
            throw UsageError{"--fit-second fits a double monochromator's second crystal: give --monochromator double"};
        }
    }
    if (words.Has("--second-psi")) {
        if (!(atPsi || words.Has("--glitch-map") || words.Has("--clean-energies") || words.fitSecond)) {
            throw UsageError{"--second-psi goes with --glitches, --spectrum, --glitch-map, --clean-energies or --fit-second"};
        }
        if (!words.Has("--monochromator") || words.Value("--monochromator") != "double") {
            throw UsageError{"--second-psi is the azimuth of a double monochromator's second crystal: give --monochromator double"};
        }
    }
    // The threshold of a clean search is a depth or a FRACTION of the strongest, not both.
    if (words.Has("--max-depth") && !windows) throw UsageError{"--max-depth goes with --clean or --clean-energies"};
    for (const char* name : {"--clean", "--clean-energies"}) {
        const std::size_t withFraction = std::string(name) == "--clean" ? 2 : 3;
        if (words.Has("--max-depth") && words.Has(name) && SplitList(words.Value(name)).size() == withFraction) {
            throw UsageError{std::string("--max-depth and the FRACTION of ") + name + " '" + words.Value(name) +
                             "' are two thresholds: give one"};
        }
    }
    if (words.Has("--min-width") && words.Has("--clean")) {
        throw UsageError{"--min-width has no use with --clean, whose WIDTH is the narrowest window it lists"};
    }
    if (words.Has("--min-width") && !words.Has("--clean-energies")) throw UsageError{"--min-width goes with --clean-energies"};
    if (words.Has("--windows-shown") && !words.Has("--clean-energies")) {
        throw UsageError{"--windows-shown goes with --clean-energies (--clean lists its windows by start, all of them)"};
    }
    if (words.Has("--harmonics") && !atPsi && !fit) throw UsageError{"--harmonics goes with --glitches, --spectrum or --fit-glitches"};
    if (words.Has("--harmonic-content") && !words.Has("--spectrum") && !fit) {
        throw UsageError{"--harmonic-content goes with --spectrum or --fit-glitches"};
    }
    for (const char* name : {"--fit-table", "--scan-unit", "--max-offset", "--offsets", "--significance", "--calibrate"}) {
        if (words.Has(name) && !fit) throw UsageError{std::string(name) + " goes with --fit-glitches"};
    }
    if (words.Has("--calibration") && !words.Has("--calibrate")) {
        throw UsageError{"--calibration goes with --calibrate (the table of the readback and photon energy it fits)"};
    }
    if (words.Has("--calibrate") && words.Has("--offsets")) {
        throw UsageError{"--offsets has no use with --calibrate, which fits an angle offset and a d-spacing ratio in place of "
                         "energy offsets"};
    }
    if (words.Has("--reference") && !energyRun && !words.Has("--events") && !words.Has("--clean")) {
        throw UsageError{"--reference has no use without a planning option (--events, --clean, --glitches, "
                         "--glitch-map, --clean-energies)"};
    }
}

void TranslatePlanning(const OptionWords& words, const std::string& outputFolder, PlanOptions* plan)
{
    if (words.Has("--reference")) {
        plan->reference = Indices(words, "--reference");
        if (Parallel(plan->primary, *plan->reference)) {
            throw UsageError{"--reference: '" + words.Value("--reference") +
                             "' is zero or parallel to the primary reflection: it has no component across it"};
        }
    }
    if (words.Has("--divergence")) {
        const std::string& text = words.Value("--divergence");
        const std::vector<double> d = Numbers<double>("--divergence", text, {1, 2}, ParseDouble, "ACROSS[,ALONG] (degrees)");
        plan->beam.acrossDegrees = d[0];
        if (d.size() == 2) plan->beam.alongDegrees = d[1];
        for (const double value : d) {
            if (!(value >= 0.0 && value <= kWidestDivergence)) {
                throw UsageError{"--divergence: '" + text + "' is not one or two numbers of degrees from 0 to 90"};
            }
        }
    }
    if (words.Has("--polarisation")) {
        const std::string& word = words.Value("--polarisation");
        const struct { const char* name; Polarisation polarisation; } kinds[] = {
            {"sigma", Polarisation::kSigma}, {"pi", Polarisation::kPi}, {"unpolarised", Polarisation::kUnpolarised},
            {"unpolarized", Polarisation::kUnpolarised}};
        bool known = false;
        for (const auto& kind : kinds) {
            if (word == kind.name) plan->beam.polarisation = kind.polarisation, known = true;
        }
        if (!known) throw UsageError{"--polarisation: '" + word + "' is not sigma, pi or unpolarised"};
    }
    if (words.Has("--monochromator")) {
        const std::string& word = words.Value("--monochromator");
        const struct { const char* name; Monochromator monochromator; } kinds[] = {
            {"single", Monochromator::kSingle}, {"double", Monochromator::kDouble}, {"channel-cut", Monochromator::kChannelCut}};
        bool known = false;
        for (const auto& kind : kinds) {
            if (word == kind.name) plan->beam.monochromator = kind.monochromator, known = true;
        }
        if (!known) throw UsageError{"--monochromator: '" + word + "' is not single, double or channel-cut"};
    }
    if (words.Has("--surface")) {
        plan->beam.surface = Indices(words, "--surface");
        if (IsZero(*plan->beam.surface)) throw UsageError{"--surface: '" + words.Value("--surface") + "' is no direction"};
    }
    if (words.Has("--harmonics")) {
        const std::vector<int> n = Numbers<int>("--harmonics", words.Value("--harmonics"), {1}, ParseIntAnswer, "N (an integer)");
        if (!(n[0] >= 1 && n[0] <= kMostHarmonics)) {
            throw UsageError{"--harmonics: '" + words.Value("--harmonics") + "' is not a whole number from 1 to " +
                             std::to_string(kMostHarmonics)};
        }
        plan->harmonics = n[0];
    }
    if (words.Has("--harmonic-content") && plan->harmonics == 1) {
        throw UsageError{"--harmonic-content needs --harmonics 2 or more"};
    }
    if (words.Has("--harmonic-content")) {
        // One share for every harmonic, or one for each order the structure lets through: how many
        // those are is known once the crystal is (RunFromRecord).
        const std::string& text = words.Value("--harmonic-content");
        std::vector<std::size_t> counts;
        for (std::size_t n = 1; n < static_cast<std::size_t>(plan->harmonics); ++n) counts.push_back(n);
        // Numbers separated by commas are shares, nan and inf among them (to be refused as shares, not
        // looked for as a file); anything else but digits, points, commas, signs and e names a table of
        // shares against the setting.
        const std::vector<std::string> parts = SplitList(text);
        const bool numbers = std::all_of(parts.begin(), parts.end(), [](const std::string& part) {
            double value = 0.0;
            return ParseDouble(part, &value);
        });
        if (!numbers && text.find_first_not_of("0123456789.,+-eE") != std::string::npos) {
            plan->harmonicContentFile = text;  // read, not written: taken as it stands
        } else {
            plan->harmonicShares = Numbers<double>("--harmonic-content", text, counts, ParseDouble,
                                                   "C or C2,...,CN (one share for every harmonic of --harmonics, or one for "
                                                   "each), or FILE");
        }
        for (const double c : plan->harmonicShares) {
            if (!std::isfinite(c)) throw UsageError{"--harmonic-content: '" + text + "' has a share that is not a finite number"};
            if (!(c >= 0.0 && c <= 1.0)) throw UsageError{"--harmonic-content: '" + text + "' has a share outside 0 to 1"};
        }
    }
    if (words.Has("--clean")) {
        const std::string& text = words.Value("--clean");
        const std::vector<double> c = Numbers<double>("--clean", text, {1, 2}, ParseDouble, "WIDTH[,FRACTION]");
        plan->cleanWidth = c[0];
        if (c.size() == 2) plan->cleanFraction = c[1];
        if (!(c[0] > 0.0 && std::isfinite(c[0]) && plan->cleanFraction >= 0.0 && plan->cleanFraction < 1.0)) {
            throw UsageError{"--clean: '" + text + "' is not a width above 0 degrees and a fraction from 0 to below 1"};
        }
    }
    // A table named without a folder goes beside the four files, into the output folder.
    const auto table = [&](const char* option) {
        const std::string& name = words.Value(option);
        return name.empty() || name.find('/') != std::string::npos || outputFolder.empty() ? name : outputFolder + "/" + name;
    };
    plan->eventsFile = table("--events");
    plan->windowsFile = table("--windows");
    plan->glitchesFile = table("--glitches");
    plan->spectrumFile = table("--spectrum");
    plan->mapFile = table("--glitch-map");
    if (words.Has("--fit-glitches")) {
        plan->fitScanFiles = SplitList(words.Value("--fit-glitches"));  // read, not written: taken as they stand
        plan->fitSecond = words.fitSecond;
        for (const std::string& file : plan->fitScanFiles) {
            if (file.empty()) throw UsageError{"--fit-glitches: '" + words.Value("--fit-glitches") + "' names an empty file"};
        }
    }
    if (words.Has("--offsets")) {
        const std::string& offsets = words.Value("--offsets");
        if (offsets != "each" && offsets != "one") throw UsageError{"--offsets: '" + offsets + "' is not each or one"};
        plan->fitOneOffset = offsets == "one";
    }
    if (words.Has("--significance")) {
        plan->fitSignificance = Double(words, "--significance");
        if (!(plan->fitSignificance >= kSmallestSignificance && plan->fitSignificance <= kLargestSignificance)) {
            throw UsageError{"--significance: '" + words.Value("--significance") + "' is not a probability from " +
                             Printed("%g to %g", kSmallestSignificance, kLargestSignificance)};
        }
    }
    plan->fitTableFile = table("--fit-table");
    plan->fitCalibrate = words.Has("--calibrate");
    plan->calibrationFile = table("--calibration");
    if (words.Has("--scan-unit")) {
        const std::string& unit = words.Value("--scan-unit");
        if (unit != "keV" && unit != "eV") throw UsageError{"--scan-unit: '" + unit + "' is not keV or eV"};
        plan->scanToKeV = unit == "eV" ? 0.001 : 1.0;
    }
    if (words.Has("--max-offset")) {
        plan->widestOffsetEV = Double(words, "--max-offset");
        if (!(plan->widestOffsetEV >= 0.0 && plan->widestOffsetEV <= kWidestOffsetEV)) {
            throw UsageError{"--max-offset: '" + words.Value("--max-offset") + "' is not a number of eV from 0 to " +
                             std::to_string(static_cast<int>(kWidestOffsetEV))};
        }
    }
    if (words.Has("--at-psi")) {
        plan->atPsi = Double(words, "--at-psi");
        if (!std::isfinite(plan->atPsi)) throw UsageError{"--at-psi: '" + words.Value("--at-psi") + "' is not a finite number"};
        if (!AzimuthWithinBound(plan->atPsi)) {
            throw UsageError{"--at-psi: '" + words.Value("--at-psi") + "' is not an azimuth from -3600 to 3600 degrees"};
        }
        plan->fitNominalPsi = plan->atPsi;
    }
    if (words.Has("--second-psi")) {
        plan->secondPsi = Double(words, "--second-psi");
        if (!std::isfinite(*plan->secondPsi) || !AzimuthWithinBound(*plan->secondPsi)) {
            throw UsageError{"--second-psi: '" + words.Value("--second-psi") + "' is not an azimuth from -3600 to 3600 degrees"};
        }
    }
    if (words.Has("--energies")) EnergyRange(words.Value("--energies"), "--energies", false, &plan->energyMin, &plan->energyMax, nullptr);
    for (const std::string& text : words.Values("--clean-energies")) {
        plan->cleanEnergies = true;
        PlanOptions::CleanRange range;
        EnergyRange(text, "--clean-energies", true, &range.eMin, &range.eMax, &range.fraction);
        range.byStrength = SplitList(text).size() == 3;
        plan->cleanRanges.push_back(range);
    }
    if (words.Has("--max-depth")) {
        plan->maxDepth = Double(words, "--max-depth");
        if (!(plan->maxDepth > 0.0 && plan->maxDepth < 1.0)) {
            throw UsageError{"--max-depth: '" + words.Value("--max-depth") + "' is not a share of I0 above 0 and below 1"};
        }
    }
    if (words.Has("--min-width")) {
        plan->cleanMinWidth = Double(words, "--min-width");
        if (!(plan->cleanMinWidth >= 0.0 && std::isfinite(plan->cleanMinWidth))) {
            throw UsageError{"--min-width: '" + words.Value("--min-width") + "' is not a finite number of degrees from 0 up"};
        }
    }
    if (words.Has("--windows-shown")) {
        const std::string& text = words.Value("--windows-shown");
        const int shown = Numbers<int>("--windows-shown", text, {1}, ParseIntAnswer, "N (a whole number)")[0];
        if (shown < 0) throw UsageError{"--windows-shown: '" + text + "' is not a whole number from 0 up"};
        plan->windowsShown = static_cast<std::size_t>(shown);
    }
    if (words.Has("--psi")) {
        const std::vector<double> w = Numbers<double>("--psi", words.Value("--psi"), {2}, ParseDouble, "MIN,MAX (two numbers)");
        plan->window = PsiWindow{w[0], w[1]};
    }
    // Planning sweeps every turn of the window: it must be finite, and of a sensible width.
    const bool planning = plan->AtBand() || !plan->mapFile.empty() || plan->cleanEnergies || !plan->fitScanFiles.empty();
    if (planning && !(plan->window.min < plan->window.max && plan->window.max - plan->window.min <= kWidestPsiWindow &&
                      AzimuthWithinBound(plan->window.min) && AzimuthWithinBound(plan->window.max))) {
        throw UsageError{"--psi: '" + words.Value("--psi") + "' must be MIN,MAX with MIN below MAX, at most 3600 degrees "
                         "apart, each from -3600 to 3600, for planning"};
    }
}

// The record as the dialogue would fill it from the same answers, and the same answers in double
// precision for planning.
void TranslateAnswers(const OptionWords& words, InputStruct* record, RunOptions* options)
{
    PlanOptions& plan = options->plan;
    const bool cubic = !words.Has("--cif") && !words.Has("--crystal");
    if (cubic) {
        record->structure = Structure(words.Value("--structure"));
        CopyWord("--table", words.Has("--table") ? words.Value("--table") : ShippedTable(), record->factorFile,
                 sizeof record->factorFile);
        const TwoPrecisions a = Number(words, "--lattice");
        record->latticeA = a.record, plan.latticeA = a.plan;
        CopyWord("--symbol", words.Value("--symbol"), record->symbol, sizeof record->symbol);
    } else if (words.Has("--cif")) {
        plan.cifFile = words.Value("--cif");
    } else {
        try {
            plan.cifFile = ShippedCrystalPath(words.Value("--crystal"));
        } catch (const CrystalFileError& e) {
            throw UsageError{"--crystal: " + std::string(e.what())};
        }
        if (words.Has("--temperature")) {
            try {
                plan.temperatureK = Double(words, "--temperature");
                plan.cellScale = LatticeRatioAt(words.Value("--crystal"), *plan.temperatureK);
            } catch (const TemperatureError& e) {
                throw UsageError{"--temperature " + words.Value("--temperature") + ": " + e.what()};
            }
        }
    }
    const bool energyRun = words.Has("--glitches") || words.Has("--spectrum") || words.Has("--glitch-map") ||
                           words.Has("--clean-energies") || words.Has("--fit-glitches");
    // The option that gave the wavelength, which the messages name.
    const char* wavelengthOption = "--wavelength";
    if (energyRun) {
        // Energy scans: the survey's limiting sphere is that of the highest energy asked for.
        double eMax = 0.0, unused = 0.0;
        wavelengthOption = "--energies";
        if (words.Has("--energies")) EnergyRange(words.Value("--energies"), "--energies", false, &unused, &eMax, nullptr);
        for (const std::string& text : words.Values("--clean-energies")) {
            double cleanMax = 0.0, fraction = 0.0;
            EnergyRange(text, "--clean-energies", true, &unused, &cleanMax, &fraction);
            if (cleanMax > eMax) wavelengthOption = "--clean-energies";
            eMax = std::max(eMax, cleanMax);
        }
        plan.lambda = kHcKeVAngstrom / eMax;
        record->lambda = static_cast<float>(plan.lambda);
    } else if (words.Has("--wavelength")) {
        const TwoPrecisions lambda = Number(words, "--wavelength");
        record->lambda = lambda.record, plan.lambda = lambda.plan;
    } else {
        wavelengthOption = "--energy";
        plan.lambda = kHcKeVAngstrom / Double(words, "--energy");
        record->lambda = static_cast<float>(plan.lambda);
    }
    options->answers = AnswerSource::Options(wavelengthOption);
    // A unit mistake shows in the answers as typed: the wavelength, or the energy that gave it.
    options->typed.latticeA = plan.latticeA;
    if (options->answers.WavelengthFromEnergy()) {
        options->typed.keV = kHcKeVAngstrom / plan.lambda;
        options->typed.energyName = wavelengthOption;
    } else {
        options->typed.lambda = plan.lambda;
    }
    const std::vector<float> window =
        Numbers<float>("--psi", words.Has("--psi") ? words.Value("--psi") : "-180,180", {2}, ParseFloatAnswer, "MIN,MAX (two numbers)");
    record->psiMin = window[0];
    record->psiMax = window[1];
    // An empty window, or one without ends, can only be a mistake in a run from options.
    if (!(record->psiMin < record->psiMax && std::isfinite(record->psiMin) && std::isfinite(record->psiMax))) {
        throw UsageError{"--psi: '" + words.Value("--psi") + "' is not MIN,MAX with MIN below MAX"};
    }
    plan.primary = Indices(words, "--primary");
    record->primaryH = plan.primary.h, record->primaryK = plan.primary.k, record->primaryL = plan.primary.l;
    if (energyRun) {
        record->deltaLambda = 0.0f;
    } else if (words.Has("--band")) {
        const TwoPrecisions band = Number(words, "--band");
        record->deltaLambda = band.record, plan.band = band.plan;
    } else {
        const double ratio = Double(words, "--relative-band");
        record->deltaLambda = static_cast<float>(ratio * static_cast<double>(record->lambda));
        plan.band = ratio * plan.lambda;
    }
    if (!energyRun && !(plan.band > 0.0 && std::isfinite(plan.band) && record->deltaLambda > 0.0 && std::isfinite(record->deltaLambda))) {
        const char* option = words.Has("--band") ? "--band" : "--relative-band";
        throw UsageError{std::string(option) + ": '" + words.Value(option) + "' is not a positive finite number"};
    }
    if (!cubic) {
        // No four files: the survey's bounds have no use.
    } else if (!words.Has("--hmax")) {
        record->hMax = record->kMax = record->lMax = LimitingSphereReach(record->latticeA, record->lambda);
    } else {
        const std::vector<int> maxima = Numbers<int>("--hmax", words.Value("--hmax"), {1, 3}, ParseIntAnswer, "H or H,K,L (integers)");
        record->hMax = maxima[0];
        record->kMax = maxima[maxima.size() == 3 ? 1 : 0];
        record->lMax = maxima[maxima.size() == 3 ? 2 : 0];
    }
    const std::string& folder = words.Value("--output-dir");
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        throw UsageError{"--output-dir: '" + folder + "' is not an existing folder" + (error ? " (" + error.message() + ")" : "")};
    }
    options->outputFolder = folder;
}

// --crystal list: each shipped crystal with its space group and cell.
void ListShippedCrystals()
{
    for (const std::string& name : ShippedCrystalNames()) {
        try {
            const std::unique_ptr<CifCrystal> crystal = CifCrystal::Read(ShippedCrystalPath(name), nullptr);
            const Lattice& l = crystal->lattice();
            std::printf("%-10s %-22s %-12s a %.5f b %.5f c %.5f angstrom, %g %g %g degrees\n", name.c_str(),
                        crystal->name().c_str(), crystal->spaceGroup().c_str(), l.a(), l.b(), l.c(), l.alpha(), l.beta(),
                        l.gamma());
        } catch (const CrystalFileError& e) {
            std::printf("%-10s (unreadable: %s)\n", name.c_str(), e.what());
        }
    }
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, InputStruct* record, RunOptions* options)
{
    try {
        OptionWords words;
        if (!ReadOptionWords(argc, argv, &words)) return 0;
        if (words.Value("--crystal") == "list") {
            ListShippedCrystals();
            return 0;
        }
        options->quiet = words.quiet;
        CheckCombinations(words);
        TranslateAnswers(words, record, options);
        TranslatePlanning(words, options->outputFolder, &options->plan);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kelto: %s\nTry 'kelto --help' for more information.\n", error.what.c_str());
        return 2;
    }
    return -1;
}
