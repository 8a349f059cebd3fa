#include "windows/least_bad.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <queue>
#include <tuple>
#include <utility>

namespace {

constexpr std::size_t kNobody = std::numeric_limits<std::size_t>::max();

// An occupant's azimuths within the stretch searched, by the occupant's index.
struct Piece {
    double start, end;
    std::size_t owner;
};

// The occupants' azimuths within [from, to]: clipped to a window of part of a circle, or folded
// into the turn from `from` over a full circle (split at the seam), as FreeStretches takes them.
std::vector<Piece> Pieces(const std::vector<Occupant>& occupants, const PsiWindow& window, double from, double to)
{
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < occupants.size(); ++i) {
        const AzimuthInterval& o = occupants[i].interval;
        if (!window.FullCircle()) {
            const double start = std::max(o.start, from), end = std::min(o.end, to);
            if (start <= end) pieces.push_back({start, end, i});
        } else if (!(o.Width() < 360.0)) {
            pieces.push_back({from, to, i});
        } else {
            const double start = o.start - 360.0 * std::floor((o.start - from) / 360.0);
            const double end = start + o.Width();
            pieces.push_back({start, std::min(end, to), i});
            if (end > to) pieces.push_back({from, end - 360.0, i});
        }
    }
    return pieces;
}

// The azimuths cut into elements at every end of a piece: the open stretch between two
// neighbouring ends (element 2 i, from ends[i] to ends[i + 1]) and each end inside (element
// 2 i - 1, ends[i]); over a full circle the seam, ends[0] and ends.back() at once, comes last and
// is the neighbour of the first. Each element carries the largest measure of the pieces that
// cover it and whose it is.
struct Elements {
    std::vector<double> ends;
    std::vector<double> measure;
    std::vector<std::size_t> owner;
    bool circle;

    std::size_t Count() const { return measure.size(); }
    bool Open(std::size_t e) const { return e % 2 == 0; }
    double Width(std::size_t e) const { return Open(e) ? ends[e / 2 + 1] - ends[e / 2] : 0.0; }
    std::size_t Before(std::size_t e) const { return e > 0 ? e - 1 : circle ? Count() - 1 : kNobody; }
    std::size_t After(std::size_t e) const { return e + 1 < Count() ? e + 1 : circle ? 0 : kNobody; }
};

Elements Cut(const std::vector<Occupant>& occupants, const std::vector<Piece>& pieces, double from, double to, bool circle)
{
    Elements cut{{from, to}, {}, {}, circle};
    for (const Piece& p : pieces) cut.ends.push_back(p.start), cut.ends.push_back(p.end);
    std::sort(cut.ends.begin(), cut.ends.end());
    cut.ends.erase(std::unique(cut.ends.begin(), cut.ends.end()), cut.ends.end());
    const std::size_t stretches = cut.ends.size() - 1;
    cut.measure.assign(2 * stretches - 1 + (circle ? 1 : 0), 0.0);
    cut.owner.assign(cut.measure.size(), kNobody);
    std::vector<std::size_t> byStart(pieces.size());
    std::iota(byStart.begin(), byStart.end(), 0);
    std::sort(byStart.begin(), byStart.end(), [&](std::size_t a, std::size_t b) { return pieces[a].start < pieces[b].start; });
    // The pieces that have begun, the one of the largest measure on top; those that have ended are
    // dropped when they come to the top.
    const auto lower = [&](std::size_t a, std::size_t b) {
        return std::tie(occupants[pieces[a].owner].measure, b) < std::tie(occupants[pieces[b].owner].measure, a);
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(lower)> covering(lower);
    const auto largest = [&](std::size_t element) {
        if (covering.empty()) return;
        cut.owner[element] = pieces[covering.top()].owner;
        cut.measure[element] = occupants[cut.owner[element]].measure;
    };
    std::size_t next = 0;
    double seam = 0.0;
    std::size_t seamOwner = kNobody;
    for (std::size_t i = 0; i <= stretches; ++i) {
        const double at = cut.ends[i];
        while (next < byStart.size() && pieces[byStart[next]].start <= at) covering.push(byStart[next++]);
        while (!covering.empty() && pieces[covering.top()].end < at) covering.pop();
        if (i > 0 && i < stretches) {
            largest(2 * i - 1);
        } else if (circle && !covering.empty() && (seamOwner == kNobody || occupants[pieces[covering.top()].owner].measure > seam)) {
            seamOwner = pieces[covering.top()].owner;
            seam = occupants[seamOwner].measure;
        }
        if (i == stretches) break;
        while (!covering.empty() && pieces[covering.top()].end <= at) covering.pop();
        largest(2 * i);
    }
    if (circle) cut.measure.back() = seam, cut.owner.back() = seamOwner;
    return cut;
}

// Runs of neighbouring elements whose measures lie at or below the level reached, joined as the
// level rises; each run is known by its root.
struct Runs {
    const Elements& cut;
    std::vector<std::size_t> parent;
    std::vector<std::size_t> first, last;
    std::vector<double> width;
    std::vector<bool> listed, whole, active;

    explicit Runs(const Elements& elements)
        : cut(elements), parent(elements.Count()), first(elements.Count()), last(elements.Count()),
          width(elements.Count(), 0.0), listed(elements.Count(), false), whole(elements.Count(), false),
          active(elements.Count(), false)
    {
    }
    std::size_t Root(std::size_t e)
    {
        while (parent[e] != e) e = parent[e] = parent[parent[e]];
        return e;
    }
    // The run `left` followed by the run `right`; the same run twice closes the circle.
    void Join(std::size_t left, std::size_t right)
    {
        if (left == right) {
            whole[left] = true;
            return;
        }
        parent[right] = left;
        last[left] = last[right];
        width[left] += width[right];
        listed[left] = listed[left] || listed[right];
        whole[left] = whole[left] || whole[right];
    }
    void Activate(std::size_t e)
    {
        active[e] = true;
        parent[e] = first[e] = last[e] = e;
        width[e] = cut.Width(e);
        const std::size_t before = cut.Before(e), after = cut.After(e);
        if (before != kNobody && active[before]) Join(Root(before), Root(e));
        if (after != kNobody && active[after]) Join(Root(e), Root(after));
    }
    // The azimuths of a run: from the start of its first element to the end of its last, past the
    // seam when it runs over it.
    AzimuthInterval Stretch(std::size_t root) const
    {
        const std::vector<double>& ends = cut.ends;
        if (whole[root]) return {ends.front(), ends.back()};
        const double turn = ends.back() - ends.front();
        const std::size_t end = last[root] == cut.Count() - 1 && cut.circle ? ends.size() - 1 : last[root] / 2 + 1;
        AzimuthInterval s{ends[(first[root] + 1) / 2], ends[end] + (last[root] < first[root] ? turn : 0.0)};
        if (cut.circle && s.start >= ends.back()) s = {s.start - turn, s.end - turn};  // a run from the seam
        return s;
    }
};

}  // namespace

