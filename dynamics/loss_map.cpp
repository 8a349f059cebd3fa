#include "dynamics/loss_map.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

#include "dynamics/first_order.h"
#include "dynamics/gauss_legendre.h"

namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;


// Resonances whose centres lie closer than this many times their widths' sum are sampled as one.
constexpr double kApart = 3.0;

// Far from X's resonance the loss falls as A / (alpha_X - c): the first-order change of G's
// reflection by X (a Bethe potential), odd about the resonance and reaching over many widths. A is
// read at this many widths on either side.
constexpr double kFar = 100.0;

// G's tails are sampled out to this many half-widths of its band from its centre, X's resonances
// out to the far field's reading points: beyond, a ray's loss is a small difference of two small
// reflectivities (rounding, times the growing weight of the tan mapping) and lands far from the
// dip; the far field beyond the resonances is restored whole from its reading.
constexpr double kTailReach = 24.0;
const double kTailEnd = std::atan(kTailReach);
const double kFarEnd = std::atan(kFar);

// The odd far field of a resonance is integrated exactly within this many widths (of the
// resonance, its cell or a bin) and taken as A / t beyond.
constexpr double kExactTail = 30.0;

// Sampled at the resonances, those whose centres lie closer than this share of the narrower's own
// width (the pole's imaginary part) split the piece once, at their middle: the sigma and pi
// resonances of one of G's waves inside its band (a tenth of their widths apart) make no notch
// of their own, and a stretch between them costs a piece's rays for nothing.
constexpr double kJoined = 0.5;

// The narrowest stretch of a piece's mapped angle (of pi) that sampling at the resonances makes.
constexpr double kNarrowestStretch = 1e-3;
constexpr int kStretchRaysForMany = 10;

// A dip shallower than this rounds to 0 in the tables (six decimals): it has no width.
constexpr double kShallowest = 5e-7;

// atan(t / w), w > 0: far from 0 (|t| > 16 w, most of a far field's bins) as pi / 2 less the series
// of atan(w / t) to its ninth power, whose next term is below 1e-14 of it.
double ArcTan(double t, double w)
{
    if (!(std::fabs(t) > 16.0 * w)) return std::atan(t / w);
    const double x = w / t, x2 = x * x;
    const double series = x * (1.0 - x2 * (1.0 / 3.0 - x2 * (1.0 / 5.0 - x2 * (1.0 / 7.0 - x2 / 9.0))));
    return std::copysign(kHalfPi, t) - series;
}

// The share of the sum u + v below t, u and v even over widths su and sv about 0.
double SumBelow(double t, double su, double sv)
{
    const double small = std::min(su, sv), large = std::max(su, sv);
    const double s = t + (small + large) / 2.0;
    if (s <= 0.0) return 0.0;
    if (s >= small + large) return 1.0;
    if (small == 0.0) return s / large;
    if (s < small) return s * s / (2.0 * small * large);
    if (s <= large) return (s - small / 2.0) / large;
    const double rest = small + large - s;
    return 1.0 - rest * rest / (2.0 * small * large);
}

