#include "scan/symmetric_azimuths.h"

#include <algorithm>
#include <cmath>

#include "scan/sphere_reflections.h"
#include "setup/units.h"

namespace {

// The azimuth of R (cos psi e2 + sin psi e3) for the rotation M of index space, times `friedel`.
double Turned(const Lattice& lattice, const ScanFrame& frame, const MillerRotation& rotation, int friedel, double psi)
{
    const double r = psi * kRadiansPerDegree;
    const Vec3 across = std::cos(r) * frame.e2 + std::sin(r) * frame.e3;
    // Its reciprocal-lattice coordinates: a . X = h for X = h a* + k b* + l c*.
    const double f[3] = {Dot(lattice.Direct(1, 0, 0), across), Dot(lattice.Direct(0, 1, 0), across),
                         Dot(lattice.Direct(0, 0, 1), across)};
    double turned[3];
    for (int i = 0; i < 3; ++i) turned[i] = friedel * (rotation.m[i][0] * f[0] + rotation.m[i][1] * f[1] + rotation.m[i][2] * f[2]);
    return frame.Azimuth(lattice.Reciprocal(turned[0], turned[1], turned[2]));
}

// a - b brought into (-180, 180].
double Apart(double a, double b)
{
    const double d = std::fmod(a - b, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

// True when the structure allows G - X exactly where it allows X, every X up to eMax looked at.
bool AllowsTheComplement(const Crystal& crystal, const ScanFrame& frame, double eMax)
{
    bool same = true;
    const Miller g = frame.primary;
    ForEachReflectionWithin(crystal.lattice(), frame, LimitingRadius(kHcKeVAngstrom / eMax), [&](const SphereReflection& r) {
        same = same && crystal.Extinct(r.x) == crystal.Extinct(Miller{g.h - r.x.h, g.k - r.x.k, g.l - r.x.l});
    });
    return same;
}

}  // namespace

std::vector<AzimuthMap> AzimuthSymmetries(const Crystal& crystal, const ScanFrame& frame, double eMax)
{
    std::vector<AzimuthMap> maps{{1, 0.0}};
    for (const MillerRotation& rotation : crystal.PointGroup()) {
        for (const int friedel : {1, -1}) {
            const Miller image = rotation(frame.primary);
            if (!(Miller{friedel * image.h, friedel * image.k, friedel * image.l} == frame.primary)) continue;
            // The map is known from the images of psi = 0 and psi = 90: a turn keeps their order.
            const double zero = Turned(crystal.lattice(), frame, rotation, friedel, 0.0);
            const double ninety = Turned(crystal.lattice(), frame, rotation, friedel, 90.0);
            const AzimuthMap map{Apart(ninety, zero) > 0.0 ? 1 : -1, zero};
            const bool known = std::any_of(maps.begin(), maps.end(), [&](const AzimuthMap& m) {
                return m.sign == map.sign && std::fabs(Apart(m.shift, map.shift)) < 1e-9;
            });
            if (!known) maps.push_back(map);
        }
    }
    if (AllowsTheComplement(crystal, frame, eMax)) {
        const std::size_t count = maps.size();
        for (std::size_t i = 0; i < count; ++i) maps.push_back({maps[i].sign, maps[i].shift + 180.0});
    }
    return maps;
}

std::vector<double> SymmetricAzimuths(const std::vector<AzimuthMap>& maps, double psi, const PsiWindow& window)
{
    std::vector<double> found;
    for (const AzimuthMap& map : maps) {
        const double image = map(psi);
        ForEachTurn(image - 360.0 * std::round(image / 360.0), window, [&](double at) { found.push_back(at); });
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end(), [](double a, double b) { return b - a < 1e-9; }), found.end());
    return found;
}
