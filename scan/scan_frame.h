// The geometry of a scan: the primary reflection G held in its Bragg position while the crystal
// turns about G by the azimuth psi, and the frame in which psi is counted.
//
// The incident wave vector k0 (|k0| = 1 / lambda) has the component -|G| / 2 along G and a
// component k_perp across it, |k_perp|^2 = 1 / lambda^2 - |G|^2 / 4. The frame gives the unit
// vectors e2 and e3 across G; psi is the azimuth of `beam` * k_perp, that is
//   k_perp = beam |k_perp| (cos psi e2 + sin psi e3).
#pragma once

#include <optional>

#include "crystal/lattice.h"

struct ScanFrame {
    Miller primary;
    Vec3 G;          // the primary reflection, 1/angstrom
    double length;   // |G|
    Vec3 along;      // G / |G|
    Vec3 e2, e3;     // across G; psi = 0 along e2, psi = 90 along e3
    int beam;        // +1: psi follows the incident beam; -1: the beam reversed
    bool rightHanded;  // e3 = along x e2 (psi grows right-handed about G), else -(along x e2)
    std::optional<Miller> reference;  // the reference reflection, when one was given

    // psi of a vector's component across G, degrees in (-180, 180].
    double Azimuth(Vec3 v) const;
    // The longest wavelength at which G can diffract, 2 / |G| (angstrom).
    double CutoffWavelength() const { return 2.0 / length; }
    // |k_perp| at the wavelength; NaN where G cannot diffract.
    double BeamAcross(double lambda) const;
};

// psi counted right-handed about G from the component across G of the reference reflection R
// to the incident beam's component across G. Throws std::invalid_argument when G is 0 0 0 or R
// is zero or parallel to G (it then has no component across G).
ScanFrame ReferenceFrame(const Lattice& lattice, Miller primary, Miller reference);

// The frame of the reflection table's orientation matrix: e2 along the matrix's second column
// taken as a reciprocal-lattice direction, e3 along its third (left-handed about G when the
// primary has three non-zero indices or is a negative multiple of an axis), psi the azimuth of
// the incident beam reversed. Throws std::invalid_argument for G = 0 0 0.
ScanFrame MatrixFrame(const Lattice& lattice, Miller primary);

// The energy below which G cannot diffract, hc |G| / 2 (keV).
double CutoffEnergy(const ScanFrame& frame);

// The reference reflection and the sense of the matrix frame, for the documentation and the
// table headers: R (as a real direction in index space) and e3's direction.
void MatrixFrameAxes(Miller primary, double r2[3], double r3[3]);
