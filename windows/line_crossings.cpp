#include "windows/line_crossings.h"

#include <algorithm>
#include <cmath>

#include "glitches/spectrum.h"
#include "scan/parallel_for.h"
#include "setup/units.h"

namespace {

// A line's energy (keV) and its slope (eV per degree) at psi: E^2 = Ec^2 + (Et^2 - Ec^2) / cos^2(psi - centre).
void LineAt(const GlitchLine& line, double psi, double* keV, double* slope)
{
    const double d = (psi - line.centre) * kRadiansPerDegree, c = std::cos(d);
    const double rise = line.topEnergy * line.topEnergy - line.cutoffEnergy * line.cutoffEnergy;
    *keV = std::sqrt(line.cutoffEnergy * line.cutoffEnergy + rise / (c * c));
    *slope = rise * std::tan(d) / (c * c * *keV) * kRadiansPerDegree * 1000.0;
}

// A line at psi: its energy, its glitch's half width along the energy (keV, from its width in
// azimuth and the line's slope), its depth.
struct LinePoint {
    double keV, halfKeV, depth, widthDeg, slope;
};
bool PointAt(const GlitchLine& line, const LineProfile& profile, double psi, LinePoint* p)
{
    if (!ProfileAt(profile, psi, &p->depth, &p->widthDeg)) return false;
    LineAt(line, psi, &p->keV, &p->slope);
    p->halfKeV = p->widthDeg * std::fabs(p->slope) / 2000.0;
    return true;
}

// The azimuths (modulo 180) at which two lines of one cut-off meet: a |cos(psi - cb)| =
// b |cos(psi - ca)|, a and b the lines' sqrt(Et^2 - Ec^2).
std::vector<double> Crossings(const GlitchLine& p, const GlitchLine& q)
{
    const double ec2 = p.cutoffEnergy * p.cutoffEnergy;
    const double a = std::sqrt(std::max(0.0, p.topEnergy * p.topEnergy - ec2)), b = std::sqrt(std::max(0.0, q.topEnergy * q.topEnergy - ec2));
    const double ca = p.centre * kRadiansPerDegree, cb = q.centre * kRadiansPerDegree;
    std::vector<double> found;
    for (const double sign : {1.0, -1.0}) {
        // cos psi (a cos cb - s b cos ca) + sin psi (a sin cb - s b sin ca) = 0
        const double x = a * std::cos(cb) - sign * b * std::cos(ca), y = a * std::sin(cb) - sign * b * std::sin(ca);
        if (x != 0.0 || y != 0.0) found.push_back(std::atan2(-x, y) / kRadiansPerDegree);
    }
    return found;
}

// The lines are met column by column of azimuth: in each, every line's stretch there as an energy
// interval (widened by its half width) with the least and most depth it has over the column, so
// that only lines whose intervals overlap are paired.
constexpr double kColumnDegrees = 1.0;

struct Span {
    std::size_t line;
    double shift;  // the turn (degrees) added to the line's own azimuths
    double lo, hi;
    double least, most;  // depth
};

// The spans of one stretch of a line, shifted by a turn, into the columns from `start`.
void AddSpans(const GlitchLine& line, const LineProfile& profile, const std::vector<LineSample>& stretch, std::size_t index, double shift,
              double start, std::vector<std::vector<Span>>* columns)
{
    const double first = stretch.front().psi + shift, last = stretch.back().psi + shift;
    const long from = std::max(0L, static_cast<long>(std::floor((first - start) / kColumnDegrees)));
    const long to = std::min(static_cast<long>(columns->size()) - 1, static_cast<long>(std::floor((last - start) / kColumnDegrees)));
    for (long c = from; c <= to; ++c) {
        const double c0 = start + c * kColumnDegrees, c1 = c0 + kColumnDegrees;
        const double p0 = std::max(c0, first) - shift, p1 = std::min(c1, last) - shift;
        std::vector<double> at{p0, p1};
        if (line.centre > p0 && line.centre < p1) at.push_back(line.centre);
        for (const LineSample& s : stretch) {
            if (s.psi > p0 && s.psi < p1) at.push_back(s.psi);
        }
        Span span{index, shift, INFINITY, -INFINITY, INFINITY, 0.0};
        for (const double psi : at) {
            LinePoint p{};
            if (!PointAt(line, profile, psi, &p)) continue;
            span.lo = std::min(span.lo, p.keV - p.halfKeV), span.hi = std::max(span.hi, p.keV + p.halfKeV);
            span.least = std::min(span.least, p.depth), span.most = std::max(span.most, p.depth);
        }
        if (span.most > 0.0) (*columns)[static_cast<std::size_t>(c)].push_back(span);
    }
}

}  // namespace

bool ProfileAt(const LineProfile& profile, double psi, double* depth, double* widthDeg)
{
    for (const std::vector<LineSample>& stretch : profile.stretches) {
        for (std::size_t k = 0; k + 1 < stretch.size(); ++k) {
            const LineSample &a = stretch[k], &b = stretch[k + 1];
            if (!(psi >= a.psi && psi <= b.psi) || !(b.psi > a.psi)) continue;
            const double t = (psi - a.psi) / (b.psi - a.psi);
            *depth = a.depth + t * (b.depth - a.depth), *widthDeg = a.widthDeg + t * (b.widthDeg - a.widthDeg);
            return true;
        }
    }
    return false;
}