// The pieces of the alpha_X line about X's resonances at one alpha_G: each pole of
// ResonantDeviations, poles closer than a few widths merged, with the poles each was made of and
// their resonances (each pole's centre and own width).
struct Piece {
    double centre, width;
    std::vector<int> poles;
    std::vector<std::pair<double, double>> resonances;
};
std::vector<Piece> PiecesAt(const PassbandCase& c, double alphaG)
{
    const std::vector<std::complex<double>> poles = ResonantDeviations(c, alphaG);
    // Each resonance is at least as wide as X's own two-beam widths; an X beam near the surface
    // (gamma_X^2 below |chi_0|) is refracted and reflected over a range of alpha_X of |chi_0|.
    const double chi0 = std::abs(c.first.chi[0][0]);
    // Of a circle, the widest of its reflections', each in X's deviation.
    const auto surface = [&](int m, double scale) {
        const double gamma = c.first.gamma[static_cast<std::size_t>(m)];
        return chi0 / (1.0 + gamma * gamma / chi0) / scale;
    };
    double nearSurface = surface(2, 1.0);
    for (std::size_t k = 0; k < c.members.size(); ++k) nearSurface = std::fmax(nearSurface, surface(3 + static_cast<int>(k), std::fabs(c.members[k].ratio)));
    const double floor = c.halfX + c.halfXG + nearSurface + 1e-3 * c.halfG;
    std::vector<Piece> pieces;
    for (std::size_t k = 0; k < poles.size(); ++k) pieces.push_back({poles[k].real(), std::fabs(poles[k].imag()) + floor, {static_cast<int>(k)}, {{poles[k].real(), std::fabs(poles[k].imag())}}});
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.centre < b.centre; });
    for (std::size_t k = 1; k < pieces.size();) {
        Piece& before = pieces[k - 1];
        const Piece& next = pieces[k];
        if (next.centre - before.centre > kApart * (before.width + next.width)) {
            ++k;
            continue;
        }
        const double low = std::min(before.centre - before.width, next.centre - next.width);
        const double high = std::max(before.centre + before.width, next.centre + next.width);
        before.centre = (low + high) / 2.0, before.width = (high - low) / 2.0;
        before.poles.insert(before.poles.end(), next.poles.begin(), next.poles.end());
        before.resonances.insert(before.resonances.end(), next.resonances.begin(), next.resonances.end());
        pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return pieces;
}

// The mean position of the given poles at alphaG: how a piece moves along alpha_G.
double CentreOf(const PassbandCase& c, double alphaG, const std::vector<int>& poles)
{
    const std::vector<std::complex<double>> all = ResonantDeviations(c, alphaG);
    double sum = 0.0;
    for (const int k : poles) sum += all[static_cast<std::size_t>(k)].real();
    return sum / static_cast<double>(poles.size());
}

}  // namespace

namespace {

// Samples start + k step interpolated at alpha_c; 0 outside them (and *within false).
double Interpolated(const std::vector<double>& samples, double start, double step, double alphaC, bool* within)
{
    *within = false;
    if (samples.size() < 2 || !(step > 0.0)) return 0.0;
    const double position = (alphaC - start) / step;
    if (!(position >= 0.0) || position > static_cast<double>(samples.size() - 1)) return 0.0;
    *within = true;
    const std::size_t k = std::min(static_cast<std::size_t>(position), samples.size() - 2);
    const double t = position - static_cast<double>(k);
    return samples[k] + t * (samples[k + 1] - samples[k]);
}

}  // namespace

double DipProfile::At(double alphaC) const
{
    bool within = false;
    const double close = Interpolated(fine, fineStart, fineStep, alphaC, &within);
    return within ? close : Interpolated(samples, start, step, alphaC, &within);
}

double DipProfile::Rise() const
{
    if (umweg) return 0.0;
    double highest = 0.0;
    for (const double v : samples) highest = std::max(highest, -v);
    for (const double v : fine) highest = std::max(highest, -v);
    return highest;
}

