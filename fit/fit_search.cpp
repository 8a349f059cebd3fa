#include "fit/fit_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace {

// The refinement pairs dips with the lines that come near them while psi stays this near (degrees)
// where the lines were drawn up.
constexpr double kDriftDegrees = 0.1;
// The refinement's least-squares steps at most.
constexpr int kMostSteps = 6;

// The lines of the scan at psi that come within `reach` eV, and `driftDegrees` of their slope, of
// one of its dips: those a refinement that stays so near psi and moves the offset no further can pair.
std::vector<std::uint32_t> LinesNearDips(const SearchScan& scan, const DipsByEnergy& dips, double psi, double offsetEV,
                                         double reachEV, double driftDegrees)
{
    std::vector<std::uint32_t> near;
    for (const std::uint32_t i : ActiveLines(scan, psi)) {
        const FitLine& line = scan.pairing[i];
        const double d = AzimuthOffset(psi, line.centre);
        if (!(std::fabs(d) < 90.0)) continue;
        const double e = line.EnergyAt(d) + offsetEV / 1000.0;
        const double reach = (reachEV + driftDegrees * std::fabs(line.Slope(d))) / 1000.0;
        const auto at = std::lower_bound(dips.energy.begin(), dips.energy.end(), e - reach);
        if (at != dips.energy.end() && *at <= e + reach) near.push_back(i);
    }
    return near;
}

}  // namespace

double IntoWindow(double psi, const PsiWindow& window)
{
    if (!window.FullCircle()) return psi;
    return window.min + (psi - window.min - 360.0 * std::floor((psi - window.min) / 360.0));
}

double StudentFactor(int freedom)
{
    static constexpr double kFactors[] = {1.8373, 1.3213, 1.1969, 1.1416, 1.1105, 1.0906, 1.0767, 1.0665, 1.0587, 1.0526,
                                          1.0476, 1.0434, 1.0400, 1.0370, 1.0345, 1.0322, 1.0303, 1.0286, 1.0270, 1.0256,
                                          1.0244, 1.0232, 1.0222, 1.0213, 1.0204, 1.0196, 1.0189, 1.0182, 1.0175, 1.0169};
    if (freedom <= 30) return kFactors[std::max(freedom, 1) - 1];
    return 1.0 + 0.5 / freedom;
}

namespace {

// The least-squares step of psi and of the offsets for the pairs (the offsets shared within each
// group), with their standard errors for the residuals' scatter.
void Solve(const std::vector<std::vector<std::size_t>>& groups, double positionEV, double* psiStep, std::vector<double>* offsetSteps,
           FitSolution* s)
{
    // psi from the pairs' deviations from their group's means; each offset from its group's mean.
    double sxx = 0.0, sxr = 0.0, srr = 0.0;
    int m = 0, parameters = 1;
    struct Means {
        double slope = 0.0, residual = 0.0;
        int count = 0;
    };
    std::vector<Means> means(groups.size());
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (const std::size_t scan : groups[g]) {
            for (const FitPair& p : s->pairs[scan]) means[g].slope += p.slope, means[g].residual += p.residualEV, ++means[g].count;
        }
        if (means[g].count == 0) continue;
        means[g].slope /= means[g].count, means[g].residual /= means[g].count;
        ++parameters;
        for (const std::size_t scan : groups[g]) {
            for (const FitPair& p : s->pairs[scan]) {
                const double x = p.slope - means[g].slope, r = p.residualEV - means[g].residual;
                sxx += x * x, sxr += x * r, srr += p.residualEV * p.residualEV;
                ++m;
            }
        }
    }
    double slopeScale = 0.0;
    for (std::size_t scan = 0; scan < s->pairs.size(); ++scan) {
        for (const FitPair& p : s->pairs[scan]) slopeScale += p.slope * p.slope;
    }
    s->rms = m > 0 ? std::sqrt(srr / m) : 0.0;
    s->determined = m >= 2 && sxx > 1e-12 * slopeScale;
    const double step = s->determined ? sxr / sxx : 0.0;
    *psiStep = step;
    double left = 0.0;  // the residuals' squares about the fit
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const double offset = means[g].count > 0 ? means[g].residual - step * means[g].slope : 0.0;
        for (const std::size_t scan : groups[g]) {
            (*offsetSteps)[scan] = offset;
            for (const FitPair& p : s->pairs[scan]) {
                const double r = p.residualEV - offset - step * p.slope;
                left += r * r;
            }
        }
    }
    s->freedom = m - parameters;
    s->scatter = s->freedom > 0 ? std::sqrt(left / s->freedom) : s->rms;
    // The errors for the larger of the scatter and the scans' own placing of a dip, widened for
    // a scatter known from few pairs: a standard error that holds the truth 68 % of the time.
    s->stepLimited = positionEV > s->scatter;
    s->placingEV = positionEV;
    const double sigma = std::max(s->scatter, positionEV) * StudentFactor(s->freedom);
    s->psiError = s->determined ? sigma / std::sqrt(sxx) : std::numeric_limits<double>::quiet_NaN();
    s->offsetErrors.assign(s->pairs.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (means[g].count == 0 || !s->determined) continue;
        const double error = sigma * std::sqrt(1.0 / means[g].count + means[g].slope * means[g].slope / sxx);
        for (const std::size_t scan : groups[g]) s->offsetErrors[scan] = error;
    }
}

