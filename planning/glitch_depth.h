// How deep and how wide a glitch is: the share of the monochromator's output at one energy that a
// secondary reflection X takes, from two-beam dynamical widths and the beam's spread of directions.
//
// At a fixed energy the primary G passes the rays whose angle in its scattering plane lies within
// its Darwin width w_G (or within the beam's own spread along that plane, when narrower), and the
// beam spreads across the plane by its divergence. A ray tilted by e along and p across the plane
// shifts X's deviation parameter alpha = (|k0 + X|^2 - |k0|^2) / |k0|^2 by
//   A e + B p,   A = 2 lambda t_along . X,   B = 2 lambda t_across . X
// (t the unit tilts of the ray). X takes a ray while its alpha lies within X's total-reflection
// range a_X (DarwinWidth::deviation), where its reflectivity is taken as 1. With e and p spread
// evenly over their ranges, the share of the output that X takes when the central ray's alpha is c
// is the chance that |c + A e + B p| <= a_X / 2: the overlap of X's reflectivity box with the
// trapezoid of the rays' alphas. The depth is that share at the glitch's centre (c = 0); the width
// is the full width at half that depth, in energy along the scan (c = rate x (E - E_glitch)).
#pragma once

#include <cmath>
#include <vector>

#include "crystal/crystal.h"
#include "planning/events.h"
#include "planning/scan_frame.h"

enum class Polarisation { kSigma, kPi, kUnpolarised };  // relative to G's scattering plane

struct Beam {
    Polarisation polarisation = Polarisation::kSigma;
    double across = 0.0;  // rad: the beam's full spread across G's scattering plane
    double along = 0.0;   // rad: its full spread along the plane; 0: wider than G's Darwin width
    Vec3 surface{};       // the crystal surface's normal as a reciprocal vector; 0: G's (a symmetric cut)
};

// The chance that |c + u + v| <= half, u and v spread evenly over full widths su and sv about 0.
double BoxOverlap(double c, double su, double sv, double half);

struct GlitchShape {
    double depth;    // share of the output at the glitch's centre, 0 to 1
    double widthEV;  // full width at half depth along the energy scan, eV
    // The profile: the share taken at E is BoxOverlap(rate (E - E_glitch), su, sv, half), E in eV
    // (rate 0 where the scan does not move X: the share is the depth at every energy).
    double rate, su, sv, half;
    double halfDepth;  // the distance in alpha from the centre at which the share is half the depth
    // The share taken `eV` away from the glitch's centre.
    double At(double eV) const { return BoxOverlap(rate * eV, su, sv, half); }
    // How far from the centre (eV) the share is 0.
    double Reach() const { return rate == 0.0 ? 0.0 : (half + (su + sv) / 2.0) / std::fabs(rate); }
};

// The shape of X's glitch at `keV` and the azimuth psi (degrees) for the beam. A reflection that
// stays on the sphere over the whole scan has no width along it: widthEV is then infinite.
GlitchShape ShapeOfGlitch(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam);

// The width in azimuth (degrees) of X's event at psi (degrees) and `keV`: the full width at half
// depth of the same profile as psi turns the beam about G, from d alpha / d psi = 2 lambda^2
// (d k0 / d psi).X, or, at the top of X's curve where that is 0, from the second derivative.
double EventWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam);

// Sets the event's width and depth for the beam at the band's centre, `keV`: the profile of X at
// the event's psi, as for a glitch there.
void ShapeEvent(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, Event* event);

// The same for every event.
void SetEventWidths(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, std::vector<Event>* events);
