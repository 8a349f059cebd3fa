// kelto: multiple-beam (Umweg) pattern of an azimuthal scan for a cubic crystal of one element.
#include "output/text_format.h"
#include "setup/dialogue.h"
#include "setup/exit_qor.h"
#include "setup/input_struct.h"
#include "setup/process_setup.h"
#include "setup/run_checks.h"
#include "survey/output_files.h"
#include "survey/survey_driver.h"

int main()
{
    OpenClosedStandardDescriptors();
    IgnoreWriteSignals();
    EndOnInterrupt(RemoveTemporaryOutputFiles);
    text_format::SetWriteFailureHandler(ReportFailedWrite);

    InputStruct record{};  // value-initialised: psiCalibration 0, F and intensity 0 until computed
    FillInputStruct(&record);
    RefuseUnusableRun(&record);
    CalculHKL(&record);
    return CompletedRunStatus();
}
