// Fuzzes the calculation from the survey to the band-crossing search with arbitrary run
// parameters: any structure number and primary reflection, any lattice parameter, wavelength,
// psi window and band (NaN, infinities, zero and negative numbers included), and the planning of
// a scan from the same survey. hMax stays small so that a run is quick. The four files are
// written into a scratch folder.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "crystal/cubic_crystal.h"
#include "io/output_files.h"
#include "fuzz_support.h"
#include "output/curve_table.h"
#include "windows/clean_windows.h"
#include "scan/events.h"
#include "glitches/glitches.h"
#include "setup/units.h"
#include "survey/survey_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    PrepareFuzzing();
    if (::chdir(ScratchFolder().c_str()) != 0) std::abort();
    return 0;
}

namespace {

constexpr std::size_t kFewLines = 16;

// The planning of a scan with the same answers, in double precision: events, clean windows, a
// glitch spectrum and a glitch map, wherever the limiting sphere stays small. Its events grow as
// (a / lambda)^3: at a / lambda = 26 a simple cubic cell over two turns has 1.4 million, some 35 s
// under the sanitizers, past the fuzzer's timeout; below 8, some 40 thousand in 2.5 s.
void PlanScan(const InputStruct& record)
{
    const double a = record.latticeA, lambda = record.lambda, band = record.deltaLambda;
    const double shortest = std::min(lambda - band / 2.0, lambda);
    if (!(shortest > 0.0) || !(a > 0.0) || !std::isfinite(a) || !(a / shortest < 8.0) || record.structure < 1 ||
        record.structure > 4 || !(record.psiMin < record.psiMax && record.psiMax - record.psiMin <= kWidestPsiWindow)) {
        return;
    }
    const CubicCrystal crystal(record.structure, a, record.f0Coef, "SI");
    const Miller primary{record.primaryH, record.primaryK, record.primaryL};
    if (IsZero(primary)) return;
    const ScanFrame frame = MatrixFrame(crystal.lattice(), primary);
    if (!(lambda < frame.CutoffWavelength())) return;
    const PsiWindow window{record.psiMin, record.psiMax};
    for (const Event& e : FindEvents(crystal, frame, {lambda, band}, window)) {
        if (!(e.relativeStrength >= 0.0 && e.relativeStrength <= 1.0 && e.psiMin <= e.psi && e.psi <= e.psiMax)) {
            __builtin_trap();
        }
    }
    CleanEventWindows(FindEvents(crystal, frame, {lambda, band}, CleanWindowReach(window)), window, 1.0, {false, 0.01}, 1.0);
    const double eMax = kHcKeVAngstrom / shortest;
    FindGlitches(crystal, frame, record.psiMin, eMax / 2.0, eMax);
    // Each counted line's ends get a three-beam dip, some 8 ms each and nine times that under the
    // fuzzer's instrumentation: the clean windows of the stronger lines of a narrower range, where
    // its map, over the half turn on either side that the windows look at, holds a few lines. The
    // sphere alone does not bound them: a simple cubic cell with a primary of low symmetry over
    // two turns has 769 lines at a / lambda = 2.8 (19 s instrumented).
    const double eMin = 0.97 * eMax;
    const PsiWindow looked{window.min - 181.0, window.max + 181.0};
    if (a / shortest < 5.0 && GlitchMap(crystal, frame, looked, eMin, eMax).size() <= kFewLines) {
        CleanEnergyWindows(crystal, frame, window, eMin, eMax, {false, 0.1}, 0.0, Beam{}, 0.5);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    InputStruct record{};
    std::snprintf(record.factorFile, sizeof record.factorFile, "%s", KELTO_TABLE);
    std::snprintf(record.symbol, sizeof record.symbol, "%s", "si");
    // The parameters in this order, each from as many bytes as it holds (zero where the input ends).
    const auto take = [&](auto& field) {
        const std::size_t n = std::min(sizeof field, size);
        std::memcpy(&field, data, n);
        data += n, size -= n;
    };
    std::uint8_t reach = 0;
    take(record.structure), take(reach), take(record.kMax), take(record.lMax), take(record.latticeA), take(record.lambda);
    take(record.psiMin), take(record.psiMax), take(record.deltaLambda), take(record.primaryH), take(record.primaryK);
    take(record.primaryL);
    record.hMax = reach % 12 - 1;  // small, so that a run is quick
    SurveyRun run;
    try {
        CalculHKL(&record, &run);
        CommitOutputFiles();  // into the scratch folder
    } catch (const RunError&) {
        __builtin_trap();  // the shipped table holds SI and the folder is writable
    }
    if (run.cpi < 0 || run.nbCurves != run.cpi) __builtin_trap();
    PlanScan(record);
    return 0;
}