LossMap::LossMap(const PassbandCase& passband, Sampling sampling, RayLoss rays)
{
    // One solver for the rays on the resonances and one for each far field: each keeps the roots
    // of its own last ray, which is the same kind of ray at the neighbouring node, as its first
    // guesses (a solver that jumped between the far rays and the resonances would start far off).
    // The far fields' are copies of the first made before it solves a ray: the case's expansion
    // is worked out once. (None for the first order, which solves no crystal.)
    const bool firstOrder = rays == RayLoss::kFirstOrder;
    std::optional<RaySolver> solver, below, above;
    if (!firstOrder) solver.emplace(passband), below.emplace(*solver), above.emplace(*solver);
    const double kappa = passband.kappa;
    const double half = passband.halfG > 0.0 ? passband.halfG : std::fmax(passband.halfX, 1e-9);
    const double step = 1e-3 * half;  // for the slopes of the resonances along alpha_G
    // A piece made of more than X's two resonances with G's waves (X''s, or the second wall's)
    // has twice the rays.
    const Quadrature single = GaussLegendre(sampling.resonance), doubled = GaussLegendre(2 * sampling.resonance);
    // But for more than four beams split at their resonances by kStretchRaysForMany rays or more:
    // such a piece holds the resonances of every reflection of X's circle, and the stretches
    // between them are narrow enough for those rays (17 deep dips of silicon's circles within 2.5 %
    // in depth and 3 % in width of a sampling of twice the nodes and rays, as with twice the rays,
    // at half their cost). Not where mirror images join the circle: their resonances fall on X's
    // circle's, in pairs that their couplings part, and the pieces ask for twice the rays (two
    // silicon 0 0 4 dips of six beams 7 % off with ten, 3 % and 0.1 % with twenty).
    const bool mirrored = std::any_of(passband.members.begin(), passband.members.end(), [](const PassbandCase::Member& y) { return y.mirror; });
    const bool tenEnough = passband.first.count > 4 && !mirrored && sampling.atResonances && sampling.resonance >= kStretchRaysForMany;
    // X's beam along the surface (it keeps delta^2) leaves the crystal only where alpha_X exceeds
    // gamma_X^2, at which the normal component of its vacuum wave, sqrt(gamma_X^2 - alpha_X), turns
    // real; below, X's grazing wave reflects much of what reaches it, up to its resonance, where
    // the loss rises within a few hundredths of |chi_0|. Gauss nodes across that root's kink and
    // that edge converge on the plateau between them only as the rays grow many (40 a piece left
    // depths a quarter off): a piece that holds the kink is integrated from its centre to the kink,
    // and beyond each, as three stretches of smooth loss.
    const double gammaX = passband.first.gamma[2];
    const bool grazingX = std::fabs(gammaX) < kGrazing * std::sqrt(std::abs(passband.first.chi[0][0]));
    const double kink = gammaX * gammaX;
    const struct { double from, to; int count; } parts[] = {
        {-kTailEnd, -kHalfPi / 2.0, sampling.tail}, {-kHalfPi / 2.0, kHalfPi / 2.0, sampling.band}, {kHalfPi / 2.0, kTailEnd, sampling.tail}};
    // A node's losses at the alpha_X of each of its rays on the pieces of the alpha_X line (the
    // ray's quadrature weight times its loss, and the stretch of alpha_X it stands for), with how
    // its piece moves along alpha_G; and the odd far field.
    struct Spot {
        double centre, slope, width, loss;
    };
    struct Node {
        double alphaG, weight;
        double from, to;  // the node's share of alpha_G
        std::vector<Spot> spots;  // centre: the ray's alpha_X; width: its stretch of alpha_X
        Spot tail;                // centre: the resonances' middle; width: their half-span W; loss: A
    };
    std::vector<Node> nodes;
    double output = 0.0;
    for (const auto& part : parts) {
        const Quadrature along = GaussLegendre(part.count);
        // Each node's share of phi is its weight, laid end to end from the part's start: the
        // shares' edges fall between the nodes (the weights' partial sums separate Gauss nodes),
        // and a node's loss spread over its share in zeta then has the density its weight gives
        // it (shares from midpoints between the nodes differ from the weights by up to a tenth
        // where the parts meet, and put that much more or less loss into the cells there).
        double edge = part.from;
        for (int i = 0; i < part.count; ++i) {
            Node node;
            const double share = along.weights[static_cast<std::size_t>(i)] * (part.to - part.from) / 2.0;
            const double phi = (part.from + part.to) / 2.0 + (part.to - part.from) / 2.0 * along.nodes[static_cast<std::size_t>(i)];
            const double secant = 1.0 / std::cos(phi);
            node.alphaG = passband.centreG + half * std::tan(phi);
            node.weight = share * half * secant * secant;
            node.from = passband.centreG + half * std::tan(edge);
            edge = i + 1 == part.count ? part.to : edge + share;
            node.to = passband.centreG + half * std::tan(edge);
            const std::optional<FirstOrderRay> closed = firstOrder ? std::optional<FirstOrderRay>(std::in_place, passband, node.alphaG) : std::nullopt;
            double twoBeam[2] = {};
            if (firstOrder) {
                output += node.weight * closed->TwoBeam();
            } else {
                solver->ReflectTwoBeam(node.alphaG, twoBeam);
                for (int p = 0; p < passband.polarisationCount; ++p) output += node.weight * twoBeam[passband.polarisations[p]];
            }
            const auto lossAt = [&](std::optional<RaySolver>& by, double alphaX) {
                if (firstOrder) return closed->Loss(alphaX);
                double withX[2];
                by->ReflectWithX(node.alphaG, alphaX, withX);
                double d = 0.0;
                for (int p = 0; p < passband.polarisationCount; ++p) {
                    const int pol = passband.polarisations[p];
                    d += twoBeam[pol] - withX[pol];
                }
                return d;
            };
            const std::vector<Piece> pieces = PiecesAt(passband, node.alphaG);
            const auto slopeOf = [&](const std::vector<int>& poles) {
                return (CentreOf(passband, node.alphaG + step, poles) - CentreOf(passband, node.alphaG - step, poles)) / (2.0 * step);
            };
            // The far field A t / (t^2 + W^2) about the middle of the resonances, read far out and
            // taken off the rays' losses (it has no integral of its own; it is restored whole).
            const double low = pieces.front().centre - pieces.front().width, high = pieces.back().centre + pieces.back().width;
            const double middle = (low + high) / 2.0, spread = (high - low) / 2.0;
            std::vector<int> every;
            for (const Piece& piece : pieces) every.insert(every.end(), piece.poles.begin(), piece.poles.end());
            // The rays: far below, the pieces' Gauss nodes, far above, in order along alpha_X; those
            // on the pieces taken upwards at one node and downwards at the next so that each ray
            // starts from its neighbour's roots.
            struct Ray {
                double alphaX, weight, stretch, slope, loss;
            };
            std::vector<Ray> rays;
            rays.push_back({middle - kFar * spread, 0.0, 0.0, 0.0, 0.0});
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                const Piece& piece = pieces[k];
                const double slope = slopeOf(piece.poles);
                // The piece's stretch: to the midpoints between its centre and its neighbours'.
                const double lower = k == 0 ? -kFarEnd : std::atan(((pieces[k - 1].centre + piece.centre) / 2.0 - piece.centre) / piece.width);
                const double upper = k + 1 == pieces.size() ? kFarEnd : std::atan(((piece.centre + pieces[k + 1].centre) / 2.0 - piece.centre) / piece.width);
                const std::size_t first = rays.size();
                const Quadrature& gauss = piece.poles.size() > 2 && !tenEnough ? doubled : single;
                std::vector<double> ends{lower, upper};
                const double atKink = std::atan((kink - piece.centre) / piece.width);
                if (grazingX && atKink > lower && atKink < upper) {
                    ends = {lower, atKink, upper};
                    if (lower < 0.0 && upper > 0.0 && atKink != 0.0) ends.insert(ends.begin() + (atKink > 0.0 ? 1 : 2), 0.0);
                    alongSurface_ = true;
                } else if (sampling.atResonances) {
                    // Stretches split at the resonances' centres, those closer than kJoined of the
                    // narrower's own width taken as one, and no narrower than kNarrowestStretch of
                    // the mapped angle.
                    std::vector<std::pair<double, double>> own = piece.resonances;  // centre, width
                    std::sort(own.begin(), own.end());
                    std::vector<double> joined;
                    for (std::size_t r = 0; r < own.size();) {
                        double sum = own[r].first, narrowest = own[r].second;
                        std::size_t next = r + 1;
                        while (next < own.size() && own[next].first - own[next - 1].first < kJoined * std::min(narrowest, own[next].second)) {
                            sum += own[next].first, narrowest = std::min(narrowest, own[next].second);
                            ++next;
                        }
                        joined.push_back(sum / static_cast<double>(next - r));
                        r = next;
                    }
                    for (const double resonance : joined) {
                        const double at = std::atan((resonance - piece.centre) / piece.width);
                        if (at > lower + kNarrowestStretch && at < upper - kNarrowestStretch) ends.push_back(at);
                    }
                    std::sort(ends.begin(), ends.end());
                    ends.erase(std::unique(ends.begin(), ends.end(), [](double a, double b) { return b - a < kNarrowestStretch; }), ends.end());
                }
                for (std::size_t e = 0; e + 1 < ends.size(); ++e) {
                    const double from = ends[e], to = ends[e + 1];
                    for (std::size_t j = 0; j < gauss.nodes.size(); ++j) {
                        const double psi = (from + to) / 2.0 + (to - from) / 2.0 * gauss.nodes[j], sec = 1.0 / std::cos(psi);
                        rays.push_back({piece.centre + piece.width * std::tan(psi), gauss.weights[j] * (to - from) / 2.0 * piece.width * sec * sec,
                                        0.0, slope, 0.0});
                    }
                }
                for (std::size_t j = first; j < rays.size(); ++j) {
                    const double before = j > first ? (rays[j - 1].alphaX + rays[j].alphaX) / 2.0 : rays[j].alphaX - (rays[j + 1].alphaX - rays[j].alphaX) / 2.0;
                    const double after = j + 1 < rays.size() ? (rays[j].alphaX + rays[j + 1].alphaX) / 2.0 : rays[j].alphaX + (rays[j].alphaX - rays[j - 1].alphaX) / 2.0;
                    rays[j].stretch = after - before;
                }
            }
            rays.push_back({middle + kFar * spread, 0.0, 0.0, 0.0, 0.0});
            rays.front().loss = lossAt(below, rays.front().alphaX);
            rays.back().loss = lossAt(above, rays.back().alphaX);
            for (std::size_t j = 1; j + 1 < rays.size(); ++j) {
                Ray& ray = rays[nodes.size() % 2 == 0 ? j : rays.size() - 1 - j];
                ray.loss = lossAt(solver, ray.alphaX);
            }
            node.tail = {middle, slopeOf(every), spread, kFar * spread * (rays.back().loss - rays.front().loss) / 2.0};
            for (std::size_t j = 1; j + 1 < rays.size(); ++j) {
                // The loss less the far field, which is restored as a whole.
                const double t = rays[j].alphaX - middle;
                const double field = node.tail.loss * t / (t * t + spread * spread);
                node.spots.push_back({rays[j].alphaX, rays[j].slope, rays[j].stretch, rays[j].weight * (rays[j].loss - field)});
            }
            nodes.push_back(std::move(node));
        }
    }
    // A forbidden primary passes nothing of its own: the gain X brings it is taken per unit of the
    // span of alpha_G sampled instead.
    if (passband.primaryForbidden) {
        umweg_ = true;
        output = 0.0;
        for (const Node& n : nodes) output += n.weight;
    }
    if (!(output > 0.0)) return;
    // Each node's share of alpha_G mapped to zeta = alpha_X - kappa alpha_G for each of its rays,
    // the ray's alpha_X moving with its resonance along alpha_G.
    double total = 0.0;
    for (const Node& n : nodes) {
        const double lower = n.from - n.alphaG, upper = n.to - n.alphaG;
        const auto cell = [&](const Spot& spot, double stretch, double loss, double tail) {
            const double zeta = spot.centre - kappa * n.alphaG, slope = spot.slope - kappa;
            const double a = zeta + slope * lower, b = zeta + slope * upper;
            cells_.push_back({std::min(a, b), std::max(a, b), stretch, loss, tail, spot.width});
        };
        for (const Spot& spot : n.spots) {
            cell(spot, spot.width, n.weight * spot.loss / output, 0.0);
            total += cells_.back().loss;
        }
        cell(n.tail, 0.0, 0.0, n.weight * n.tail.loss / output);
    }
    integrated_ = total;
    low_ = cells_.front().from, high_ = cells_.front().to;
    for (const Cell& c : cells_) {
        if (c.loss == 0.0 && c.tail == 0.0) continue;
        low_ = std::min(low_, c.from - c.resonance / 2.0);
        high_ = std::max(high_, c.to + c.resonance / 2.0);
    }
}

