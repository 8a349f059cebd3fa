#include "fit/calibrated_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// The offset search's best starts calibrated: azimuths no images of one another.
constexpr std::size_t kStarts = 6;
// The trials of the significance calibrate only the starts that pair as many dips as the fit's own
// start did, or half the fit's pairs where fewer: a trial that beats the fit from a start pairing
// fewer would have to grow its pairs by more than the fit's did, which chance dips do not follow a
// scale to do. Without this bound every trial would be a complete offset search.
constexpr int kTrialGrowth = 2;
// The offset search refines every candidate that could reach this share of its best score: where
// the scale's shift runs away from any one offset, the right azimuth pairs fewer dips than it will.
constexpr double kStartShare = 0.75;
// Re-pairings at most, and least-squares steps on each set of pairs (the readback is nearly linear
// in delta and the ratio: a step or two converge).
constexpr int kMostRounds = 30;
constexpr int kStepsPerPairing = 3;
// The least the energies paired widen by from one turn to the next, keV.
constexpr double kLeastWideningKeV = 0.5;
// Azimuths closer than this (degrees) are one start.
constexpr double kSameStartDegrees = 0.05;
// The parameters of the least squares, scaled to like sizes: psi in degrees, delta in
// millidegrees, the ratio's change in parts per million.
constexpr double kDeltaUnit = 1e-3, kRatioUnit = 1e-6;

using Matrix = std::array<std::array<double, 3>, 3>;

// The inverse of a symmetric 3 x 3 matrix; false when it is singular to rounding (the pairs do not
// tell psi, delta and the ratio apart).
bool Inverted(const Matrix& a, Matrix* inverse)
{
    Matrix c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[j][i] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];  // the adjugate: cofactors transposed
        }
    }
    const double det = a[0][0] * c[0][0] + a[0][1] * c[1][0] + a[0][2] * c[2][0];
    if (!(std::fabs(det) > 1e-12 * std::fabs(a[0][0] * a[1][1] * a[2][2]))) return false;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) (*inverse)[i][j] = c[i][j] / det;
    }
    return true;
}

// The least squares of the pairs at the solution's psi and scale: each pair's residual (readback
// measured minus predicted, eV) and its derivatives by psi, delta and the ratio.
struct Normal {
    bool determined = false;
    std::array<double, 3> step{};  // the Gauss-Newton step, scaled units
    Matrix covariance{};           // (J^T J)^-1, scaled units
    double squares = 0.0, left = 0.0;  // the residuals' squares, before and after the step
    int pairs = 0;
};

Normal LeastSquares(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                    const std::vector<std::vector<double>>* placements, FitSolution* s)
{
    Normal n;
    Matrix a{};
    std::array<double, 3> b{};
    std::vector<std::array<double, 4>> rows;  // J and r of each pair
    for (std::size_t i = 0; i < scans.size(); ++i) {
        for (std::size_t k = 0; k < s->pairs[i].size(); ++k) {
            FitPair& p = s->pairs[i][k];
            const FitLine& line = scans[i].pairing[p.line];
            const double d = AzimuthOffset(s->psi, line.centre);
            const double photon = line.EnergyAt(d) + (placements != nullptr ? (*placements)[i][k] / 1000.0 : 0.0);
            const ReadbackScale::Slopes slopes = s->scale.SlopesAt(photon);
            p.slope = line.Slope(d);
            p.residualEV = (dips[i][p.dip].energy - s->scale.Read(photon)) * 1000.0;
            // eV per degree of psi, per millidegree of delta, per part per million of the ratio.
            const std::array<double, 4> row{slopes.perPhoton * p.slope, slopes.perDegree * 1000.0 * kDeltaUnit,
                                            slopes.perRatio * 1000.0 * kRatioUnit, p.residualEV};
            rows.push_back(row);
            for (int u = 0; u < 3; ++u) {
                for (int v = 0; v < 3; ++v) a[u][v] += row[u] * row[v];
                b[u] += row[u] * row[3];
            }
            n.squares += row[3] * row[3];
        }
    }
    n.pairs = static_cast<int>(rows.size());
    n.determined = n.pairs >= 3 && Inverted(a, &n.covariance);
    if (!n.determined) return n;
    for (int u = 0; u < 3; ++u) {
        for (int v = 0; v < 3; ++v) n.step[u] += n.covariance[u][v] * b[v];
    }
    for (const std::array<double, 4>& row : rows) {
        const double r = row[3] - row[0] * n.step[0] - row[1] * n.step[1] - row[2] * n.step[2];
        n.left += r * r;
    }
    return n;
}

// The step taken: psi by at most a quarter degree at once, delta and the ratio kept a little
// beyond their bounds (a solution there is refused as beyond them, not pressed onto them).
void Step(const Normal& n, const PsiWindow& window, FitSolution* s)
{
    s->psi = IntoWindow(s->psi + std::clamp(n.step[0], -0.25, 0.25), window);
    s->scale.angleOffsetDeg = std::clamp(s->scale.angleOffsetDeg + n.step[1] * kDeltaUnit, -2.0 * kWidestAngleOffsetDeg,
                                         2.0 * kWidestAngleOffsetDeg);
    s->scale.dRatio = std::clamp(s->scale.dRatio + n.step[2] * kRatioUnit, 1.0 - 2.0 * kWidestRatioChange, 1.0 + 2.0 * kWidestRatioChange);
}

