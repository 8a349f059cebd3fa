#include "fit/sampled_dip.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/measured_dips.h"

namespace {

// The samples placed at this many phases of the step.
constexpr int kPhases = 4;
// A profile sampled at no more than this many points on either side of its deepest, over this
// many of its widths or the dip search's reach, the longer (and a few steps), about an energy of
// no consequence.
constexpr int kMostSamples = 2000;
constexpr double kReachWidths = 20.0;
constexpr double kBaseKeV = 10.0;

}  // namespace

SampledDip SampleDip(const GlitchShape& shape, double stepEV)
{
    SampledDip sampled;
    if (!(stepEV > 0.0) || !(shape.depth > 0.0) || !(shape.widthEV > 0.0) || !std::isfinite(shape.widthEV)) return sampled;
    // The search weighs each point against some eV of scan on either side, which a narrow dip's
    // twenty widths, or a profile cut short where its loss map's reach ends, may not give: a scan
    // too short to weigh its dip finds none.
    const double reach = std::max(kReachWidths * shape.widthEV, SearchReachEV(stepEV) + stepEV) + 4.0 * stepEV;
    const int points = static_cast<int>(std::min<double>(kMostSamples, std::ceil(reach / stepEV)));
    double centre = 0.0, width = 0.0;
    int found = 0;
    std::vector<ScanPoint> scan(static_cast<std::size_t>(2 * points + 1));
    for (int phase = 0; phase < kPhases; ++phase) {
        const double shift = (phase + 0.5) / kPhases - 0.5;
        for (int k = -points; k <= points; ++k) {
            const double eV = shape.offsetEV + (k + shift) * stepEV;
            scan[static_cast<std::size_t>(k + points)] = {kBaseKeV + eV / 1000.0, 1.0 - shape.At(eV)};
        }
        const DipSearch search = FindDips(scan, scan.front().energy, scan.back().energy);
        const auto deepest = std::max_element(search.dips.begin(), search.dips.end(),
                                              [](const MeasuredDip& a, const MeasuredDip& b) { return a.depth < b.depth; });
        if (deepest == search.dips.end()) continue;
        centre += (deepest->energy - kBaseKeV) * 1000.0;
        width += deepest->widthEV;
        ++found;
    }
    if (found == 0) return sampled;
    sampled.found = true;
    sampled.centreEV = centre / found;
    sampled.widthEV = width / found;
    return sampled;
}