DipProfile LossMap::Dip(double along, double across, int binCount) const
{
    DipProfile dip;
    if (cells_.empty()) return dip;
    const double a = std::fabs(along), b = std::fabs(across);
    // Bins of a power of two in width, on a grid of their own width: alike cases (the same case
    // seen from an equivalent azimuth, its vectors rounded otherwise) bin alike and agree.
    const double bin = std::exp2(std::floor(std::log2((high_ - low_ + 2.0 * (a + b)) / binCount)));
    dip.samples = Binned(a, b, bin, low_, high_, &dip.start);
    dip.step = 2.0 * bin;
    dip.umweg = umweg_;
    // The share taken, or for a forbidden primary the gain.
    const double sign = umweg_ ? -1.0 : 1.0;
    Measure(dip.samples, dip.start, dip.step, sign, &dip);
    if (dip.depth == 0.0 && !umweg_) return dip;
    // The far rays set the reach, which may be hundreds of times the dip's width: a dip of a few
    // bins loses its depth to them (a mirror pair's 0.34 came out 0.19 where denser nodes reached
    // further and the bins doubled). Summed again about its deepest point, finer: the half-depth
    // points lie within a width of it, where the coarse bins put them.
    const double width = dip.high - dip.low;
    if (!(width > 0.0) || width >= kBinsPerDip * bin) return dip;
    // (At most 64 times finer: a half-depth point beside a steep rise of I0 can put the width at
    // a small part of a bin, and the window at millions of bins.)
    const double finer = std::max(std::exp2(std::floor(std::log2(width / kBinsPerDip))), bin / 64.0);
    const double reach = 2.0 * width + 2.0 * bin;
    DipProfile fine;
    fine.samples = Binned(a, b, finer, dip.peak - reach, dip.peak + reach, &fine.start);
    fine.step = 2.0 * finer;
    // Only the samples whose trapezoid lies within the bins (Lambda beyond them is not summed).
    const std::size_t skip = static_cast<std::size_t>(std::max(0.0, std::ceil((dip.peak - reach - fine.start) / fine.step)));
    const std::size_t keep = static_cast<std::size_t>(std::max(0.0, std::floor((dip.peak + reach - fine.start) / fine.step))) + 1;
    if (keep <= skip + 1 || keep > fine.samples.size()) return dip;
    fine.samples = std::vector<double>(fine.samples.begin() + static_cast<std::ptrdiff_t>(skip), fine.samples.begin() + static_cast<std::ptrdiff_t>(keep));
    fine.start += static_cast<double>(skip) * fine.step;
    Measure(fine.samples, fine.start, fine.step, sign, &fine);
    const bool inside = fine.low > fine.start && fine.high < fine.start + fine.step * static_cast<double>(fine.samples.size() - 1);
    if (!(fine.depth > 0.0 || umweg_) || !inside) return dip;
    dip.depth = fine.depth, dip.peak = fine.peak, dip.low = fine.low, dip.high = fine.high;
    dip.fineStart = fine.start, dip.fineStep = fine.step, dip.fine = std::move(fine.samples);
    return dip;
}