// Each group's offset at psi that the most dips of its scans can pair at, within the tolerance
// widened by `widenDegrees` of each line's slope (nearest 0 among the best): with an offset for
// each scan, the vote's count of a bin is the sum of each scan's best, and its refinement starts
// from each scan's best offset at the bin, whatever offset the vote's grid gave.
void ChooseOffsets(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                   const std::vector<std::vector<std::size_t>>& groups, double psi, double widestOffsetEV, double widenDegrees,
                   std::vector<double>* offsets)
{
    struct End {
        double at;     // eV
        int step;      // +1 where a dip's reach begins, -1 where it ends
        std::size_t dip;  // among the group's dips
    };
    for (const std::vector<std::size_t>& group : groups) {
        std::vector<End> ends;
        std::size_t first = 0;
        for (const std::size_t s : group) {
            const SearchScan& scan = scans[s];
            for (const std::uint32_t i : ActiveLines(scan, psi)) {
                const FitLine& line = scan.pairing[i];
                const double d = AzimuthOffset(psi, line.centre);
                if (!(std::fabs(d) < 90.0)) continue;
                const double e = line.EnergyAt(d);
                const double reach = scan.toleranceEV + widenDegrees * std::fabs(line.Slope(d));
                for (std::size_t k = 0; k < dips[s].size(); ++k) {
                    const double o = (dips[s][k].energy - e) * 1000.0;
                    if (std::fabs(o) > widestOffsetEV + reach) continue;
                    ends.push_back({o - reach, 1, first + k});
                    ends.push_back({o + reach, -1, first + k});
                }
            }
            first += dips[s].size();
        }
        std::sort(ends.begin(), ends.end(), [](const End& a, const End& b) { return a.at != b.at ? a.at < b.at : a.step > b.step; });
        // The point covered by the most dips (each once, however many of its lines reach it).
        std::vector<int> cover(first, 0);
        int dipsCovered = 0, most = 0;
        double best = 0.0;
        for (std::size_t i = 0; i < ends.size(); ++i) {
            const End& end = ends[i];
            if (end.step > 0) {
                if (cover[end.dip]++ == 0) ++dipsCovered;
                // The stretch this point begins runs to the next end; its point nearest 0 stands for it.
                const double to = i + 1 < ends.size() ? ends[i + 1].at : end.at;
                const double point = std::clamp(0.0, end.at, std::max(end.at, to));
                if (std::fabs(point) <= widestOffsetEV &&
                    (dipsCovered > most || (dipsCovered == most && std::fabs(point) < std::fabs(best)))) {
                    most = dipsCovered, best = point;
                }
            } else if (--cover[end.dip] == 0) {
                --dipsCovered;
            }
        }
        for (const std::size_t s : group) (*offsets)[s] = best;
    }
}

