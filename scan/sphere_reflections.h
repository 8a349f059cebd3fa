// The reflections X that can reach the Ewald sphere together with the primary reflection G, each
// once (Friedel mates and every other equivalent apart), with the shape of their dispersion curve.
//
// With G in its Bragg position, X is on the sphere where k_perp . X_perp = -n, n = (|X|^2 - X.G) / 2
// (X_perp the component of X across G). So at the azimuth psi
//   beam |k_perp| |X_perp| cos(psi - azimuth of X) = -n.
// For n != 0 this holds on one half of the circle only, around the curve's centre psi_c (X's own
// azimuth or the opposite one), where |k_perp| = C / cos(psi - psi_c), C = |n| / |X_perp|:
//   lambda_X(psi) = 1 / sqrt(|G|^2 / 4 + C^2 / cos^2(psi - psi_c)),
// highest at psi_c (the curve's top) and falling to 0 at psi_c -/+ 90. For n = 0 X is on the
// sphere at its azimuth -/+ 90 whatever the wavelength. G - X has the same n and the opposite
// X_perp: where X is on the sphere, G - X is not (unless n = 0).
#pragma once

#include <cmath>
#include <stdexcept>
#include <vector>

#include "crystal/crystal.h"
#include "scan/cancellation.h"
#include "scan/scan_frame.h"

struct SphereReflection {
    Miller x;          // X
    Miller coupling;   // G - X
    double n;          // (|X|^2 - X.G) / 2 in 1/angstrom^2; exactly 0 when X is on the sphere at every wavelength
    double azimuth;    // psi of X_perp, degrees
    double centre;     // psi_c, degrees (unused when n = 0)
    double spread;     // C = |n| / |X_perp|, 1/angstrom

    bool Always() const { return n == 0.0; }
    // The curve's top, the longest wavelength at which X is on the sphere (n != 0).
    double TopWavelength(const ScanFrame& frame) const;
    // The half-width beta of the azimuths around psi_c at which X is on the sphere at a wavelength
    // of at least `lambda`: cos(beta) = C / |k_perp(lambda)|. NaN when the curve never reaches
    // `lambda` (or G cannot diffract there); 90 for lambda <= 0.
    double HalfWidth(const ScanFrame& frame, double lambda) const;
};

// The geometry of X with respect to the scan.
SphereReflection DescribeReflection(const Lattice& lattice, const ScanFrame& frame, Miller m);

// The slices h = -reach .. reach of index space that hold every X with |X| <= radius (1/angstrom).
// Throws std::length_error when the indices would not fit an int.
inline int SliceReach(const Lattice& lattice, double radius)
{
    double bounds[3];
    lattice.IndexBounds(radius, bounds);
    for (double b : bounds) {
        if (!(b < 536870911.0)) throw std::length_error("the limiting sphere holds indices beyond the integer range");
    }
    return static_cast<int>(bounds[0]) + 1;
}

// Calls visit(reflection) for every X = h k l of the slice `h`, other than 0 and the multiples of
// G, with |X| <= radius, whether the structure allows it or not. Slices may be visited at once
// from several threads.
template <typename Visit>
void ForEachReflectionInSlice(const Lattice& lattice, const ScanFrame& frame, double radius, int h, Visit&& visit)
{
    double bounds[3];
    lattice.IndexBounds(radius, bounds);
    const int kMax = static_cast<int>(bounds[1]) + 1;
    const Vec3 cStar = lattice.Reciprocal(0, 0, 1);
    const double c2 = Dot(cStar, cStar);
    const double r2 = radius * radius;
    for (int k = -kMax; k <= kMax; ++k) {
        PollCancellation();
        // |P + l c*|^2 <= r^2, P = h a* + k b*: a quadratic in l.
        const Vec3 p = lattice.Reciprocal(h, k, 0);
        const double pc = Dot(p, cStar);
        const double disc = pc * pc - c2 * (Dot(p, p) - r2);
        if (disc < 0.0) continue;
        const double root = std::sqrt(disc);
        const int lLow = static_cast<int>(std::floor((-pc - root) / c2)) - 1;
        const int lHigh = static_cast<int>(std::ceil((-pc + root) / c2)) + 1;
        for (int l = lLow; l <= lHigh; ++l) {
            const Miller m{h, k, l};
            const Vec3 x = lattice.Reciprocal(m);
            if (Dot(x, x) > r2 || Parallel(m, frame.primary)) continue;
            visit(DescribeReflection(lattice, frame, m));
        }
    }
}

// Calls visit(reflection) for every X other than 0 and the multiples of G with |X| <= radius
// (1/angstrom), whether the structure allows it or not, keeping none: what the caller keeps is
// what the run holds. Throws std::length_error when the indices would not fit an int.
template <typename Visit>
void ForEachReflectionWithin(const Lattice& lattice, const ScanFrame& frame, double radius, Visit&& visit)
{
    const int reach = SliceReach(lattice, radius);
    for (int h = -reach; h <= reach; ++h) ForEachReflectionInSlice(lattice, frame, radius, h, visit);
}

// The radius of the limiting sphere at the wavelength: 2 / lambda.
inline double LimitingRadius(double lambda) { return 2.0 / lambda; }

// What planning over the sphere of `radius` visits, writes and holds, from the sphere's volume: it
// visits every reflection once and keeps only its rows (events, glitches or glitch lines), at most
// about one for every four reflections, some 150 bytes each in a table. Throws RunError when
// these numbers are beyond the doubles.
struct PlanningEstimate {
    double reflections;
    double rows;
    double bytes;
    double memory;
};
PlanningEstimate EstimatePlanning(const Lattice& lattice, double radius);
