#include "scan/azimuths.h"

#include <algorithm>

namespace {

std::vector<AzimuthInterval> Sweep(std::vector<AzimuthInterval>& occupied, double from, double to)
{
    std::sort(occupied.begin(), occupied.end(),
              [](const AzimuthInterval& a, const AzimuthInterval& b) { return a.start < b.start; });
    std::vector<AzimuthInterval> free;
    double reached = from;
    for (const AzimuthInterval& o : occupied) {
        if (o.start > reached) free.push_back({reached, std::min(o.start, to)});
        reached = std::max(reached, o.end);
        if (reached >= to) break;
    }
    if (reached < to) free.push_back({reached, to});
    return free;
}

}  // namespace

std::vector<AzimuthInterval> FreeStretches(std::vector<AzimuthInterval> occupied, const PsiWindow& window, double width)
{
    std::vector<AzimuthInterval> free;
    if (!window.FullCircle()) {
        free = Sweep(occupied, window.min, window.max);
    } else {
        // One turn from the window's start; each interval folded into it, split at the seam.
        const double from = window.min, to = window.min + 360.0;
        std::vector<AzimuthInterval> folded;
        bool seamTaken = false;  // something (an event of no width, even) lies on the seam itself
        for (const AzimuthInterval& o : occupied) {
            if (o.Width() >= 360.0) return {};
            const double start = from + (o.start - from - 360.0 * std::floor((o.start - from) / 360.0));
            const double end = start + o.Width();
            folded.push_back({start, std::min(end, to)});
            seamTaken = seamTaken || start == from;
            if (end > to) folded.push_back({from, end - 360.0});
        }
        free = Sweep(folded, from, to);
        if (free.empty()) return {};
        if (free.size() == 1 && free.front().start == from && free.front().end == to) {
            // Nothing occupied: the whole circle.
        } else if (!seamTaken && free.size() > 1 && free.front().start == from && free.back().end == to) {
            free.back().end = free.front().end + 360.0;  // the stretch over the seam
            free.erase(free.begin());
        }
    }
    std::erase_if(free, [width](const AzimuthInterval& w) { return !(w.Width() >= width) || w.Width() <= 0.0; });
    return free;
}