double OccupiedHalfWidth(double divergence, double width)
{
    const double taken = std::isfinite(width) ? std::min(width, 360.0) : 360.0;
    return std::max(divergence, taken) / 2.0;
}

std::vector<LeastBadStretch> LeastBadStretches(const std::vector<Occupant>& occupants, const PsiWindow& window, double width,
                                               std::size_t most)
{
    const double from = window.min, to = window.FullCircle() ? window.min + 360.0 : window.max;
    const Elements cut = Cut(occupants, Pieces(occupants, window, from, to), from, to, window.FullCircle());
    // The elements join their neighbours by measure, mildest first; among equal measures the
    // narrowest first, so that of stretches with the same largest measure the one whose worst
    // parts are narrowest opens first. Over a full circle the seam is no end of its own where the
    // same measure covers it and both its sides: the two pieces it cuts and the seam join as one.
    std::vector<std::vector<std::size_t>> units;
    const std::size_t seam = cut.Count() - 1, beforeSeam = cut.Count() >= 3 ? cut.Count() - 2 : 0;
    const bool seamless = cut.circle && cut.measure[0] == cut.measure[seam] && cut.measure[beforeSeam] == cut.measure[seam];
    for (std::size_t e = 0; e < cut.Count(); ++e) {
        if (seamless && (e == seam || e == beforeSeam)) continue;
        units.push_back(seamless && e == 0 ? std::vector<std::size_t>{beforeSeam, seam, 0} : std::vector<std::size_t>{e});
    }
    if (seamless && beforeSeam == 0) units.front() = {seam, 0};
    const auto unitWidth = [&](const std::vector<std::size_t>& unit) {
        double w = 0.0;
        for (const std::size_t e : unit) w += cut.Width(e);
        return w;
    };
    std::stable_sort(units.begin(), units.end(), [&](const auto& a, const auto& b) {
        return std::make_pair(cut.measure[a.front()], unitWidth(a)) < std::make_pair(cut.measure[b.front()], unitWidth(b));
    });
    Runs runs(cut);
    std::vector<LeastBadStretch> found;
    for (std::size_t k = 0; k < units.size() && found.size() < most; ++k) {
        // The run a unit makes or widens is listed once it is wide enough, unless it holds a
        // stretch listed before; the unit sets its largest measure.
        for (const std::size_t e : units[k]) runs.Activate(e);
        const std::size_t e = units[k].back();
        const std::size_t root = runs.Root(e);
        const AzimuthInterval s = runs.Stretch(root);
        if (runs.listed[root] || !(s.Width() >= width && s.Width() > 0.0)) continue;
        runs.listed[root] = true;
        const bool owned = cut.owner[e] != kNobody;
        found.push_back({s, cut.measure[e], owned ? occupants[cut.owner[e]].x : Miller{0, 0, 0}, owned ? occupants[cut.owner[e]].range : 0});
    }
    return found;
}
