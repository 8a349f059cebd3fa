#include "cli/option_grammar.h"

#include "cli/nearest_option.h"
#include "crystal/shipped_crystals.h"
#include "io/output_files.h"
#include "setup/units.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

// Every option that takes a value, in the order --help lists them.
constexpr const char* kValueOptions[] = {
    "--structure", "--lattice", "--symbol", "--cif", "--crystal", "--temperature", "--primary", "--wavelength", "--energy", "--band",
    "--relative-band", "--hmax", "--psi", "--table", "-o,--output-dir", "--reference", "--events", "--clean", "--divergence",
    "--windows", "--glitches", "--spectrum", "--at-psi", "--energies", "--polarisation", "--surface", "--monochromator", "--second-psi",
    "--harmonics",
    "--harmonic-content", "--glitch-map", "--clean-energies", "--max-depth", "--min-width", "--windows-shown", "--fit-glitches", "--fit-table", "--scan-unit", "--max-offset", "--offsets",
    "--significance", "--calibration",
};
// The options that may be given several times, each value kept.
constexpr const char* kRepeatedOptions[] = {"--clean-energies"};

void PrintHelp()
{
    std::printf(R"(Usage: kelto [OPTION]...
Plans multiple-beam (Umweg, Renninger) scans of any crystal about a primary
reflection H K L: the events of an azimuthal scan and its clean windows
(--events, --clean), the glitches of an energy scan (--glitches, --spectrum,
--glitch-map, --clean-energies) and the azimuth fitted to a measured scan
(--fit-glitches). The survey of a cubic crystal of one element writes
%s, %s, %s and
%s instead. Without options, kelto asks the survey's
fourteen questions on standard input.

Required:
  --crystal NAME        a crystal that comes with kelto (--crystal list lists
                        them: Si, GaAs, sapphire...), for planning, with
  --temperature K       optionally its cell at K kelvin from its published
                        thermal expansion (Si 77 to 1500 K, Ge 10 to 1085 K,
                        diamond 10 to 1000 K; without it the shipped cell: Si
                        at 295.65 K, Ge and diamond at 298 K), or
  --cif FILE            the crystal of a small-molecule CIF: cell, space group,
                        atom sites (structure factors with f' and f'' at the
                        energy of each event or glitch), for planning, or
                        a cubic crystal of one element, for the survey too:
  --structure TYPE      crystal structure: sc, bcc, fcc or diamond (or 1 to 4)
  --lattice A           lattice parameter a, in angstrom
  --symbol S            crystal symbol, the key of its record in the coefficient
                        table (Si, Cu, Fe3+...; any case)
  --primary H,K,L       primary reflection (integers, not all 0)
  --wavelength A        wavelength lambda, in angstrom, or
  --energy E            photon energy, in keV: lambda = hc / E with
                        hc = %.17g keV angstrom (CODATA 2018)
  --band D              full width delta lambda of the wavelength band, in
                        angstrom (above 0), or
  --relative-band R     the band as a share of the wavelength (above 0):
                        delta lambda = R lambda (a Si 1 1 1 monochromator
                        passes about 1.4e-4)
Optional:
  --hmax H[,K,L]        largest Miller index of the four files; K and L are only
                        echoed in the table header (default ceil(2a / lambda):
                        every reflection that can diffract). The planning
                        tables always cover every reflection that can diffract
  --psi MIN,MAX         azimuth window in degrees, MIN below MAX, both ends
                        excluded (default -180,180); for planning at most 3600
                        apart, each from -3600 to 3600
  --table FILE          scattering-factor coefficient file (default the table
                        that comes with kelto,
                        %s)
  -o, --output-dir DIR  folder for the four files and for the CSV tables named
                        without a folder; it must exist (default the current
                        folder)
  -q, --quiet           print only a short summary of the survey on standard
                        output instead of the echo of every curve (the
                        planning options print the same either way)
Planning a scan (CSV tables; their first line, "# kelto ...", says what they
were computed for):
  --reference H,K,L     count psi right-handed about the primary reflection from
                        the reflection H,K,L (not parallel to the primary) to
                        the incident beam, both across the primary; without
                        it psi is the azimuth of the four files, in the frame
                        of the orientation matrix (the incident beam reversed)
  --events FILE         also write the multiple-beam events, sorted by psi, to
                        the CSV table FILE: psi, the band interval psi_min to
                        psi_max (degrees), the reflection on the sphere, its
                        coupling reflection, |F|, strength |F(X)| |F(G - X)|,
                        relative strength, direction (in, out, top, always),
                        width_deg (the azimuths it takes for the beam, full
                        width at half depth, degrees) and depth (the share of
                        the primary's beam it takes at its centre, 0 to 1)
  --clean WIDTH[,FRACTION]
                        also print the azimuth windows at least WIDTH degrees
                        wide that no event above FRACTION (default 0.01) of the
                        strongest occupies with its band interval, widened by
                        half its width_deg or half the divergence, the larger;
                        when none is, the five least bad stretches
  --divergence ACROSS[,ALONG]
                        the beam's full spread in degrees across the primary's
                        scattering plane and along it (default 0 and 0: along,
                        the primary's Darwin width). Clean windows widen every
                        occupied interval by at least ACROSS / 2 on each side
                        (beam divergence and mosaic spread); the widths and
                        depths take both (10 microradian = 0.000573 degrees)
  --windows FILE        also write the clean windows to the CSV table FILE:
                        search, psi_start, psi_end, width (degrees), clean (1,
                        or 0 for a least bad stretch), largest (the largest
                        relative strength, or depth, over it) and h, k, l of
                        the reflection that sets it (0 for a clean window)
  --glitches FILE       instead of the four files, write the glitch spectrum of
                        an energy scan at a fixed azimuth to the CSV table FILE
                        (each glitch's energy in keV, width in eV, depth and
                        rise of I0 beside it as shares of I0, harmonic order,
                        and the partner that shares its four-beam dip);
                        needs --at-psi and --energies
  --spectrum FILE       instead of the four files, write the predicted I0 of the
                        energy scan at --at-psi over --energies (relative: 1
                        without glitches) to the CSV table FILE, on a grid that
                        draws the narrowest glitch
  --at-psi PSI          the azimuth of the energy scan, in degrees, from -3600
                        to 3600 (370 gives the glitches of 10)
  --energies EMIN,EMAX  the energy range of --glitches and --glitch-map, in keV
  --polarisation P      the beam's polarisation relative to the primary's
                        scattering plane for the widths and depths (--events,
                        --clean, --glitches, --spectrum, --glitch-map,
                        --clean-energies):
                        sigma (default: a vertically deflecting monochromator
                        on a synchrotron), pi or unpolarised
  --surface H,K,L       the crystal surface's outward normal as a reciprocal
                        vector, less than 90 degrees from the primary, for the
                        asymmetry of the reflections (default: the primary, a
                        symmetric cut)
  --monochromator M     for the depths and widths of an energy scan's glitches:
                        single (default) crystal, double (a second crystal of
                        its own, parallel, without glitches at the first's) or
                        channel-cut (the second wall meets every glitch too)
  --second-psi PSI2     with --monochromator double: the second crystal's own
                        azimuth in degrees (from its reference, right-handed
                        about its own primary to its own incident beam); its
                        glitches join the first's in --glitches and --spectrum
                        (column crystal 2), are level lines across the psi
                        window on --glitch-map (kind level, crystal 2, at
                        energy_top_keV in keV) and count against
                        --clean-energies. A channel-cut's second wall sits at
                        PSI + 180
  --harmonics N         also the glitches of the harmonics n G at n E for n = 2
                        to N that the structure allows, listed at E with their
                        order (default 1: the fundamental only); a forbidden
                        order is named on standard error
  --harmonic-content C or C2[,C3...] or FILE
                        with --spectrum or --fit-glitches: each harmonic's share
                        of the beam's photons against 1 for the fundamental,
                        one share C for every order of --harmonics, one for
                        each order the structure allows, or one for each order
                        with 0 for a forbidden one, which takes none (default
                        0.01 each); or a table FILE of the shares against the
                        setting: rows of the energy (keV) and its shares,
                        covering --energies
  --glitch-map FILE     instead of the four files, write every reflection's
                        glitch line E(psi) inside --energies over the psi window
                        to the CSV table FILE (psi in degrees, energies in keV,
                        each line's largest depth as a share of I0, its kind,
                        line or always, and crystal 1; with --second-psi the
                        second crystal's glitches as rows of kind level, or
                        everywhere, and crystal 2)
  --clean-energies EMIN,EMAX[,FRACTION]
                        instead of the four files, print the azimuth windows of
                        the psi window, widest first, in which no glitch deeper
                        than 0.01 of I0 (or --max-depth D) lies between EMIN
                        and EMAX keV (a line by its depth where it lies inside
                        the range; lines that coincide or cross by their dips
                        together); given FRACTION, no glitch above FRACTION of
                        the strongest instead. Each part of a line that counts
                        is widened at its ends by half the width in azimuth of
                        its glitch there or half the divergence, the larger;
                        when no window is clean, the five least bad stretches.
                        Give it several times for the windows clean in every
                        range
  --max-depth D         with --clean or --clean-energies: count an event or
                        glitch line when its depth, the share of I0 it takes
                        (0 < D < 1), exceeds D, instead of its strength
                        against FRACTION (give one of the two); for
                        --clean-energies the depth counts by default, D 0.01
  --min-width DEG       with --clean-energies: list the windows at least DEG
                        degrees wide (default 0.5: an azimuth is set to a few
                        tenths of a degree; 0 lists every stretch) and say how
                        many narrower ones were left out
  --windows-shown N     with --clean-energies: print the N widest windows and
                        count the others (default 10; 0 prints every one); the
                        table of --windows holds them all
  --fit-glitches FILE[,FILE...]
                        instead of the four files, fit the azimuth psi and an
                        energy offset to the measured I0 scan FILE (two columns,
                        energy and intensity in any scale, separated by commas,
                        semicolons, blanks or tabs; '#' comments; decimal
                        commas where semicolons or tabs separate the columns;
                        intensities below 0 read as the change of I0 in
                        percent) over its points inside --energies, or one psi
                        to several scans of one monochromator: their dips are
                        matched to the predicted glitches over the psi window
                        (--at-psi: the symmetric azimuth nearest it is taken);
                        prints psi with one standard error, the offsets, the
                        dips matched, the rms in eV and p, the share of trials
                        of the dips moved out of reach of any match that fit as
                        well, and the beam's spread across that the dips'
                        widths call for as a ready --divergence (degrees);
                        exit status 1 without a significant fit
  --fit-table FILE      with --fit-glitches: write every dip and the glitch it
                        was matched to to the CSV table FILE
  --scan-unit U         with --fit-glitches: the scans' energies in keV
                        (default) or eV
  --max-offset EV       with --fit-glitches: the largest energy offset, in eV
                        (default 25); with --calibrate, the largest shift of
                        the readback over the scans
  --offsets each|one    with --fit-glitches: an energy offset for each scan
                        (default) or one for all
  --significance P      with --fit-glitches: the false-alarm probability p a fit
                        may have, 0.001 to 0.5 (default 0.01; 1/P - 1 trials)
  --fit-second          with --fit-glitches and --monochromator double: fit the
                        second crystal's azimuth as well, to the dips the
                        first's glitches leave, with its own p and ties
                        (--second-psi: the symmetric azimuth nearest it is
                        taken); the crystal that pairs more dips is the first
  --calibrate           with --fit-glitches: fit, with psi, the monochromator's
                        angle offset delta (degrees, within 0.3 in size) and
                        d-spacing ratio d_ref / d (within 0.001 of 1), one for
                        all scans, in place of energy offsets: the scans'
                        energies are readbacks hc / (2 d_ref sin(theta +
                        delta)), d that of the primary reflection; the shift,
                        readback minus photon energy, stays within --max-offset
                        over the scans; prints both with one standard error,
                        their correlation and the rms before and after
  --calibration FILE    with --calibrate: write the readback and photon energy
                        (keV) and their difference and its error (eV) over the
                        scans' energies to the CSV table FILE
  The energy scans take no wavelength, band, --hmax, --events or --clean.
Other:
  -h, --help            show this help and exit
      --version         show the version and its release date and exit
A value follows its option after a space or an '=', negative values too
(--psi -90,90).

Examples (silicon 0 0 4 at Cu K-alpha 1 with a monochromator's band, psi from
the reference 1 0 0; the glitches of a silicon 1 1 1 monochromator from 5 to 30
keV; the azimuths at which it gives a clean 8 to 12 keV; the survey's four files
of silicon 0 0 2):
  kelto --crystal Si --primary 0,0,4 --reference 1,0,0 --energy 8.048 \
        --relative-band 1.4e-4 --events kelto_events.csv --clean 5
  kelto --crystal Si --primary 1,1,1 --glitches kelto_glitches.csv \
        --at-psi 10 --energies 5,30
  kelto --crystal Si --primary 1,1,1 --clean-energies 8,12
  mkdir -p si002 && kelto --structure diamond --lattice 5.431 --symbol Si \
        --primary 0,0,2 --energy 8.04778 --relative-band 1.4e-4 -q \
        --output-dir si002

Exit status: 0 the run completed; 1 the run was refused, a file could not be
written (the message says why) or --fit-glitches found no significant fit; 2 the
command line is wrong; 128 + n the run was interrupted by signal n.
)", kSurveyFileNames[0], kSurveyFileNames[1], kSurveyFileNames[2], kSurveyFileNames[3], kHcKeVAngstrom,
                ShippedTable().c_str());
}

}  // namespace

const std::string& OptionWords::Value(const std::string& name) const
{
    static const std::string none;
    const auto found = values_.find(name);
    return found == values_.end() ? none : found->second;
}

const std::vector<std::string>& OptionWords::Values(const std::string& name) const
{
    static const std::vector<std::string> none;
    const auto found = repeated_.find(name);
    return found == repeated_.end() ? none : found->second;
}

bool ReadOptionWords(int argc, const char* const* argv, OptionWords* words)
{
    CLI::App app{"", "kelto"};
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", "kelto " KELTO_VERSION " (" KELTO_RELEASE_DATE ")");
    // Unknown words are collected rather than refused at once, and the required options checked
    // afterwards, so that a mistyped option is reported as such, not as a missing one.
    app.allow_extras();
    std::map<std::string, std::string> typed;
    std::map<std::string, std::vector<std::string>> repeated;
    for (const char* names : kValueOptions) {
        const std::string spelled = names;
        const std::string name = spelled.substr(spelled.find("--"));
        if (std::find(std::begin(kRepeatedOptions), std::end(kRepeatedOptions), name) != std::end(kRepeatedOptions)) {
            app.add_option(spelled, repeated[name])->allow_extra_args(false);
        } else {
            app.add_option(spelled, typed[name]);
        }
    }
    app.add_flag("-q,--quiet", words->quiet);
    app.add_flag("--fit-second", words->fitSecond);
    bool calibrate = false;
    app.add_flag("--calibrate", calibrate);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        PrintHelp();
        return false;
    } catch (const CLI::CallForVersion&) {
        std::printf("kelto %s (%s)\n", KELTO_VERSION, KELTO_RELEASE_DATE);
        return false;
    } catch (const CLI::ParseError& error) {
        throw UsageError{error.what()};
    }
    if (!app.remaining().empty()) {
        const std::string word = app.remaining().front();
        if (!word.starts_with("-")) throw UsageError{"unexpected argument '" + word + "'"};
        std::vector<std::string> names{"--quiet", "--fit-second", "--help", "--version", "--calibrate"};
        for (const auto& [name, value] : typed) names.push_back(name);
        for (const auto& [name, values] : repeated) names.push_back(name);
        const std::string nearest = NearestOption(word, names);
        throw UsageError{"unknown option '" + word + "'" + (nearest.empty() ? "" : " (did you mean " + nearest + "?)")};
    }
    if (calibrate) words->values_["--calibrate"] = "";
    for (auto& [name, value] : typed) {
        if (app.count(name) == 0) continue;
        if (value.empty()) throw UsageError{name + ": the value is empty"};
        words->values_[name] = value;
    }
    for (auto& [name, values] : repeated) {
        if (app.count(name) == 0) continue;
        for (const std::string& value : values) {
            if (value.empty()) throw UsageError{name + ": the value is empty"};
        }
        words->values_[name] = values.front();
        words->repeated_[name] = values;
    }
    return true;
}
