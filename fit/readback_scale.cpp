#include "fit/readback_scale.h"

#include <cmath>

#include "setup/units.h"

namespace {

// The Bragg angle of photons of `keV` at the d-spacing, radians (NaN below the reflection's cutoff).
double BraggAngle(double keV, double d) { return std::asin(kHcKeVAngstrom / (2.0 * d * keV)); }

}  // namespace

double ReadbackScale::Read(double photonKeV) const
{
    const double read = BraggAngle(photonKeV, dSpacing) + angleOffsetDeg * kRadiansPerDegree;
    return kHcKeVAngstrom / (2.0 * dSpacing * dRatio * std::sin(read));
}

double ReadbackScale::Photon(double readKeV) const
{
    const double read = BraggAngle(readKeV, dSpacing * dRatio);
    return kHcKeVAngstrom / (2.0 * dSpacing * std::sin(read - angleOffsetDeg * kRadiansPerDegree));
}

ReadbackScale::Slopes ReadbackScale::SlopesAt(double photonKeV) const
{
    const double theta = BraggAngle(photonKeV, dSpacing);
    const double read = theta + angleOffsetDeg * kRadiansPerDegree;
    const double e = Read(photonKeV), cotangent = 1.0 / std::tan(read);
    // E_read = K / sin(theta + delta), sin theta = c / E: d theta / dE = -tan theta / E.
    return {e * cotangent * std::tan(theta) / photonKeV, -e * cotangent * kRadiansPerDegree, -e / dRatio};
}
