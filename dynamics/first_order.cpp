#include "dynamics/first_order.h"

#include <cmath>

namespace {

using Complex = std::complex<double>;

// A beam whose direction cosine with the surface normal is at least this many times sqrt|chi_0|:
// the linear theory's relative error |chi_0| / 2 gamma^2 is then below 1 %.
constexpr double kClear = 7.1;

// X couples O and G to its wave weakly: |chi_X| and |chi_{X-G}| at most this share of |chi_G|.
constexpr double kWeak = 0.2;

bool ClearOfSurface(const BeamSet& set)
{
    const double least = kClear * std::sqrt(std::abs(set.chi[0][0]));
    for (int m = 0; m < set.count; ++m) {
        if (!(std::fabs(set.gamma[static_cast<std::size_t>(m)]) >= least)) return false;
    }
    return set.gamma[0] > 0.0 && set.gamma[1] < 0.0;
}

// G's two-beam field for polarisation p at the deviation alphaG: the decaying root delta_1, the
// growing delta_2 and xi_1 = D_G / D_O of the first.
struct TwoBeamWave {
    Complex delta1 = 0.0, delta2 = 0.0, xi = 0.0;
};
TwoBeamWave WaveOf(const BeamSet& set, Complex chi0, double alphaG, int p)
{
    const double g0 = set.gamma[0], gG = set.gamma[1];
    const Complex b = set.chi[0][1] * set.projection[0][p][1][p], c = set.chi[1][0] * set.projection[1][p][0][p];
    // (2 g0 delta - chi_0)(2 gG delta + alpha - chi_0) = b c, solved without cancellation.
    const Complex qa = 4.0 * g0 * gG, qb = 2.0 * g0 * (alphaG - chi0) - 2.0 * gG * chi0, qc = -chi0 * (alphaG - chi0) - b * c;
    Complex root = std::sqrt(qb * qb - 4.0 * qa * qc);
    if ((std::conj(qb) * root).real() < 0.0) root = -root;
    const Complex q = -(qb + root) / 2.0;
    Complex one = q / qa, two = q != 0.0 ? qc / q : -qb / qa;
    if (two.imag() < one.imag()) std::swap(one, two);
    TwoBeamWave wave;
    wave.delta1 = one, wave.delta2 = two;
    // From G's equation: the decaying root never nears G's own (which grows), so this divides by
    // no small number.
    wave.xi = c / (2.0 * gG * one + alphaG - chi0);
    return wave;
}

// The change of the set's G amplitude from incident polarisation p into q that its X (beam 2)
// makes, dr = k / (alpha_X - pole) in the set's own deviation of X.
using Term = FirstOrderRay::Term;
Term TermOf(const BeamSet& set, Complex chi0, const TwoBeamWave* waves, int p, int q)
{
    constexpr int m = 2;
    const double g0 = set.gamma[0], gG = set.gamma[1], gX = set.gamma[m];
    const TwoBeamWave& in = waves[p];
    const TwoBeamWave& out = waves[q];
    Complex sum = 0.0;
    for (int t = 0; t < 2; ++t) {
        const Complex v = set.chi[m][0] * set.projection[m][t][0][p] + set.chi[m][1] * set.projection[m][t][1][p] * in.xi;
        const Complex wO = set.chi[0][m] * set.projection[0][q][m][t], wG = set.chi[1][m] * set.projection[1][q][m][t];
        sum += v * (g0 * wG - gG * out.xi * wO);
    }
    const Complex k = sum / (2.0 * g0 * gG * (in.delta1 - out.delta2));
    return {p, q, k, chi0 - 2.0 * gX * (gX < 0.0 ? in.delta1 : out.delta2)};
}

}  // namespace

bool FirstOrderHolds(const PassbandCase& passband)
{
    const BeamSet& f = passband.first;
    if (passband.primaryForbidden || passband.Shared() || !ClearOfSurface(f)) return false;
    const double g = std::abs(f.chi[1][0]);
    if (!(std::abs(f.chi[2][0]) <= kWeak * g && std::abs(f.chi[2][1]) <= kWeak * g)) return false;
    return !passband.twoCrystals || ClearOfSurface(passband.second);
}

FirstOrderRay::FirstOrderRay(const PassbandCase& c, double alphaG) : case_(c)
{
    const BeamSet& first = c.first;
    const Complex chi0 = Absorbing(first.chi[0][0], std::abs(first.chi[0][0]));
    const Complex chi0Second = Absorbing(c.second.chi[0][0], std::abs(c.second.chi[0][0]));
    // The second crystal's deviations: -G's, and X - G's less the first's alpha_X.
    const double x = c.twoCrystals ? ExitAccommodation(first.gamma[1], alphaG) : 0.0;
    const double alphaG2 = 2.0 * x * first.gamma[0] + x * x;
    TwoBeamWave one[2], two[2];
    for (int p = 0; p < 2; ++p) {
        one[p] = WaveOf(first, chi0, alphaG, p);
        if (c.twoCrystals) two[p] = WaveOf(c.second, chi0Second, alphaG2, p);
    }
    flux_[0] = std::fabs(first.gamma[1]) / first.gamma[0];
    flux_[1] = c.twoCrystals ? std::fabs(c.second.gamma[1]) / c.second.gamma[0] : 1.0;
    for (int p = 0; p < 2; ++p) xi_[0][p] = one[p].xi, xi_[1][p] = c.twoCrystals ? two[p].xi : 1.0;
    // X in the first crystal; in a channel-cut's second wall X - G, whose deviation exceeds X's by
    // what the beam's normal component gains on leaving the first.
    for (int p = 0; p < 2; ++p) {
        for (int q = 0; q < 2; ++q) {
            terms_[0].push_back(TermOf(first, chi0, one, p, q));
            if (!c.secondMeetsX) continue;
            Term wall = TermOf(c.second, chi0Second, two, p, q);
            wall.pole -= 2.0 * x * first.gamma[2] + x * x;
            terms_[1].push_back(wall);
        }
    }
    for (int k = 0; k < c.polarisationCount; ++k) twoBeam_ += Reflected(c.polarisations[k], nullptr);
}

double FirstOrderRay::Reflected(int p, const double* alphaX) const
{
    // Each crystal's amplitudes r[p][q] from incident polarisation p into q; the monochromator's
    // the product of the two crystals'.
    Complex r[2][2][2];
    for (int crystal = 0; crystal < 2; ++crystal) {
        r[crystal][0][0] = xi_[crystal][0], r[crystal][1][1] = xi_[crystal][1];
        r[crystal][0][1] = r[crystal][1][0] = 0.0;
        if (alphaX == nullptr) continue;
        for (const Term& t : terms_[crystal]) r[crystal][t.p][t.q] += t.k / (*alphaX - t.pole);
    }
    double power = 0.0;
    for (int s = 0; s < 2; ++s) power += std::norm(r[1][0][s] * r[0][p][0] + r[1][1][s] * r[0][p][1]);
    return flux_[0] * flux_[1] * power;
}

double FirstOrderRay::Loss(double alphaX) const
{
    double with = 0.0;
    for (int k = 0; k < case_.polarisationCount; ++k) with += Reflected(case_.polarisations[k], &alphaX);
    return twoBeam_ - with;
}
