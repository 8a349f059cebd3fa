// The beam a monochromator (or the crystal of an azimuthal scan) receives, and how the
// monochromator is built: what the depths and widths of its glitches and events depend on.
#pragma once

#include "crystal/vec3.h"

enum class Polarisation { kSigma, kPi, kUnpolarised };  // relative to G's scattering plane

// The crystals the beam passes, each reflecting G in turn (the (+, -) setting: the beam leaves
// parallel to the incident one).
enum class Monochromator {
    kSingle,      // one crystal
    kDouble,      // a second crystal of its own, set at another azimuth: it passes the band of G
                  // (its Darwin-Prins curve narrows the passband) but has no glitch at the first's
    kChannelCut,  // a second wall of the same crystal: -G meets the same multiple-beam case through
                  // the reflection X - G, so the glitch is met twice
};

struct Beam {
    Polarisation polarisation = Polarisation::kSigma;
    double across = 0.0;  // rad: the beam's full spread across G's scattering plane
    double along = 0.0;   // rad: its full spread along the plane; 0: G's Darwin width
    Vec3 surface{};       // the crystal surface's normal as a reciprocal vector; 0: G's (a symmetric cut)
    Monochromator monochromator = Monochromator::kSingle;
};

// Whether every ray of the beam lies in the plane of G and its mean direction (no spread across):
// such a beam meets a reflection and its mirror image in that plane together, ray by ray.
inline bool RaysInOnePlane(const Beam& beam) { return !(beam.across > 0.0); }
