#include "fit/glitch_fit.h"

#include <algorithm>
#include <cmath>

#include "io/run_error.h"
#include "fit/calibrated_fit.h"
#include "fit/fit_search.h"
#include "fit/fit_significance.h"
#include "fit/model_dip.h"
#include "scan/harmonic_orders.h"
#include "scan/parallel_for.h"
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
        const double placement = s.placements.empty() ? 0.0 : s.placements[index][static_cast<std::size_t>(&p - s.pairs[index].data())];
        const double photon = line.EnergyAt(AzimuthOffset(s.psi, line.centre));
        row.predictedKeV = s.calibrated ? s.scale.Read(photon + placement / 1000.0) : photon + (s.offsets[index] + placement) / 1000.0;
        row.residualEV = (row.dip.energy - row.predictedKeV) * 1000.0;
        row.lineDepth = line.weight;
    }
}

// The scans that can take part (enough points, dips), each scan's part in `fit` begun: every dip
// unmatched, or why it is left out.
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

// How far (eV) each paired line's dip lies from where its line places it: the line is placed from
// where it enters its scan's range, the dip is worked out again where it was matched, with the
// glitches of its order near it, and centred where the scan's dip search finds it at the scan's step.
struct Placements {
    std::vector<std::vector<double>> shifts;  // per scan and pair, eV
    double spreadEV = 0.0;                    // the rms over the pairs of how far each centre moves with the samples
};

Placements PlaceDips(const Crystal& crystal, const ScanFrame& frame, const Beam& beam, const std::vector<SearchScan>& scans,
                     const FitSolution& s)
{
    // The lines whose glitches are worked out: each paired line and those of its order near it.
    struct Near {
        std::vector<std::uint32_t> lines;  // the paired one first
    };
    std::vector<std::vector<Near>> near(scans.size());
    std::vector<std::vector<std::uint32_t>> needed(scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const SearchScan& scan = scans[i];
        for (const FitPair& p : s.pairs[i]) {
            const FitLine& line = scan.pairing[p.line];
            const double e = line.EnergyAt(AzimuthOffset(s.psi, line.centre));
            Near n{{static_cast<std::uint32_t>(p.line)}};
            for (std::uint32_t j = 0; j < scan.pairing.size(); ++j) {
                const FitLine& other = scan.pairing[j];
                const double d = AzimuthOffset(s.psi, other.centre);
                if (j == p.line || other.order != line.order || !(std::fabs(d) < 90.0)) continue;
                if (std::fabs(other.EnergyAt(d) - e) * 1000.0 <= 2.0 * scan.toleranceEV) n.lines.push_back(j);
            }
            needed[i].insert(needed[i].end(), n.lines.begin(), n.lines.end());
            near[i].push_back(std::move(n));
        }
        std::sort(needed[i].begin(), needed[i].end());
        needed[i].erase(std::unique(needed[i].begin(), needed[i].end()), needed[i].end());
    }
    // Their glitches at psi, each worked out once.
    std::vector<std::pair<std::size_t, std::uint32_t>> items;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        for (const std::uint32_t j : needed[i]) items.push_back({i, j});
    }
    std::vector<ModelGlitch> glitches(items.size());
    ParallelFor(items.size(), [&](std::size_t k) {
        const auto [i, j] = items[k];
        const FitLine& line = scans[i].pairing[j];
        const double bragg = line.BraggEnergyAt(AzimuthOffset(s.psi, line.centre));
        glitches[k] = {ShapeOfGlitch(crystal, HarmonicFrame(frame, line.order), line.x, s.psi, line.order * bragg, beam), bragg};
    }, 1);
    const auto glitchOf = [&](std::size_t i, std::uint32_t j) {
        return glitches[static_cast<std::size_t>(std::lower_bound(items.begin(), items.end(), std::pair{i, j}) - items.begin())];
    };
    Placements placements{std::vector<std::vector<double>>(scans.size()), 0.0};
    int pairs = 0;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const SearchScan& scan = scans[i];
        for (std::size_t k = 0; k < s.pairs[i].size(); ++k) {
            const FitLine& line = scan.pairing[s.pairs[i][k].line];
            const double placed = line.EnergyAt(AzimuthOffset(s.psi, line.centre));
            std::vector<ModelGlitch> model;
            for (const std::uint32_t j : near[i][k].lines) model.push_back(glitchOf(i, j));
            const ModelDip dip = ModelDipAt(model, line.order, scan.range.stepEV, placed, scan.toleranceEV);
            const bool found = std::isfinite(dip.centreKeV);
            placements.shifts[i].push_back(found ? (dip.centreKeV - placed) * 1000.0 : 0.0);
            // A dip the model's search misses is placed no better than the scan's step.
            const double spread = found ? dip.spreadEV : scan.positionEV;
            placements.spreadEV += spread * spread, ++pairs;
        }
    }
    placements.spreadEV = pairs > 0 ? std::sqrt(placements.spreadEV / pairs) : 0.0;
    return placements;
}

