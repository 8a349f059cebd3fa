#include "fit/fit_pairs.h"

#include <algorithm>
#include <cmath>

namespace {

// Predicted glitches closer than this (keV) are one glitch: a harmonic's line on the
// fundamental's, two reflections met together on a mirror of the crystal.
constexpr double kCoincidentKeV = 1e-6;

}  // namespace

DipsByEnergy::DipsByEnergy(const std::vector<MeasuredDip>& dips) : index(dips.size())
{
    for (std::size_t i = 0; i < dips.size(); ++i) index[i] = i;
    std::sort(index.begin(), index.end(), [&](std::size_t a, std::size_t b) { return dips[a].energy < dips[b].energy; });
    for (const std::size_t i : index) energy.push_back(dips[i].energy);
}

const std::vector<std::uint32_t>& ActiveLines(const SearchScan& scan, double psi)
{
    const double turn = psi - 360.0 * std::floor(psi / 360.0);
    return scan.active[std::min<std::size_t>(359, static_cast<std::size_t>(turn))];
}

std::vector<FitPair> Pairs(const SearchScan& scan, const DipsByEnergy& dips, const std::vector<std::uint32_t>& near, double psi,
                           const ReadAs& read, double widenDegrees)
{
    struct Option {
        double keV;  // the glitch, as the scan reads it
        std::uint32_t line;
        std::uint32_t dip;
        double residualEV;
    };
    std::vector<Option> options;
    for (const std::uint32_t i : near) {
        const FitLine& line = scan.pairing[i];
        const double d = AzimuthOffset(psi, line.centre);
        if (!(std::fabs(d) < 90.0)) continue;
        const double e = read(line.EnergyAt(d));
        const double reach = (scan.toleranceEV + (widenDegrees > 0.0 ? widenDegrees * std::fabs(line.Slope(d)) : 0.0)) / 1000.0;
        auto at = std::lower_bound(dips.energy.begin(), dips.energy.end(), e - reach);
        for (; at != dips.energy.end() && *at <= e + reach; ++at) {
            const auto k = static_cast<std::size_t>(at - dips.energy.begin());
            options.push_back({e, i, static_cast<std::uint32_t>(dips.index[k]), (*at - e) * 1000.0});
        }
    }
    std::sort(options.begin(), options.end(), [](const Option& a, const Option& b) {
        return a.keV != b.keV ? a.keV < b.keV : a.line < b.line;
    });
    // Of coincident glitches the deepest line (the lowest index) is kept: it is met by the same
    // dips as the others.
    std::vector<Option> kept;
    for (std::size_t i = 0; i < options.size();) {
        std::size_t j = i + 1;
        std::uint32_t deepest = options[i].line;
        for (; j < options.size() && options[j].keV - options[i].keV < kCoincidentKeV; ++j) deepest = std::min(deepest, options[j].line);
        for (std::size_t k = i; k < j; ++k) {
            if (options[k].line == deepest) kept.push_back(options[k]);
        }
        i = j;
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Option& a, const Option& b) {
        return std::fabs(a.residualEV) < std::fabs(b.residualEV);
    });
    std::vector<bool> dipTaken(dips.index.size()), lineTaken(scan.pairing.size());
    std::vector<FitPair> pairs;
    for (const Option& o : kept) {
        if (dipTaken[o.dip] || lineTaken[o.line]) continue;
        dipTaken[o.dip] = lineTaken[o.line] = true;
        const FitLine& line = scan.pairing[o.line];
        pairs.push_back({o.dip, o.line, o.residualEV, line.Slope(AzimuthOffset(psi, line.centre))});
    }
    std::sort(pairs.begin(), pairs.end(), [](const FitPair& a, const FitPair& b) { return a.dip < b.dip; });
    return pairs;
}

int PredictedGlitches(const SearchScan& scan, double psi, const ReadAs& read)
{
    std::vector<double> predicted;
    for (const std::uint32_t k : ActiveLines(scan, psi)) {
        const FitLine& line = scan.pairing[k];
        if (line.weight < scan.visible) break;  // the lines by index are deepest first
        const double d = AzimuthOffset(psi, line.centre);
        if (!(std::fabs(d) < 90.0)) continue;
        const double e = read(line.EnergyAt(d));
        if (e >= scan.range.eMin && e <= scan.range.eMax) predicted.push_back(e);
    }
    std::sort(predicted.begin(), predicted.end());
    int count = 0;
    for (std::size_t k = 0; k < predicted.size(); ++k) count += k == 0 || predicted[k] - predicted[k - 1] >= kCoincidentKeV;
    return count;
}
