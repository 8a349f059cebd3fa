// The loss of a weak X in closed form: the thick-crystal solution to first order in X's couplings,
// for a case of three beams whose beams all stand clear of the surface (the linear theory).
//
// G's two-beam field of polarisation p in a thick Bragg crystal is one wave (delta_1, D_G / D_O =
// xi_1) that decays into the crystal; the other root delta_2 grows and is not excited. X's wave,
// driven by it, sends back into O and G of polarisation q a Bethe potential that changes G's
// amplitude by
//   dr_pq = k_pq / (alpha_X - P),   k_pq = S / (2 gamma_0 gamma_G (delta_1,p - delta_2,q)),
//   S = sum over X's polarisations t of v_t (gamma_0 w_tG - gamma_G xi_1,q w_tO),
// v_t = chi_X [O_p]_t + chi_{X-G} xi_1,p [G_p]_t, w_tO = chi_-X [X_t]_O_q, w_tG = chi_{G-X} [X_t]_G_q.
// Where X leaves by the entrance surface (gamma_X < 0) its own waves grow into the crystal and
// P = chi_0 - 2 gamma_X delta_1,p. Where X runs into the crystal its own wave is excited as well
// (no X enters from outside); its term cancels the pole at delta_1,p and leaves the same residue
// at P = chi_0 - 2 gamma_X delta_2,q (docs/glitch_depth.md). The reflectivity is the flux times
// |xi_1,p + dr_pp|^2 + |dr_pq|^2; a second crystal multiplies the amplitudes by its own.
//
// Against the linear theory solved in full, a ray's loss within G's band agrees to a percent;
// beyond the band, where X's resonance narrows to its absorption width and X's own reflection
// saturates, the first order errs, so that a dip comes out some 5 % (up to 20 %) deeper than the
// full solution's, its width within 12 %. It is taken where X is weak (|chi_X| and |chi_{X-G}| at
// most a fifth of |chi_G|) and alone (no mirror partner, whose coupling to X runs through G), and
// only for dips far shallower than a scan shows.
#pragma once

#include <complex>
#include <vector>

#include "dynamics/passband.h"

// Whether a case can be taken to the first order: G reflects (it is allowed) and leaves by the
// entrance surface, every beam of each crystal stands clear of the surface, and X is weak and has
// no mirror partner.
bool FirstOrderHolds(const PassbandCase& passband);

// X's changes of G's amplitudes for one ray of deviation alpha_G.
class FirstOrderRay {
public:
    FirstOrderRay(const PassbandCase& passband, double alphaG);
    // The monochromator's two-beam reflectivity for the ray, summed over the beam's polarisations.
    double TwoBeam() const { return twoBeam_; }
    // The loss at X's deviation alpha_X: the reflectivity without X less that with X's changes of
    // the amplitudes.
    double Loss(double alphaX) const;

    // A change dr = k / (alpha_X - pole) of a crystal's amplitude from polarisation p into q.
    struct Term {
        int p, q;
        std::complex<double> k, pole;
    };

private:
    // The monochromator's reflectivity for incident polarisation p at alpha_X (X absent: null).
    double Reflected(int p, const double* alphaX) const;

    const PassbandCase& case_;
    double flux_[2] = {1.0, 1.0};              // each crystal's |gamma_G| / gamma_0 (1: no second)
    std::complex<double> xi_[2][2] = {};       // each crystal's two-beam amplitude, sigma and pi
    std::vector<Term> terms_[2];               // X's changes of each crystal's amplitudes
    double twoBeam_ = 0.0;
};
