// The planning a run from options asks for, beside the survey of the four files or instead of it:
// the crystal set up once, the size of every table weighed, then the events, glitches, spectra,
// maps, clean windows and fits computed through the planning requests and written as tables.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "crystal/crystal.h"
#include "glitches/order_shares.h"
#include "planning/run_limits.h"
#include "planning/scan_setting.h"
#include "planning/tables.h"
#include "setup/input_struct.h"

class PhaseLine;

// The crystal, its scan's setting and what the tables name, and each order's share of the beam
// (--harmonic-content; the fundamental's alone by default).
struct Planning {
    std::unique_ptr<Crystal> crystal;
    ScanSetting scan{};
    TableSubject subject;
    OrderShares content;
};

// The crystal of the cubic options, or of the CIF, set up for the scan, with the checks of its
// ranges and the shares of its harmonics. A CIF that cannot be a crystal, a primary reflection that
// cannot diffract at the run's wavelength, a surface the primary's beams would meet from inside, an
// energy range below the primary's cut-off and shares that do not fit the orders are refused.
Planning PreparePlanning(InputStruct* record, const RunOptions& options);

// Each table the planning writes, weighed for the size check (RefuseRunaway).
std::vector<RunPart> PlanningParts(const Planning& p, const RunOptions& options);

// Says on standard error what is worth a word before the run computes: a forbidden primary
// reflection, forbidden harmonics.
void NoteForbidden(const Planning& p, const PlanOptions& plan);

// Computes and writes what the options ask for; what was written is added to `written`, said
// once the files have their names. False when a fit explains nothing.
bool RunPlanning(Planning& p, const RunOptions& options, PhaseLine& progress, std::string* written);
