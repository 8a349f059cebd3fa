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
#include "survey/index_sort.h"
#include "survey/intensity.h"
#include "survey/output_files.h"
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

// h^2 + k^2 + l^2 of non-negative indices, in a type wide enough for any of them.
double SquaredLength(std::int64_t h, std::int64_t k, std::int64_t l)
{
    const auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
    return static_cast<double>(u(h) * u(h) + u(k) * u(k) + u(l) * u(l));
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

// Visits the families h >= k >= l >= 0 with nLow < h^2 + k^2 + l^2 < nHigh, h ascending, then k,
// then l. Each loop ends as soon as its partial sum leaves the sphere, so the work follows the
// number of families inside it. Loop counters are 64-bit so that no bound can overflow them.
void SurveyFamilies(const OutputFiles& files, InputStruct* record, double nLow, double nHigh)
{
    int b1 = 0, b2 = 0, b3 = 0;
    SortHKL(record->hMax, record->hMax, record->hMax, &b1, &b2, &b3);
    for (std::int64_t h = 0; h <= b1 && static_cast<double>(h) <= std::sqrt(nHigh); ++h) {
        const int kBound = min(b2, static_cast<int>(h));
        for (std::int64_t k = 0; k <= kBound && SquaredLength(h, k, 0) <= nHigh; ++k) {
            const int lBound = min(b3, static_cast<int>(k));
            for (std::int64_t l = 0; l <= lBound && SquaredLength(h, k, l) <= nHigh; ++l) {
                const double n = SquaredLength(h, k, l);
                if (!(n > nLow && n < nHigh)) continue;
                const int ih = static_cast<int>(h), ik = static_cast<int>(k), il = static_cast<int>(l);
                if (ConditionOnSphere(record->structure, ih, ik, il) == 0) continue;
                SurveyReflection(files, record, ih, ik, il, n);
            }
        }
    }
}

}  // namespace

void CalculHKL(InputStruct* record)
{
    GetUserMatrix(record);
    PrintUserMatrix(record);
    ReadFactors(record);

    OutputFiles files = OpenOutputFiles();
    WriteSpaghettiPreamble(files.spaghettiMac, record);
    WriteReflectionTableHeader(files.spaghettiDat, record);

    const double twoA = static_cast<double>(record->latticeA + record->latticeA);
    const double lambda = static_cast<double>(record->lambda);
    const double nLow = std::pow(twoA * std::sin(kLowerBraggLimit) / lambda, 2.0);
    const double nHigh = std::pow(twoA * std::sin(kUpperBraggLimit) / lambda, 2.0);
    cpi = 0;
    SurveyFamilies(files, record, nLow, nHigh);

    nbCurves = cpi;
    std::printf("There are %lld curves...., now calculating intersections\n",
                static_cast<long long>(cpi));
    CalcIntersections(record, files.unwegDat, files.unwegMac);
    CloseOutputFiles(&files);
}
