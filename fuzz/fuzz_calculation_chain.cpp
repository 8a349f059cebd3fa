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
#include "setup/input_struct.h"
#include "survey/survey_driver.h"

namespace {

template <typename T>
T Take(const std::uint8_t*& data, std::size_t& size)
{
    T value{};
    const std::size_t n = std::min(sizeof(T), size);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

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
    record.structure = Take<std::int32_t>(data, size);
    record.hMax = static_cast<std::int32_t>(Take<std::uint8_t>(data, size) % 12) - 1;
    record.kMax = Take<std::int32_t>(data, size);
    record.lMax = Take<std::int32_t>(data, size);
    record.latticeA = Take<float>(data, size);
    record.lambda = Take<float>(data, size);
    record.psiMin = Take<float>(data, size);
    record.psiMax = Take<float>(data, size);
    record.deltaLambda = Take<float>(data, size);
    record.primaryH = Take<std::int32_t>(data, size);
    record.primaryK = Take<std::int32_t>(data, size);
    record.primaryL = Take<std::int32_t>(data, size);
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
