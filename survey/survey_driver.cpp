#include "survey/survey_driver.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "geometry/equivalents.h"
#include "output/curve_table.h"
#include "output/reflection_table.h"
#include "output/spaghetti_macro.h"
#include "output/umweg_pattern.h"
#include "setup/factor_file.h"
#include "setup/user_matrix.h"
#include "survey/families.h"
#include "survey/intensity.h"
#include "io/output_files.h"
#include "survey/structure_factor.h"

namespace {

// Radians to degrees of the Bragg angle use this single-precision pi, 3.141592502593994.
constexpr float kBraggPi = 3.1415925f;

void PrintUserMatrix(const InputStruct* record)
{
    const float* m = record->userMatrix;
    std::printf("\nUserMatrix:\nm11= %8.4f  m12= %8.4f  m13= %8.4f\nm21= %8.4f  m22= %8.4f  m23= %8.4f\nm31= %8.4f  m32= %8.4f  m33= %8.4f\n",
                static_cast<double>(m[0]), static_cast<double>(m[1]), static_cast<double>(m[2]),
                static_cast<double>(m[3]), static_cast<double>(m[4]), static_cast<double>(m[5]),
                static_cast<double>(m[6]), static_cast<double>(m[7]), static_cast<double>(m[8]));
}

// Writes each psi solution of a family's equivalents: its row of the reflection table, then its
// curve record and macro blocks.
class SolutionWriter : public PsiSolutionSink {
public:
    SolutionWriter(const OutputFiles& files, SurveyRun* run, const InputStruct* record, float theta, float F,
                   float intensity)
        : files_(files), run_(run), record_(record), theta_(theta), F_(F), intensity_(intensity) {}

    void Solved(const PsiSolution& s) override
    {
        PrintResult(files_.spaghettiDat, run_, s.h, s.k, s.l, theta_, F_, intensity_, s.beta, s.psi0, s.psi, s.calib);
        GetUserGraphics(files_.spaghettiMac, run_,
                        CurveRecord{record_->latticeA, static_cast<float>(s.h), static_cast<float>(s.k),
                                    static_cast<float>(s.l), s.curve.x0, s.curve.k2, s.curve.p2, s.psi01, s.psi02,
                                    s.psi1});
    }

private:
    const OutputFiles& files_;
    SurveyRun* run_;
    const InputStruct* record_;
    float theta_, F_, intensity_;
};

void SurveyReflection(const OutputFiles& files, SurveyRun* run, InputStruct* record, int h, int k, int l, double n)
{
    const double theta = std::asin(std::sqrt(n) * static_cast<double>(record->lambda) / 2.0 /
                                   static_cast<double>(record->latticeA));
    CalculStrucFactors(record->structure, static_cast<float>(theta), record, h, k, l);
    CalculIntensity(static_cast<float>(theta), record, h, k, l);
    const float thetaDeg = static_cast<float>((theta * 180.0) / static_cast<double>(kBraggPi));
    SolutionWriter writer(files, run, record, thetaDeg, static_cast<float>(record->structureFactor),
                          static_cast<float>(record->intensity));
    PrintAllPermutations(record, h, k, l, writer);
}

}  // namespace

void CalculHKL(InputStruct* record, SurveyRun* run)
{
    GetUserMatrix(record);
    if (run->echo) PrintUserMatrix(record);
    ReadFactors(record, run->answers);

    OutputFiles files = OpenOutputFiles();
    WriteSpaghettiPreamble(files.spaghettiMac, record);
    WriteReflectionTableHeader(files.spaghettiDat, record);

    const LimitingSphereRadii sphere = LimitingSphere(record->latticeA, record->lambda);
    const double nLow = sphere.nLow, nHigh = sphere.nHigh;
    std::FILE* const streams[4] = {files.spaghettiDat, files.spaghettiMac, files.unwegDat, files.unwegMac};
    run->progress.Start(streams, 4, run->echo);
    std::int64_t families = 0, surveyed = 0;
    ForEachFamily(record->hMax, nLow, nHigh, [&](int, int, int, double) { run->progress.Report("counting reflection families", ++families, 0); });
    run->cpi = 0;
    ForEachFamily(record->hMax, nLow, nHigh, [&](int h, int k, int l, double n) {
        run->progress.Report("survey", ++surveyed, families);
        if (ConditionOnSphere(record->structure, h, k, l) == 0) return;
        SurveyReflection(files, run, record, h, k, l, n);
    });

    run->nbCurves = run->cpi;
    if (run->echo) {
        std::printf("There are %lld curves...., now calculating intersections\n", static_cast<long long>(run->cpi));
    }
    CalcIntersections(record, run, files.unwegDat, files.unwegMac);
    run->progress.End();
    CloseOutputFiles(&files);
}