// A scan whose pairing tolerance spans the mean spacing of the glitches it can show pairs its dips
// alike at every azimuth: it is left out, with the figures.
void LeaveOutCoarseScans(std::vector<std::size_t>* used, std::vector<SearchScan>* scans, std::vector<std::vector<MeasuredDip>>* dips,
                         GlitchFit* fit)
{
    for (std::size_t i = used->size(); i-- > 0;) {
        const SearchScan& scan = (*scans)[i];
        const double shown = scan.MeanShown();
        const double spacing = (scan.range.eMax - scan.range.eMin) * 1000.0 / std::max(shown, 1.0);
        if (2.0 * scan.toleranceEV < spacing) continue;
        ScanMatch& match = fit->scans[(*used)[i]];
        match.used = false;
        match.why = Printed("its points lie %.3g eV apart: a dip is placed to +/- %.3g eV, but the %.0f glitches it can show lie %.3g eV "
                            "apart on average: every azimuth pairs its dips alike", scan.range.stepEV, scan.toleranceEV, shown, spacing);
        used->erase(used->begin() + static_cast<std::ptrdiff_t>(i));
        scans->erase(scans->begin() + static_cast<std::ptrdiff_t>(i));
        dips->erase(dips->begin() + static_cast<std::ptrdiff_t>(i));
    }
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
    const std::vector<FitSolution> reached = SearchGlitchFit(scans, dips, wider, grid);
    const auto there = std::find_if(reached.begin(), reached.end(), [&](const FitSolution& s) { return s.Usable(request.window); });
    // As many pairs as psi and the offsets, or fewer, are fitted exactly wherever lines of their
    // spacings meet: no fit to name.
    if (there == reached.end() || there->freedom <= 0) return;
    if (TestSignificance(scans, dips, wider, *there, request.significance).p > request.significance) return;
    fit->beyondPsi = Nearest(SymmetricAzimuths(setup.symmetries, there->psi, request.window), request.nominalPsi.value_or(0.0));
    fit->beyondOffsetEV = LargestOffset(*there);
}

// The standard error of an rms of `matched` residuals, each no better known than the scans place a
// dip (an rms far below a step tells azimuths apart no better than one of about the step's).
double RmsError(const FitSolution& s, const std::vector<SearchScan>& scans)
{
    double placing = 0.0;
    for (const SearchScan& scan : scans) placing = std::max(placing, scan.positionEV);
    return std::max(s.rms, placing) / std::sqrt(2.0 * std::max(1, s.matched));
}

