#include "cli/option_run.h"

#include <cstdio>
#include <string>

#include "output/console.h"
#include "output/curve_table.h"
#include "output/umweg_pattern.h"
#include "setup/answer_source.h"
#include "setup/exit_qor.h"
#include "setup/run_checks.h"
#include "survey/output_files.h"
#include "survey/survey_driver.h"

namespace {

void PrintSummary(const RunOptions& options)
{
    std::printf("kelto: %lld result rows and curves, %lld band crossings\n", static_cast<long long>(nbCurves),
                static_cast<long long>(CrossingCount()));
    const std::string folder = options.outputFolder.empty() ? "" : options.outputFolder + "/";
    std::printf("kelto: wrote %skelto_spaghetti.dat, %skelto_spaghetti.mac, %skelto_unweg.dat, %skelto_unweg.mac\n",
                folder.c_str(), folder.c_str(), folder.c_str(), folder.c_str());
}

}  // namespace

int RunFromOptions(InputStruct* record, const RunOptions& options)
{
    NameOptionsInMessages(options.wavelengthFromEnergy);
    SetConsoleEcho(!options.quiet);
    SetOutputFolder(options.outputFolder);
    RefuseUnusableRun(record);
    CalculHKL(record);
    if (options.quiet) PrintSummary(options);
    return CompletedRunStatus();
}
