// The glitch energies of an energy scan at one azimuth worked out for the tests from the Ewald
// construction alone, sharing no code with the planning engine: with G in its Bragg position the
// beam is k0 = -G / 2 + beam a (cos psi e2 + sin psi e3), a = sqrt(1 / lambda^2 - |G|^2 / 4), and X
// lies on the sphere where 2 k0 . X + |X|^2 = 0, that is at
//   a = (G . X - |X|^2) / (2 beam (cos psi e2 + sin psi e3) . X),   E = hc sqrt(a^2 + |G|^2 / 4),
// for every reflection X the structure allows (a > 0). A harmonic n puts n G in place of G and
// lists the energy over n.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "crystal/crystal.h"
#include "scan/scan_frame.h"

namespace ewald {

// The incident wave vector k0 at psi and lambda, G in its Bragg position.
inline Vec3 IncidentBeam(const ScanFrame& frame, double psi, double lambda)
{
    const double r = psi * 3.141592653589793 / 180.0;
    const double across = std::sqrt(std::max(0.0, 1.0 / (lambda * lambda) - frame.length * frame.length / 4.0));
    return (-frame.length / 2.0) * frame.along + (frame.beam * across) * (std::cos(r) * frame.e2 + std::sin(r) * frame.e3);
}

struct TrueGlitch { double keV; Miller x; int order; };

// Every reflection X of the crystal up to |X| <= radius that the structure allows, X not along G.
inline std::vector<Miller> AllowedReflections(const Crystal& crystal, Miller g, double radius)
{
    double bounds[3];
    crystal.lattice().IndexBounds(radius, bounds);
    std::vector<Miller> found;
    const int hMax = static_cast<int>(bounds[0]) + 1, kMax = static_cast<int>(bounds[1]) + 1, lMax = static_cast<int>(bounds[2]) + 1;
    for (int h = -hMax; h <= hMax; ++h) {
        for (int k = -kMax; k <= kMax; ++k) {
            for (int l = -lMax; l <= lMax; ++l) {
                const Miller m{h, k, l};
                const Vec3 x = crystal.lattice().Reciprocal(m);
                if (IsZero(m) || Dot(x, x) > radius * radius || Parallel(m, g) || crystal.Extinct(m)) continue;
                found.push_back(m);
            }
        }
    }
    return found;
}

// The glitches at psi among `reflections` (of the order's G) from eMin to eMax keV, by energy.
inline std::vector<TrueGlitch> GlitchesAmong(const Crystal& crystal, const ScanFrame& frame, const std::vector<Miller>& reflections,
                                             double psi, double eMin, double eMax, int order = 1)
{
    constexpr double hc = 12.398419843320026;  // keV angstrom
    const double r = psi * 3.141592653589793 / 180.0;
    const Vec3 u = std::cos(r) * frame.e2 + std::sin(r) * frame.e3;
    const Vec3 g = static_cast<double>(order) * frame.G;
    std::vector<TrueGlitch> found;
    for (const Miller& m : reflections) {
        const Vec3 x = crystal.lattice().Reciprocal(m);
        const double numerator = Dot(g, x) - Dot(x, x);
        if (std::fabs(numerator) < 1e-12 * Dot(x, x)) continue;  // on the sphere at one azimuth whatever the energy
        const double a = numerator / (2.0 * frame.beam * Dot(u, x));
        if (!(a > 0.0)) continue;
        const double keV = hc * std::sqrt(a * a + Dot(g, g) / 4.0) / order;
        if (keV >= eMin && keV <= eMax) found.push_back({keV, m, order});
    }
    std::sort(found.begin(), found.end(), [](const TrueGlitch& p, const TrueGlitch& q) { return p.keV < q.keV; });
    return found;
}

// The glitches at psi from eMin to eMax keV, of the orders up to `harmonics` whose n G the
// structure allows, by energy.
inline std::vector<TrueGlitch> Glitches(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax,
                                        int harmonics = 1)
{
    constexpr double hc = 12.398419843320026;
    std::vector<TrueGlitch> all;
    for (int n = 1; n <= harmonics; ++n) {
        const Miller g{n * frame.primary.h, n * frame.primary.k, n * frame.primary.l};
        if (n > 1 && crystal.Extinct(g)) continue;
        const std::vector<TrueGlitch> order =
            GlitchesAmong(crystal, frame, AllowedReflections(crystal, g, 2.0 * n * eMax / hc), psi, eMin, eMax, n);
        all.insert(all.end(), order.begin(), order.end());
    }
    std::sort(all.begin(), all.end(), [](const TrueGlitch& p, const TrueGlitch& q) { return p.keV < q.keV; });
    return all;
}

}  // namespace ewald
