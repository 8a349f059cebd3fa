// The three-beam reflection of a thick crystal and the dips it makes in a monochromator's output,
// against cases worked out here by other means: the same plane-wave equations through a thick
// slab built up by doubling a thin layer (scattering matrices stacked), the passband summed ray by
// ray over directions and energies, and profiles made by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "dynamics/glitch_depth.h"
#include "dynamics/thick_crystal.h"
#include "glitch_energies.h"
#include "glitches/glitches.h"
#include "glitches/spectrum.h"
#include "planning_cases.h"
#include "scan/events.h"
#include "setup/units.h"

namespace {

using Complex = std::complex<double>;

Vec3 Unit(Vec3 v) { return (1.0 / Length(v)) * v; }

// The case of X at (psi, keV) built here from the beams' vectors: gamma, chi from F, and the
// projections of the sigma (normal to O and the beam) and pi directions.
BeamSet CaseOf(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, Vec3 surface = {})
{
    const double lambda = kHcKeVAngstrom / keV;
    const Vec3 k0 = ewald::IncidentBeam(frame, psi, lambda);
    const Vec3 h[3] = {{}, frame.G, crystal.lattice().Reciprocal(x)};
    const Miller m[3] = {{0, 0, 0}, frame.primary, x};
    const Vec3 inward = -1.0 * Unit(Length(surface) > 0 ? surface : frame.G);
    const std::unique_ptr<Scattering> s = crystal.At(keV);
    const double scale = -kElectronRadiusAngstrom * lambda * lambda / (std::numbers::pi * crystal.lattice().Volume());
    BeamSet set;
    Vec3 sigma[3], pi[3];
    for (int a = 0; a < 3; ++a) {
        const Vec3 u = Unit(k0 + h[a]);
        set.gamma[static_cast<std::size_t>(a)] = Dot(u, inward);
        sigma[a] = Unit(Cross(Unit(k0), a == 2 ? u : Unit(k0 + h[1])));
        pi[a] = Cross(u, sigma[a]);
        for (int b = 0; b < 3; ++b) set.chi[a][b] = scale * s->F({m[a].h - m[b].h, m[a].k - m[b].k, m[a].l - m[b].l});
    }
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            const Vec3 d1[2] = {sigma[a], pi[a]}, d2[2] = {sigma[b], pi[b]};
            for (int i = 0; i < 2; ++i) {
                for (int j = 0; j < 2; ++j) set.projection[a][i][b][j] = Dot(d1[i], d2[j]);
            }
        }
    }
    return set;
}

// Small complex matrices, row-major, for the slab below.
struct Matrix {
    std::size_t rows = 0, cols = 0;
    std::vector<Complex> v;
    Matrix(std::size_t r, std::size_t c, Complex diagonal = 0.0) : rows(r), cols(c), v(r * c, 0.0)
    {
        for (std::size_t i = 0; i < std::min(r, c); ++i) v[i * c + i] = diagonal;
    }
    Complex& operator()(std::size_t i, std::size_t j) { return v[i * cols + j]; }
    Complex operator()(std::size_t i, std::size_t j) const { return v[i * cols + j]; }
};
Matrix operator*(const Matrix& a, const Matrix& b)
{
    Matrix c(a.rows, b.cols);
    for (std::size_t i = 0; i < a.rows; ++i) {
        for (std::size_t k = 0; k < a.cols; ++k) {
            for (std::size_t j = 0; j < b.cols; ++j) c(i, j) += a(i, k) * b(k, j);
        }
    }
    return c;
}
Matrix operator+(Matrix a, const Matrix& b)
{
    for (std::size_t i = 0; i < a.v.size(); ++i) a.v[i] += b.v[i];
    return a;
}
Matrix Scaled(Matrix a, Complex f)
{
    for (Complex& x : a.v) x *= f;
    return a;
}
Matrix Inverse(Matrix a)  // Gauss-Jordan with row pivoting
{
    const std::size_t n = a.rows;
    Matrix inverse(n, n, 1.0);
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t i = k + 1; i < n; ++i) {
            if (std::abs(a(i, k)) > std::abs(a(p, k))) p = i;
        }
        for (std::size_t j = 0; j < n; ++j) std::swap(a(k, j), a(p, j)), std::swap(inverse(k, j), inverse(p, j));
        const Complex pivot = a(k, k);
        for (std::size_t j = 0; j < n; ++j) a(k, j) /= pivot, inverse(k, j) /= pivot;
        for (std::size_t i = 0; i < n; ++i) {
            if (i == k) continue;
            const Complex f = a(i, k);
            for (std::size_t j = 0; j < n; ++j) a(i, j) -= f * a(k, j), inverse(i, j) -= f * inverse(k, j);
        }
    }
    return inverse;
}

