#include "geometry/curve_coefficients.h"

#include <cmath>

#include "geometry/frame_coordinates.h"

CurveCoefficients CurveOf(const InputStruct* record, float x, float y, float z)
{
    CurveCoefficients curve{};
    curve.x0 = GetCoordinateTransformationH(record, record->primaryH, record->primaryK, record->primaryL);
    const float squaredLength = (x * x + y * y) + z * z;
    const float across4 = (y * y + z * z) * 4.0f;
    curve.u = squaredLength - x * curve.x0;
    curve.k2 = static_cast<float>(std::pow(static_cast<double>(curve.u), 2.0) / static_cast<double>(across4));
    const double uWide = static_cast<double>(squaredLength) - static_cast<double>(x) * static_cast<double>(curve.x0);
    curve.k2Wide = std::pow(uWide, 2.0) / static_cast<double>(across4);
    const double h0 = record->primaryH;
    const double k0 = record->primaryK;
    const double l0 = record->primaryL;
    curve.p2Wide = ((std::pow(h0, 2.0) + std::pow(k0, 2.0)) + std::pow(l0, 2.0)) / 4.0;
    curve.p2 = static_cast<float>(curve.p2Wide);
    return curve;
}

double BetaP2(const InputStruct* record)
{
    const auto square = [](std::int32_t index) { return std::pow(static_cast<double>(static_cast<float>(index)), 2.0); };
    return ((square(record->primaryH) + square(record->primaryK)) + square(record->primaryL)) / 4.0;
}