void CrossingOccupants(const std::vector<GlitchLine>& lines, const std::vector<LineProfile>& profiles, const PsiWindow& window,
                       double limit, double divergence, std::vector<Occupant>* counted)
{
    // Lines too shallow to lift any crossing over the limit beside the deepest are left out.
    double deepest = 0.0;
    for (const LineProfile& p : profiles) deepest = std::max(deepest, p.deepest);
    double start = INFINITY, end = -INFINITY;
    std::vector<std::size_t> taken;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].always || !(profiles[i].deepest > 0.0) || !(profiles[i].deepest + deepest > limit)) continue;
        taken.push_back(i);
        for (const std::vector<LineSample>& s : profiles[i].stretches) start = std::min(start, s.front().psi), end = std::max(end, s.back().psi);
    }
    if (taken.empty()) return;
    // Over a full circle each line is met again a turn on either side, and a crossing is kept in
    // the turn of the window alone.
    const bool circle = window.FullCircle();
    const double keepFrom = circle ? window.min : -INFINITY, keepTo = circle ? window.min + 360.0 : INFINITY;
    if (circle) start = std::max(start, window.min - kColumnDegrees), end = std::min(end, window.min + 360.0 + kColumnDegrees);
    if (!(end > start)) return;
    std::vector<std::vector<Span>> columns(static_cast<std::size_t>(std::ceil((end - start) / kColumnDegrees)) + 1);
    for (const std::size_t i : taken) {
        for (const std::vector<LineSample>& stretch : profiles[i].stretches) {
            for (const double shift : circle ? std::vector<double>{-360.0, 0.0, 360.0} : std::vector<double>{0.0}) {
                AddSpans(lines[i], profiles[i], stretch, i, shift, start, &columns);
            }
        }
    }
    // Each column's crossings on its own, on every core; gathered in the columns' order.
    std::vector<std::vector<Occupant>> found(columns.size());
    ParallelFor(columns.size(), [&](std::size_t c) {
        std::vector<Span>& spans = columns[c];
        std::vector<Occupant>* const out = &found[c];
        const double c0 = start + static_cast<double>(c) * kColumnDegrees, c1 = c0 + kColumnDegrees;
        std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.lo < b.lo; });
        double longest = 0.0, most = 0.0;
        for (const Span& s : spans) longest = std::max(longest, s.hi - s.lo), most = std::max(most, s.most);
        // The dips of every line within its half width of a crossing taken together as the spectrum
        // takes them, each its share of what the others leave.
        const auto together = [&](double psi, const LinePoint& at, double* widest) {
            double left = 1.0;
            const auto first = std::lower_bound(spans.begin(), spans.end(), at.keV - at.halfKeV - longest,
                                                [](const Span& s, double lo) { return s.lo < lo; });
            for (auto k = first; k != spans.end() && k->lo <= at.keV + at.halfKeV; ++k) {
                LinePoint pk{};
                if (k->hi < at.keV - at.halfKeV || !PointAt(lines[k->line], profiles[k->line], psi - k->shift, &pk)) continue;
                if (std::fabs(pk.keV - at.keV) <= pk.halfKeV + at.halfKeV) left = LeftAfter(left, pk.depth), *widest = std::max(*widest, pk.widthDeg);
            }
            return 1.0 - left;
        };
        for (std::size_t m = 0; m < spans.size(); ++m) {
            const Span& a = spans[m];
            // A line deeper than the limit alone all over the column blocks its azimuths itself.
            if (a.least > limit || !(a.most + most > limit)) continue;
            // Each pair that overlaps once, from the one of them that starts lower.
            for (std::size_t n = m + 1; n < spans.size() && spans[n].lo <= a.hi; ++n) {
                const Span& b = spans[n];
                if (b.line == a.line || b.least > limit || !(a.most + b.most > limit)) continue;
                const GlitchLine &p = lines[a.line], &q = lines[b.line];
                for (const double modulo : Crossings(p, q)) {
                    const double psi = c0 + std::fmod(std::fmod(modulo - c0, 180.0) + 180.0, 180.0);
                    if (!(psi < c1) || psi < keepFrom || psi >= keepTo) continue;
                    LinePoint pa{}, pb{};
                    if (!PointAt(p, profiles[a.line], psi - a.shift, &pa) || !PointAt(q, profiles[b.line], psi - b.shift, &pb)) continue;
                    if (std::fabs(pa.keV - pb.keV) > 1e-6 * pa.keV + 1e-12) continue;  // the other branch of |cos|
                    if (pa.depth > limit || pb.depth > limit) continue;
                    double widest = 0.0;
                    const double taken = together(psi, pa, &widest);
                    if (!(taken > limit)) continue;
                    const double apart = std::fabs(pa.slope - pb.slope);
                    const double reach = apart > 0.0 ? (pa.widthDeg * std::fabs(pa.slope) + pb.widthDeg * std::fabs(pb.slope)) / (2.0 * apart) : widest;
                    const double r = std::min(reach, 180.0) + OccupiedHalfWidth(divergence, widest);
                    out->push_back({{psi - r, psi + r}, taken, p.x});
                }
            }
        }
    }, 8);
    for (const std::vector<Occupant>& f : found) counted->insert(counted->end(), f.begin(), f.end());
}