// The usable solutions of the complete search, no images of `best`'s by the symmetry, that pair as
// many dips with an rms within `best`'s error of its (however many glitches each predicts beside
// them: a scan does not show every glitch): each family once, best first.
std::vector<const FitSolution*> Ties(const std::vector<FitSolution>& solutions, const FitSolution& best, const SearchSetup& setup,
                                     const std::vector<SearchScan>& scans)
{
    std::vector<const FitSolution*> ties;
    const auto imageOf = [&](const FitSolution& a, const FitSolution& b) {
        return std::any_of(setup.symmetries.begin(), setup.symmetries.end(), [&](const AzimuthMap& map) {
            return std::fabs(AzimuthOffset(map(a.psi), b.psi)) < kSameAzimuthDegrees;
        });
    };
    for (const FitSolution& s : solutions) {
        if (&s == &best || !s.Usable(setup.window) || s.matched < best.matched || s.rms > best.rms + RmsError(best, scans)) continue;
        if (imageOf(best, s) || std::any_of(ties.begin(), ties.end(), [&](const FitSolution* t) { return imageOf(*t, s); })) continue;
        ties.push_back(&s);
    }
    return ties;
}

// The nominal psi takes the family nearest it when every other lies this many times as far.
constexpr double kNominalClearly = 2.0;

}  // namespace

