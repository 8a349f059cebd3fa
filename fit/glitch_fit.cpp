#include "fit/glitch_fit.h"

#include <algorithm>
#include <cmath>

#include "io/run_error.h"
#include "fit/fit_search.h"
#include "fit/fit_significance.h"
#include "scan/symmetric_azimuths.h"

namespace {

// Refined azimuths closer than this are one.
constexpr double kSameAzimuthDegrees = 0.05;

// The azimuth of `candidates` nearest `aim`, the smaller of two as near (to rounding).
double Nearest(const std::vector<double>& candidates, double aim)
{
    double best = candidates.front();
    for (const double psi : candidates) {
        const double d = std::fabs(AzimuthOffset(psi, aim)), b = std::fabs(AzimuthOffset(best, aim));
        if (d < b - 1e-9 || (d < b + 1e-9 && psi < best)) best = psi;
    }
    return best;
}

// The scan's rows of the dip table for the solution.
void DescribeScan(const SearchScan& scan, const std::vector<MeasuredDip>& dips, const FitSolution& s, std::size_t index,
                  ScanMatch* match)
{
    match->dips.clear();
    for (const MeasuredDip& dip : dips) match->dips.push_back(DipMatch{dip});
    match->offsetEV = s.offsets[index];
    match->offsetError = s.offsetErrors[index];
    match->matched = static_cast<int>(s.pairs[index].size());
    match->unmatched = static_cast<int>(dips.size()) - match->matched;
    for (const FitPair& p : s.pairs[index]) {
        DipMatch& row = match->dips[p.dip];
        const FitLine& line = scan.pairing[p.line];
        row.matched = true;
        row.x = line.x;
        row.order = line.order;
        row.predictedKeV = line.EnergyAt(AzimuthOffset(s.psi, line.centre)) + s.offsets[index] / 1000.0;
        row.residualEV = (row.dip.energy - row.predictedKeV) * 1000.0;
        row.lineDepth = line.weight;
    }
}

// The scans that can take part (enough points, dips, a step fine enough to place them), each
// scan's part in `fit` begun: every dip unmatched, or why it is left out.
std::vector<std::size_t> AdmitScans(const std::vector<DipSearch>& searches, GlitchFit* fit)
{
    std::vector<std::size_t> used;
    for (const DipSearch& search : searches) {
        ScanMatch match;
        match.eMin = search.from, match.eMax = search.to;
        match.toleranceEV = std::max(kFinestToleranceEV, 2.0 * search.stepEV);
        for (const MeasuredDip& dip : search.dips) match.dips.push_back(DipMatch{dip});
        match.unmatched = static_cast<int>(search.dips.size());
        if (search.points < 5) {
            match.why = Printed("only %d points of the scan lie in the range", search.points);
        } else if (match.toleranceEV > kToleranceCeilingEV) {
            match.why = Printed("its points lie %.3g eV apart: too coarse to place a glitch to the %g eV that tell azimuths "
                                "apart (a step of at most %g eV)", search.stepEV, kToleranceCeilingEV, kToleranceCeilingEV / 2.0);
        } else if (search.dips.empty()) {
            match.why = Printed("no dip is deeper than the detection threshold %.4f of its I0 (%d points, noise %.4f)",
                                search.threshold, search.points, search.noise);
        } else {
            match.used = true;
            used.push_back(fit->scans.size());
        }
        fit->scans.push_back(std::move(match));
    }
    return used;
}

// The largest offset (in size) of a scan with pairs.
double LargestOffset(const FitSolution& s)
{
    double largest = 0.0;
    for (std::size_t i = 0; i < s.pairs.size(); ++i) {
        if (!s.pairs[i].empty() && std::fabs(s.offsets[i]) > std::fabs(largest)) largest = s.offsets[i];
    }
    return largest;
}

// A better fit than the best within the offsets, beyond them, is named in `fit` when, with the
// offsets widened to reach it, it is a significant fit.
void NoteBeyondTheOffsets(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                          const SearchSetup& setup, const std::vector<FitSolution>& solutions, const FitSolution* best,
                          const FitRequest& request, VoteGrid* grid, GlitchFit* fit)
{
    const auto beyond = std::find_if(solutions.begin(), solutions.end(), [&](const FitSolution& s) {
        return s.determined && !s.withinOffsets && request.window.Contains(s.psi);
    });
    if (beyond == solutions.end() || (best != nullptr && !(beyond->score > best->score))) return;
    SearchSetup wider = setup;
    wider.widestOffsetEV = std::ceil(std::fabs(LargestOffset(*beyond)) + kFinestToleranceEV);
    const std::vector<FitSolution> reached = SearchFit(scans, dips, wider, grid);
    const auto there = std::find_if(reached.begin(), reached.end(), [&](const FitSolution& s) { return s.Usable(request.window); });
    // As many pairs as psi and the offsets, or fewer, are fitted exactly wherever lines of their
    // spacings meet: no fit to name.
    if (there == reached.end() || there->freedom <= 0) return;
    if (TestSignificance(scans, dips, wider, *there, request.significance).p > request.significance) return;
    fit->beyondPsi = Nearest(SymmetricAzimuths(setup.symmetries, there->psi, request.window), request.nominalPsi.value_or(0.0));
    fit->beyondOffsetEV = LargestOffset(*there);
}

// The azimuths, no images of `answer`'s by the symmetry, that pair as large a share as the best,
// among more candidates than the search refines; one of each family, the nearest the nominal.
std::vector<double> Rivals(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                           const SearchSetup& setup, const FitSolution& best, double answer, const FitRequest& request,
                           VoteGrid* grid)
{
    std::vector<double> rivals;
    for (const FitSolution& s : SearchFit(scans, dips, setup, grid, kRivalCandidates)) {
        if (!s.Usable(request.window) || s.score < best.score) continue;
        const auto imageOf = [&](double psi) {
            return std::any_of(setup.symmetries.begin(), setup.symmetries.end(), [&](const AzimuthMap& map) {
                return std::fabs(AzimuthOffset(map(psi), s.psi)) < kSameAzimuthDegrees;
            });
        };
        if (imageOf(answer) || std::any_of(rivals.begin(), rivals.end(), imageOf)) continue;
        rivals.push_back(Nearest(SymmetricAzimuths(setup.symmetries, s.psi, request.window), request.nominalPsi.value_or(0.0)));
    }
    return rivals;
}

}  // namespace

GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& searches, const FitRequest& request)
{
    GlitchFit fit;
    fit.significance = request.significance;
    const std::vector<std::size_t> used = AdmitScans(searches, &fit);
    if (used.empty()) {
        fit.why = fit.scans.size() == 1 ? fit.scans.front().why
                                        : Printed("none of the %zu scans has dips to fit (the first: %s)", fit.scans.size(),
                                                  fit.scans.front().why.c_str());
        return fit;
    }

    std::vector<ScanRange> ranges;
    double eMax = 0.0;
    for (const std::size_t s : used) {
        ranges.push_back({fit.scans[s].eMin, fit.scans[s].eMax, searches[s].stepEV});
        eMax = std::max(eMax, fit.scans[s].eMax);
    }
    std::vector<std::size_t> counts;
    for (const std::size_t s : used) counts.push_back(searches[s].dips.size());
    std::vector<std::vector<FitLine>> lines = LinesOfRanges(crystal, frame, request.beam, ranges, counts);
    std::vector<SearchScan> scans;
    std::vector<std::vector<MeasuredDip>> dips;
    std::size_t dipCount = 0;
    for (std::size_t i = 0; i < used.size(); ++i) {
        dips.push_back(searches[used[i]].dips);
        dipCount += dips.back().size();
        scans.emplace_back(ranges[i], fit.scans[used[i]].toleranceEV, std::move(lines[i]), dips.back(), request.widestOffsetEV);
        scans.back().positionEV = searches[used[i]].stepEV / std::sqrt(12.0);
    }
    const SearchSetup setup{request.window, request.widestOffsetEV, request.oneOffset, AzimuthSymmetries(crystal, frame, eMax)};
    VoteGrid grid;
    const std::vector<FitSolution> solutions = SearchFit(scans, dips, setup, &grid);
    const auto best = std::find_if(solutions.begin(), solutions.end(), [&](const FitSolution& s) { return s.Usable(request.window); });
    NoteBeyondTheOffsets(scans, dips, setup, solutions, best == solutions.end() ? nullptr : &*best, request, &grid, &fit);
    if (best == solutions.end()) {
        fit.why = dipCount < 2 ? Printed("%zu dip: a fit pairs two at least with predicted glitches", dipCount)
                               : Printed("no azimuth pairs two of the %zu dips with predicted glitches", dipCount);
        return fit;
    }

    const Significance significance = TestSignificance(scans, dips, setup, *best, request.significance);
    fit.p = significance.p, fit.trials = significance.trials, fit.asGood = significance.asGood;

    // The azimuth the symmetry makes equivalent nearest the nominal one (else nearest 0), refined
    // there: the same pairs, the reflections the symmetry's images.
    const double chosen = Nearest(SymmetricAzimuths(setup.symmetries, best->psi, request.window), request.nominalPsi.value_or(0.0));
    FitSolution answer = std::fabs(AzimuthOffset(chosen, best->psi)) < 1e-9 ? *best : RefineFit(scans, dips, setup, chosen, best->offsets);
    if (!answer.determined) answer = *best;
    fit.equivalents = SymmetricAzimuths(setup.symmetries, answer.psi, request.window);
    if (fit.p <= request.significance) fit.rivals = Rivals(scans, dips, setup, *best, answer.psi, request, &grid);
    // A fit within the offsets that a significant better one beyond them beats is an alias of that
    // one, not the answer.
    const bool beaten = std::isfinite(fit.beyondOffsetEV);
    // Pairs no more than psi and the offsets are fitted exactly by any azimuth at which lines of
    // their spacings meet: however rare such lines, the pairs cannot tell which azimuth it is.
    const bool exact = answer.freedom <= 0;
    fit.found = fit.p <= request.significance && fit.rivals.empty() && !beaten && !exact;
    fit.exact = exact;
    fit.candidate = true;
    fit.psi = answer.psi, fit.psiError = answer.psiError;
    fit.rmsEV = answer.rms;
    fit.matched = answer.matched, fit.unmatched = answer.dips - answer.matched, fit.predicted = answer.predicted;
    for (std::size_t i = 0; i < used.size(); ++i) DescribeScan(scans[i], dips[i], answer, i, &fit.scans[used[i]]);
    if (fit.p > request.significance) {
        fit.why = Printed("at best psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), but %d of %d trials of dips moved "
                          "out of reach of any match fit as well: p = %.3g", fit.psi, fit.matched, answer.dips, fit.rmsEV,
                          fit.asGood, fit.trials, fit.p);
    } else if (exact) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips, no more than psi and the offsets fit exactly wherever lines of "
                          "their spacings meet", fit.psi, fit.matched, answer.dips);
    } else if (beaten) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), but at psi %.3f degrees an offset of %+.1f eV, "
                          "beyond the widest offset, fits better and significantly", fit.psi, fit.matched, answer.dips, fit.rmsEV,
                          fit.beyondPsi, fit.beyondOffsetEV);
    } else if (!fit.rivals.empty()) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), and psi %.3f degrees%s, no image of it by the "
                          "crystal's symmetry, as large a share: the scans cannot tell them apart", fit.psi, fit.matched, answer.dips,
                          fit.rmsEV, fit.rivals.front(), fit.rivals.size() > 1 ? " and others" : "");
    }
    return fit;
}
