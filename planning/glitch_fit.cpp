#include "planning/glitch_fit.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "io/run_error.h"
#include "planning/glitch_depth.h"
#include "planning/glitches.h"
#include "planning/parallel_for.h"
#include "planning/sphere_reflections.h"
#include "setup/units.h"

namespace {

// The deepest dips that vote for the azimuth; the rest join in the refinement.
constexpr std::size_t kVotingDips = 40;
// The best-counted azimuths and offsets that are refined.
constexpr std::size_t kRefined = 64;
// A fit explains the scan when at least this many dips, and this share of them, pair up.
constexpr int kFewestMatched = 3;
constexpr double kExplainedShare = 0.3;

// One reflection's glitch line, in the energy of the fundamental.
struct FitLine {
    double centre;   // psi_c, degrees
    double spread;   // C, 1/angstrom: of the locus of the dip's deepest point
    double quarterG2;  // |n G|^2 / 4, 1/angstrom^2
    int order;
    Miller x;
    double top;      // keV: the line's lowest energy
    double from;     // keV: where it enters the range (its top, or eMin)
    double weight = 0.0;  // its estimated depth where it enters the range, times its order's share

    // The energy at `d` degrees from the centre (|d| < 90).
    double EnergyAt(double d) const
    {
        const double across = spread / std::cos(d * kRadiansPerDegree);
        return kHcKeVAngstrom * std::sqrt(quarterG2 + across * across) / order;
    }
    // How far from the centre (degrees) the line has risen to `keV` (at least its top).
    double Reach(double keV) const
    {
        const double k = order * keV / kHcKeVAngstrom;
        const double across = std::sqrt(std::max(0.0, k * k - quarterG2));
        return across > spread ? std::acos(spread / across) / kRadiansPerDegree : 0.0;
    }
    // dE/dpsi at `d` degrees from the centre, eV per degree.
    double Slope(double d) const
    {
        const double c = std::cos(d * kRadiansPerDegree), across = spread / c;
        const double root = std::sqrt(quarterG2 + across * across);
        return kHcKeVAngstrom * 1000.0 / order * across * across * std::tan(d * kRadiansPerDegree) / root * kRadiansPerDegree;
    }
};

// psi - centre brought into (-180, 180].
double Offset(double psi, double centre)
{
    const double d = std::fmod(psi - centre, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

// The weight of the lines a scan of `dips` dips shows (below).
double VisibleWeight(const std::vector<FitLine>& lines, std::size_t dips, double eMax);

// Every line that reaches into the energy range, of every order the structure lets through,
// with its weight.
std::vector<FitLine> LinesOf(const Crystal& crystal, const ScanFrame& frame, const FitRequest& request, std::size_t dips)
{
    double total = 0.0;
    for (const double c : request.content) total += c;
    std::vector<FitLine> lines;
    std::vector<ScanFrame> frames;
    for (int n = 1; n <= request.harmonics && n <= static_cast<int>(request.content.size()); ++n) {
        frames.push_back(HarmonicFrame(frame, n));
        const ScanFrame& harmonic = frames.back();
        if (!(request.content[static_cast<std::size_t>(n - 1)] > 0.0)) continue;
        if (n > 1 && (crystal.Extinct(harmonic.primary) ||
                      crystal.At(n * request.eMax)->Modulus(harmonic.primary) == 0.0)) {
            continue;
        }
        for (const SphereReflection& r : GlitchReflections(crystal, harmonic, n * request.eMax)) {
            if (r.Always()) continue;  // on the sphere at one azimuth at every energy: no line to fit
            FitLine line{r.centre, r.spread, harmonic.length * harmonic.length / 4.0, n, r.x, 0.0, 0.0};
            line.top = kHcKeVAngstrom * std::sqrt(line.quarterG2 + r.spread * r.spread) / n;
            line.from = std::max(line.top, request.eMin);
            if (line.from <= request.eMax) lines.push_back(line);
        }
    }
    // Each line weighed by a quick estimate of its dip where it enters the range; its energies
    // are those of the dip's deepest point, which refraction moves off the Bragg condition. There
    // the central ray's deviation is alpha = lambda^2 (G.X - |X|^2) (k_perp / k_line - 1), k_line
    // the beam's component across G on the line, and the loss centres at alpha = peak, which
    // scales with lambda^2 as the susceptibilities do: the deepest point keeps k_perp =
    // k_line (1 + peak / (lambda^2 (G.X - |X|^2))) along the whole line.
    std::vector<double> spreads(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) spreads[i] = lines[i].spread;
    const auto weigh = [&](FitLine& line, double spread, Sampling sampling) {
        line.spread = spread;  // the line of the Bragg condition, where the estimate is taken
        const ScanFrame& harmonic = frames[static_cast<std::size_t>(line.order - 1)];
        const double share = request.content[static_cast<std::size_t>(line.order - 1)] / total;
        const double keV = line.order * line.from;
        const DipEstimate dip = EstimateDip(crystal, harmonic, line.x, line.centre + line.Reach(line.from), keV, request.beam, sampling);
        line.weight = share * dip.depth;
        const Vec3 x = crystal.lattice().Reciprocal(line.x);
        const double coupling = Dot(harmonic.G, x) - Dot(x, x), lambda = kHcKeVAngstrom / keV;
        const double shift = coupling != 0.0 ? dip.peak / (lambda * lambda * coupling) : 0.0;
        line.spread = spread * (std::isfinite(shift) && std::fabs(shift) < 0.01 ? 1.0 + shift : 1.0);
        line.top = kHcKeVAngstrom * std::sqrt(line.quarterG2 + line.spread * line.spread) / line.order;
    };
    // Every line roughly first; those that may be visible (to a factor of four below the visible
    // weight, the rough estimate's error) again with the coarse map, which places their deepest
    // points to a few tenths of an eV.
    ParallelFor(lines.size(), [&](std::size_t i) { weigh(lines[i], spreads[i], kRoughSampling); });
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return lines[a].weight > lines[b].weight; });
    std::vector<FitLine> sorted;
    for (const std::size_t i : order) sorted.push_back(lines[i]);
    const double rough = VisibleWeight(sorted, dips, request.eMax);
    std::vector<std::size_t> again;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].weight >= rough / 4.0) again.push_back(i);
    }
    ParallelFor(again.size(), [&](std::size_t k) { weigh(lines[again[k]], spreads[again[k]], kCoarseSampling); });
    std::erase_if(lines, [](const FitLine& line) { return !(line.weight > 0.0); });
    std::stable_sort(lines.begin(), lines.end(), [](const FitLine& a, const FitLine& b) { return a.weight > b.weight; });
    return lines;
}