// The least-squares refinement from psi and the offsets; the first steps pair within the
// tolerance widened by `widenDegrees` of each line's slope, the uncertainty of the starting psi.
FitSolution Refine(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                   const std::vector<DipsByEnergy>& sorted, const SearchSetup& setup, double psi, std::vector<double> offsets,
                   double widenDegrees, bool chooseOffsets = false)
{
    const std::vector<std::vector<std::size_t>> groups = OffsetGroups(scans.size(), setup.oneOffset);
    if (chooseOffsets) ChooseOffsets(scans, dips, groups, psi, setup.widestOffsetEV, widenDegrees, &offsets);
    FitSolution s;
    s.psi = psi;
    s.offsets = std::move(offsets);
    s.pairs.resize(scans.size());
    std::vector<double> offsetSteps(scans.size());
    double tolerance = 0.0, positionEV = 0.0;
    for (const SearchScan& scan : scans) tolerance = std::max(tolerance, scan.toleranceEV), positionEV = std::max(positionEV, scan.positionEV);
    // The lines each scan's dips can pair with while psi stays within kDriftDegrees, and the
    // offsets within a tolerance, of where they were drawn up.
    std::vector<std::vector<std::uint32_t>> near(scans.size());
    double listedPsi = 0.0;
    std::vector<double> listedOffsets;
    const auto list = [&] {
        listedPsi = s.psi, listedOffsets = s.offsets;
        for (std::size_t i = 0; i < scans.size(); ++i) {
            near[i] = LinesNearDips(scans[i], sorted[i], s.psi, s.offsets[i], 2.0 * tolerance, widenDegrees + kDriftDegrees);
        }
    };
    const auto pair = [&](double widen) {
        bool moved = std::fabs(AzimuthOffset(s.psi, listedPsi)) > kDriftDegrees;
        for (std::size_t i = 0; i < scans.size() && !moved; ++i) moved = std::fabs(s.offsets[i] - listedOffsets[i]) > tolerance;
        if (moved) list();
        for (std::size_t i = 0; i < scans.size(); ++i) s.pairs[i] = Pairs(scans[i], sorted[i], near[i], s.psi, ReadAs{s.offsets[i]}, widen);
    };
    list();
    std::vector<std::vector<FitPair>> previous;
    for (int step = 0; step < kMostSteps; ++step) {
        const double widen = step < 3 ? widenDegrees / (1 << step) : 0.0;
        pair(widen);
        double psiStep = 0.0;
        Solve(groups, positionEV, &psiStep, &offsetSteps, &s);
        psiStep = std::clamp(psiStep, -0.25, 0.25);
        s.psi = IntoWindow(s.psi + psiStep, setup.window);
        double largest = 0.0;
        for (std::size_t i = 0; i < scans.size(); ++i) {
            const double o = std::clamp(offsetSteps[i], -tolerance, tolerance);
            s.offsets[i] += o;
            largest = std::max(largest, std::fabs(o));
        }
        // Done when the steps vanish, or when the pairs stay the same and the step is small: the
        // least squares of fixed pairs converge at once.
        const bool samePairs = s.pairs == previous;
        if (widen == 0.0 && ((std::fabs(psiStep) < 1e-6 && largest < 1e-4) || (samePairs && std::fabs(psiStep) < 1e-4))) break;
        previous = s.pairs;
    }
    pair(0.0);
    double unused = 0.0;
    Solve(groups, positionEV, &unused, &offsetSteps, &s);
    s.withinOffsets = true;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const SearchScan& scan = scans[i];
        s.dips += static_cast<int>(dips[i].size());
        s.matched += static_cast<int>(s.pairs[i].size());
        if (!s.pairs[i].empty() && std::fabs(s.offsets[i]) > setup.widestOffsetEV) s.withinOffsets = false;
        s.predicted += PredictedGlitches(scan, s.psi, ReadAs{});
    }
    s.score = ScoreOf(s, scans);
    return s;
}

}  // namespace

double ScoreOf(const FitSolution& s, const std::vector<SearchScan>& scans)
{
    double misfit = 0.0;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        for (const FitPair& p : s.pairs[i]) {
            const double r = p.residualEV / scans[i].toleranceEV;
            misfit += std::min(1.0, r * r);
        }
    }
    const int against = s.dips + std::max(s.matched, s.predicted);
    return against > 0 ? 2.0 * (s.matched - misfit) / against : 0.0;
}

bool AtLeastAsGood(const FitSolution& a, const FitSolution& b)
{
    return a.score > b.score || (a.score == b.score && a.rms <= b.rms);
}