void LossMap::Measure(const std::vector<double>& samples, double start, double step, double sign, DipProfile* dip) const
{
    std::size_t deepest = 0;
    for (std::size_t k = 1; k < samples.size(); ++k) {
        if (sign * samples[k] > sign * samples[deepest]) deepest = k;
    }
    const double top = samples.empty() ? 0.0 : std::max(0.0, sign * samples[deepest]);
    dip->depth = umweg_ ? 0.0 : top;
    dip->peak = dip->low = dip->high = start + static_cast<double>(deepest) * step;
    if (top < (umweg_ ? 1e-300 : kShallowest)) {
        dip->depth = 0.0;
        return;
    }
    // Half the top on either side, between the samples that straddle it.
    const double level = top / 2.0;
    std::size_t left = deepest, right = deepest;
    while (left > 0 && sign * samples[left - 1] > level) --left;
    while (right + 1 < samples.size() && sign * samples[right + 1] > level) ++right;
    const auto crossing = [&](std::size_t inside, std::size_t outside) {
        const double di = sign * samples[inside], dout = sign * samples[outside];
        const double t = di != dout ? (di - level) / (di - dout) : 0.0;
        return start + (static_cast<double>(inside) + t * (static_cast<double>(outside) - static_cast<double>(inside))) * step;
    };
    const double end = start + step * static_cast<double>(samples.size() - 1);
    dip->low = left > 0 ? crossing(left, left - 1) : start;
    dip->high = right + 1 < samples.size() ? crossing(right, right + 1) : end;
}