// The weight above which the lines met at one azimuth are, on average over the turn, about as
// many as the dips (and a few more): the lines a scan of that many dips shows.
double VisibleWeight(const std::vector<FitLine>& lines, std::size_t dips, double eMax)
{
    const double wanted = 1.5 * static_cast<double>(dips) + 3.0;
    double met = 0.0;
    for (const FitLine& line : lines) {  // deepest first
        met += 2.0 * (line.Reach(eMax) - line.Reach(line.from)) / 360.0;
        if (met >= wanted) return line.weight;
    }
    return lines.empty() ? 0.0 : lines.back().weight;
}

// Adds the azimuths [a, b] (b - a below 180) to `spans`, as the window holds them: folded into
// one turn from the window's start for a full circle, else at every turn that reaches into it.
void AddSpan(double a, double b, const PsiWindow& window, std::vector<AzimuthInterval>* spans)
{
    if (window.FullCircle()) {
        const double start = window.min + (a - window.min - 360.0 * std::floor((a - window.min) / 360.0));
        const double end = start + (b - a);
        spans->push_back({start, std::min(end, window.min + 360.0)});
        if (end > window.min + 360.0) spans->push_back({window.min, end - 360.0});
        return;
    }
    const double first = std::ceil((window.min - b) / 360.0), last = std::floor((window.max - a) / 360.0);
    for (double turn = first; turn <= last; turn += 1.0) {
        const double s = std::max(a + 360.0 * turn, window.min), e = std::min(b + 360.0 * turn, window.max);
        if (s <= e) spans->push_back({s, e});
    }
}

struct Candidate {
    int votes;
    double psi, offsetEV;
};

