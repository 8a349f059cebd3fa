#include "cli/record_run.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/plan_run.h"
#include "io/console.h"
#include "io/output_files.h"
#include "io/run_error.h"
#include "io/write_behind.h"
#include "output/curve_table.h"
#include "planning/run_limits.h"
#include "setup/run_checks.h"
#include "survey/survey_driver.h"
#include "survey/survey_estimate.h"

namespace {

// The quiet run's summary of the survey, said once its files have their names.
std::string RunSummary(const RunOptions& options, const SurveyRun& run)
{
    const std::string folder = options.outputFolder.empty() ? "" : options.outputFolder + "/";
    std::string files;
    for (const char* name : kSurveyFileNames) files += (files.empty() ? "" : ", ") + folder + name;
    return Printed("kelto: %lld result rows and curves, %lld band crossings\n", static_cast<long long>(run.nbCurves),
                   static_cast<long long>(run.crossings)) +
           "kelto: wrote " + files + "\n";
}

// A run whose files would not fit in the free space of their folders, or whose calculation would
// not fit in the memory, is refused before anything is computed: every table it writes and what
// each holds, with the four files of the survey.
void RefuseRunawayRun(const InputStruct* record, const Planning& p, const RunOptions& options, bool survey)
{
    std::vector<RunPart> parts;
    if (survey) {
        const SurveyEstimate e = EstimateSurvey(record);
        parts.push_back({InOutputFolder(kSurveyFileNames[0]), e.bytes, e.memory, Printed("about %.3g curves", e.curves), "", 0.0});
    }
    if (p.crystal) {
        try {
            const std::vector<RunPart> planned = PlanningParts(p, options);
            parts.insert(parts.end(), planned.begin(), planned.end());
        } catch (const RunError& beyond) {
            // A sphere beyond the doubles is most likely a unit mistake too: the same hints begin it.
            throw RunError::Refusal(UnitHints(options.typed) + beyond.what());
        }
    }
    RefuseRunaway(parts, UnitHints(options.typed));
}

// Refuses what the crystal and the planning options cannot make sense of, before anything is written.
void RefuseUnusablePlan(const InputStruct* record, const RunOptions& options)
{
    const PlanOptions& plan = options.plan;
    if (plan.cifFile.empty()) {
        RefuseUnusableRun(record, options.answers);
        return;
    }
    if (IsZero(plan.primary)) {
        throw RunError::Refusal(Printed("The primary reflection 0 0 0%s has no reflection frame\n",
                                        options.answers.Note(AnswerOption::kPrimary).c_str()));
    }
    if (!plan.EnergyRun() && !(plan.lambda > 0.0 && std::isfinite(plan.lambda))) {
        throw RunError::Refusal(Printed("The wavelength lambda%s must be a positive finite number, not %f\n",
                                        options.answers.Note(AnswerOption::kWavelength).c_str(), plan.lambda));
    }
}

// Every file the run writes, and the files it reads that none of them may be.
void PrepareRunOutputs(const InputStruct* record, const RunOptions& options, bool survey)
{
    const PlanOptions& plan = options.plan;
    std::vector<std::string> outputs;
    if (survey) outputs = SurveyFilesInOutputFolder();
    for (const std::string* table :
         {&plan.eventsFile, &plan.glitchesFile, &plan.spectrumFile, &plan.mapFile, &plan.windowsFile, &plan.fitTableFile,
          &plan.calibrationFile}) {
        if (!table->empty()) outputs.push_back(*table);
    }
    std::vector<RunInput> inputs;
    if (plan.cifFile.empty()) inputs.push_back({"coefficient table", record->factorFile});
    if (!plan.cifFile.empty()) inputs.push_back({"CIF file", plan.cifFile});
    for (const std::string& scan : plan.fitScanFiles) inputs.push_back({"measured scan", scan});
    PrepareOutputs(outputs, inputs);
}

}  // namespace

int RunFromRecord(InputStruct* record, const RunOptions& options)
{
    SetOutputFolder(options.outputFolder);
    const PlanOptions& plan = options.plan;
    RefuseUnusablePlan(record, options);
    const bool survey = plan.cifFile.empty() && !plan.EnergyRun();  // the four files
    // The planning crystal is made, and its ranges checked, before any file is: its refusals leave
    // nothing behind.
    Planning planning;
    if (plan.AtBand() || plan.EnergyRun()) planning = PreparePlanning(record, options);
    RefuseRunawayRun(record, planning, options, survey);
    PrepareRunOutputs(record, options, survey);
    if (planning.crystal) NoteForbidden(planning, plan);
    SurveyRun run;
    run.answers = options.answers;
    std::string written;
    if (survey) {
        WriteConsoleBehind();
        run.echo = !options.quiet;
        CalculHKL(record, &run);
        if (options.quiet) written += RunSummary(options, run);
    }
    // Planning prints nothing while it computes (its console lines take the line off first), so its
    // progress line shows at any terminal, after the survey's echo has ended.
    PhaseLine progress(planning.crystal && StandardErrorIsTerminal());
    const bool explained = !planning.crystal || RunPlanning(planning, options, progress, &written);
    progress.End();
    // Everything the run writes, its console lines too, is complete: now the files take their
    // names, and only then does the run say what it wrote.
    CommitOutputFiles();
    std::fputs(written.c_str(), stdout);
    const int status = CompletedRunStatus();
    return status == 0 && !explained ? 1 : status;
}

RunOptions DialogueRun(const InputStruct& record)
{
    RunOptions run;  // the dialogue's words (RunOptions' default), the current folder, nothing planned
    run.typed.latticeA = record.latticeA, run.typed.lambda = record.lambda;
    run.typed.latticeName = "the lattice parameter a", run.typed.wavelengthName = "the wavelength lambda";
    return run;
}