// The slab's answer: the share of a unit incident wave of polarisation p leaving in each beam.
// The amplitudes D of the beams obey dD_m/dz = -(i/gamma_m) [sum chi_mn P_mn D_n - (alpha_m - chi_0) D_m]
// (z in units of 1 / (pi K)). A thin layer's transfer, exp(M h) to fourth order, is turned into its
// scattering matrix (what the layer sends on and back for what comes in at its top, going down,
// and at its bottom, going up) and layers are stacked two at a time (the star product) until the
// slab, many absorption lengths thick, reflects as a thick crystal.
std::vector<double> Slab(const BeamSet& set, double alphaG, double alphaX, int p)
{
    const int n = 2 * set.count;
    const double alpha[3] = {0.0, alphaG, alphaX};
    std::vector<std::size_t> up, down;
    for (int i = 0; i < n; ++i) (set.gamma[static_cast<std::size_t>(i / 2)] < 0 ? up : down).push_back(static_cast<std::size_t>(i));
    Matrix m(static_cast<std::size_t>(n), static_cast<std::size_t>(n));
    double fastest = 0.0;
    for (int i = 0; i < n; ++i) {
        const int a = i / 2;
        for (int j = 0; j < n; ++j) {
            const int b = j / 2;
            const Complex c = a == b ? (i == j ? -(alpha[a] - set.chi[0][0]) : Complex(0.0)) : set.chi[a][b] * set.projection[a][i % 2][b][j % 2];
            m(static_cast<std::size_t>(i), static_cast<std::size_t>(j)) = Complex(0.0, -1.0) / set.gamma[static_cast<std::size_t>(a)] * c;
            fastest = std::max(fastest, std::abs(m(static_cast<std::size_t>(i), static_cast<std::size_t>(j))));
        }
    }
    double h = 1e-3 / fastest;
    const Matrix hm = Scaled(m, h);
    Matrix phi(m.rows, m.cols, 1.0), term(m.rows, m.cols, 1.0);
    for (int k = 1; k <= 4; ++k) term = Scaled(term * hm, 1.0 / k), phi = phi + term;
    const auto block = [&](const std::vector<std::size_t>& rows, const std::vector<std::size_t>& cols) {
        Matrix b(rows.size(), cols.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            for (std::size_t j = 0; j < cols.size(); ++j) b(i, j) = phi(rows[i], cols[j]);
        }
        return b;
    };
    const Matrix pdd = block(down, down), pdu = block(down, up), pud = block(up, down), puu = block(up, up);
    const Matrix inverse = Inverse(puu);
    Matrix tdd = pdd + Scaled(pdu * inverse * pud, -1.0), rdu = pdu * inverse, rud = Scaled(inverse * pud, -1.0), tuu = inverse;
    double slowest = 1e300;
    for (int a = 0; a < set.count; ++a) slowest = std::min(slowest, -set.chi[0][0].imag() / std::fabs(set.gamma[static_cast<std::size_t>(a)]));
    for (; h < 20.0 / slowest; h *= 2.0) {
        const Matrix nn = Inverse(Matrix(down.size(), down.size(), 1.0) + Scaled(rdu * rud, -1.0));
        const Matrix rudNext = rud + tuu * rud * nn * tdd;
        const Matrix tddNext = tdd * nn * tdd;
        const Matrix rduNext = rdu + tdd * nn * rdu * tuu;
        const Matrix tuuNext = tuu * (Matrix(up.size(), up.size(), 1.0) + rud * nn * rdu) * tuu;
        rud = rudNext, tdd = tddNext, rdu = rduNext, tuu = tuuNext;
    }
    std::vector<double> power(static_cast<std::size_t>(set.count), 0.0);
    for (std::size_t i = 0; i < up.size(); ++i) {
        const std::size_t beam = up[i] / 2;
        Complex d = 0.0;
        for (std::size_t j = 0; j < down.size(); ++j) d += rud(i, j) * (down[j] == static_cast<std::size_t>(p) ? 1.0 : 0.0);
        power[beam] += std::norm(d) * std::fabs(set.gamma[beam] / set.gamma[0]);
    }
    return power;
}

