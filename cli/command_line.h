// kelto's command line: every answer of the dialogue as an option, the wavelength also as an
// energy, an output folder, a quiet console, the planning of a scan, --help and --version.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "crystal/vec3.h"
#include "fit/glitch_fit.h"
#include "planning/run_limits.h"
#include "planning/scan_setting.h"
#include "scan/azimuths.h"
#include "setup/answer_source.h"
#include "setup/input_struct.h"

// What the planning options ask of a run, with the crystal's and the beam's numbers as typed,
// in double precision. The planning engine takes its numbers from here, never from the record,
// which holds the single-precision values the survey of the four files works with.
struct PlanOptions {
    std::string cifFile;    // the crystal's CIF (--cif, or the shipped one of --crystal); empty: cubic
    // --temperature: the shipped cell taken at this many kelvin, its lengths scaled by cellScale.
    std::optional<double> temperatureK;
    double cellScale = 1.0;
    Miller primary{};       // the primary reflection
    double latticeA = 0.0;  // angstrom
    double lambda = 0.0;    // angstrom, the band's centre (scan runs)
    double band = 0.0;      // angstrom, the band's full width
    std::optional<Miller> reference;
    PsiWindow window{-180.0, 180.0};
    // The beam of the widths and depths (its spread across G's plane, --divergence ACROSS, also widens
    // every occupied interval of the clean windows by half on each side), as the options give it.
    BeamRequest beam;
    // At one band, beside the four files: the events table and the clean windows (width 0: none).
    std::string eventsFile;
    double cleanWidth = 0.0;
    double cleanFraction = 0.01;
    // Energy scans, instead of the four files: the glitch spectrum at one azimuth, the glitch map
    // and the azimuths of a clean energy range.
    std::string glitchesFile;
    double atPsi = 0.0;
    // A double monochromator's second crystal at its own azimuth (degrees); none: no glitches of its own.
    std::optional<double> secondPsi;
    std::string mapFile;
    double energyMin = 0.0, energyMax = 0.0;  // keV, of --energies
    bool cleanEnergies = false;
    // Each --clean-energies range (keV): it counts a glitch line by its depth (a share of I0) unless
    // its FRACTION is given, which counts it by its strength against the strongest.
    struct CleanRange {
        double eMin = 0.0, eMax = 0.0, fraction = 0.01;
        bool byStrength = false;
    };
    std::vector<CleanRange> cleanRanges;
    // Either clean search counts an event or line by its depth, a share of I0, when above 0 (else
    // by its strength against the strongest); --clean-energies lists the windows at least
    // cleanMinWidth degrees wide (an azimuth is set to a few tenths of a degree).
    double maxDepth = 0.0;
    double cleanMinWidth = 0.5;
    // The widest windows of --clean-energies printed (0: all); the windows table holds every one.
    std::size_t windowsShown = 10;
    // The clean windows of either search as a table.
    std::string windowsFile;
    // The highest harmonic of the glitches.
    int harmonics = 1;
    // The predicted I0 spectrum at --at-psi over --energies, the orders weighted by their share of
    // the beam: the shares of --harmonic-content as typed, one for every harmonic or one for each
    // order the structure lets through (none: planning's default share each), or the table of
    // shares against the setting in the file --harmonic-content names.
    std::string spectrumFile;
    std::vector<double> harmonicShares;
    std::string harmonicContentFile;

    // The azimuth and energy offsets fitted to measured I0 scans, each over its energies inside
    // --energies, the one of the symmetric azimuths nearest a guess (--at-psi) taken when one is
    // given; the dip-by-dip table.
    std::vector<std::string> fitScanFiles;
    std::string fitTableFile;
    bool fitCalibrate = false;       // the monochromator's angle offset and d-spacing ratio in place of offsets
    std::string calibrationFile;     // its table of readback and photon energy
    double scanToKeV = 1.0;          // the scan's energies in keV (0.001: in eV)
    double widestOffsetEV = 25.0;    // the energy offsets tried
    bool fitOneOffset = false;       // one offset for every scan, else one each
    double fitSignificance = kDefaultSignificance;  // the false-alarm probability a fit may have
    std::optional<double> fitNominalPsi;
    bool fitSecond = false;  // the second crystal of a double monochromator fitted as well

    bool EnergyRun() const
    {
        return !glitchesFile.empty() || !spectrumFile.empty() || !mapFile.empty() || cleanEnergies || !fitScanFiles.empty();
    }
    bool AtBand() const { return !eventsFile.empty() || cleanWidth > 0.0; }
};

// How a run is set up beside its record: by the command line, or for the dialogue (DialogueRun).
struct RunOptions {
    bool quiet = false;
    std::string outputFolder;  // empty: the current folder
    // Whose words the messages take: the dialogue's (the default), or the options', naming the one
    // that gave the wavelength.
    AnswerSource answers;
    // The answers a unit mistake would show in, as typed, and how the messages name them.
    TypedUnits typed;
    PlanOptions plan;
};

// Fills `record` and `options` from the arguments, with the conversions of the dialogue's
// answers, so that the record is the one the dialogue would fill from the same answers. Returns
// -1 when the run should go on, or the status to end with: 0 after --help or --version, 2 after a
// usage error, which is reported on standard error.
int ParseCommandLine(int argc, const char* const* argv, InputStruct* record, RunOptions* options);
