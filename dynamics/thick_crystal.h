// Dynamical diffraction by a thick (semi-infinite), perfect, absorbing crystal of two or more
// beams at once: the incident beam O, the primary reflection G and, near a glitch or an event, the
// secondary reflection X and the reflections on the circle through O, G and X (its mirror partner
// X', X' - X a multiple of G, and the others of that lattice plane on the circle: all are excited
// at the same setting), both polarisations coupled.
//
// Inside the crystal every beam m carries the wave vector K (u_m + delta n), u_m = s_0 + h_m / K the
// beam's vacuum direction (h_0 = 0, h_1 = G, h_2 = X), n the inward surface normal and delta the
// accommodation that the boundary leaves free. Its amplitude D_m (sigma and pi components)
// satisfies the fundamental equations of the dynamical theory
//   (delta^2 + 2 gamma_m delta + alpha_m - chi_0) D_m = sum over n != m of chi_{h_m - h_n} [D_n]_m,
// gamma_m = u_m . n, alpha_m = |u_m|^2 - 1 (the beam's deviation from its Bragg condition), and
// [D_n]_m the projection of D_n on beam m's polarisation directions. A beam that runs near the
// surface (|gamma_m| < kGrazing sqrt|chi_0|) keeps the delta^2 term, so that a beam leaving
// parallel to the surface is reflected, refracted and absorbed as the second-order theory says;
// elsewhere the term is dropped (the usual linear theory, whose relative error |chi_0| / 2 gamma^2
// is then below 1/800). The crystal is thick:
// only the waves that decay into it (Im delta < 0; a crystal without absorption, the cubic options
// without f'', is given 1 % of |chi_0|, about silicon's at 8 keV) make up the field, and the field
// and its normal derivative are continuous at the
// surface with the incident wave and the waves leaving it.
#pragma once

#include <array>
#include <complex>
#include <limits>

#include "dynamics/hessenberg_qr.h"

// A beam whose direction cosine with the surface normal is smaller than this many times
// sqrt|chi_0| keeps the second-order term.
inline constexpr double kGrazing = 20.0;

// chi_0 with the absorption a thick crystal is given: its own (Im chi_0 < 0, chi = -r_e lambda^2 F
// / (pi V), f'' > 0), or 1 % of |chi_0| where it has less (scattering factors without f''), so that
// its waves decay and the thick-crystal solution exists: about silicon's own at 8 keV. `scale`
// stands in for |chi_0| where that is 0.
inline std::complex<double> Absorbing(std::complex<double> chi0, double scale)
{
    const double least = 1e-2 * scale;
    return chi0.imag() < -least ? chi0 : std::complex<double>(chi0.real(), -least);
}

// One multiple-beam case, the same for every ray of a passband (the rays' directions differ by far
// less than the angles that decide the geometry): the beams' cosines, the susceptibilities and the
// polarisation directions. The largest circles through O, G and X of the crystals that come with
// kelto hold nine reflections besides X up to 27.5 keV (silicon 2 2 0's 0 -8 8 and its eight).
inline constexpr int kMostBeams = 12;
struct BeamSet {
    int count = 3;                                // 2: O and G; 3: O, G and X; more: X's circle too
    std::array<double, kMostBeams> gamma{};       // u_m . n, n the inward normal (gamma_0 > 0)
    std::complex<double> chi[kMostBeams][kMostBeams]{};  // chi[m][n]: chi of h_m - h_n (chi_0 on the diagonal)
    double projection[kMostBeams][2][kMostBeams][2]{};   // e_{m,s} . e_{n,t}: the beams' sigma (0) and pi (1) directions
};

// What leaves the entrance surface for a unit incident wave of either polarisation.
struct Reflection {
    // amplitude[p][m][s]: the wave leaving in beam m with polarisation s for a unit incident wave of
    // polarisation p of O's directions (m = 0: the specular reflection).
    std::complex<double> amplitude[2][kMostBeams][2]{};
    // The power carried by a unit amplitude in beam m, relative to the incident wave's: 0 where
    // the beam cannot leave (it runs into the crystal, or stays on the surface as an evanescent wave).
    double flux[kMostBeams]{};
    // The share of the incident power of polarisation p that leaves in beam m.
    double Power(int p, int m) const
    {
        return flux[m] * (std::norm(amplitude[p][m][0]) + std::norm(amplitude[p][m][1]));
    }
};

