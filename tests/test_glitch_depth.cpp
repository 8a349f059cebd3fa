// Depth and width of a glitch against a direct numerical integration over the beam's rays, written
// here from the geometry: each ray tilted along and across G's scattering plane, X's deviation
// computed from the tilted beam vector itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "crystal/cif_crystal.h"
#include "crystal/shipped_crystals.h"
#include "planning/darwin_width.h"
#include "planning/events.h"
#include "planning/glitch_depth.h"
#include "planning/glitches.h"
#include "planning/spectrum.h"
#include "planning/sphere_reflections.h"

namespace {

Vec3 Unit(Vec3 v) { return (1.0 / Length(v)) * v; }

}  // namespace

// The overlap of a box with two even spreads, against counting on a fine grid.
TEST(GlitchDepth, BoxOverlapAgainstAGrid)
{
    const struct { double c, su, sv, half; } cases[] = {
        {0.0, 1.0, 2.0, 0.3}, {0.7, 1.0, 2.0, 0.3}, {0.0, 3.0, 0.5, 2.0}, {1.9, 3.0, 0.5, 2.0}, {0.0, 0.0, 2.0, 0.5},
        {0.8, 2.0, 0.0, 0.5}, {0.2, 0.0, 0.0, 0.5}, {0.6, 0.0, 0.0, 0.5}, {0.0, 0.1, 0.1, 5.0}, {5.2, 1.0, 1.0, 5.0},
    };
    const int n = 2000;
    for (const auto& c : cases) {
        double inside = 0;
        for (int i = 0; i < n; ++i) {
            const double u = c.su * ((i + 0.5) / n - 0.5);
            for (int j = 0; j < n; ++j) inside += std::fabs(c.c + u + c.sv * ((j + 0.5) / n - 0.5)) <= c.half;
        }
        EXPECT_NEAR(BoxOverlap(c.c, c.su, c.sv, c.half), inside / (double(n) * n), 2e-3) << c.c << " " << c.su << " " << c.sv;
    }
}

