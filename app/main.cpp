// kelto: multiple-beam (Umweg) pattern of an azimuthal scan for a cubic crystal of one element.
// Without arguments it asks its questions on standard input; with them, it takes the answers as
// options. The one place where the process ends: a run that cannot go on throws RunError, and
// this reports it and returns its status.
#include "cli/command_line.h"
#include "cli/option_run.h"
#include "cli/run_limits.h"
#include "io/output_files.h"
#include "io/process_setup.h"
#include "io/run_error.h"
#include "io/text_format.h"
#include "io/write_behind.h"
#include "output/curve_table.h"
#include "setup/dialogue.h"
#include "setup/input_struct.h"
#include "setup/run_checks.h"
#include "survey/survey_driver.h"
#include "survey/survey_estimate.h"

#include <exception>
#include <new>

namespace {

int Run(int argc, char** argv)
{
    InputStruct record{};  // value-initialised: psiCalibration 0, F and intensity 0 until computed
    if (argc > 1) {
        RunOptions options;
        const int status = ParseCommandLine(argc, argv, &record, &options);
        return status >= 0 ? status : RunFromOptions(&record, options);
    }
    FillInputStruct(&record);
    RefuseUnusableRun(&record);
    TypedUnits typed;
    typed.latticeA = record.latticeA, typed.lambda = record.lambda;
    typed.latticeName = "the lattice parameter a", typed.wavelengthName = "the wavelength lambda";
    const SurveyEstimate estimate = EstimateSurvey(&record);
    RefuseRunaway(Printed("about %.3g curves", estimate.curves), estimate.bytes, estimate.memory, ".", UnitHints(typed));
    PrepareOutputs({"kelto_spaghetti.dat", "kelto_spaghetti.mac", "kelto_unweg.dat", "kelto_unweg.mac"},
                   {{"coefficient table", record.factorFile}});
    WriteConsoleBehind();
    SurveyRun run;
    CalculHKL(&record, &run);
    CommitOutputFiles();
    return CompletedRunStatus();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!OpenClosedStandardDescriptors()) return 127;
    IgnoreWriteSignals();
    EndOnInterrupt(RemoveTemporaryOutputFiles, InterruptedRunOutcome);
    text_format::SetWriteFailureHandler(ReportFailedWrite);
    // A run from options reports its refusals on standard error, where a script that keeps standard
    // output for results still shows them; the dialogue keeps them on standard output.
    const bool fromOptions = argc > 1;
    try {
        return Run(argc, argv);
    } catch (const RunError& error) {
        return ReportRunError(error, fromOptions);
    } catch (const std::bad_alloc&) {
        return ReportRunError(RunError::Refusal("The run needs more memory than this machine can give\n"), fromOptions);
    } catch (const std::exception& error) {
        return ReportRunError(RunError::Refusal(Printed("The run cannot go on: %s\n", error.what())), fromOptions);
    }
}