// The set without its third beam.
BeamSet TwoBeams(BeamSet set)
{
    set.count = 2;
    return set;
}

struct Glitched { double keV; Miller x; };

// The glitches of silicon 2 2 0 at psi 15 between the energies, the first of each kind asked for.
Glitched FirstGlitch(const Crystal& si, const ScanFrame& frame, double from, double to, bool laue, Vec3 surface = {})
{
    for (const Glitch& g : FindGlitches(si, frame, 15, from, to)) {
        const BeamSet set = CaseOf(si, frame, g.x, 15, g.energy, surface);
        if (!g.always && (set.gamma[2] > 0.3) == laue && std::fabs(set.gamma[2]) > 0.3 && g.F > 20) return {g.energy, g.x};
    }
    ADD_FAILURE() << "no glitch of the kind asked for";
    return {from, {1, 1, 1}};
}

}  // namespace

// The three-beam reflection of ThickCrystal against the slab stacked here, for an X that
// leaves through the entrance surface and one that runs into the crystal, a symmetric and an
// asymmetric cut, both polarisations, over rays across G's band and X's resonance; far from X's
// condition, against the slab's two-beam answer. No ray sends out more than it receives.
TEST(ThickCrystal, AgreesWithASlabIntegratedThroughItsDepth)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = MatrixFrame(si->lattice(), {2, 2, 0});
    const Vec3 asymmetric = si->lattice().Reciprocal(4, 4, 1);
    const struct { const char* what; bool laue; Vec3 surface; } cases[] = {
        {"X leaves through the surface", false, {}}, {"X runs into the crystal", true, {}}, {"asymmetric 4 4 1 cut", false, asymmetric},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Glitched g = FirstGlitch(*si, frame, 7.0, 9.0, c.laue, c.surface);
        const BeamSet set = CaseOf(*si, frame, g.x, 15, g.keV, c.surface), two = TwoBeams(set);
        ThickCrystal crystal(set), twoBeam(two);
        // Across G's band (centre 2 Re chi_0, half-width 2 |chi_G|) and X's resonance.
        const double centre = 2.0 * set.chi[0][0].real(), band = std::abs(set.chi[1][0]);
        for (const double tg : {-1.0, 0.0, 2.5}) {
            const double alphaG = centre + tg * 2.0 * band;
            for (const double tx : {-0.5, 0.0, 1.5, 1e4}) {
                const double alphaX = tx * band;
                const Reflection r = crystal.Reflect(alphaG, alphaX);
                for (int p = 0; p < 2; ++p) {
                    const std::vector<double> slab = Slab(set, alphaG, alphaX, p);
                    EXPECT_NEAR(r.Power(p, 1), slab[1], 1e-5 + 1e-4 * slab[1]) << "G, pol " << p << " at " << tg << ", " << tx;
                    EXPECT_NEAR(r.Power(p, 2), slab[2], 1e-5 + 1e-4 * slab[2]) << "X, pol " << p << " at " << tg << ", " << tx;
                    EXPECT_LE(r.Power(p, 0) + r.Power(p, 1) + r.Power(p, 2), 1.0 + 1e-9);
                    if (tx == 1e4) {  // where X's Bethe potentials have faded
                        EXPECT_NEAR(r.Power(p, 1), Slab(two, alphaG, 0.0, p)[1], 1e-4) << "far from X, pol " << p;
                        EXPECT_NEAR(r.Power(p, 1), twoBeam.Reflect(alphaG, 0.0).Power(p, 1), 1e-4);
                    }
                }
            }
        }
    }
}