// For one offset, the azimuths at which the most voting dips meet a visible line, each dip
// counted once: the middle of every stretch of locally highest count.
void Vote(const std::vector<FitLine>& visible, const std::vector<MeasuredDip>& voters, double offsetEV, double tolerance,
          const PsiWindow& window, std::vector<Candidate>* candidates)
{
    std::vector<std::pair<double, int>> edges;
    std::vector<AzimuthInterval> spans;
    for (const MeasuredDip& dip : voters) {
        const double low = dip.energy - (offsetEV + tolerance) / 1000.0, high = dip.energy - (offsetEV - tolerance) / 1000.0;
        spans.clear();
        for (const FitLine& line : visible) {
            if (high < line.top) continue;
            const double near = low <= line.top ? 0.0 : line.Reach(low), far = line.Reach(high);
            AddSpan(line.centre + near, line.centre + far, window, &spans);
            AddSpan(line.centre - far, line.centre - near, window, &spans);
        }
        std::sort(spans.begin(), spans.end(),
                  [](const AzimuthInterval& a, const AzimuthInterval& b) { return a.start < b.start; });
        for (std::size_t i = 0; i < spans.size();) {
            double end = spans[i].end;
            std::size_t j = i + 1;
            for (; j < spans.size() && spans[j].start <= end; ++j) end = std::max(end, spans[j].end);
            edges.push_back({spans[i].start, +1});
            edges.push_back({end, -1});
            i = j;
        }
    }
    // At one azimuth a span that starts counts with one that ends there.
    std::sort(edges.begin(), edges.end(), [](const auto& a, const auto& b) { return std::tie(a.first, b.second) < std::tie(b.first, a.second); });
    int count = 0, previous = 0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        count += edges[i].second;
        const bool rising = edges[i].second > 0 && (i + 1 == edges.size() || edges[i + 1].second < 0);
        if (rising && count > previous && i + 1 < edges.size()) {
            candidates->push_back({count, (edges[i].first + edges[i + 1].first) / 2.0, offsetEV});
        }
        previous = count;
    }
}

struct Pair {
    std::size_t dip, line;
    double residualEV, slope;  // eV; eV per degree
};

// Each dip paired with the nearest line at psi, within the tolerance, each line at most once
// (the closest pairs first).
std::vector<Pair> Pairs(const std::vector<FitLine>& lines, const std::vector<MeasuredDip>& dips, double psi, double offsetEV,
                        double tolerance, double eMin, double eMax)
{
    std::vector<std::pair<double, std::size_t>> energies;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double d = Offset(psi, lines[i].centre);
        if (!(std::fabs(d) < 90.0)) continue;
        const double e = lines[i].EnergyAt(d);
        if (e >= eMin - 0.1 && e <= eMax + 0.1) energies.push_back({e, i});
    }
    std::sort(energies.begin(), energies.end());
    std::vector<Pair> all;
    for (std::size_t k = 0; k < dips.size(); ++k) {
        const double target = dips[k].energy - offsetEV / 1000.0;
        auto it = std::lower_bound(energies.begin(), energies.end(), std::pair{target - tolerance / 1000.0, std::size_t{0}});
        for (; it != energies.end() && it->first <= target + tolerance / 1000.0; ++it) {
            all.push_back({k, it->second, (target - it->first) * 1000.0, 0.0});
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Pair& a, const Pair& b) { return std::fabs(a.residualEV) < std::fabs(b.residualEV); });
    std::vector<bool> dipTaken(dips.size()), lineTaken(lines.size());
    std::vector<Pair> pairs;
    for (Pair p : all) {
        if (dipTaken[p.dip] || lineTaken[p.line]) continue;
        dipTaken[p.dip] = lineTaken[p.line] = true;
        p.slope = lines[p.line].Slope(Offset(psi, lines[p.line].centre));
        pairs.push_back(p);
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.dip < b.dip; });
    return pairs;
}

struct Solution {
    double psi, offsetEV;
    std::vector<Pair> pairs;
    double rms = 0.0, psiError = 0.0, offsetError = 0.0;
    int predicted = 0;
    double score = 0.0;
    bool determined = false;  // the pairs fix psi
};

