// Fuzzes the calculation from the survey to the band-crossing search with arbitrary run
// parameters: any structure number and primary reflection, any lattice parameter, wavelength,
// psi window and band (NaN, infinities, zero and negative numbers included), and the planning of
// a scan from the same survey. hMax stays small so that a run is quick. The four files are
// written into a scratch folder.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "output/curve_table.h"
#include "planning/events.h"
#include "planning/glitches.h"
#include "planning/sphere_reflections.h"
#include "survey/survey_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    PrepareFuzzing();
    if (::chdir(ScratchFolder().c_str()) != 0) std::abort();
    return 0;
}

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
    try {
        CalculHKL(&record);
    } catch (const RunEnded&) {
        __builtin_trap();  // the shipped table holds SI and the folder is writable
    }
    if (cpi < 0 || nbCurves != cpi) __builtin_trap();
    // The planning of a scan from the same survey: events, clean windows and a glitch spectrum.
    const std::vector<SphereReflection> reflections = CollectSphereReflections(&record);
    const std::vector<Event> events = FindEvents(reflections, &record);
    for (const Event& e : events) {
        if (!(e.relativeStrength >= 0.0 && e.relativeStrength <= 1.0)) __builtin_trap();
    }
    CleanWindows(events, record.psiMin, record.psiMax, 1.0, 0.01);
    FindGlitches(reflections, &record, record.psiMin, 5.0, 30.0);
    return 0;
}