// The solution's figures from its final least squares: the rms, the errors (for the larger of the
// residuals' scatter and the scans' placing of a dip, widened by Student's t), each scan's largest
// shift over its range with its error, the score, and whether it lies within the bounds.
void Conclude(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
              double positionEV, const Normal& n, FitSolution* s)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s->matched = n.pairs;
    s->rms = n.pairs > 0 ? std::sqrt(n.squares / n.pairs) : 0.0;
    s->determined = n.determined;
    s->freedom = n.pairs - 3;
    s->scatter = s->freedom > 0 ? std::sqrt(n.left / s->freedom) : s->rms;
    s->stepLimited = positionEV > s->scatter;
    s->placingEV = positionEV;
    const double sigma = std::max(s->scatter, positionEV) * StudentFactor(s->freedom);
    const auto error = [&](int u) { return n.determined ? sigma * std::sqrt(std::max(0.0, n.covariance[u][u])) : nan; };
    s->psiError = error(0);
    s->angleOffsetError = error(1) * kDeltaUnit;
    s->dRatioError = error(2) * kRatioUnit;
    s->correlation = n.determined ? n.covariance[1][2] / std::sqrt(n.covariance[1][1] * n.covariance[2][2]) : nan;
    s->withinOffsets = std::fabs(s->scale.angleOffsetDeg) <= kWidestAngleOffsetDeg && std::fabs(s->scale.dRatio - 1.0) <= kWidestRatioChange;
    s->dips = 0, s->predicted = 0;
    s->offsets.assign(scans.size(), 0.0);
    s->offsetErrors.assign(scans.size(), nan);
    for (std::size_t i = 0; i < scans.size(); ++i) {
        const SearchScan& scan = scans[i];
        s->dips += static_cast<int>(dips[i].size());
        s->predicted += PredictedGlitches(scan, s->psi, ReadAs{0.0, &s->scale});
        // The shift, readback minus photon energy, at the scan's ends: the larger in size.
        const double low = s->scale.Photon(scan.range.eMin), high = s->scale.Photon(scan.range.eMax);
        const double lowShift = (scan.range.eMin - low) * 1000.0, highShift = (scan.range.eMax - high) * 1000.0;
        const double photon = std::fabs(highShift) >= std::fabs(lowShift) ? high : low;
        s->offsets[i] = std::fabs(highShift) >= std::fabs(lowShift) ? highShift : lowShift;
        if (!std::isfinite(s->offsets[i])) {
            // A readback no photon energy of the reflection gives (below its cut-off): no scale to take.
            s->offsets[i] = 0.0, s->withinOffsets = false;
            continue;
        }
        const ReadbackScale::Slopes slopes = s->scale.SlopesAt(photon);
        const double g1 = slopes.perDegree * 1000.0 * kDeltaUnit, g2 = slopes.perRatio * 1000.0 * kRatioUnit;
        const double variance = g1 * g1 * n.covariance[1][1] + 2.0 * g1 * g2 * n.covariance[1][2] + g2 * g2 * n.covariance[2][2];
        s->offsetErrors[i] = n.determined && !s->pairs[i].empty() ? sigma * std::sqrt(std::max(0.0, variance)) : nan;
        if (!s->pairs[i].empty() && !(std::fabs(s->offsets[i]) <= setup.widestOffsetEV)) s->withinOffsets = false;
    }
    s->score = ScoreOf(*s, scans);
}

double PositionEV(const std::vector<SearchScan>& scans)
{
    double position = 0.0;
    for (const SearchScan& scan : scans) position = std::max(position, scan.positionEV);
    return position;
}

// Every scan's dips from `low` to `high` keV paired at the solution's psi under its scale.
void PairUnderScale(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                    const std::vector<DipsByEnergy>& sorted, double low, double high, FitSolution* s)
{
    for (std::size_t i = 0; i < scans.size(); ++i) {
        std::vector<FitPair> pairs = Pairs(scans[i], sorted[i], ActiveLines(scans[i], s->psi), s->psi, ReadAs{0.0, &s->scale}, 0.0);
        std::erase_if(pairs, [&](const FitPair& p) { return dips[i][p.dip].energy < low || dips[i][p.dip].energy > high; });
        s->pairs[i] = std::move(pairs);
    }
}

