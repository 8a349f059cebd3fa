#include "planning/glitches.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "setup/answer_source.h"

std::vector<Glitch> FindGlitches(const std::vector<SphereReflection>& reflections, const InputStruct* record,
                                 double psi, double eMin, double eMax)
{
    const double a = record->latticeA;
    const double shortest = kHcKeVAngstrom / eMax;
    const double longest = kHcKeVAngstrom / eMin;
    std::vector<Glitch> glitches;
    for (const SphereReflection& r : reflections) {
        const double cosine = std::cos((psi - static_cast<double>(r.psi01)) * std::numbers::pi / 180.0);
        if (!(cosine > 0.0)) continue;  // the far branch: G - X is on the sphere, not X
        const double lambda = a / std::sqrt(static_cast<double>(r.k2) / (cosine * cosine) + static_cast<double>(r.p2));
        if (!(lambda >= shortest && lambda <= longest)) continue;
        glitches.push_back(Glitch{kHcKeVAngstrom / lambda, lambda, &r, r.F * r.couplingF, 0.0});
    }
    double strongest = 0.0;
    for (const Glitch& g : glitches) strongest = std::max(strongest, g.strength);
    for (Glitch& g : glitches) g.relativeStrength = strongest > 0.0 ? g.strength / strongest : 0.0;
    std::sort(glitches.begin(), glitches.end(), [](const Glitch& x, const Glitch& y) {
        return std::tie(x.energy, x.reflection->h, x.reflection->k, x.reflection->l) <
               std::tie(y.energy, y.reflection->h, y.reflection->k, y.reflection->l);
    });
    return glitches;
}
