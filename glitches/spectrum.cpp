#include "glitches/spectrum.h"

#include <algorithm>
#include <cmath>

std::vector<SpectrumPoint> PredictSpectrum(const std::vector<Glitch>& glitches, double eMin, double eMax,
                                           const OrderShares& content, int points)
{
    std::vector<double> energies;
    for (int i = 0; i < points; ++i) energies.push_back(eMin + (eMax - eMin) * i / (points - 1));
    std::vector<const Glitch*> sloped;  // glitches whose share changes along the scan, by energy
    std::vector<double> steady(content.Orders(), 1.0);  // the share left everywhere, per order
    double reach = 0.0;                                 // keV, the farthest any profile reaches
    for (const Glitch& g : glitches) {
        if (g.order < 1 || g.order > static_cast<int>(content.Orders()) || g.dipAtPartner) continue;
        if (g.shape.rate == 0.0) {
            double& left = steady[static_cast<std::size_t>(g.order - 1)];
            left = LeftAfter(left, g.shape.At(0.0));
            continue;
        }
        sloped.push_back(&g);
        reach = std::max(reach, g.shape.Reach() / 1000.0);
        if (!(g.depth > 0.0 && std::isfinite(g.widthEV) && g.widthEV > 0.0)) continue;
        for (int k = -kQuarterWidths; k <= kQuarterWidths; ++k) {
            const double e = g.energy + (g.shape.offsetEV + g.widthEV * k / 4.0) / 1000.0;
            if (e >= eMin && e <= eMax) energies.push_back(e);
        }
    }
    std::sort(energies.begin(), energies.end());
    energies.erase(std::unique(energies.begin(), energies.end()), energies.end());
    std::sort(sloped.begin(), sloped.end(), [](const Glitch* a, const Glitch* b) { return a->energy < b->energy; });
    std::vector<SpectrumPoint> spectrum;
    spectrum.reserve(energies.size());
    std::vector<double> kept(content.Orders()), shares;
    for (const double e : energies) {
        kept = steady;
        const auto first = std::lower_bound(sloped.begin(), sloped.end(), e - reach,
                                            [](const Glitch* g, double energy) { return g->energy < energy; });
        for (auto it = first; it != sloped.end() && (*it)->energy <= e + reach; ++it) {
            double& left = kept[static_cast<std::size_t>((*it)->order - 1)];
            left = LeftAfter(left, (*it)->shape.At((e - (*it)->energy) * 1000.0));
        }
        content.At(e, &shares);
        double left = 0.0, total = 0.0;
        for (std::size_t n = 0; n < shares.size(); ++n) left += shares[n] * kept[n], total += shares[n];
        spectrum.push_back({e, total > 0.0 ? left / total : 1.0});
    }
    return spectrum;
}
