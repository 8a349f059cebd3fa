#include "fit/model_dip.h"

#include <cmath>
#include <limits>

#include "fit/measured_dips.h"

namespace {

// The samples reach this many widths of the widest glitch, or steps, on either side.
constexpr double kReachWidths = 20.0;
constexpr double kReachSteps = 10.0;
constexpr int kMostSamples = 4000;
// The places of the samples averaged over, spread evenly over a step.
constexpr int kPhases = 4;

}  // namespace

ModelDip ModelDipAt(const std::vector<ModelGlitch>& glitches, int order, double stepEV, double nearKeV, double reachEV)
{
    double widest = 0.0;
    for (const ModelGlitch& g : glitches) widest = std::max(widest, g.shape.widthEV / order);
    const double reach = std::max(kReachWidths * widest, kReachSteps * stepEV) + reachEV;
    const int half = static_cast<int>(std::min<double>(kMostSamples, std::ceil(reach / stepEV)));
    double sum = 0.0, squares = 0.0;
    std::vector<ScanPoint> scan;
    for (int phase = 0; phase < kPhases; ++phase) {
        const double shift = (phase + 0.5) / kPhases - 0.5;
        scan.clear();
        for (int m = -half; m <= half; ++m) {
            const double keV = nearKeV + (m + shift) * stepEV / 1000.0;
            double taken = 0.0;
            for (const ModelGlitch& g : glitches) taken += g.shape.At(order * (keV - g.keV) * 1000.0);
            scan.push_back({keV, 1.0 - taken});
        }
        const DipSearch search = FindDips(scan, scan.front().energy, scan.back().energy);
        double centre = std::numeric_limits<double>::quiet_NaN();
        for (const MeasuredDip& dip : search.dips) {
            const double apart = std::fabs(dip.energy - nearKeV) * 1000.0;
            if (apart <= reachEV && !(std::fabs(centre - nearKeV) * 1000.0 <= apart)) centre = dip.energy;
        }
        if (!std::isfinite(centre)) return {centre, 0.0};
        sum += (centre - nearKeV) * 1000.0, squares += (centre - nearKeV) * (centre - nearKeV) * 1e6;
    }
    const double mean = sum / kPhases;
    return {nearKeV + mean / 1000.0, std::sqrt(std::max(0.0, squares / kPhases - mean * mean))};
}