namespace {

// The share of the monochromator's output X takes at keV, summed here ray by ray: each ray's
// direction tilted along and across G's plane within the beam's spreads, its energy stepped through
// G's band and tails, its deviations from G's and X's conditions taken from its own wave vector.
struct RaySum {
    int directions, energies, spreadAcross;
};
double DirectShare(const Crystal& crystal, const ScanFrame& frame, double psi, double keV, const PassbandCase& passband,
                   RaySolver& solver, const Beam& beam, RaySum sum)
{
    const double lambda = kHcKeVAngstrom / keV;
    const Vec3 x = crystal.lattice().Reciprocal(passband.x), g = frame.G;  // X's partner's deviation follows from it
    const Vec3 k0 = ewald::IncidentBeam(frame, psi, lambda);
    const Vec3 across = Unit(Cross(k0, g)), tilt = Unit(Cross(across, Unit(k0)));
    double with = 0.0, without = 0.0;
    const double reach = 40.0 * passband.halfG / (lambda * lambda * Dot(g, g));  // G's band and tails in eps
    for (int i = 0; i < sum.directions; ++i) {
        for (int j = 0; j < sum.spreadAcross; ++j) {
            const Vec3 s = Unit(Unit(k0) + (passband.along * ((i + 0.5) / sum.directions - 0.5)) * tilt +
                                (beam.across * ((j + 0.5) / sum.spreadAcross - 0.5)) * across);
            for (int e = 0; e < sum.energies; ++e) {
                const double wavenumber = (1.0 + reach * ((e + 0.5) / sum.energies - 0.5)) / lambda;
                const Vec3 ray = wavenumber * s;
                const double k2 = wavenumber * wavenumber;
                const double alphaG = (Dot(ray + g, ray + g) - k2) / k2, alphaX = (Dot(ray + x, ray + x) - k2) / k2;
                double w[2], wo[2];
                solver.ReflectWithX(alphaG, alphaX, w);
                solver.ReflectTwoBeam(alphaG, wo);
                for (int p = 0; p < passband.polarisationCount; ++p) {
                    with += w[passband.polarisations[p]], without += wo[passband.polarisations[p]];
                }
            }
        }
    }
    return 1.0 - with / without;
}

}  // namespace

// The dip against the setting, against the monochromator's output summed here ray by ray: a
// single crystal with sigma and a collimated beam, a channel-cut, and an unpolarised beam spread
// across G's plane; an unpolarised beam's dip lies between its sigma and pi dips.
TEST(GlitchDepth, DipAgainstASumOverRaysAndEnergies)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = MatrixFrame(si->lattice(), {2, 2, 0});
    const double psi = 15.0;
    Glitch deepest{};
    const Beam sigma{};
    std::vector<Glitch> glitches = FindGlitches(*si, frame, psi, 7.8, 8.2);
    ShapeGlitches(*si, frame, psi, 7.8, 8.2, sigma, &glitches);
    for (const Glitch& g : glitches) {
        if (g.depth > deepest.depth) deepest = g;
    }
    ASSERT_GT(deepest.depth, 0.05);
    const struct { const char* what; Beam beam; int spreadAcross; } beams[] = {
        {"single crystal, sigma", sigma, 1},
        {"channel-cut, sigma, 30 microradian along", {Polarisation::kSigma, 0.0, 30e-6, {}, Monochromator::kChannelCut}, 1},
        {"single crystal, unpolarised, 20 microradian across", {Polarisation::kUnpolarised, 20e-6, 0.0, {}}, 3},
    };
    for (const auto& b : beams) {
        SCOPED_TRACE(b.what);
        const GlitchShape shape = ShapeOfGlitch(*si, frame, deepest.x, psi, deepest.energy, b.beam);
        ASSERT_GT(shape.depth, 0.0);
        const PassbandCase passband = DescribePassband(*si, frame, deepest.x, psi, deepest.energy, b.beam);
        RaySolver solver(passband);
        for (const double k : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
            const double eV = shape.offsetEV + k * shape.widthEV;
            const double direct = DirectShare(*si, frame, psi, deepest.energy + eV / 1000.0, passband, solver, b.beam, {20, 600, b.spreadAcross});
            // To 15 %, or on the flanks to some 6 % of the depth (the close sampling's error for a
            // mirror pair's four beams, where a shift of the flank by a few percent of the width
            // moves the share taken there by as much).
            EXPECT_NEAR(shape.At(eV), direct, 0.15 * std::fabs(direct) + std::max(0.005, 0.06 * shape.depth)) << k << " widths from the deepest";
        }
    }
    const auto depth = [&](Polarisation p) { return ShapeOfGlitch(*si, frame, deepest.x, psi, deepest.energy, Beam{p}).depth; };
    const double sigmaDepth = depth(Polarisation::kSigma), piDepth = depth(Polarisation::kPi);
    EXPECT_GT(depth(Polarisation::kUnpolarised), std::min(sigmaDepth, piDepth));
    EXPECT_LT(depth(Polarisation::kUnpolarised), std::max(sigmaDepth, piDepth));
}

