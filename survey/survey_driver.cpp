#include "survey/survey_driver.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "geometry/equivalents.h"
#include "io/console.h"
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
constexpr double kLowerBraggLimit = 0.0;        // radians
constexpr double kUpperBraggLimit = M_PI / 2.0;  // 90 degrees, sin = 1

void PrintUserMatrix(const InputStruct* record)
{
    const float* m = record->userMatrix;
    std::printf("\nUserMatrix:\nm11= %8.4f  m12= %8.4f  m13= %8.4f\nm21= %8.4f  m22= %8.4f  m23= %8.4f\nm31= %8.4f  m32= %8.4f  m33= %8.4f\n",
                static_cast<double>(m[0]), static_cast<double>(m[1]), static_cast<double>(m[2]),
                static_cast<double>(m[3]), static_cast<double>(m[4]), static_cast<double>(m[5]),
                static_cast<double>(m[6]), static_cast<double>(m[7]), static_cast<double>(m[8]));
}

void SurveyReflection(const OutputFiles& files, InputStruct* record, int h, int k, int l, double n)
{
    const double theta = std::asin(std::sqrt(n) * static_cast<double>(record->lambda) / 2.0 /
                                   static_cast<double>(record->latticeA));
    CalculStrucFactors(record->structure, static_cast<float>(theta), record, h, k, l);
    CalculIntensity(static_cast<float>(theta), record, h, k, l);
    const float thetaDeg = static_cast<float>((theta * 180.0) / static_cast<double>(kBraggPi));
    PrintAllPermutations(files.spaghettiDat, files.spaghettiMac, record, h, k, l, thetaDeg,
                         static_cast<float>(record->structureFactor),
                         static_cast<float>(record->intensity));
}

}  // namespace

void LimitingSphere(const InputStruct* record, double* nLow, double* nHigh)
{
    const double twoA = static_cast<double>(record->latticeA + record->latticeA);
    const double lambda = static_cast<double>(record->lambda);
    *nLow = std::pow(twoA * std::sin(kLowerBraggLimit) / lambda, 2.0);
    *nHigh = std::pow(twoA * std::sin(kUpperBraggLimit) / lambda, 2.0);
}

void CalculHKL(InputStruct* record)
{
    GetUserMatrix(record);
    if (ConsoleEcho()) PrintUserMatrix(record);
    ReadFactors(record);

    OutputFiles files = OpenOutputFiles();
    WriteSpaghettiPreamble(files.spaghettiMac, record);
    WriteReflectionTableHeader(files.spaghettiDat, record);

    double nLow = 0.0, nHigh = 0.0;
    LimitingSphere(record, &nLow, &nHigh);
    std::FILE* const streams[4] = {files.spaghettiDat, files.spaghettiMac, files.unwegDat, files.unwegMac};
    StartProgress(streams, 4);
    std::int64_t families = 0, surveyed = 0;
    ForEachFamily(record->hMax, nLow, nHigh, [&](int, int, int, double) { ++families; });
    cpi = 0;
    ForEachFamily(record->hMax, nLow, nHigh, [&](int h, int k, int l, double n) {
        ReportProgress("survey", ++surveyed, families);
        if (ConditionOnSphere(record->structure, h, k, l) == 0) return;
        SurveyReflection(files, record, h, k, l, n);
    });

    nbCurves = cpi;
    if (ConsoleEcho()) {
        std::printf("There are %lld curves...., now calculating intersections\n", static_cast<long long>(cpi));
    }
    CalcIntersections(record, files.unwegDat, files.unwegMac);
    EndProgress();
    CloseOutputFiles(&files);
}
