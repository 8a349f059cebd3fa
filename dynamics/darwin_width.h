// Two-beam dynamical diffraction of one reflection X: its susceptibility and the width of its total
// reflection (the Darwin width), in the incident beam's angle and in energy. These widths decide
// how wide a glitch or an event is and how much of the beam it takes.
//
//   chi_X = -r_e lambda^2 F_X / (pi V)
//   Darwin width (incident beam) = 2 C sqrt(|chi_X chi_-X|) / (sqrt(|b|) sin 2 theta_B),
//   b = gamma_0 / gamma_h,   energy width at fixed angle = angular width x E / tan theta_B,
//
// with C the polarisation factor (1 for sigma, |cos 2 theta_B| for pi) and gamma_0, gamma_h the
// direction cosines of the incident and the diffracted beam with the inward surface normal
// (symmetric Bragg case: b = -1). F includes f', f'' and the Debye-Waller factor where the
// crystal has them.
#pragma once

#include <complex>

#include "crystal/crystal.h"
#include "scan/scan_frame.h"

// C for a beam whose intensity lies for the share `sigmaShare` along X's sigma direction (normal
// to the plane of the incident beam and X) and for the rest along its pi direction: 1 for sigma,
// 0 for pi, 1/2 for an unpolarised beam.
double PolarisationFactor(double sigmaShare, double braggAngle);

// The share of a beam polarised along `polarisation` (a unit vector across the incident beam
// `incident`) that lies along the sigma direction of X.
double SigmaShare(const Vec3& polarisation, const Vec3& incident, const Vec3& x);

struct DarwinWidth {
    double braggAngle;          // theta_B, rad, without refraction
    std::complex<double> chi;   // chi_X
    double polarisationFactor;  // C
    double angle;               // rad: the full width of total reflection for the incident beam
    double energy;              // eV: the same at a fixed angle of incidence
    double deviation;           // the same as a range of alpha (below): 4 C sqrt(|chi_X chi_-X|) / sqrt(|b|)
};

// X's widths at `keV` for the beam's `sigmaShare`. gamma0 and gammaH as above (a grazing exit,
// gammaH -> 0, narrows the width to 0 without dividing by it; a beam that does not enter the
// surface, gamma0 <= 0, is reflected by nothing: widths 0). NaN widths when X cannot diffract at
// `keV` (|X| lambda / 2 > 1).
DarwinWidth DarwinWidthOf(const Crystal& crystal, Miller x, double keV, double sigmaShare, double gamma0 = 1.0,
                          double gammaH = -1.0);
// The same with the crystal's scattering at `keV` already in hand (several reflections at one energy).
DarwinWidth DarwinWidthOf(const Lattice& lattice, const Scattering& scattering, Miller x, double keV, double sigmaShare,
                          double gamma0, double gammaH);

// How fast X leaves its Bragg condition along an energy scan with G held in its Bragg position at
// the azimuth psi (degrees), per eV at `keV`, in the deviation parameter
//   alpha = (|k0 + X|^2 - |k0|^2) / |k0|^2   (-2 (theta - theta_B) sin 2 theta_B near the Bragg angle),
// which stays linear where X is near back-scattering and its angle is not: at X's glitch (alpha = 0)
//   d alpha / dE = 2 beam (d|k_perp| / dE) (u.X) / |k0|^2,
// u the unit vector of k_perp. 0 for a reflection that stays on the sphere (u.X = 0).
double DeviationRate(const ScanFrame& frame, const Lattice& lattice, Miller x, double psi, double keV);

// The energy width (eV) of X's glitch: the stretch of the scan over which alpha stays within X's
// total-reflection range `deviation` (DarwinWidth::deviation). Infinite for a reflection that
// stays on the sphere.
double GlitchEnergyWidth(double deviation, double deviationRate);