// Dips at their deepest against a dense ray sum: a faint one that a scan can still show (silicon
// 1 1 1 at psi 17 from 1 -1 0, -9 -1 -1 near 16.97 keV, kappa 28, whose loss peaks on G's band
// edges: the usual sampling puts it a quarter too deep, the close one 15 %), two deep ones of
// mirror pairs (silicon 2 2 0 at psi 7.3 from -1 1 -2: 3 1 -1 with 1 -1 -1 near 15.89 keV, which
// the close sampling put 8 % too deep, and 2 4 2 with -2 0 2 near 26.72 keV, one Laue beam and one
// Bragg, which it put a fifth too shallow), the pair of silicon 1 1 1's 1 3 1 with 0 4 0 on one
// circle through O and G, and three whose X beam runs along the surface, as the
// tables sample them and at a sampling of four times the close nodes and rays, which must come as
// close: a dip narrower than a few of the bins that the far rays' reach sets came out 0.19 deep for
// the pair where the ray sum is 0.34, its bins doubled by the denser nodes' reach.
TEST(GlitchDepth, DipsConvergeOnTheRaySum)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const struct {
        Miller primary, reference;
        double psi, from, to;
        Miller x;
        double close;  // how far the tables' sampling may stand from the ray sum, relative
        double dense = 0.03;
    } cases[] = {
        {{1, 1, 1}, {1, -1, 0}, 17.0, 16.9, 17.0, {-9, -1, -1}, 0.04},
        {{2, 2, 0}, {-1, 1, -2}, 7.3, 15.88, 15.90, {3, 1, -1}, 0.03},
        {{2, 2, 0}, {-1, 1, -2}, 7.3, 26.71, 26.73, {2, 4, 2}, 0.03},
        // A pair on X's circle with no mirror partner: 0 4 0 = 2 (1 3 1) - 2 G.
        {{1, 1, 1}, {1, -1, 0}, 17.0, 6.45, 6.47, {0, 4, 0}, 0.03},
        // X's beam along the surface, where the close sampling put the dip 1.7, 1.5 and 2.9 times too
        // deep; the last a dip beside a rise of I0 by 5 % a tenth of its width away, which the bins
        // blur by some percent.
        {{2, 2, 0}, {-1, 1, -2}, 7.3, 9.41, 9.415, {0, 2, 2}, 0.03},
        {{2, 2, 0}, {-1, 1, -2}, 0.0, 10.30, 10.31, {3, -1, -1}, 0.03},
        {{0, 0, 4}, {1, 0, 0}, 10.0, 15.03, 15.04, {-2, 4, 2}, 0.05, 0.05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x.h << " " << c.x.k << " " << c.x.l);
        const ScanFrame frame = ReferenceFrame(si->lattice(), c.primary, c.reference);
        double keV = 0.0;
        for (const Glitch& g : FindGlitches(*si, frame, c.psi, c.from, c.to)) {
            if (g.x == c.x) keV = g.energy;
        }
        ASSERT_GT(keV, 0.0);
        const GlitchShape shape = ShapeOfGlitch(*si, frame, c.x, c.psi, keV, Beam{});
        const PassbandCase passband = DescribePassband(*si, frame, c.x, c.psi, keV, Beam{});
        RaySolver solver(passband);
        const double direct = DirectShare(*si, frame, c.psi, keV + shape.offsetEV / 1000.0, passband, solver, Beam{}, {40, 2400, 1});
        const double dense = LossMap(passband, {20, 36, 40}).Dip(std::fabs(passband.alongRate) * passband.along, 0.0).depth;
        EXPECT_NEAR(shape.depth, direct, c.close * direct);
        EXPECT_NEAR(dense, direct, c.dense * direct);
    }
}

