#include "windows/clean_windows.h"

#include <algorithm>
#include <cmath>

#include "glitches/glitches.h"
#include "glitches/line_profile.h"
#include "windows/line_crossings.h"
#include "setup/units.h"

namespace {

// Beyond this many degrees on either side of the window no glitch line reaches in: a line's
// stretch is found wherever it overlaps the widened window, and its ends widen by at most 180.
constexpr double kLineReach = 181.0;

// The measure of an event or line and whether it counts: by depth, or by strength against the
// strongest inside the window (0 when that is 0, when nothing counts).
struct Measured {
    double measure;
    bool counts;
};
Measured Measure(double strength, double depth, double strongest, const CleanThreshold& threshold)
{
    if (threshold.byDepth) return {depth, depth > threshold.limit};
    if (!(strongest > 0.0)) return {0.0, false};
    return {strength / strongest, strength > threshold.limit * strongest};
}

// The clean stretches among the occupants that count, split by width; the least bad when none is
// wide enough. Only the occupants that count can set a least bad stretch's largest measure: one
// that stays at or below the threshold everywhere would be clean.
CleanWindows Search(const std::vector<Occupant>& counted, const PsiWindow& window, double width)
{
    std::vector<AzimuthInterval> occupied;
    for (const Occupant& o : counted) occupied.push_back(o.interval);
    CleanWindows result;
    for (const AzimuthInterval& w : FreeStretches(occupied, window, 0.0)) {
        if (w.Width() >= width) {
            result.windows.push_back(w);
        } else {
            ++result.narrower;
        }
    }
    if (result.windows.empty()) result.leastBad = LeastBadStretches(counted, window, width, kMostLeastBad);
    return result;
}

double StrongestEvent(const std::vector<Event>& events, const PsiWindow& window)
{
    double strongest = 0.0;
    for (const Event& e : events) {
        if (window.Contains(e.psi)) strongest = std::max(strongest, e.strength);
    }
    return strongest;
}

}  // namespace

PsiWindow CleanWindowReach(const PsiWindow& window)
{
    return window.FullCircle() ? window : PsiWindow{window.min - 360.0, window.max + 360.0};
}

CleanWindows CleanEventWindows(const std::vector<Event>& events, const PsiWindow& window, double width,
                               const CleanThreshold& threshold, double divergence)
{
    const double strongest = StrongestEvent(events, window);
    std::vector<Occupant> counted;
    for (const Event& e : events) {
        const Measured m = Measure(e.strength, e.depth, strongest, threshold);
        if (!m.counts) continue;
        const double reach = OccupiedHalfWidth(divergence, e.widthDeg);
        const AzimuthInterval o{e.psiMin - reach, e.psiMax + reach};
        if (window.FullCircle() || (o.end >= window.min && o.start <= window.max)) counted.push_back({o, m.measure, e.x});
    }
    return Search(counted, window, width);
}

CleanWindows SearchCleanEventWindows(const Crystal& crystal, const ScanFrame& frame, const Band& band, const Beam& beam,
                                     const PsiWindow& window, double width, const CleanThreshold& threshold, double divergence)
{
    const double keV = kHcKeVAngstrom / band.lambda;
    std::vector<Event> events = FindEvents(crystal, frame, band, CleanWindowReach(window));
    if (threshold.byDepth) {
        // Every depth decides; the width comes with it at little more cost.
        SetEventWidths(crystal, frame, keV, beam, &events);
    } else {
        const double strongest = StrongestEvent(events, window);
        std::vector<std::size_t> counting;
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (Measure(events[i].strength, 0.0, strongest, threshold).counts) counting.push_back(i);
        }
        std::vector<GlitchRequest> requests;
        for (const std::size_t i : counting) requests.push_back({&frame, events[i].x, events[i].psi, keV});
        const std::vector<AzimuthDip> dips = DipsInAzimuth(crystal, requests, beam);
        for (std::size_t k = 0; k < counting.size(); ++k) {
            events[counting[k]].depth = dips[k].depth, events[counting[k]].widthDeg = dips[k].widthDeg;
        }
    }
    return CleanEventWindows(events, window, width, threshold, divergence);
}