// The least-squares psi and offset for the pairs, with their standard errors.
void Solve(const std::vector<Pair>& pairs, double* psiStep, double* offsetStep, Solution* s)
{
    double saa = 0.0, sa = 0.0, sr = 0.0, sar = 0.0, srr = 0.0;
    for (const Pair& p : pairs) {
        saa += p.slope * p.slope, sa += p.slope, sr += p.residualEV, sar += p.slope * p.residualEV;
        srr += p.residualEV * p.residualEV;
    }
    const double m = static_cast<double>(pairs.size());
    const double det = m * saa - sa * sa;
    s->rms = m > 0.0 ? std::sqrt(srr / m) : 0.0;
    s->determined = m >= 2.0 && det > 1e-12 * m * saa;
    if (!s->determined) {
        *psiStep = 0.0;
        *offsetStep = m > 0.0 ? sr / m : 0.0;
        return;
    }
    *psiStep = (m * sar - sa * sr) / det;
    *offsetStep = (saa * sr - sa * sar) / det;
    const double variance = m > 2.0 ? srr / (m - 2.0) : srr;
    s->psiError = std::sqrt(variance * m / det);
    s->offsetError = std::sqrt(variance * saa / det);
}

// psi brought into the window: a full circle's first turn, or left where it is.
double IntoWindow(double psi, const PsiWindow& window)
{
    if (!window.FullCircle()) return psi;
    return window.min + (psi - window.min - 360.0 * std::floor((psi - window.min) / 360.0));
}

struct FitContext {
    const std::vector<FitLine>& lines;
    const std::vector<MeasuredDip>& dips;
    const FitRequest& request;
    double visible;    // the weight of a line the scan shows
    double tolerance;  // eV
};

Solution Refine(const FitContext& c, double psi, double offsetEV)
{
    Solution s{psi, offsetEV, {}};
    for (int step = 0; step < 12; ++step) {
        s.pairs = Pairs(c.lines, c.dips, s.psi, s.offsetEV, c.tolerance, c.request.eMin, c.request.eMax);
        double dPsi = 0.0, dOffset = 0.0;
        Solve(s.pairs, &dPsi, &dOffset, &s);
        dPsi = std::clamp(dPsi, -0.25, 0.25);
        dOffset = std::clamp(dOffset, -c.tolerance, c.tolerance);
        s.psi = IntoWindow(s.psi + dPsi, c.request.window);
        s.offsetEV += dOffset;
        if (std::fabs(dPsi) < 1e-9 && std::fabs(dOffset) < 1e-7) break;
    }
    s.pairs = Pairs(c.lines, c.dips, s.psi, s.offsetEV, c.tolerance, c.request.eMin, c.request.eMax);
    double unused = 0.0, unusedToo = 0.0;
    Solve(s.pairs, &unused, &unusedToo, &s);
    for (const FitLine& line : c.lines) {
        if (line.weight < c.visible) break;  // deepest first
        const double d = Offset(s.psi, line.centre);
        if (std::fabs(d) < 90.0) {
            const double e = line.EnergyAt(d);
            s.predicted += e >= c.request.eMin && e <= c.request.eMax;
        }
    }
    const double m = static_cast<double>(s.pairs.size());
    s.score = 2.0 * m / (static_cast<double>(c.dips.size()) + std::max(m, static_cast<double>(s.predicted)));
    return s;
}

// Azimuths the crystal's symmetry makes equivalent give the same spectrum; rounding may still pair
// one dip more or less at one of them, or move the rms a little.
bool EquallyGood(const Solution& a, const Solution& b)
{
    return std::fabs(a.score - b.score) <= 0.02 * std::max(a.score, b.score) &&
           std::fabs(a.rms - b.rms) <= 0.1 * std::max(a.rms, b.rms) + 1e-3;
}

}  // namespace

GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const DipSearch& search, const FitRequest& request)
{
    GlitchFit fit;
    const std::vector<MeasuredDip>& dips = search.dips;
    fit.toleranceEV = std::max(3.0, 3.0 * search.stepEV);
    for (const MeasuredDip& dip : dips) fit.dips.push_back(DipMatch{dip});
    fit.unmatched = static_cast<int>(dips.size());
    if (search.points < 5) {
        fit.why = Printed("only %d points of the scan lie in the range", search.points);
        return fit;
    }
    if (dips.empty()) {
        fit.why = Printed("the scan has no dip deeper than %.4f of its I0 (%d points, noise %.4f)", search.threshold,
                          search.points, search.noise);
        return fit;
    }
    const std::vector<FitLine> lines = LinesOf(crystal, frame, request, dips.size());
    const double visible = VisibleWeight(lines, dips.size(), request.eMax);
    std::vector<FitLine> voting;
    for (const FitLine& line : lines) {
        if (line.weight >= visible) voting.push_back(line);
    }
    std::vector<MeasuredDip> voters = dips;
    std::stable_sort(voters.begin(), voters.end(), [](const MeasuredDip& a, const MeasuredDip& b) { return a.depth > b.depth; });
    voters.resize(std::min(voters.size(), kVotingDips));
    // Lines down to half the visible depth may pair with a dip: a depth is a model's.
    std::vector<FitLine> pairing;
    for (const FitLine& line : lines) {
        if (line.weight >= visible / 2.0) pairing.push_back(line);
    }
    const double coarse = std::max(2.0, 2.0 * search.stepEV);
    const int offsets = static_cast<int>(std::ceil(request.widestOffsetEV / (2.0 * coarse)));
    std::vector<std::vector<Candidate>> votes(static_cast<std::size_t>(2 * offsets + 1));
    ParallelFor(votes.size(), [&](std::size_t k) {
        const double offsetEV = 2.0 * coarse * (static_cast<double>(k) - offsets);
        Vote(voting, voters, offsetEV, coarse, request.window, &votes[k]);
    });
    std::vector<Candidate> candidates;
    for (const auto& v : votes) candidates.insert(candidates.end(), v.begin(), v.end());
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) { return a.votes > b.votes; });
    candidates.resize(std::min(candidates.size(), kRefined));

    const FitContext context{pairing, dips, request, visible, fit.toleranceEV};
    std::vector<Solution> solutions(candidates.size());
    ParallelFor(solutions.size(), [&](std::size_t i) { solutions[i] = Refine(context, candidates[i].psi, candidates[i].offsetEV); });
    std::erase_if(solutions, [&](const Solution& s) {
        return !s.determined || !request.window.Contains(s.psi) || std::fabs(s.offsetEV) > request.widestOffsetEV + fit.toleranceEV;
    });
    if (solutions.empty()) {
        fit.why = Printed("no azimuth pairs two of the %zu dips with predicted glitches within %.1f eV", dips.size(), fit.toleranceEV);
        return fit;
    }
    std::stable_sort(solutions.begin(), solutions.end(), [](const Solution& a, const Solution& b) {
        return a.score != b.score ? a.score > b.score : a.rms < b.rms;
    });
    // Among the equally good azimuths, the one nearest the nominal azimuth, else nearest 0.
    const double aim = request.nominalPsi.value_or(0.0);
    std::vector<const Solution*> equal;
    for (const Solution& s : solutions) {
        if (!EquallyGood(s, solutions.front())) continue;
        const bool seen = std::any_of(equal.begin(), equal.end(), [&](const Solution* e) {
            return std::fabs(Offset(e->psi, s.psi)) < std::max(0.01, 5.0 * e->psiError);
        });
        if (!seen) equal.push_back(&s);
    }
    std::stable_sort(equal.begin(), equal.end(), [&](const Solution* a, const Solution* b) {
        const double da = std::fabs(Offset(a->psi, aim)), db = std::fabs(Offset(b->psi, aim));
        return da != db ? da < db : a->psi < b->psi;
    });
    const Solution& best = *equal.front();
    for (std::size_t i = 1; i < equal.size(); ++i) fit.equivalents.push_back(equal[i]->psi);
    std::sort(fit.equivalents.begin(), fit.equivalents.end());
    fit.psi = best.psi, fit.psiError = best.psiError;
    fit.offsetEV = best.offsetEV, fit.offsetError = best.offsetError;
    fit.rmsEV = best.rms;
    fit.matched = static_cast<int>(best.pairs.size());
    fit.unmatched = static_cast<int>(dips.size()) - fit.matched;
    fit.predicted = best.predicted;
    for (const Pair& p : best.pairs) {
        DipMatch& match = fit.dips[p.dip];
        const FitLine& line = pairing[p.line];
        match.matched = true;
        match.x = line.x;
        match.order = line.order;
        match.predictedKeV = line.EnergyAt(Offset(best.psi, line.centre)) + best.offsetEV / 1000.0;
        match.residualEV = (match.dip.energy - match.predictedKeV) * 1000.0;
        match.lineDepth = line.weight;
    }
    const double needed = std::max(static_cast<double>(kFewestMatched), kExplainedShare * static_cast<double>(dips.size()));
    fit.found = fit.matched >= needed;
    if (!fit.found) {
        fit.why = Printed("at best %d of the %zu dips lie within %.1f eV of a predicted glitch (psi %.3f degrees)", fit.matched,
                          dips.size(), fit.toleranceEV, fit.psi);
    }
    return fit;
}
