// The reflections X that can reach the Ewald sphere together with the primary reflection G, each
// once (Friedel mates and every other equivalent apart), with the shape of their dispersion curve.
//
// With G in its Bragg position, X is on the sphere where k_perp . X_perp = -n, n = (|X|^2 - X.G) / 2
// (X_perp the component of X across G). So at the azimuth psi
//   beam |k_perp| |X_perp| cos(psi - azimuth of X) = -n.
// For n != 0 this holds on one half of the circle only, around the curve's centre psi_c (X's own
// azimuth or the opposite one), where |k_perp| = C / cos(psi - psi_c), C = |n| / |X_perp|:
//   lambda_X(psi) = 1 / sqrt(|G|^2 / 4 + C^2 / cos^2(psi - psi_c)),
// highest at psi_c (the curve's top) and falling to 0 at psi_c -/+ 90. For n = 0 X is on the
// sphere at its azimuth -/+ 90 whatever the wavelength. G - X has the same n and the opposite
// X_perp: where X is on the sphere, G - X is not (unless n = 0).
#pragma once

#include <vector>

#include "crystal/crystal.h"
#include "planning/scan_frame.h"

struct SphereReflection {
    Miller x;          // X
    Miller coupling;   // G - X
    double n;          // (|X|^2 - X.G) / 2 in 1/angstrom^2; exactly 0 when X is on the sphere at every wavelength
    double azimuth;    // psi of X_perp, degrees
    double centre;     // psi_c, degrees (unused when n = 0)
    double spread;     // C = |n| / |X_perp|, 1/angstrom

    bool Always() const { return n == 0.0; }
    // The curve's top, the longest wavelength at which X is on the sphere (n != 0).
    double TopWavelength(const ScanFrame& frame) const;
    // The half-width beta of the azimuths around psi_c at which X is on the sphere at a wavelength
    // of at least `lambda`: cos(beta) = C / |k_perp(lambda)|. NaN when the curve never reaches
    // `lambda` (or G cannot diffract there); 90 for lambda <= 0.
    double HalfWidth(const ScanFrame& frame, double lambda) const;
};

// Every X other than 0 and the multiples of G with |X| <= radius (1/angstrom), whether the
// structure allows it or not. Throws std::length_error when the indices would not fit an int.
std::vector<SphereReflection> ReflectionsWithin(const Lattice& lattice, const ScanFrame& frame, double radius);

// The radius of the limiting sphere at the wavelength: 2 / lambda.
inline double LimitingRadius(double lambda) { return 2.0 / lambda; }

// The memory a survey of the sphere of `radius` takes, in bytes (an estimate from its volume:
// each reflection, and what an event or glitch line of it keeps).
double SurveyBytes(const Lattice& lattice, double radius);
