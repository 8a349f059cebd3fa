#include "planning/request_checks.h"

#include <algorithm>
#include <cmath>

#include "io/run_error.h"
#include "setup/units.h"

std::string SurfaceSideProblem(const Lattice& lattice, Miller primary, Miller surface)
{
    const Vec3 g = lattice.Reciprocal(primary), n = lattice.Reciprocal(surface);
    // Rounding leaves a normal at right angles to G a cosine of some 1e-17 either way.
    constexpr double kRightAngle = 1e-12;
    const double cosine = Dot(g, n) / (Length(g) * Length(n));
    if (cosine > kRightAngle) return "";
    const double degrees = std::acos(std::clamp(cosine, -1.0, 1.0)) * kDegreesPerRadian;
    std::string problem = Printed("is %.1f degrees from the primary reflection %d %d %d: its incident beam would meet the surface "
                                  "from inside the crystal. kelto takes the surface's outward normal, which lies less than 90 "
                                  "degrees from the primary reflection (a Bragg case)", degrees, primary.h, primary.k, primary.l);
    if (cosine < -kRightAngle) {
        problem += Printed("; %lld,%lld,%lld is this cut", -static_cast<long long>(surface.h), -static_cast<long long>(surface.k),
                           -static_cast<long long>(surface.l));
    }
    return problem;
}
