// The glitch spectrum of an energy scan at a fixed azimuth: the energies at which a further
// reflection reaches the Ewald sphere while the primary reflection is kept in its Bragg position
// (a monochromator crystal, or an energy scan at fixed orientation).
#pragma once

#include <vector>

#include "planning/sphere_reflections.h"
#include "setup/input_struct.h"

struct Glitch {
    double energy;      // keV
    double wavelength;  // angstrom
    const SphereReflection* reflection;
    double strength;    // |F(X)| |F(G - X)|
    double relativeStrength;
};

// Every reflection X on the sphere at the azimuth `psi` (cos(psi - psi0) > 0) whose wavelength
// lambda_X(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2) lies between hc / eMax and hc / eMin,
// each once, sorted by energy.
std::vector<Glitch> FindGlitches(const std::vector<SphereReflection>& reflections, const InputStruct* record,
                                 double psi, double eMin, double eMax);