GlitchFit FitGlitches(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& searches, const FitRequest& request)
{
    GlitchFit fit;
    fit.significance = request.significance;
    std::vector<std::size_t> used = AdmitScans(searches, &fit);
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
    LeaveOutCoarseScans(&used, &scans, &dips, &fit);
    if (used.empty()) {
        fit.why = fit.scans.size() == 1 ? fit.scans.front().why
                                        : Printed("none of the %zu scans can tell azimuths apart (the first: %s)", fit.scans.size(),
                                                  fit.scans.front().why.c_str());
        return fit;
    }
    dipCount = 0;
    for (const std::vector<MeasuredDip>& d : dips) dipCount += d.size();
    SearchSetup setup{request.window, request.widestOffsetEV, request.oneOffset, AzimuthSymmetries(crystal, frame, eMax)};
    if (request.calibrate) setup.calibrateDSpacing = 1.0 / frame.length;
    VoteGrid grid;
    const std::vector<FitSolution> solutions = SearchGlitchFit(scans, dips, setup, &grid);
    const auto best = std::find_if(solutions.begin(), solutions.end(), [&](const FitSolution& s) { return s.Usable(request.window); });
    NoteBeyondTheOffsets(scans, dips, setup, solutions, best == solutions.end() ? nullptr : &*best, request, &grid, &fit);
    if (best == solutions.end()) {
        fit.why = dipCount < 2 ? Printed("%zu dip: a fit pairs two at least with predicted glitches", dipCount)
                               : Printed("no azimuth pairs two of the %zu dips with predicted glitches", dipCount);
        return fit;
    }

    const Significance significance = TestSignificance(scans, dips, setup, *best, request.significance);
    fit.p = significance.p, fit.trials = significance.trials, fit.asGood = significance.asGood;

    // The fit and its ties, each family at its azimuth nearest the nominal one (else nearest 0);
    // the nominal psi takes the family it lies near, where it lies near one alone.
    std::vector<const FitSolution*> families{&*best};
    for (const FitSolution* tie : Ties(solutions, *best, setup, scans)) families.push_back(tie);
    const double aim = request.nominalPsi.value_or(0.0);
    std::vector<double> nearest;
    for (const FitSolution* f : families) nearest.push_back(Nearest(SymmetricAzimuths(setup.symmetries, f->psi, request.window), aim));
    std::size_t taken = 0;
    if (request.nominalPsi && families.size() > 1) {
        std::vector<double> apart;
        for (const double psi : nearest) apart.push_back(std::fabs(AzimuthOffset(psi, aim)));
        const std::size_t closest = static_cast<std::size_t>(std::min_element(apart.begin(), apart.end()) - apart.begin());
        bool clearly = true;
        for (std::size_t i = 0; i < apart.size(); ++i) clearly = clearly && (i == closest || apart[i] > kNominalClearly * apart[closest]);
        if (clearly) taken = closest, fit.nominalTook = true;
    }
    const FitSolution& chosenFamily = *families[taken];
    const double chosen = nearest[taken];
    // Refined at the chosen azimuth: the same pairs, the reflections the symmetry's images.
    const bool same = std::fabs(AzimuthOffset(chosen, chosenFamily.psi)) < 1e-9;
    FitSolution answer = same ? chosenFamily
                              : chosenFamily.calibrated ? CalibratedFrom(scans, dips, setup, chosen, chosenFamily.scale)
                                                        : RefineFit(scans, dips, setup, chosen, chosenFamily.offsets);
    if (!answer.determined) answer = chosenFamily;
    if (answer.determined) {
        const Placements placed = PlaceDips(crystal, frame, request.beam.beam, scans, answer);
        FitSolution replaced = answer.calibrated ? CalibratedReplaced(scans, dips, setup, answer, placed.shifts, placed.spreadEV)
                                                 : Replaced(scans, dips, setup, answer, placed.shifts, placed.spreadEV);
        if (replaced.determined) answer = std::move(replaced);
    }
    fit.equivalents = SymmetricAzimuths(setup.symmetries, answer.psi, request.window);
    for (std::size_t i = 0; i < families.size(); ++i) {
        if (i != taken) fit.ties.push_back({nearest[i], families[i]->matched, families[i]->rms});
    }
    // A fit within the offsets that a significant better one beyond them beats is an alias of that
    // one, not the answer.
    const bool beaten = std::isfinite(fit.beyondOffsetEV);
    // Pairs no more than psi and the offsets are fitted exactly by any azimuth at which lines of
    // their spacings meet: however rare such lines, the pairs cannot tell which azimuth it is.
    const bool exact = answer.freedom <= 0;
    fit.found = fit.p <= request.significance && (fit.ties.empty() || fit.nominalTook) && !beaten && !exact;
    fit.exact = exact;
    fit.candidate = true;
    fit.psi = answer.psi, fit.psiError = answer.psiError;
    fit.rmsEV = answer.rms;
    if (answer.stepLimited) {
        fit.placingEV = answer.placingEV;
        fit.stepLimitedEV = 0.0;
        for (const SearchScan& scan : scans) fit.stepLimitedEV = std::max(fit.stepLimitedEV, scan.range.stepEV);
    }
    fit.matched = answer.matched, fit.unmatched = answer.dips - answer.matched, fit.predicted = answer.predicted;
    if (answer.calibrated) {
        fit.calibrated = true;
        fit.scale = answer.scale;
        fit.angleOffsetError = answer.angleOffsetError, fit.dRatioError = answer.dRatioError, fit.correlation = answer.correlation;
        fit.matchedBefore = chosenFamily.matchedBefore, fit.rmsBefore = chosenFamily.rmsBefore;
    }
    for (std::size_t i = 0; i < used.size(); ++i) DescribeScan(scans[i], dips[i], answer, i, &fit.scans[used[i]]);
    if (fit.p > request.significance) {
        fit.why = Printed("at best psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), but %d of %d trials of dips moved "
                          "out of reach of any match fit as well: p = %.3g", fit.psi, fit.matched, answer.dips, fit.rmsEV,
                          fit.asGood, fit.trials, fit.p);
    } else if (exact) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips, no more than psi and the %s fit exactly wherever lines of "
                          "their spacings meet", fit.psi, fit.matched, answer.dips,
                          answer.calibrated ? "angle offset and d-spacing ratio" : "offsets");
    } else if (beaten) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), but at psi %.3f degrees an offset of %+.1f eV, "
                          "beyond the widest offset, fits better and significantly", fit.psi, fit.matched, answer.dips, fit.rmsEV,
                          fit.beyondPsi, fit.beyondOffsetEV);
    } else if (!fit.ties.empty() && !fit.nominalTook) {
        fit.why = Printed("psi %.3f degrees pairs %d of the %d dips (rms %.2f eV), and psi %.3f degrees%s, no image of it by the "
                          "crystal's symmetry, as many as well: the scans cannot tell them apart", fit.psi, fit.matched, answer.dips,
                          fit.rmsEV, fit.ties.front().psi, fit.ties.size() > 1 ? " and others" : "");
    }
    return fit;
}
