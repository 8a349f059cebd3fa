// The energy a monochromator reads back for the photons it passes. The control turns the Bragg
// angle read by its encoder into an energy with its own d-spacing d_ref:
//   E_read = hc / (2 d_ref sin(theta + delta)),  the photons' E = hc / (2 d sin theta),
// d the true d-spacing of the crystal's primary reflection (1 / |G|), delta the encoder's angle
// offset. A constant delta and d_ref over a scan: no encoder nonlinearity, no drift.
#pragma once

struct ReadbackScale {
    double dSpacing = 0.0;        // d, angstrom
    double angleOffsetDeg = 0.0;  // delta, degrees
    double dRatio = 1.0;          // d_ref / d

    // The readback of photons of `photonKeV`, keV.
    double Read(double photonKeV) const;
    // The photon energy read back as `readKeV`, keV.
    double Photon(double readKeV) const;
    // The readback's derivatives at `photonKeV` (its keV per photon keV, per degree of delta and per
    // unit of the ratio).
    struct Slopes {
        double perPhoton, perDegree, perRatio;
    };
    Slopes SlopesAt(double photonKeV) const;
};
