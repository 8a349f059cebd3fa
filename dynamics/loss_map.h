// The share of I0 that X takes from the monochromator's passband, and the dip it makes against the
// setting.
//
// The loss of a ray is D(alpha_G, alpha_X) = R without X - R with X. Along alpha_G it is taken at
// Gauss-Legendre nodes of alpha_G = centre + half tan(phi) (G's band and its tails, the band's
// edges at tan(phi) = -/+1 between the parts); at each node its integral over alpha_X, m(alpha_G),
// by Gauss-Legendre nodes of alpha_X = c + w tan(psi), c and w the pole and width of X's wave in
// G's two-beam field (a resonance of that width is integrated exactly). A ray of fixed direction
// keeps zeta = alpha_X - kappa alpha_G as its energy changes, so the node's loss lands at
// zeta = c - kappa alpha_G: spread over the node's share of alpha_G (mapped to zeta) and over X's
// resonance, the nodes give
//   Lambda(zeta) = integral dalpha_G D(alpha_G, zeta + kappa alpha_G) / F,
// F = integral of G's two-beam reflectivity (the passband's whole output), and the dip at the
// setting whose central ray has the deviation alpha_c is its convolution with the beam's spread,
//   depth(alpha_c) = integral ds T(s) Lambda(alpha_c + s),
// T the trapezoid of widths |A'| L and |B| P (dynamics/passband.h). Lambda does not depend on the
// beam's spread: one map serves any divergence.
#pragma once

#include <vector>

#include "dynamics/passband.h"

struct DipProfile {
    double depth = 0.0;            // the largest share of I0 taken at a setting (0 where X only adds to I0)
    double peak = 0.0;             // the central ray's deviation alpha_c at which it is taken
    double low = 0.0, high = 0.0;  // alpha_c where the loss is half the depth, on either side of the peak
    double start = 0.0, step = 0.0;
    std::vector<double> samples;   // the share taken at alpha_c = start + k step (negative: I0 gains)
    // The same about the deepest point, sampled finely (empty where the samples above resolve it).
    double fineStart = 0.0, fineStep = 0.0;
    std::vector<double> fine;
    // A primary that the structure forbids reflects only what X brings it (Umweg): nothing to take
    // from, depth 0, and peak, low and high describe that gain instead (samples: the gain, per unit
    // of the passband's span of alpha_G, negative).
    bool umweg = false;
    // The share taken at alpha_c, 0 outside the samples.
    double At(double alphaC) const;
    // How far I0 rises above 1 at its highest beside the dip: the largest share X gives (where
    // its wave sends back into G's beam more than it takes), 0 where it only takes; 0 for an
    // Umweg peak, which has no I0 of its own to rise above.
    double Rise() const;
};

