// A planning request's crystal set up for its scan: the frame in which psi is counted and the beam
// of the widths and depths, from the numbers the user gave (the command line's options or the
// Python module's arguments, both through here), with the checks every request shares.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crystal/crystal.h"
#include "dynamics/beam.h"
#include "glitches/order_shares.h"
#include "planning/request_names.h"
#include "scan/scan_frame.h"

// The beam as the user gives it.
struct BeamRequest {
    Polarisation polarisation = Polarisation::kSigma;
    double acrossDegrees = 0.0, alongDegrees = 0.0;  // its full spreads (0 along: G's Darwin width)
    std::optional<Miller> surface;                   // the surface's outward normal; none: a symmetric cut
    Monochromator monochromator = Monochromator::kSingle;
};

struct ScanSetting {
    const Crystal* crystal;
    ScanFrame frame;
    Beam beam;
};

// The frame of psi about `primary` (counted from `reference`, or in the orientation matrix's frame)
// and the beam. Refuses (RunError) a surface whose normal the primary reflection's incident beam
// would meet from inside the crystal; a reference along the primary throws std::invalid_argument.
ScanSetting SetUpScan(const Crystal& crystal, Miller primary, const std::optional<Miller>& reference, const BeamRequest& beam,
                      const RequestNames& names);

// Refuses an energy range below the primary reflection's cut-off, which reaches no reflection at
// all; `named` (empty: none) is the option or argument that gave it.
void RefuseUnreachableRange(const ScanFrame& frame, double eMin, double eMax, const std::string& named);

// What is worth a word before a scan computes: a primary reflection that scatters nothing at `keV`
// (its scan shows only what the events carry into it), and each harmonic up to `harmonics` that the
// structure forbids at eMax keV (it passes nothing).
std::vector<std::string> ForbiddenNotices(const ScanSetting& scan, double keV, int harmonics, double eMax);

// The shares of the harmonics as given: one list for every setting, or rows of a setting (keV) and
// its shares. `line` numbers a row where it came from a file (0: it did not).
struct GivenShares {
    std::vector<double> shares;
    struct Row {
        double energy;
        std::vector<double> shares;
        int line = 0;
    };
    std::vector<Row> rows;  // used when not empty
};

// Each order's share of the beam's photons up to `harmonics`, for the orders the structure lets
// through up to eMax keV, none for a forbidden order: the shares given, one for every harmonic or one
// for each order that passes (none given: a default share each), at each row's setting, linear
// between rows. Throws SharesMismatch for a list or row of another count; the caller words it.
OrderShares SharesOfOrders(const ScanSetting& scan, int harmonics, double eMax, const GivenShares& given);

struct SharesMismatch {
    std::size_t row;  // the row that does not fit, or 0 for the list
    std::vector<int> passing, forbidden;
};
