// kelto: multiple-beam (Umweg) pattern of an azimuthal scan for a cubic crystal of one element.
// Without arguments it asks its questions on standard input; with them, it takes the answers as
// options. The one place where the process ends: a run that cannot go on throws RunError, and
// this reports it and returns its status.
#include "cli/command_line.h"
#include "cli/record_run.h"
#include "io/output_files.h"
#include "io/process_setup.h"
#include "io/run_error.h"
#include "io/text_format.h"
#include "setup/dialogue.h"
#include "setup/input_struct.h"

#include <exception>
#include <new>

namespace {

// The answers from the options or from the dialogue, then the one run of a filled record.
int Run(int argc, char** argv)
{
    InputStruct record{};  // value-initialised: psiCalibration 0, F and intensity 0 until computed
    RunOptions options;
    if (argc > 1) {
        const int status = ParseCommandLine(argc, argv, &record, &options);
        if (status >= 0) return status;
    } else {
        FillInputStruct(&record);
        options = DialogueRun(record);
    }
    return RunFromRecord(&record, options);
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
