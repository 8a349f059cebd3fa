// The azimuths at which the crystal's symmetry gives an energy scan the same glitch spectrum.
//
// A rotation R of the point group (on the reciprocal lattice, orthogonal in Cartesian space)
// carries every allowed reflection X onto an allowed RX of the same |F|. Where R G = G it carries
// the beam k0 of the azimuth psi (k0 . G = -|G|^2 / 2) onto R k0, again a beam of G in its Bragg
// position at the same wavelength, whose component across G is that of psi turned by R: the
// azimuth psi' of R (cos psi e2 + sin psi e3). X lies on the sphere of k0 exactly when RX lies on
// that of R k0 (|k0 + X|^2 = |k0|^2 is kept by R), so psi and psi' have one glitch spectrum.
//
// Where R G = -G instead, -R k0 is a beam of G in its Bragg position, and |k0 + X| = |k0| holds
// exactly when |-R k0 + (-R X)| = |-R k0|: the spectrum of psi is met at the azimuth of -R k0 by
// the reflections -RX, allowed when X is (Friedel's law: glitch energies depend only on the
// geometry and on which reflections the structure allows). That is the rotation -R, which keeps
// G, so Friedel's inversion joined to the point group gives every such azimuth.
//
// One more map needs no operation of the crystal: with u the beam's direction across G,
// 2 k0 . X + |X|^2 = -G . X + 2 a u . X + |X|^2 is the same for X at u and for G - X at -u, so
// G - X lies on the sphere at psi + 180 at the energy at which X lies on it at psi. When the
// structure allows G - X exactly where it allows X (a centred lattice's conditions, glides along
// G...), psi + 180 has the spectrum of psi, and so has every image of it.
#pragma once

#include <vector>

#include "crystal/crystal.h"
#include "scan/azimuths.h"
#include "scan/scan_frame.h"

// One such map of azimuths: psi' = sign psi + shift (degrees), a turn about G (sign +1) or a
// mirror through it (sign -1).
struct AzimuthMap {
    int sign;
    double shift;
    double operator()(double psi) const { return sign * psi + shift; }
};

// The distinct maps of the crystal's symmetry (with Friedel's inversion) that keep G, the
// identity first, and each turned by 180 degrees when the structure allows G - X wherever it
// allows X, every X up to the energy eMax (keV) looked at.
std::vector<AzimuthMap> AzimuthSymmetries(const Crystal& crystal, const ScanFrame& frame, double eMax);

// Every azimuth of the window (each turn) with the spectrum of `psi`, psi's own turns among them,
// ascending.
std::vector<double> SymmetricAzimuths(const std::vector<AzimuthMap>& maps, double psi, const PsiWindow& window);
