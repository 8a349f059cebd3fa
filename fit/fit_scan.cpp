#include "fit/fit_scan.h"

#include <algorithm>
#include <cmath>
#include <utility>

SearchScan::SearchScan(ScanRange r, double tolerance, std::vector<FitLine> lines, const std::vector<MeasuredDip>& dips,
                       double widestOffsetEV)
    : range(r), toleranceEV(tolerance)
{
    // Lines down to half the depth of those the scan shows may pair with a dip: a depth is a model's.
    visible = VisibleWeight(lines, dips.size(), range);
    for (const FitLine& line : lines) {
        if (line.weight >= visible / 2.0) pairing.push_back(line);
    }
    active.resize(360);
    const double margin = (widestOffsetEV + kLookupMarginEV) / 1000.0;
    for (std::size_t i = 0; i < pairing.size(); ++i) {
        const FitLine& line = pairing[i];
        const double inner = line.Reach(range.eMin - margin), outer = line.Reach(range.eMax + margin);
        // The line lies in the range from inner to outer degrees on either side of its centre.
        for (const auto& [a, b] : {std::pair{line.centre + inner, line.centre + outer}, std::pair{line.centre - outer, line.centre - inner}}) {
            for (double degree = std::floor(a); degree <= std::floor(b); degree += 1.0) {
                const double turn = degree - 360.0 * std::floor(degree / 360.0);
                std::vector<std::uint32_t>& bin = active[static_cast<std::size_t>(turn) % 360];
                if (bin.empty() || bin.back() != i) bin.push_back(static_cast<std::uint32_t>(i));
            }
        }
    }
}

double SearchScan::MeanShown() const
{
    double shown = 0.0;
    for (int degree = 0; degree < 360; ++degree) {
        const double psi = degree + 0.5;
        for (const std::uint32_t i : active[static_cast<std::size_t>(degree)]) {
            const FitLine& line = pairing[i];
            if (line.weight < visible) break;  // the lines by index are deepest first
            const double d = AzimuthOffset(psi, line.centre);
            if (!(std::fabs(d) < 90.0)) continue;
            const double e = line.EnergyAt(d);
            shown += e >= range.eMin && e <= range.eMax ? 1.0 : 0.0;
        }
    }
    return shown / 360.0;
}

std::vector<std::vector<std::size_t>> OffsetGroups(std::size_t scans, bool oneOffset)
{
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t s = 0; s < scans; ++s) {
        if (oneOffset && !groups.empty()) {
            groups.front().push_back(s);
        } else {
            groups.push_back({s});
        }
    }
    return groups;
}