std::vector<double> LossMap::Binned(double a, double b, double bin, double low, double high, double* start) const
{
    const double from = std::floor((low - (a + b)) / bin) * bin;
    const int bins = 2 * (static_cast<int>(std::ceil((high + (a + b) - from) / bin)) / 2 + 1);
    const double to = from + bins * bin;
    // The bin of zeta, -1 below the bins and `bins` above them.
    const auto binOf = [&](double z) {
        const double position = std::floor((z - from) / bin);
        return position < 0.0 ? -1 : position >= bins ? bins : static_cast<int>(position);
    };
    // The same rounded up, within 0 and `bins`.
    const auto edgeOf = [&](double z) {
        const double position = std::ceil((z - from) / bin);
        return position < 0.0 ? 0 : position >= bins ? bins : static_cast<int>(position);
    };
    // Lambda in bins: each cell's loss spread evenly over its zeta and over the resonance (the
    // share of it that falls within the bins).
    std::vector<double> lambda(static_cast<std::size_t>(bins), 0.0);
    for (const Cell& c : cells_) {
        const double mid = (c.from + c.to) / 2.0, u = c.to - c.from, v = c.resonance;
        const int first = std::max(binOf(mid - (u + v) / 2.0), 0), end = binOf(mid + (u + v) / 2.0);
        const int last = std::min(end, bins - 1);
        double below = SumBelow(from + first * bin - mid, u, v);
        for (int j = first; j <= last && c.loss != 0.0; ++j) {
            const double next = j == end ? 1.0 : SumBelow(from + (j + 1) * bin - mid, u, v);
            lambda[static_cast<std::size_t>(j)] += c.loss * (next - below) / bin;
            below = next;
        }
        // The odd tail A t / (t^2 + w^2), t = zeta - zeta', zeta' over the cell, averaged over each
        // bin: differences of its second integral in t near the cell, and A / t at the bin's middle
        // far from it, where the two agree to (bin / t)^2.
        if (c.tail == 0.0) continue;
        const double w = c.width, span = u;
        const double near = kExactTail * std::max({w, span, bin});
        const auto second = [w](double t) { return 0.5 * (t * std::log(t * t + w * w) - 2.0 * t + 2.0 * w * ArcTan(t, w)); };
        const auto cellAverage = [&](double z) {  // the first integral over the cell, per unit of zeta'
            if (span > 1e-3 * w) return (second(z - c.from) - second(z - c.to)) / span;
            const double t = z - mid;
            return 0.5 * std::log(t * t + w * w);
        };
        const int firstNear = std::max(binOf(mid - near), 0);
        const int lastNear = edgeOf(mid + near);
        for (int j = 0; j < firstNear; ++j) lambda[static_cast<std::size_t>(j)] += c.tail / (from + (j + 0.5) * bin - mid);
        for (int j = lastNear; j < bins; ++j) lambda[static_cast<std::size_t>(j)] += c.tail / (from + (j + 0.5) * bin - mid);
        // Within that reach but far from the cell's edges (by kExactTail times the resonance's and
        // the bin's widths), the tail is A / t averaged over the cell alone, at the bin's middle:
        // log|(z - from) / (z - to)| / span, to the same (w / d)^2 and (bin / d)^2, d the distance
        // to the nearer edge.
        const double clear = kExactTail * std::max(w, bin) + bin;
        const bool wide = span > 1e-3 * w;
        bool chained = false;
        double previous = 0.0;
        for (int j = firstNear; j < lastNear; ++j) {
            const double z = from + (j + 0.5) * bin;
            if (wide && std::fabs(z - c.from) > clear && std::fabs(z - c.to) > clear) {
                const double share = z > c.to || z < c.from ? std::log1p(span / (z - c.to)) : std::log((z - c.from) / (c.to - z));
                lambda[static_cast<std::size_t>(j)] += c.tail * share / span;
                chained = false;
                continue;
            }
            if (!chained) previous = cellAverage(from + j * bin), chained = true;
            const double next = cellAverage(from + (j + 1) * bin);
            lambda[static_cast<std::size_t>(j)] += c.tail * (next - previous) / bin;
            previous = next;
        }
    }
    // The first and second integrals of Lambda at the bin edges, exact for a Lambda even within a
    // bin (from the first bin: the trapezoid's differences of them do not see where they start).
    std::vector<double> first(static_cast<std::size_t>(bins) + 1, 0.0), second(static_cast<std::size_t>(bins) + 1, 0.0);
    for (std::size_t j = 0; j < static_cast<std::size_t>(bins); ++j) {
        first[j + 1] = first[j] + lambda[j] * bin;
        second[j + 1] = second[j] + first[j] * bin + lambda[j] * bin * bin / 2.0;
    }
    const auto integral = [&](double z, int order) {
        const double position = (z - from) / bin;
        if (!(position > 0.0)) return 0.0;
        const std::size_t n = static_cast<std::size_t>(bins);
        if (position >= bins) return order == 1 ? first[n] : second[n] + first[n] * (z - to);
        const std::size_t j = static_cast<std::size_t>(position);
        const double t = z - from - static_cast<double>(j) * bin;
        return order == 1 ? first[j] + lambda[j] * t : second[j] + first[j] * t + lambda[j] * t * t / 2.0;
    };
    // The trapezoid T: the convolution of the boxes a and b wide; a box alone, or a single line.
    const double tiny = 1e-3 * bin;
    const auto depth = [&](double c) {
        if (a > tiny && b > tiny) {
            const double outer = (a + b) / 2.0, inner = std::fabs(a - b) / 2.0;
            return (integral(c + outer, 2) - integral(c + inner, 2) - integral(c - inner, 2) + integral(c - outer, 2)) / (a * b);
        }
        const double w = std::max(a, b);
        if (w > tiny) return (integral(c + w / 2.0, 1) - integral(c - w / 2.0, 1)) / w;
        const double position = (c - from) / bin;
        return position >= 0.0 && position < bins ? lambda[static_cast<std::size_t>(position)] : 0.0;
    };
    // Every second bin edge.
    *start = from;
    std::vector<double> samples(static_cast<std::size_t>(bins / 2 + 1));
    for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = depth(from + static_cast<double>(k) * 2.0 * bin);
    return samples;
}