// Every glitch of silicon 2 2 0 has a finite depth from 0 to 1 and a finite width, 0 exactly where
// its depth is; where X leaves parallel to the surface or runs into the crystal it takes
// something. Every event of germanium 0 0 2 at 1.3826 angstrom (a forbidden primary: Umweg peaks)
// has a finite width below a turn, those whose beam runs along the surface too.
TEST(GlitchDepth, BeamsAlongTheSurfaceAndIntoTheCrystalTakeSomething)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = MatrixFrame(si->lattice(), {2, 2, 0});
    std::vector<Glitch> glitches = FindGlitches(*si, frame, 15, 4.5, 10.0);
    ShapeGlitches(*si, frame, 15, 4.5, 10.0, Beam{}, &glitches);
    int parallel = 0, laue = 0;
    for (const Glitch& g : glitches) {
        if (g.always) continue;
        SCOPED_TRACE(std::to_string(g.x.h) + " " + std::to_string(g.x.k) + " " + std::to_string(g.x.l) + " at " + std::to_string(g.energy));
        EXPECT_TRUE(g.depth >= 0.0 && g.depth <= 1.0 && std::isfinite(g.widthEV) && g.widthEV >= 0.0);
        EXPECT_EQ(g.depth == 0.0, g.widthEV == 0.0);
        const double gammaX = CaseOf(*si, frame, g.x, 15, g.energy).gamma[2];
        if (g.F < 20.0) continue;
        if (std::fabs(gammaX) < 1e-6) {
            ++parallel;
            EXPECT_GT(g.depth, 0.0);
            EXPECT_GT(g.widthEV, 0.0);
        }
        if (gammaX > 0.3) {
            ++laue;
            EXPECT_GT(g.depth, 1e-4);
        }
    }
    EXPECT_GT(parallel, 0);
    EXPECT_GT(laue, 0);

    const std::unique_ptr<CifCrystal> ge = Shipped("Ge");
    const ScanFrame geFrame = MatrixFrame(ge->lattice(), {0, 0, 2});
    std::vector<Event> events = FindEvents(*ge, geFrame, {1.3826, 1e-4}, {-180, 180});
    ASSERT_FALSE(events.empty());
    SetEventWidths(*ge, geFrame, kHcKeVAngstrom / 1.3826, Beam{}, &events);
    int along = 0;
    for (const Event& e : events) {
        EXPECT_TRUE(std::isfinite(e.widthDeg) && e.widthDeg >= 0.0 && e.widthDeg < 360.0) << e.x.h << e.x.k << e.x.l << " " << e.widthDeg << " " << e.depth;
        EXPECT_TRUE(e.depth >= 0.0 && e.depth <= 1.0) << e.x.h << " " << e.x.k << " " << e.x.l << " psi " << e.psi << " depth " << e.depth;
        const Vec3 x = ge->lattice().Reciprocal(e.x);
        // 0 0 2 is forbidden: the events are Umweg peaks, of depth 0 and their own widths.
        EXPECT_EQ(e.depth, 0.0);
        along += std::fabs(Dot(x, geFrame.G) + Dot(geFrame.G, geFrame.G) / 2.0) < 1e-9 && e.widthDeg > 0.0;
    }
    EXPECT_GT(along, 0);  // 2 0 2 and its kin: X . G = -|G|^2 / 2, the beam along the surface
}