// The depth of glitches of silicon 2 2 0 at psi 15: each ray of the beam tilted along the plane
// within G's Darwin width and across it within the divergence, X taking it where its deviation
// lies within X's total-reflection range; a symmetric and an asymmetric cut, both polarisations.
TEST(GlitchDepth, DepthFromTheRays)
{
    std::string notice;
    const std::unique_ptr<CifCrystal> silicon = CifCrystal::Read(ShippedCrystalPath("Si"), &notice);
    const Lattice& lattice = silicon->lattice();
    const ScanFrame frame = MatrixFrame(lattice, {2, 2, 0});
    const double psi = 15.0, hc = 12.398419843320026;
    const struct { const char* what; Beam beam; } beams[] = {
        {"symmetric, sigma, 20 microradian across", {Polarisation::kSigma, 20e-6, 0.0, {}}},
        {"symmetric, pi, 5 microradian across", {Polarisation::kPi, 5e-6, 0.0, {}}},
        {"asymmetric 2 2 1 surface, sigma", {Polarisation::kSigma, 10e-6, 0.0, lattice.Reciprocal(2, 2, 1)}},
        {"asymmetric 2 2 1 surface, pi, 3 microradian along", {Polarisation::kPi, 10e-6, 3e-6, lattice.Reciprocal(2, 2, 1)}},
    };
    for (const auto& b : beams) {
        SCOPED_TRACE(b.what);
        int checked = 0;
        for (const Glitch& g : FindGlitches(*silicon, frame, psi, 6.0, 20.0)) {
            if (g.always || checked == 8) continue;
            ++checked;
            const double r = psi * std::acos(-1.0) / 180.0;
            // The central ray at `eV` from the glitch, G at its Bragg angle there.
            const auto central = [&](double eV) {
                const double lambda = hc / (g.energy + eV / 1000.0);
                return (-frame.length / 2.0) * frame.along +
                       (frame.beam * std::sqrt(1.0 / (lambda * lambda) - frame.length * frame.length / 4.0)) *
                           (std::cos(r) * frame.e2 + std::sin(r) * frame.e3);
            };
            const Vec3 k0 = central(0.0);
            const Vec3 x = lattice.Reciprocal(g.x);
            const Vec3 across = Unit(Cross(k0, frame.G)), along = Unit(Cross(across, Unit(k0)));
            const Vec3 inward = -1.0 * Unit(Length(b.beam.surface) > 0 ? b.beam.surface : frame.G);
            const auto share = [&](Vec3 polarisation, Vec3 reflection) {
                const Vec3 sigma = Unit(Cross(k0, reflection));
                return Dot(polarisation, sigma) * Dot(polarisation, sigma);
            };
            const Vec3 polarisation = b.beam.polarisation == Polarisation::kSigma ? across : along;
            const double gamma0 = Dot(Unit(k0), inward);
            const DarwinWidth wG = DarwinWidthOf(*silicon, frame.primary, g.energy, share(polarisation, frame.G), gamma0,
                                                 Dot(Unit(k0 + frame.G), inward));
            const DarwinWidth wX = DarwinWidthOf(*silicon, g.x, g.energy, share(polarisation, x), gamma0, Dot(Unit(k0 + x), inward));
            const double spreadAlong = b.beam.along > 0 ? std::min(b.beam.along, wG.angle) : wG.angle;
            // Every ray on a grid over the two spreads, its beam vector tilted exactly: the share X takes.
            const int n = 400;
            const auto taken = [&](double eV) {
                const Vec3 centre = central(eV);
                double count = 0;
                for (int i = 0; i < n; ++i) {
                    const double e = spreadAlong * ((i + 0.5) / n - 0.5);
                    for (int j = 0; j < n; ++j) {
                        const double p = b.beam.across * ((j + 0.5) / n - 0.5);
                        const Vec3 ray = Length(centre) * Unit(Unit(centre) + std::tan(e) * along + std::tan(p) * across);
                        const Vec3 out = ray + x;
                        count += std::fabs((Dot(out, out) - Dot(ray, ray)) / Dot(ray, ray)) <= wX.deviation / 2;
                    }
                }
                return count / (double(n) * n);
            };
            const double direct = taken(0.0);
            const GlitchShape shape = ShapeOfGlitch(*silicon, frame, g.x, psi, g.energy, b.beam);
            EXPECT_NEAR(shape.depth, direct, 0.05 * direct + 2.0 / n) << g.x.h << " " << g.x.k << " " << g.x.l << " at " << g.energy;
            // A reflection whose polarisation factor vanishes (pi at 2 theta_X = 90) takes nothing.
            EXPECT_TRUE(shape.depth >= 0 && shape.depth <= 1 && shape.widthEV >= 0 && std::isfinite(shape.widthEV));
            // Half the depth at either end of the width, along the scan itself and in the profile.
            if (shape.depth > 0.05) {
                for (const double end : {-shape.widthEV / 2.0, shape.widthEV / 2.0}) {
                    EXPECT_NEAR(taken(end), shape.depth / 2.0, 0.05 * shape.depth + 2.0 / n) << g.x.h << g.x.k << g.x.l << " at " << end;
                    EXPECT_NEAR(shape.At(end), shape.depth / 2.0, 1e-6);
                }
            }
        }
        EXPECT_EQ(checked, 8);
    }
}

// The predicted output, worked out by hand for two glitches with simple profiles: a trapezoid of
// the fundamental (X's range 1, the rays spread over 2: half the photons at the centre) and a
// harmonic taking 0.4 of its photons everywhere, a third of the beam.
TEST(GlitchDepth, SpectrumFromTheProfiles)
{
    Glitch fundamental{8.0, 1.5, {1, 1, 1}, {0, 0, 0}, 1, 1, 1, 1, false};
    fundamental.shape.rate = 1.0, fundamental.shape.su = 2.0, fundamental.shape.half = 0.5;
    fundamental.depth = 0.5;
    Glitch harmonic{7.2, 1.7, {2, 2, 2}, {0, 0, 0}, 1, 1, 1, 1, true};
    harmonic.order = 2, harmonic.depth = 0.4;  // rate 0: the same share at every energy
    const std::vector<SpectrumPoint> spectrum = PredictSpectrum({fundamental, harmonic}, 7.0, 9.0, {1.0, 0.5});
    const auto at = [&](double keV) {
        for (const SpectrumPoint& p : spectrum) {
            if (std::fabs(p.energy - keV) < 1e-12) return p.i0;
        }
        ADD_FAILURE() << "no point at " << keV;
        return -1.0;
    };
    const double others = 0.5 * 0.6;  // what the harmonic's photons leave
    const struct { double keV, taken; } points[] = {
        {8.0, 0.5},                      // the centre: half of the rays within X's range
        {8.0 + 0.75e-3, 0.375},          // 0.75 eV off: the rays from -1 to -0.25 of 2
        {8.0 - 1.5e-3, 0.0},             // the profile's edge
        {7.5, 0.0},
    };
    for (const auto& p : points) EXPECT_NEAR(at(p.keV), (1.0 - p.taken + others) / 1.5, 1e-12) << p.keV;
    // Every point in range and in order, and the narrow profile drawn by points of its own.
    EXPECT_TRUE(std::is_sorted(spectrum.begin(), spectrum.end(), [](const SpectrumPoint& a, const SpectrumPoint& b) {
        return a.energy < b.energy;
    }));
    EXPECT_EQ(std::count_if(spectrum.begin(), spectrum.end(), [](const SpectrumPoint& p) { return std::fabs(p.energy - 8.0) < 1.6e-3; }),
              9 + 2);  // its nine and the even grid's 7.999, 8.000 (shared) and 8.001
}

