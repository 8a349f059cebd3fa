#include "cli/option_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "output/console.h"
#include "output/curve_table.h"
#include "output/umweg_pattern.h"
#include "output/write_behind.h"
#include "planning/events.h"
#include "planning/glitches.h"
#include "planning/sphere_reflections.h"
#include "planning/tables.h"
#include "setup/answer_source.h"
#include "setup/exit_qor.h"
#include "setup/factor_file.h"
#include "setup/run_checks.h"
#include "survey/output_files.h"
#include "survey/survey_driver.h"

namespace {

void PrintRunSummary(const RunOptions& options)
{
    std::printf("kelto: %lld result rows and curves, %lld band crossings\n", static_cast<long long>(nbCurves),
                static_cast<long long>(CrossingCount()));
    const std::string folder = options.outputFolder.empty() ? "" : options.outputFolder + "/";
    std::printf("kelto: wrote %skelto_spaghetti.dat, %skelto_spaghetti.mac, %skelto_unweg.dat, %skelto_unweg.mac\n",
                folder.c_str(), folder.c_str(), folder.c_str(), folder.c_str());
}

// The events of the run just made: written to their table, and the clean windows printed.
void PlanScan(InputStruct* record, const RunOptions& options)
{
    const std::vector<SphereReflection> reflections = CollectSphereReflections(record);
    const std::vector<Event> events = FindEvents(reflections, record);
    if (!options.eventsFile.empty()) {
        std::FILE* table = OpenOutputFile(options.eventsFile);
        WriteEventsTable(table, events);
        CommitOutputFile(table);
        if (options.quiet) {
            std::printf("kelto: %zu multiple-beam events, wrote %s\n", events.size(), options.eventsFile.c_str());
        }
    }
    if (options.cleanWidth > 0.0) {
        PrintCleanWindows(stdout,
                          CleanWindows(events, record->psiMin, record->psiMax, options.cleanWidth, options.cleanFraction),
                          options.cleanWidth, options.cleanFraction);
    }
}

// The glitch spectrum alone: no survey files.
void ListGlitches(InputStruct* record, const RunOptions& options)
{
    ReadFactors(record);
    const std::vector<SphereReflection> reflections = CollectSphereReflections(record);
    const std::vector<Glitch> glitches =
        FindGlitches(reflections, record, options.atPsi, options.energyMin, options.energyMax);
    std::FILE* table = OpenOutputFile(options.glitchesFile);
    WriteGlitchTable(table, glitches);
    CommitOutputFile(table);
    std::printf("kelto: %zu glitches from %g to %g keV at psi %g degrees, wrote %s\n", glitches.size(),
                options.energyMin, options.energyMax, options.atPsi, options.glitchesFile.c_str());
}

}  // namespace

int RunFromOptions(InputStruct* record, const RunOptions& options)
{
    NameOptionsInMessages(options.wavelengthOption);
    SetConsoleEcho(!options.quiet);
    SetOutputFolder(options.outputFolder);
    RefuseUnusableRun(record);
    if (!options.glitchesFile.empty()) {
        ListGlitches(record, options);
        return CompletedRunStatus();
    }
    WriteConsoleBehind();
    CalculHKL(record);
    if (options.quiet) PrintRunSummary(options);
    if (!options.eventsFile.empty() || options.cleanWidth > 0.0) PlanScan(record, options);
    return CompletedRunStatus();
}