// The predicted output from profiles made by hand: a fundamental glitch whose dip rises and falls
// linearly over -/+ 2 eV to 0.6 at its centre, and a harmonic taking 0.4 of its photons at every
// energy; the harmonic's share of the photons half the fundamental's, or growing from none at 7 keV
// to as many at 9 keV.
TEST(GlitchDepth, SpectrumFromTheProfiles)
{
    Glitch fundamental{8.0, 1.5, {1, 1, 1}, {0, 0, 0}, 1, 1, 1, 1, false};
    fundamental.shape.rate = 1.0;  // alpha_c = eV
    fundamental.shape.dip.start = -2.0, fundamental.shape.dip.step = 1.0;
    fundamental.shape.dip.samples = {0.0, 0.3, 0.6, 0.3, 0.0};
    fundamental.depth = fundamental.shape.depth = 0.6;
    fundamental.widthEV = fundamental.shape.widthEV = 2.0;
    Glitch harmonic{7.2, 1.7, {2, 2, 2}, {0, 0, 0}, 1, 1, 1, 1, true};
    harmonic.order = 2, harmonic.depth = 0.4;
    harmonic.shape.dip.start = -1.0, harmonic.shape.dip.step = 1.0, harmonic.shape.dip.samples = {0.4, 0.4, 0.4};
    const struct { OrderShares content; double (*share)(double keV); } cases[] = {
        {std::vector<double>{1.0, 0.5}, [](double) { return 0.5; }},
        {OrderShares({7.0, 9.0}, {{1.0, 0.0}, {1.0, 1.0}}), [](double keV) { return (keV - 7.0) / 2.0; }},
    };
    for (const auto& c : cases) {
        const std::vector<SpectrumPoint> spectrum = PredictSpectrum({fundamental, harmonic}, 7.0, 9.0, c.content);
        const auto at = [&](double keV) {
            for (const SpectrumPoint& p : spectrum) {
                if (std::fabs(p.energy - keV) < 1e-12) return p.i0;
            }
            ADD_FAILURE() << "no point at " << keV;
            return -1.0;
        };
        const struct { double keV, taken; } points[] = {{8.0, 0.6}, {8.0 + 0.5e-3, 0.45}, {8.0 - 1.5e-3, 0.15}, {7.5, 0.0}};
        for (const auto& p : points) {
            const double share = c.share(p.keV), others = share * 0.6;  // what the harmonic's photons leave
            EXPECT_NEAR(at(p.keV), (1.0 - p.taken + others) / (1.0 + share), 1e-12) << p.keV;
        }
        EXPECT_TRUE(std::is_sorted(spectrum.begin(), spectrum.end(), [](const SpectrumPoint& a, const SpectrumPoint& b) {
            return a.energy < b.energy;
        }));
    }
    // Three dips at one energy each take 0.6 of what the others leave: 0.4^3 is left, where a
    // sum of dips would take the whole beam and more.
    for (const SpectrumPoint& p : PredictSpectrum({fundamental, fundamental, fundamental}, 7.0, 9.0, std::vector<double>{1.0})) {
        if (std::fabs(p.energy - 8.0) < 1e-12) {
            EXPECT_NEAR(p.i0, 0.4 * 0.4 * 0.4, 1e-12);
        }
        EXPECT_GE(p.i0, 0.0);
    }
}

// An event's depth and width in azimuth: the glitch's dip met as psi turns the beam about G, the
// dip read here along X's deviation computed from the turning beam vector itself.
TEST(GlitchDepth, EventDipFollowsTheTurningBeam)
{
    const std::unique_ptr<CifCrystal> si = Shipped("Si");
    const ScanFrame frame = MatrixFrame(si->lattice(), {0, 0, 4});
    const double keV = 8.048, lambda = kHcKeVAngstrom / keV;
    const Beam beam{Polarisation::kSigma, 20e-6};
    std::vector<Event> events = FindEvents(*si, frame, {lambda, 1e-6}, {-180, 180});
    int checked = 0;
    for (Event& e : events) {
        if (e.passage == Passage::kTop || checked == 8) continue;
        ShapeEvent(*si, frame, keV, beam, &e);
        if (!(e.depth > 0.01)) continue;
        ++checked;
        const GlitchShape shape = ShapeOfGlitch(*si, frame, e.x, e.psi, keV, beam);
        const Vec3 x = si->lattice().Reciprocal(e.x);
        const auto depth = [&](double psi) {
            const Vec3 k0 = ewald::IncidentBeam(frame, psi, lambda);
            return shape.dip.At((Dot(k0 + x, k0 + x) - Dot(k0, k0)) / Dot(k0, k0));
        };
        // The deepest within a degree, then each half-depth crossing by bisection.
        double peak = e.psi, deepest = -1.0;
        for (double d = -1.0; d <= 1.0; d += 1e-5) {
            if (depth(e.psi + d) > deepest) deepest = depth(e.psi + d), peak = e.psi + d;
        }
        const auto crossing = [&](double sense) {
            double inside = peak, outside = peak;
            while (depth(outside) > deepest / 2.0) inside = outside, outside += sense * 1e-5;
            for (int i = 0; i < 60; ++i) {
                const double mid = (inside + outside) / 2.0;
                (depth(mid) > deepest / 2.0 ? inside : outside) = mid;
            }
            return (inside + outside) / 2.0;
        };
        EXPECT_NEAR(e.depth, deepest, 5e-3 * deepest);
        EXPECT_NEAR(e.widthDeg, crossing(1.0) - crossing(-1.0), 5e-3 * e.widthDeg) << e.x.h << " " << e.x.k << " " << e.x.l;
    }
    EXPECT_EQ(checked, 8);
}
