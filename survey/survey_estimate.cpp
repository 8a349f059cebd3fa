#include "survey/survey_estimate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "survey/families.h"

namespace {

constexpr double kBytesPerCurve = 1320.0;        // the four files, measured over many surveys
constexpr double kMemoryPerCurve = 28.0;         // a row of the curve table
constexpr double kFixedMemory = 16.0 * 1024 * 1024;  // stream buffers, the program itself

double AllowedShare(int structure)
{
    switch (structure) {
        case 2: return 1.0 / 2.0;
        case 3: return 1.0 / 4.0;
        case 4: return 3.0 / 16.0;
        default: return 1.0;
    }
}

}  // namespace

SurveyEstimate EstimateSurvey(const InputStruct* record)
{
    SurveyEstimate e{};
    const double radius = LimitingSphere(record->latticeA, record->lambda).radius;
    const double half = record->hMax;
    if (!(radius > 0.0) || half < 0.0) {
        e.memory = kFixedMemory;
        return e;
    }
    const double sphere = 4.0 / 3.0 * std::numbers::pi * radius * radius * radius;
    const double cube = std::pow(2.0 * half + 1.0, 3.0);
    e.reflections = std::min(sphere, cube) * AllowedShare(record->structure);
    // The mean distance from the centre, over the sphere 3/4 of its radius, over a cube 0.96 of
    // its half side: curves per reflection fall from 4 at the centre to 2 over the whole sphere.
    const double inside = std::min(0.75 * radius, 0.96 * std::max(half, 0.5)) / radius;
    e.curves = e.reflections * (4.0 - 8.0 / 3.0 * inside);
    e.bytes = e.curves * kBytesPerCurve;
    e.memory = kFixedMemory + e.curves * kMemoryPerCurve;
    return e;
}
