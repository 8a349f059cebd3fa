#include "planning/events.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "geometry/band_crossing.h"

namespace {

// A branch spans 90 degrees (and a hair: acos(0) in these degrees) either side of psi0.
constexpr double kBranchReach = 91.0;
constexpr double kWidestWindow = 36000.0;

// The representative psi0 + 360 n of the curve: the recorded ones where they exist, so that the
// azimuths are those of kelto_unweg.dat.
double Representative(const SphereReflection& r, long n)
{
    const double shifted = static_cast<double>(r.psi01) + 360.0 * static_cast<double>(n);
    if (n == 0) return r.psi01;
    return std::fabs(static_cast<double>(r.psi02) - shifted) < 1.0 ? static_cast<double>(r.psi02) : shifted;
}

}  // namespace

std::vector<Event> FindEvents(const std::vector<SphereReflection>& reflections, const InputStruct* record)
{
    std::vector<Event> events;
    const double psiMin = record->psiMin;
    const double psiMax = record->psiMax;
    // Every turn of the window is searched: it must be finite, and of a sensible width.
    if (!(psiMax - psiMin <= kWidestWindow) || !std::isfinite(psiMin)) return events;
    const Band band = BandOf(record);
    const double lambda = record->lambda;
    const auto inWindow = [&](double psi) { return psiMin < psi && psi < psiMax; };
    for (const SphereReflection& r : reflections) {
        const long first = std::lround(std::floor((psiMin - kBranchReach - r.psi01) / 360.0));
        const long last = std::lround(std::ceil((psiMax + kBranchReach - r.psi01) / 360.0));
        for (long n = first; n <= last; ++n) {
            const double psi0 = Representative(r, n);
            const BandCrossing edges = CrossBand(r.k2, r.p2, psi0, band.aSquared, band.lower, band.upper);
            const BandCrossing centre = CrossBand(r.k2, r.p2, psi0, band.aSquared, lambda, lambda);
            if (!edges.reached || !centre.reached) break;
            // The near branch, cos(psi - psi0) = c > 0, lies nearer psi0 than the far one; at c = 0
            // (k2 = 0) the branches meet and no reflection is on its near side.
            if (!(centre.pairs[0][0] < centre.pairs[2][0])) break;
            // The near branch: pair 1, after psi0, where the curve falls; pair 2, before it, where it rises.
            for (int pair = 0; pair < 2; ++pair) {
                const double lower = edges.pairs[pair][0];
                const double upper = edges.pairs[pair][1];
                if (!inWindow(lower) || !inWindow(upper)) continue;
                events.push_back(Event{centre.pairs[pair][0], lower, upper, &r, r.F * r.couplingF, 0.0, pair == 1});
            }
        }
    }
    double strongest = 0.0;
    for (const Event& e : events) strongest = std::max(strongest, e.strength);
    for (Event& e : events) e.relativeStrength = strongest > 0.0 ? e.strength / strongest : 0.0;
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        const SphereReflection& x = *a.reflection;
        const SphereReflection& y = *b.reflection;
        return std::tie(a.psi, x.h, x.k, x.l) < std::tie(b.psi, y.h, y.k, y.l);
    });
    return events;
}

std::vector<AzimuthWindow> CleanWindows(const std::vector<Event>& events, double psiMin, double psiMax,
                                        double width, double fraction)
{
    std::vector<AzimuthWindow> occupied;
    for (const Event& e : events) {
        if (e.relativeStrength > fraction) {
            occupied.push_back({std::min(e.psiLower, e.psiUpper), std::max(e.psiLower, e.psiUpper)});
        }
    }
    std::sort(occupied.begin(), occupied.end(), [](const AzimuthWindow& a, const AzimuthWindow& b) {
        return a.start < b.start;
    });
    std::vector<AzimuthWindow> clean;
    double free = psiMin;
    for (const AzimuthWindow& o : occupied) {
        if (o.start - free >= width) clean.push_back({free, o.start});
        free = std::max(free, o.end);
    }
    if (psiMax - free >= width) clean.push_back({free, psiMax});
    return clean;
}
