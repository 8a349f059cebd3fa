// kelto: multiple-beam (Umweg) pattern of an azimuthal scan for a cubic crystal of one element.
#include "setup/dialogue.h"
#include "setup/exit_qor.h"
#include "setup/input_struct.h"
#include "setup/run_checks.h"
#include "survey/survey_driver.h"

int main()
{
    InputStruct record{};  // value-initialised: psiCalibration 0, F and intensity 0 until computed
    FillInputStruct(&record);
    RefuseUnusableRun(&record);
    CalculHKL(&record);
    return CompletedRunStatus();
}