// Solves one case for rays of many deviations. Keeps the roots of the last ray as the first
// guesses of the next, so that a sweep over neighbouring rays converges in a few steps: one
// object per thread.
class ThickCrystal {
public:
    explicit ThickCrystal(const BeamSet& beams);
    // The reflection for a ray whose deviations from the beams' Bragg conditions are alphas[m]
    // (alphas[0] = 0, O's; as many as the set's beams). Finite for every geometry and deviation;
    // nothing (and a failure counted) where no solution that conserves energy is found.
    Reflection Reflect(const double* alphas);
    // The same for a ray whose deviations from G's, X's and X''s conditions are alphaG, alphaX and
    // alphaPartner (those of beams the set lacks unused).
    Reflection Reflect(double alphaG, double alphaX, double alphaPartner = 0.0)
    {
        const double alphas[kMostBeams] = {0.0, alphaG, alphaX, alphaPartner};
        return Reflect(alphas);
    }
    // The rays for which no sound solution was found.
    int Failures() const { return failures_; }

private:
    static constexpr int kWaves = 2 * kMostBeams;     // two polarisations a beam
    static constexpr int kMostRoots = 2 * kWaves;     // every beam keeping delta^2
    // Beams up to kExpandedBeams are solved from their determinant expanded in each beam's diagonal
    // term (3^4 weights, a polynomial of degree 16 at most); more, as an eigenvalue problem: the
    // expanded determinant of six beams fixes its roots so loosely that a third of a map's rays
    // had to be polished against the matrix (slower than the eigenvalues, and still 1e-6 off in
    // power where the eigenvalues are 1e-13 off).
    static constexpr int kExpandedBeams = 4;
    using Coefficients = std::array<std::complex<double>, 4 * kExpandedBeams + 1>;

    Reflection Solve(const double* alphas, bool polish);
    // The roots delta of the ray into roots_ (eps[m]: beam m's diagonal term's coefficients), from
    // the expanded determinant or as the eigenvalues of the fundamental equations made linear in
    // delta. Return how many.
    int ExpandedRoots(const std::complex<double> (*eps)[3], const int* epsDegree, const double* alphas, bool polish);
    int EigenRoots(const std::complex<double> (*eps)[3], bool polish);
    // The roots of the determinant c (of the given degree) from the last ray's or each beam's own
    // as first guesses, polished against the matrix where the polynomial fixes them loosely.
    int FindRoots(const std::complex<double>* c, int degree, const std::complex<double> (*eps)[3], const double* alphas, bool polish);
    // Beam m's own roots delta (in units of |chi_0|) at deviation alpha, uncoupled from the others:
    // one, or two for a beam that keeps delta^2. Returns how many.
    int OwnRoots(int m, double alpha, std::complex<double>* roots) const;
    void Roots(const std::complex<double>* coefficients, int degree);
    // The ray's roots made exact against the matrix of the fundamental equations (each beam's
    // diagonal term c0 + c1 delta + c2 delta^2), all together.
    void PolishRoots(const std::array<std::complex<double>, 3>* diagonal, int degree);

    BeamSet beams_;
    double scale_;                                // |chi_0|: deviations and delta in this unit
    bool second_[kMostBeams]{};                   // the beam keeps delta^2
    std::complex<double> chi0_;                   // chi_0 / scale, with the absorption it is given
    std::complex<double> coupling_[kWaves][kWaves]{};  // the off-diagonal blocks, / scale
    // det(diag(eps) - C) = sum over a, b, c, d of weight_[a][b][c][d] eps_O^a eps_G^b eps_X^c eps_X'^d
    // (for sets of kExpandedBeams at most).
    std::complex<double> weight_[3][3][3][3]{};
    // The sums over a of weight_[a][b][c][d] eps_O^a, as polynomials in delta.
    Coefficients withO_[3][3][3]{};
    int withODegree_[3][3][3]{};
    // The sums over O's and G's terms for each power of X's and X''s terms at the alpha_G of keptAlphaG_.
    Coefficients withOG_[3][3]{};
    int withOGDegree_[3][3]{};
    // The Hessenberg form of the last ray's matrix (more than kExpandedBeams beams): its waves'
    // amplitudes come from it.
    Hessenberg form_;
    double keptAlphaG_ = std::numeric_limits<double>::quiet_NaN();
    std::array<std::complex<double>, kMostRoots> roots_{};
    int rootCount_ = 0;                           // 0: no guesses kept
    double lastAlphas_[kMostBeams]{};             // the deviations the kept roots are for
    int failures_ = 0;
};
