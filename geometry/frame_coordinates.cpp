#include "geometry/frame_coordinates.h"

namespace {

// Row (h, k, l) times column `column` of the matrix, summed as (h-term + k-term) + l-term.
float Coordinate(const InputStruct* record, int h, int k, int l, int column)
{
    const float* m = record->userMatrix;
    return (static_cast<float>(h) * m[column] + static_cast<float>(k) * m[3 + column]) +
           static_cast<float>(l) * m[6 + column];
}

}  // namespace

float GetCoordinateTransformationH(const InputStruct* record, int h, int k, int l)
{
    return Coordinate(record, h, k, l, 0);
}

float GetCoordinateTransformationK(const InputStruct* record, int h, int k, int l)
{
    return Coordinate(record, h, k, l, 1);
}

float GetCoordinateTransformationL(const InputStruct* record, int h, int k, int l)
{
    return Coordinate(record, h, k, l, 2);
}
