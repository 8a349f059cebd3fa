#include "geometry/curve_coefficients.h"

#include <cmath>

#include "geometry/frame_coordinates.h"

CurveCoefficients RecordedCurveOf(const InputStruct* record, int h, int k, int l)
{
    const float x = GetCoordinateTransformationH(record, h, k, l);
    const float y = GetCoordinateTransformationK(record, h, k, l);
    const float z = GetCoordinateTransformationL(record, h, k, l);
    CurveCoefficients curve{};
    curve.x0 = GetCoordinateTransformationH(record, record->primaryH, record->primaryK, record->primaryL);
    const double h0 = record->primaryH;
    const double k0 = record->primaryK;
    const double l0 = record->primaryL;
    curve.p2 = static_cast<float>(((std::pow(h0, 2.0) + std::pow(k0, 2.0)) + std::pow(l0, 2.0)) / 4.0);
    const float u = ((x * x + y * y) + z * z) - x * curve.x0;
    curve.k2 = static_cast<float>(std::pow(static_cast<double>(u), 2.0) /
                                  static_cast<double>((y * y + z * z) * 4.0f));
    return curve;
}
