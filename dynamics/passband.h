// What the monochromator passes near one glitch, ray by ray: the multiple-beam case of its crystal
// (and of a second crystal) and how a ray's direction and energy set its deviations.
//
// At the setting E the central ray (energy E, the beam's mean direction) meets G at its Bragg
// angle and X at the deviation alpha_c = (|k0 + X|^2 - |k0|^2) / |k0|^2 of the scan. A ray tilted
// by e along G's scattering plane and p across it, of energy E (1 + eps), has to first order
//   alpha_G = a_e e - lambda^2 |G|^2 eps,    alpha_X = alpha_c + A e + B p - lambda^2 |X|^2 eps,
// a_e = 2 lambda t_along.G, A = 2 lambda t_along.X, B = 2 lambda t_across.X. A white beam brings
// every energy: summed over eps at a fixed direction, the ray's alpha_X runs along the line
//   alpha_X - kappa alpha_G = alpha_c + A' e + B p,   kappa = |X|^2 / |G|^2,   A' = A - kappa a_e,
// so that the output at E is the passband integral
//   I(E) = integral ds T(s) integral dalpha_G R(alpha_G, alpha_c(E) + s + kappa alpha_G),
// T the distribution of s = A' e + B p over the beam (the convolution of two boxes, |A'| L and
// |B| P wide, L and P the beam's spreads along and across) and R the monochromator's reflectivity
// for the ray. The geometry (the beams' directions and cosines) is taken as the central ray's for
// every ray: the rays differ by far less than the angles that decide it.
#pragma once

#include <complex>
#include <limits>
#include <optional>
#include <vector>

#include "crystal/crystal.h"
#include "dynamics/beam.h"
#include "scan/scan_frame.h"
#include "dynamics/thick_crystal.h"

struct PassbandCase {
    BeamSet first;    // the monochromator's crystal: O, G, X (and its circle's Y)
    BeamSet second;   // a second crystal, incident along G's beam: O' = G's beam, -G, X - G (and Y - G)
    bool twoCrystals = false;
    bool secondMeetsX = false;  // a channel-cut: X - G takes from the second crystal too
    double kappa = 0.0;         // |X|^2 / |G|^2
    // The reflections besides X on the circle through O, G and X (CircleMembers), beams 3, 4, ...:
    // each Y = ratio X + shift G has alpha_Y = ratio alpha_X + shift alpha_G for every ray, so that
    // all are excited wherever X is and the case is one of 3 + members.size() beams (X the one that
    // runs furthest into the crystal, so that every member, and their images by the crystal's
    // symmetry, name the same case). X's mirror partner has ratio 1 and shift 1 - 2 X.G / |G|^2.
    struct Member {
        Miller h;
        double ratio = 1.0, shift = 0.0;
        bool mirror = false;  // off X's circle: the mirror image of X or of a member in the beam's plane
    };
    std::vector<Member> members;
    Miller x{};                 // the reflection of beam 2
    bool Shared() const { return !members.empty(); }
    double alongRate = 0.0;     // A': how s moves with the tilt along G's plane
    double acrossRate = 0.0;    // B: the same across it
    double along = 0.0;         // rad: the beam's spread along the plane (G's Darwin width when not given)
    double across = 0.0;        // rad
    int polarisations[2] = {0, 1};  // the incident polarisations summed (sigma 0, pi 1) ...
    int polarisationCount = 1;      // ... as many as the beam has: one, or both for an unpolarised beam
    // G's band of total reflection in alpha_G (two-beam linear theory, sigma): its centre, shifted by
    // refraction, and its half-width; X's resonance scales in alpha_X: the two-beam half-widths of
    // X alone and of X coupled to G's beam.
    double centreG = 0.0, halfG = 0.0;
    double halfX = 0.0, halfXG = 0.0;
    // The structure forbids G (|chi_G| below 1e-6 of |chi_0|): it reflects only what X brings it.
    bool primaryForbidden = false;
    // The cosines between the beams' directions (O and G, O and X, G and X): with the gammas and
    // the susceptibilities they fix the case up to a rotation or a mirror, which changes nothing.
    double cosines[3] = {};
};