// Turns of least squares on the pairs and re-pairing under the fitted scale until the pairs stay.
// The dips are paired over the energies of the start's pairs first, widened each turn by a
// quarter of their span (at least kLeastWideningKeV) on either side: a scale fitted over a
// stretch predicts the shift a little beyond it well, far beyond it not (delta and the ratio are
// told apart only over a wide range).
FitSolution Calibrate(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips, const SearchSetup& setup,
                      FitSolution s)
{
    std::vector<DipsByEnergy> sorted;
    for (const std::vector<MeasuredDip>& d : dips) sorted.emplace_back(d);
    s.calibrated = true;
    s.placements.clear();
    double low = std::numeric_limits<double>::infinity(), high = -low, first = low, last = -low;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        first = std::min(first, scans[i].range.eMin), last = std::max(last, scans[i].range.eMax);
        for (const FitPair& p : s.pairs[i]) low = std::min(low, dips[i][p.dip].energy), high = std::max(high, dips[i][p.dip].energy);
    }
    if (!(low <= high)) low = first, high = last;
    Normal n;
    for (int round = 0; round < kMostRounds; ++round) {
        for (int step = 0; step < kStepsPerPairing; ++step) {
            n = LeastSquares(scans, dips, nullptr, &s);
            if (!n.determined) break;
            Step(n, setup.window, &s);
            if (std::fabs(n.step[0]) < 1e-7 && std::fabs(n.step[1]) < 1e-4 && std::fabs(n.step[2]) < 1e-3) break;
        }
        if (!n.determined) break;
        const bool whole = low <= first && high >= last;
        const double widening = std::max(kLeastWideningKeV, (high - low) / 4.0);
        low -= widening, high += widening;
        const std::vector<std::vector<FitPair>> before = s.pairs;
        PairUnderScale(scans, dips, sorted, low, high, &s);
        if (whole && s.pairs == before) break;
    }
    n = LeastSquares(scans, dips, nullptr, &s);
    Conclude(scans, dips, setup, PositionEV(scans), n, &s);
    return s;
}

}  // namespace

std::vector<FitSolution> SearchCalibratedFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                             const SearchSetup& setup, VoteGrid* grid, const FitSolution* against)
{
    SearchSetup plain = setup;
    plain.calibrateDSpacing = 0.0;
    plain.refineShare = kStartShare;
    if (against != nullptr) {
        plain.leastPairs = std::max(2, std::min(against->matchedBefore, (against->matched + kTrialGrowth - 1) / kTrialGrowth));
    }
    const std::vector<FitSolution> starts = SearchFit(scans, dips, plain, grid);
    std::vector<double> taken;
    std::vector<FitSolution> solutions;
    for (const FitSolution& start : starts) {
        if (taken.size() == kStarts) break;
        if (!start.determined || !setup.window.Contains(start.psi) || start.matched < plain.leastPairs) continue;
        const bool seen = std::any_of(taken.begin(), taken.end(), [&](double psi) {
            return std::any_of(setup.symmetries.begin(), setup.symmetries.end(), [&](const AzimuthMap& map) {
                return std::fabs(AzimuthOffset(map(start.psi), psi)) < kSameStartDegrees;
            });
        });
        if (seen) continue;
        taken.push_back(start.psi);
        FitSolution s = start;
        s.scale = {setup.calibrateDSpacing, 0.0, 1.0};
        s.matchedBefore = start.matched, s.rmsBefore = start.rms;
        s = Calibrate(scans, dips, setup, std::move(s));
        if (against != nullptr && s.Usable(setup.window) && AtLeastAsGood(s, *against)) return {std::move(s)};
        solutions.push_back(std::move(s));
    }
    if (against != nullptr) return {};
    std::stable_sort(solutions.begin(), solutions.end(), [](const FitSolution& a, const FitSolution& b) {
        return a.score != b.score ? a.score > b.score : a.rms < b.rms;
    });
    return solutions;
}

std::vector<FitSolution> SearchGlitchFit(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                                         const SearchSetup& setup, VoteGrid* grid, const FitSolution* against)
{
    return setup.calibrateDSpacing > 0.0 ? SearchCalibratedFit(scans, dips, setup, grid, against)
                                         : SearchFit(scans, dips, setup, grid, against);
}

FitSolution CalibratedFrom(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                           const SearchSetup& setup, double psi, const ReadbackScale& scale)
{
    std::vector<DipsByEnergy> sorted;
    for (const std::vector<MeasuredDip>& d : dips) sorted.emplace_back(d);
    FitSolution s;
    s.psi = psi, s.scale = scale;
    s.pairs.resize(scans.size());
    PairUnderScale(scans, dips, sorted, -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), &s);
    return Calibrate(scans, dips, setup, std::move(s));
}

FitSolution CalibratedReplaced(const std::vector<SearchScan>& scans, const std::vector<std::vector<MeasuredDip>>& dips,
                               const SearchSetup& setup, FitSolution s, std::vector<std::vector<double>> placements, double placingEV)
{
    Normal n;
    for (int step = 0; step < kStepsPerPairing; ++step) {
        n = LeastSquares(scans, dips, &placements, &s);
        if (!n.determined) break;
        Step(n, setup.window, &s);
    }
    n = LeastSquares(scans, dips, &placements, &s);
    Conclude(scans, dips, setup, placingEV, n, &s);
    s.placements = std::move(placements);
    return s;
}