// An event's width in azimuth: where X's deviation, computed from the beam vector turned about G,
// reaches the half-depth level of its profile on either side.
TEST(GlitchDepth, EventWidthFromTheTurningBeam)
{
    std::string notice;
    const std::unique_ptr<CifCrystal> silicon = CifCrystal::Read(ShippedCrystalPath("Si"), &notice);
    const Lattice& lattice = silicon->lattice();
    const double hc = 12.398419843320026, keV = 8.048;
    const Beam beam{Polarisation::kSigma, 20e-6, 0.0, {}};
    for (const ScanFrame& frame : {MatrixFrame(lattice, {0, 0, 2}), ReferenceFrame(lattice, {1, 1, 1}, {1, -1, 0})}) {
        int crossing = 0, top = 0;
        for (const Event& e : FindEvents(*silicon, frame, {hc / keV, 1e-6}, {-180, 180})) {
            if (e.passage == Passage::kTop || e.passage == Passage::kAlways) continue;
            // Where X crosses the sphere at the band (alpha rising through 0), and at the top of its
            // curve, at the curve's longest wavelength, where it only touches the sphere.
            const SphereReflection r = DescribeReflection(lattice, frame, e.x);
            const struct { double psi, keV; int* count; } places[] = {{e.psi, keV, &crossing},
                                                                       {r.centre, hc / r.TopWavelength(frame), &top}};
            for (const auto& at : places) {
                if (*at.count == 10 || !std::isfinite(at.keV)) continue;
                const double lambda = hc / at.keV;
                const Vec3 x = lattice.Reciprocal(e.x);
                const auto alpha = [&](double psi) {
                    const double rad = psi * std::acos(-1.0) / 180.0;
                    const Vec3 k0 = (-frame.length / 2.0) * frame.along +
                                    (frame.beam * std::sqrt(1.0 / (lambda * lambda) - frame.length * frame.length / 4.0)) *
                                        (std::cos(rad) * frame.e2 + std::sin(rad) * frame.e3);
                    const Vec3 kh = k0 + x;
                    return (Dot(kh, kh) - Dot(k0, k0)) / Dot(k0, k0);
                };
                const double h = ShapeOfGlitch(*silicon, frame, e.x, at.psi, at.keV, beam).halfDepth;
                if (!(h > 1e-12)) continue;  // a polarisation factor of 0: the event takes nothing
                ++*at.count;
                // Outward in small steps until |alpha| reaches h, then by bisection.
                const auto end = [&](double sense) {
                    double inside = at.psi, outside = at.psi;
                    for (int i = 0; i < 200000 && std::fabs(alpha(outside)) < h; ++i) inside = outside, outside += sense * 1e-5;
                    for (int i = 0; i < 100; ++i) {
                        const double mid = (inside + outside) / 2.0;
                        (std::fabs(alpha(mid)) < h ? inside : outside) = mid;
                    }
                    return (inside + outside) / 2.0;
                };
                const double exact = end(1.0) - end(-1.0);
                EXPECT_NEAR(EventWidth(*silicon, frame, e.x, at.psi, at.keV, beam) / exact, 1.0, 2e-3)
                    << e.x.h << " " << e.x.k << " " << e.x.l << " at psi " << at.psi << ", " << at.keV << " keV: exact " << exact;
            }
        }
        EXPECT_EQ(crossing, 10);
        EXPECT_EQ(top, 10);
    }
}