// The reflections excited with X at every azimuth and energy, so that all make one dip: the
// allowed reflections Y = n X + m G of the lattice plane through O, G and X that lie on the circle
// through the three (every such Y has alpha_Y = n alpha_X + m alpha_G for every ray), X's mirror
// partner X + (1 - 2 X.G / |G|^2) G among them. By MillerBefore; the circle is the same from each
// of them, so that each one's list holds the others. Of a circle of more than kMostBeams - 2
// reflections (none up to 27.5 keV in the crystals that come with kelto) the shortest are kept.
std::vector<Miller> CircleMembers(const Crystal& crystal, Miller primary, Miller x);
// The reflection whose reciprocal vector is h's mirror image in the plane through G and the beam
// at the azimuth psi (degrees): its deviation is h's for every ray in that plane, at every energy,
// so that a beam without spread across G's plane excites the two together. None where h lies in
// the plane or its image is not a lattice point. (At azimuths where the plane is one of the
// crystal's mirrors every reflection off it has one; elsewhere the lattice may still give some.)
std::optional<Miller> MirrorInBeamPlane(const Lattice& lattice, const ScanFrame& frame, double psi, Miller h);
// The reflections that share X's dip at the azimuth psi: those of its circle (CircleMembers) and,
// where `mirrors` (a beam without spread across G's plane), the allowed mirror images of X and of
// them (MirrorInBeamPlane). By MillerBefore, the same from each of them; of more than
// kMostBeams - 3 the shortest kept.
std::vector<Miller> SharedMembers(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, bool mirrors);
// How a member's deviation follows X's: alpha_Y = ratio alpha_X + shift alpha_G.
struct PartnerRelation {
    double ratio, shift;
};
PartnerRelation RelationOf(const Lattice& lattice, Miller primary, Miller x, Miller partner);
// The order in which the reflections of one circle are taken: by h, then k, then l. Their dip is
// counted at the first of them.
inline bool MillerBefore(Miller a, Miller b) { return a.h != b.h ? a.h < b.h : a.k != b.k ? a.k < b.k : a.l < b.l; }

// The case of X's glitch at `keV` and the azimuth psi (degrees) for the beam: three beams, and
// one more for each allowed reflection on X's circle through O and G, and for a beam without
// spread across G's plane one for each of their mirror images in the plane of G and the beam
// (unless `images` is false: a case to be given several spreads).
PassbandCase DescribePassband(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV,
                              const Beam& beam, bool images = true);

// Where X takes from a ray of deviation alphaG: the alpha_X at which X's wave is in step with one
// of the two waves of G's two-beam field (the linear theory's roots, sigma), in each crystal that
// meets X (the second wall's given in the first's alpha_X). Complex: the imaginary part is the
// resonance's half-width. The wave that decays into the crystal carries the beam that G reflects;
// the other (a wave of G's direction that the crystal does not let grow alone) brings X to
// resonance with G's beam outside G's band, where the two are far apart.
std::vector<std::complex<double>> ResonantDeviations(const PassbandCase& passband, double alphaG);

// The deviation the second crystal's -G meets for a ray of deviation alphaG of the first, and the
// amount x by which the G beam's normal wave-vector component changes on leaving the first
// (x^2 + 2 gamma_G x + alpha_G = 0, the small root): the second's X - G meets alpha_X + 2 x gamma_X + x^2.
double ExitAccommodation(double gammaG, double alphaG);

// The monochromator's reflectivity into G's beam for one ray, for each incident polarisation
// (sigma, pi), with X (three beams, more with its circle's) or without it (two beams). One per thread: the solvers keep
// their last roots as the first guesses of the next ray.
class RaySolver {
public:
    explicit RaySolver(const PassbandCase& passband);
    // alphaX: X's deviation (its circle's follow from it and alphaG).
    void ReflectWithX(double alphaG, double alphaX, double out[2]);
    void ReflectTwoBeam(double alphaG, double out[2]);

private:
    const Reflection& SecondTwoBeam(double alphaG2);

    const PassbandCase& case_;
    ThickCrystal first_, firstTwo_;
    std::optional<ThickCrystal> second_, secondTwo_;
    double lastAlphaG2_ = std::numeric_limits<double>::quiet_NaN();
    Reflection lastSecond_;
};