namespace {

// The azimuths of a line's stretch at which its dip (with those of the lines that coincide with it)
// is deeper than `limit`: where the depth, taken as linear between the samples, exceeds it, each
// part widened by half the widest width of its samples (or the divergence).
void DeeperParts(const std::vector<LineSample>& samples, double limit, double divergence, Miller x, std::vector<Occupant>* counted)
{
    if (samples.empty()) return;
    if (samples.front().psi == samples.back().psi) {  // a line on the sphere at every energy: one azimuth
        double deepest = 0.0, widest = 0.0;
        for (const LineSample& s : samples) deepest = std::max(deepest, s.together), widest = std::max(widest, s.widthDeg);
        const double r = OccupiedHalfWidth(divergence, widest);
        if (deepest > limit) counted->push_back({{samples.front().psi - r, samples.front().psi + r}, deepest, x});
        return;
    }
    for (std::size_t k = 0; k + 1 < samples.size(); ++k) {
        const LineSample &a = samples[k], &b = samples[k + 1];
        if (!(a.together > limit || b.together > limit)) continue;
        const double from = a.together > limit ? a.psi : a.psi + (b.psi - a.psi) * (limit - a.together) / (b.together - a.together);
        const double to = b.together > limit ? b.psi : a.psi + (b.psi - a.psi) * (limit - a.together) / (b.together - a.together);
        const double r = OccupiedHalfWidth(divergence, std::max(a.widthDeg, b.widthDeg));
        counted->push_back({{from - r, to + r}, std::max(a.together, b.together), x});
    }
}

// Each counted line's one or two stretches, by its strength: their ends widened by the glitch's own
// width there, the widths of every end asked for at once.
std::vector<Occupant> StrongLines(const Crystal& crystal, const ScanFrame& frame, const std::vector<GlitchLine>& lines,
                                  const std::vector<std::size_t>& counting, const std::vector<double>& measures, double eMin, double eMax,
                                  double divergence, const Beam& beam)
{
    struct End {
        double psi, keV;
    };
    const auto ends = [&](const GlitchLine& line) {
        const double low = line.lowEnergyHalfWidth;
        if (line.always) return std::vector<End>{{line.centre, std::max(eMin, line.cutoffEnergy)}};
        if (low > 0.0) return std::vector<End>{{line.from, eMax}, {line.centre - low, eMin}, {line.centre + low, eMin}, {line.to, eMax}};
        return std::vector<End>{{line.from, eMax}, {line.to, eMax}};
    };
    std::vector<GlitchRequest> requests;
    for (const std::size_t i : counting) {
        for (const End& e : ends(lines[i])) requests.push_back({&frame, lines[i].x, e.psi, e.keV});
    }
    const std::vector<AzimuthDip> dips = DipsInAzimuth(crystal, requests, beam);
    std::vector<Occupant> counted;
    std::size_t next = 0;
    for (std::size_t k = 0; k < counting.size(); ++k) {
        const GlitchLine& line = lines[counting[k]];
        const auto reach = [&] { return OccupiedHalfWidth(divergence, dips[next++].widthDeg); };
        const double low = line.lowEnergyHalfWidth;
        if (line.always) {
            const double r = reach();
            counted.push_back({{line.centre - r, line.centre + r}, measures[k], line.x});
        } else if (low > 0.0) {  // the line dips below eMin around its centre
            const double from = line.from - reach(), belowLow = line.centre - low + reach();
            const double belowHigh = line.centre + low - reach(), to = line.to + reach();
            counted.push_back({{from, belowLow}, measures[k], line.x});
            counted.push_back({{belowHigh, to}, measures[k], line.x});
        } else {
            const double from = line.from - reach(), to = line.to + reach();
            counted.push_back({{from, to}, measures[k], line.x});
        }
    }
    return counted;
}

// The occupants of one range, each marked with it.
std::vector<Occupant> RangeOccupants(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window, const EnergyRange& range,
                                     int index, double divergence, const Beam& beam)
{
    const double eMin = range.eMin, eMax = range.eMax;
    std::vector<GlitchLine> lines = GlitchMap(crystal, frame, window, eMin, eMax);
    double strongest = 0.0;
    for (const GlitchLine& line : lines) strongest = std::max(strongest, line.strength);
    // Over a full circle the lines are taken modulo 360: those of the window are all there are.
    if (!window.FullCircle()) lines = GlitchMap(crystal, frame, {window.min - kLineReach, window.max + kLineReach}, eMin, eMax);
    std::vector<Occupant> counted;
    if (range.threshold.byDepth) {
        // A mirror pair's lines are one curve with one four-beam dip: counted once.
        std::erase_if(lines, [](const GlitchLine& line) { return line.dipAtPartner; });
        // Lines a tenth of the limit deep where they meet the range's lowest energy are sampled
        // there alone, which spares most of the dips: along a line a glitch grows shallower with
        // energy, and nowhere tried tenfold deeper (a brute force of spectra checks the windows).
        const std::vector<LineProfile> profiles = LineProfiles(crystal, frame, eMin, eMax, beam, lines, range.threshold.limit / 10.0);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            for (const std::vector<LineSample>& stretch : profiles[i].stretches) {
                DeeperParts(stretch, range.threshold.limit, divergence, lines[i].x, &counted);
            }
        }
        CrossingOccupants(lines, profiles, window, range.threshold.limit, divergence, &counted);
    } else {
        std::vector<std::size_t> counting;
        std::vector<double> measures;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Measured m = Measure(lines[i].strength, 0.0, strongest, range.threshold);
            if (m.counts) counting.push_back(i), measures.push_back(m.measure);
        }
        counted = StrongLines(crystal, frame, lines, counting, measures, eMin, eMax, divergence, beam);
    }
    for (Occupant& o : counted) o.range = index;
    return counted;
}

}  // namespace

CleanWindows CleanEnergyWindows(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window, double eMin,
                                double eMax, const CleanThreshold& threshold, double divergence, const Beam& beam,
                                double minWidth)
{
    return CleanEnergyWindows(crystal, frame, window, {EnergyRange{eMin, eMax, threshold}}, divergence, beam, minWidth);
}

CleanWindows CleanEnergyWindows(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window,
                                const std::vector<EnergyRange>& ranges, double divergence, const Beam& beam, double minWidth)
{
    std::vector<Occupant> counted;
    for (std::size_t r = 0; r < ranges.size(); ++r) {
        const std::vector<Occupant> of = RangeOccupants(crystal, frame, window, ranges[r], static_cast<int>(r), divergence, beam);
        counted.insert(counted.end(), of.begin(), of.end());
    }
    CleanWindows result = Search(counted, window, minWidth);
    std::stable_sort(result.windows.begin(), result.windows.end(),
                     [](const AzimuthInterval& a, const AzimuthInterval& b) { return a.Width() > b.Width(); });
    return result;
}