std::vector<FitSolution> SearchFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                   const SearchSetup& setup, VoteGrid* grid, const FitSolution* against)
{
    int dipCount = 0;
    for (const std::vector<MeasuredDip>& d : dips) dipCount += static_cast<int>(d.size());
    // A solution pairs two dips at least; m paired dips score at most 2 m / (dips + m), which must
    // reach the score of `against` where it is given.
    const auto reach = [&](int bound) { return 2.0 * bound / (dipCount + bound); };
    int least = std::max(2, setup.leastPairs);
    if (against != nullptr) {
        while (least < dipCount && reach(least) < against->score - 1e-12) ++least;
    }
    const Ballot ballot = Vote(scans, dips, setup, least, grid);
    std::vector<DipsByEnergy> sorted;
    for (const std::vector<MeasuredDip>& d : dips) sorted.emplace_back(d);
    std::vector<FitSolution> solutions;
    double needed = against != nullptr ? against->score : 0.0;  // the score a candidate must be able to reach
    // The starts refined: a bin and offset, and their images by the symmetry, which give the same spectrum.
    std::unordered_set<std::uint64_t> refined;
    const auto key = [](std::uint32_t bin, int offset) { return (static_cast<std::uint64_t>(bin) << 16) | static_cast<std::uint64_t>(offset + 1); };
    for (std::size_t i = 0; i < ballot.Size(); ++i) {
        if (reach(ballot.Bound(i)) < needed * setup.refineShare - 1e-12) break;
        const FitCandidate c = ballot.Candidate(i);
        if (refined.count(key(c.bin, c.offset)) > 0) continue;
        for (const AzimuthMap& map : setup.symmetries) refined.insert(key(ballot.BinOf(map(c.psi)), c.offset));
        FitSolution s = Refine(scans, dips, sorted, setup, c.psi, c.offsets, ballot.binWidth / 2.0, c.offset < 0);
        if (s.Usable(setup.window)) {
            if (against != nullptr && AtLeastAsGood(s, *against)) return {std::move(s)};
            if (against == nullptr) needed = std::max(needed, s.score);
        }
        solutions.push_back(std::move(s));
    }
    std::stable_sort(solutions.begin(), solutions.end(), [](const FitSolution& a, const FitSolution& b) {
        return a.score != b.score ? a.score > b.score : a.rms < b.rms;
    });
    return solutions;
}

FitSolution RefineFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                      const SearchSetup& setup, double psi, std::vector<double> offsets, double widenDegrees)
{
    std::vector<DipsByEnergy> sorted;
    for (const std::vector<MeasuredDip>& d : dips) sorted.emplace_back(d);
    return Refine(scans, dips, sorted, setup, psi, std::move(offsets), widenDegrees);
}

FitSolution Replaced(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
                     FitSolution s, std::vector<std::vector<double>> placements, double placingEV)
{
    const std::vector<std::vector<std::size_t>> groups = OffsetGroups(scans.size(), setup.oneOffset);
    const double positionEV = placingEV;
    std::vector<double> offsetSteps(scans.size());
    // The pairs' residuals and slopes at psi and the offsets, the dips placed anew.
    const auto residuals = [&] {
        for (std::size_t i = 0; i < scans.size(); ++i) {
            for (std::size_t k = 0; k < s.pairs[i].size(); ++k) {
                FitPair& p = s.pairs[i][k];
                const FitLine& line = scans[i].pairing[p.line];
                const double d = AzimuthOffset(s.psi, line.centre);
                p.residualEV = (dips[i][p.dip].energy - line.EnergyAt(d)) * 1000.0 - s.offsets[i] - placements[i][k];
                p.slope = line.Slope(d);
            }
        }
    };
    // Fixed pairs: the least squares converge in a step or two (the slopes move with psi).
    for (int step = 0; step < 3; ++step) {
        residuals();
        double psiStep = 0.0;
        Solve(groups, positionEV, &psiStep, &offsetSteps, &s);
        s.psi = IntoWindow(s.psi + psiStep, setup.window);
        for (std::size_t i = 0; i < scans.size(); ++i) s.offsets[i] += offsetSteps[i];
    }
    residuals();
    double unused = 0.0;
    Solve(groups, positionEV, &unused, &offsetSteps, &s);
    s.placements = std::move(placements);
    return s;
}