// How closely the losses are sampled: nodes along alpha_G in each of G's tails and in its band,
// and Gauss nodes on each piece of X's resonances (an even number: an odd one puts a ray on the
// resonance's centre, where X's waves meet as a double root and the loss is lost to rounding).
struct Sampling {
    int tail = 3, band = 5, resonance = 6;
    // Each piece's rays in stretches between its resonances' centres, `resonance` rays each: a
    // strong X's loss rises over a shoulder on one side of a resonance and falls in a notch as
    // narrow as the resonance's own width on the other, which one set of nodes across the whole
    // piece follows only as its rays grow many.
    bool atResonances = false;
};
// Enough for a glitch that takes little; a glitch that takes next to nothing is told apart with
// the first, a deep one (strong X, whose resonance is broad and split) asks for the second.
inline constexpr Sampling kCoarseSampling{2, 3, 4};
inline constexpr Sampling kCloseSampling{5, 9, 10};
// A dip of X's beam along the surface, whose loss has the edges of X's grazing reflection: its
// nodes along alpha_G resolve how the resonance's edge moves across G's band, its rays the plateau
// (its depth within 3 % of a sampling of twice its nodes and rays, where the close sampling put it
// up to three times too deep).
inline constexpr Sampling kSurfaceSampling{20, 36, 20};
// A dip a scan can show, clear of the surface: more nodes in G's tails (X's loss peaks on the
// band's edges and falls off them within a few hundredths of its half-width, which the close
// sampling's first tail node steps over) and rays between the resonances (X's resonances with
// G's waves are narrower than the piece they make, and their rays crowd at the stretches' ends).
// Over two silicon tables (791 dips from 5e-4 to 0.05) its depths lie within 3 % of a sampling of
// twice its nodes and rays for 94 % of the dips (at most 6.5 % off), its widths within 5 % for all
// but five (at most 6.3 %), where the close sampling put 29 % of the depths more than 3 % off, up
// to 17 %, at twice its cost.
inline constexpr Sampling kShownSampling{8, 11, 6, true};
// A deep dip clear of the surface: more nodes along alpha_G (a strong X's resonances move across
// G's band), and rays between the resonances; its depth within 3 % of a sampling of 2.5 times its
// nodes and four times its rays, where the close sampling put those deeper than 0.1 up to a fifth
// off.
inline constexpr Sampling kDeepSampling{8, 14, 10, true};
// Enough to tell which of many glitches are deep enough to matter (to a factor of two or three).
inline constexpr Sampling kRoughSampling{1, 2, 4};

// Lambda is summed into bins some 768 to 1536 over the reach of the losses, and the dip sampled at
// every second bin edge. The far rays set that reach, which may be hundreds of times a dip's
// width: a dip that spans fewer than kBinsPerDip bins at half depth is summed again about its
// deepest point into bins of that share of its width.
inline constexpr int kDipBins = 768;
inline constexpr int kBinsPerDip = 32;

// How a ray's loss is worked out: the thick crystal's full solution, or its first order in X's
// couplings (dynamics/first_order.h; for a weak X clear of the surface).
enum class RayLoss { kFull, kFirstOrder };

class LossMap {
public:
    explicit LossMap(const PassbandCase& passband, Sampling sampling = {}, RayLoss rays = RayLoss::kFull);
    // The dip for a beam whose rays spread over the trapezoid of widths `along` and `across` in zeta,
    // Lambda summed into some `bins` to twice that many bins over its reach, and again about the
    // deepest point into finer bins where the dip spans fewer than kBinsPerDip of them.
    DipProfile Dip(double along, double across, int bins = kDipBins) const;
    // The integral of Lambda over zeta: the loss of a beam much wider than the glitch, per unit
    // of its spread in zeta.
    double Integrated() const { return integrated_; }
    // Whether X's beam leaves along the surface within reach of its resonances: its pieces were
    // integrated in three stretches, and its dip asks for kSurfaceSampling to converge.
    bool AlongSurface() const { return alongSurface_; }

private:
    // The share taken at every second edge of bins `bin` wide (a power of two, on a grid of their
    // own width) that reach from low to high and the trapezoid beyond, from Lambda summed into them;
    // the first sample's alpha_c in *start.
    std::vector<double> Binned(double a, double b, double bin, double low, double high, double* start) const;
    // The deepest share of the samples (the gain, sign -1, for an Umweg peak), where it is taken
    // and its half-depth points, into dip.
    void Measure(const std::vector<double>& samples, double start, double step, double sign, DipProfile* dip) const;

    // One node's loss (summed over the beam's polarisations, over F) spread over [from, to] in zeta
    // and over X's resonance, `resonance` wide, and the odd tail tail t / (t^2 + width^2) about it.
    struct Cell {
        double from, to, resonance, loss, tail, width;
    };
    std::vector<Cell> cells_;
    double low_ = 0.0, high_ = 0.0;  // the zeta the cells reach
    double integrated_ = 0.0;
    bool umweg_ = false;
    bool alongSurface_ = false;
};
