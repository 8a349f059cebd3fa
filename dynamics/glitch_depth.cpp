#include "dynamics/glitch_depth.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <condition_variable>
#include <mutex>
#include <set>

#include "dynamics/darwin_width.h"
#include "dynamics/first_order.h"
#include "scan/parallel_for.h"
#include "setup/units.h"

namespace {

// A dip is sampled coarsely first: one shallower than kFaintDepth is left at that (its depth to a
// few percent, its deepest point to a quarter of its width: no scan shows it); one deeper than
// kCloseDepth at the usual sampling, a dip a scan can show, is sampled again at kShownSampling
// (its depth to some percent, its deepest point to a tenth of its width, where the usual sampling
// puts the point a quarter of a width off to one side and the width a tenth wider).
constexpr double kFaintDepth = 1e-4;
constexpr double kCloseDepth = 1e-3;
// The usual sampling puts a dip up to a fifth too deep: one it finds above half kCloseDepth may
// be one a scan shows, and is sampled so too.
constexpr double kCloseGate = kCloseDepth / 2.0;
// The coarse sampling errs by a factor of two or three either way: a dip it finds deeper than
// twice kCloseGate is sampled as shown at once, without the usual pass between (which sent all but
// one of 1386 such dips of eleven tables on: a third of its work, spared).
constexpr double kSurelyClose = 2.0 * kCloseGate;
// A dip deeper than this (a strong X, a mirror pair) is sampled again at kDeepSampling, which
// puts it within 2 % of a sampling of twice its nodes and rays (kShownSampling within 3 %).
constexpr double kDeepDip = 0.05;
// One that the coarse sampling finds deeper than this (it errs by a factor of two or three) is
// deep: sampled so at once.
constexpr double kSurelyDeep = 3.0 * kDeepDip;
// An estimate's dip is sampled at a quarter of the usual bins: its deepest point to some tenths of
// its width.
constexpr int kEstimateBins = kDipBins / 4;

// |k_perp| at the wavelength, 0 at G's cut-off even where rounding puts the wavelength a hair
// beyond it (an energy given as the cut-off itself).
double BeamAcrossAt(const ScanFrame& frame, double lambda)
{
    const double across = frame.BeamAcross(lambda);
    return across > 0.0 ? across : 0.0;
}

// A profile's samples at and beyond its last.
double End(const DipProfile& dip) { return dip.start + dip.step * static_cast<double>(dip.samples.size() - 1); }

// The samples' full width at half depth about the deepest, in the units of `at` (the abscissa of
// sample k), and the deepest's depth; 0 width for a dip of depth 0.
struct Measured {
    double depth, width, peak;
};
Measured MeasureSamples(const std::vector<double>& depth, const std::vector<double>& at, double shallowest)
{
    std::size_t deepest = 0;
    for (std::size_t k = 1; k < depth.size(); ++k) {
        if (depth[k] > depth[deepest]) deepest = k;
    }
    if (depth.empty() || !(depth[deepest] >= shallowest)) return {0.0, 0.0, at.empty() ? 0.0 : at[deepest]};
    const double level = depth[deepest] / 2.0;
    std::size_t left = deepest, right = deepest;
    while (left > 0 && depth[left - 1] > level) --left;
    while (right + 1 < depth.size() && depth[right + 1] > level) ++right;
    const auto crossing = [&](std::size_t inside, std::size_t outside) {
        const double t = depth[inside] != depth[outside] ? (depth[inside] - level) / (depth[inside] - depth[outside]) : 0.0;
        return at[inside] + t * (at[outside] - at[inside]);
    };
    const double low = left > 0 ? crossing(left, left - 1) : at.front();
    const double high = right + 1 < depth.size() ? crossing(right, right + 1) : at.back();
    return {depth[deepest], std::fabs(high - low), at[deepest]};
}

// A circle's dip, worked out in the deviation of X (the one of them that runs furthest in), as
// the given reflection sees it: a member's deviation at the central ray (alpha_G = 0) is `ratio`
// times X's, so that its profile is X's stretched by the ratio (and turned round where the ratio
// is negative). A mirror partner's (ratio 1) is X's.
DipProfile AsSeenBy(DipProfile dip, const PassbandCase& c, Miller given)
{
    double ratio = 1.0;
    for (const PassbandCase::Member& y : c.members) {
        if (y.h == given) ratio = y.ratio;
    }
    if (ratio == 1.0) return dip;
    const auto stretch = [&](double* start, double* step, std::vector<double>* samples) {
        if (ratio > 0.0 || samples->empty()) {
            *start *= ratio, *step *= std::fabs(ratio);
            return;
        }
        *start = ratio * (*start + *step * static_cast<double>(samples->size() - 1)), *step *= -ratio;
        std::reverse(samples->begin(), samples->end());
    };
    stretch(&dip.start, &dip.step, &dip.samples);
    stretch(&dip.fineStart, &dip.fineStep, &dip.fine);
    dip.peak *= ratio;
    const double low = ratio * dip.low, high = ratio * dip.high;
    dip.low = std::min(low, high), dip.high = std::max(low, high);
    return dip;
}

}  // namespace

double GlitchShape::Reach() const
{
    if (rate == 0.0 || dip.samples.empty()) return 0.0;
    return std::max(std::fabs(dip.start), std::fabs(End(dip))) / std::fabs(rate);
}

namespace {

// The dip of a case for the beam's spread across: sampled coarsely, then as closely as its depth
// is worth.
DipProfile DipOf(const PassbandCase& c, double across, std::optional<LossMap>* keep = nullptr)
{
    std::optional<LossMap> local;
    std::optional<LossMap>& map = keep != nullptr ? *keep : local;
    const double along = std::fabs(c.alongRate) * c.along, spread = std::fabs(c.acrossRate) * across;
    // A weak X clear of the surface is sorted by the first order of its loss, which solves no
    // crystal; a faint dip keeps it. Elsewhere by a coarse map of the full solution (a dip of a
    // quarter of the bins: binning costs a third of a coarse map), which a faint dip keeps: its
    // width to some percent.
    const bool firstOrder = FirstOrderHolds(c);
    if (firstOrder) {
        map.emplace(c, kCloseSampling, RayLoss::kFirstOrder);
    } else {
        map.emplace(c, kCoarseSampling);
    }
    DipProfile dip = map->Dip(along, spread, firstOrder ? kDipBins : kEstimateBins);
    // X's beam along the surface: the coarse sampling puts its dip up to four times too shallow, the
    // close one within some 15 %; one a scan may show converges at a sampling of its own (at once
    // where the coarse sampling already finds it deeper than kSurelyClose).
    if (map->AlongSurface()) {
        if (dip.depth > kSurelyClose) {
            map.emplace(c, kSurfaceSampling);
            return map->Dip(along, spread);
        }
        map.emplace(c, kCloseSampling);
        dip = map->Dip(along, spread);
        if (dip.depth > kCloseGate) {
            map.emplace(c, kSurfaceSampling);
            dip = map->Dip(along, spread);
        }
        return dip;
    }
    // An Umweg peak (a forbidden primary) has depth 0 but a width worth the usual sampling.
    if (dip.depth < kFaintDepth && !dip.umweg) return dip;
    // Sampled as a dip a scan shows, and a deep dip again at its own sampling.
    const auto closely = [&] {
        map.emplace(c, kShownSampling);
        DipProfile close = map->Dip(along, spread);
        if (!(close.depth > kDeepDip)) return close;
        map.emplace(c, kDeepSampling);
        return map->Dip(along, spread);
    };
    // A dip that the coarse sampling already finds deeper than kSurelyClose is sampled as shown at
    // once, one deeper than kSurelyDeep as deep.
    if (dip.depth > kSurelyDeep) {
        map.emplace(c, kDeepSampling);
        return map->Dip(along, spread);
    }
    if (dip.depth > kSurelyClose) return closely();
    map.emplace(c);
    dip = map->Dip(along, spread);
    return dip.depth > kCloseGate ? closely() : dip;
}

}  // namespace

ScanRate ScanRateOf(const ScanFrame& frame, const Lattice& lattice, Miller x, double psi, double keV)
{
    ScanRate scan;
    const double lambda = kHcKeVAngstrom / keV;
    if (BeamAcrossAt(frame, lambda) > 0.0) {
        scan.rate = DeviationRate(frame, lattice, x, psi, keV);
        if (!std::isfinite(scan.rate)) scan.rate = 0.0;
        return scan;
    }
    // At G's cut-off alpha_c = 2 lambda^2 beam |k_perp| (u.X) grows as the root of E - Ec above it:
    // |k_perp| = sqrt(2 E dE) / hc to first order.
    scan.cutoff = true;
    const double radians = Radians(psi);
    const Vec3 u = std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3;
    const double hcEV = kHcKeVAngstrom * 1000.0, eV = keV * 1000.0;
    scan.root = 2.0 * lambda * lambda * frame.beam * Dot(u, lattice.Reciprocal(x)) * std::sqrt(2.0 * eV) / hcEV;
    return scan;
}

GlitchShape ShapeAlongScan(DipProfile dip, const ScanRate& scan)
{
    GlitchShape shape;
    shape.depth = dip.depth;
    if (scan.cutoff) {
        // alpha_c reaches the dip's far half-depth point at E - Ec = (alpha / root)^2; the profile
        // drawn as linear with the same width.
        const double far = std::max(std::fabs(dip.low), std::fabs(dip.high));
        const double width = scan.root != 0.0 ? (far / scan.root) * (far / scan.root) : std::numeric_limits<double>::infinity();
        shape.widthEV = dip.high > dip.low ? width : 0.0;
        shape.rate = std::isfinite(width) && width > 0.0 ? std::copysign((dip.high - dip.low) / width, scan.root) : 0.0;
    } else if (scan.rate == 0.0) {
        // X stays on the sphere: the same share at every energy, and no width along the scan.
        shape.depth = std::max(0.0, dip.At(0.0));
        shape.widthEV = std::numeric_limits<double>::infinity();
    } else {
        shape.rate = scan.rate;
        shape.widthEV = (dip.high - dip.low) / std::fabs(scan.rate);
        shape.offsetEV = dip.peak / scan.rate;
    }
    shape.dip = std::move(dip);
    return shape;
}

GlitchLoss::GlitchLoss(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
    : case_(DescribePassband(crystal, frame, x, psi, keV, beam, false)), x_(x), rate_(0.0), cutoff_(false), cutoffRoot_(0.0)
{
    // Closely sampled whatever the spread: the widths of one glitch for many spreads come from one
    // map, and a dip's sampling error (some percent) would otherwise change with the spread. Deep
    // dips too: the spread is read from how little it widens them (a few percent), and maps
    // sampled as the tables sample deep dips read the spread of a scan made from them a quarter too
    // wide, where close maps read it within a tenth.
    map_.emplace(case_, kCloseSampling);
    if (map_->AlongSurface()) map_.emplace(case_, kSurfaceSampling);
    const ScanRate scan = ScanRateOf(frame, crystal.lattice(), x, psi, keV);
    rate_ = scan.rate, cutoff_ = scan.cutoff, cutoffRoot_ = scan.root;
}

GlitchShape GlitchLoss::Shape(double across) const
{
    return ShapeAlongScan(AsSeenBy(map_->Dip(std::fabs(case_.alongRate) * case_.along, std::fabs(case_.acrossRate) * across), case_, x_),
                          ScanRate{rate_, cutoff_, cutoffRoot_});
}

namespace {

// A case's numbers rounded to a billionth of their scale (the cosines and rates to 1e-9, the
// susceptibilities to 1e-9 of |chi_0|): cases alike but for the rounding of their vectors agree
// to far better.
std::vector<long long> KeyOf(const PassbandCase& c, double across, bool exact = false)
{
    std::vector<long long> key;
    const auto add = [&](double v, double unit) { key.push_back(exact ? std::bit_cast<long long>(v) : std::llround(v / unit)); };
    const double chi = std::max(std::abs(c.first.chi[0][0]), 1e-30);
    const auto addSet = [&](const BeamSet& set) {
        key.push_back(set.count);
        for (int m = 0; m < set.count; ++m) {
            add(set.gamma[static_cast<std::size_t>(m)], 1e-9);
            for (int n = 0; n < set.count; ++n) add(set.chi[m][n].real(), 1e-9 * chi), add(set.chi[m][n].imag(), 1e-9 * chi);
        }
    };
    addSet(c.first);
    if (c.twoCrystals) addSet(c.second);
    key.push_back(c.secondMeetsX);
    for (const double v : {c.kappa, std::fabs(c.alongRate), std::fabs(c.acrossRate), c.cosines[0], c.cosines[1], c.cosines[2]}) {
        add(v, 1e-9);
    }
    add(c.along, 1e-15), add(across, 1e-15);
    key.push_back(c.polarisationCount);
    key.push_back(c.polarisations[0]);
    // A mirror image's map keeps more rays than a circle member's of the same relation.
    for (const PassbandCase::Member& y : c.members) add(y.ratio, 1e-9), add(y.shift, 1e-9), key.push_back(y.mirror);
    return key;
}

// Dips worked out before in this process, by their case: a fit shapes the same lines for each
// scan it is given, clean windows meet a glitch map's lines again, a Python session asks again.
// Bounded: a full store begins again.
class DipStore {
public:
    bool Find(const std::vector<long long>& key, DipProfile* dip)
    {
        const std::lock_guard<std::mutex> held(lock_);
        const auto found = dips_.find(key);
        if (found == dips_.end()) return false;
        *dip = found->second;
        return true;
    }
    void Keep(const std::vector<long long>& key, const DipProfile& dip)
    {
        const std::lock_guard<std::mutex> held(lock_);
        KeepHeld(key, dip);
    }
    // The dip of the key, from the store, or worked out by `work` and kept; a thread that asks for
    // a dip another is working out waits for it (the reflections of one circle, weighed side by
    // side on two cores, would otherwise work out their costly dip twice).
    template <typename Work>
    DipProfile Obtain(const std::vector<long long>& key, Work work)
    {
        std::unique_lock<std::mutex> held(lock_);
        for (;;) {
            const auto found = dips_.find(key);
            if (found != dips_.end()) return found->second;
            if (working_.insert(key).second) break;
            done_.wait(held);
        }
        held.unlock();
        // Whatever happens to the work, the key is released and the waiters woken.
        struct Release {
            DipStore* store;
            const std::vector<long long>& key;
            ~Release()
            {
                {
                    const std::lock_guard<std::mutex> again(store->lock_);
                    store->working_.erase(key);
                }
                store->done_.notify_all();
            }
        } release{this, key};
        DipProfile dip = work();
        const std::lock_guard<std::mutex> again(lock_);
        KeepHeld(key, dip);
        return dip;
    }

    void Forget()
    {
        const std::lock_guard<std::mutex> held(lock_);
        dips_.clear(), bytes_ = 0;
    }

private:
    void KeepHeld(const std::vector<long long>& key, const DipProfile& dip)
    {
        const std::size_t bytes = sizeof(DipProfile) + (dip.samples.size() + dip.fine.size()) * sizeof(double) + key.size() * sizeof(long long) + 64;
        if (bytes_ + bytes > kBytes) dips_.clear(), bytes_ = 0;
        if (dips_.emplace(key, dip).second) bytes_ += bytes;
    }

    static constexpr std::size_t kBytes = std::size_t{64} << 20;
    std::mutex lock_;
    std::condition_variable done_;
    std::map<std::vector<long long>, DipProfile> dips_;
    std::set<std::vector<long long>> working_;  // keys a thread is working out
    std::size_t bytes_ = 0;
};

DipStore& Store()
{
    static DipStore store;
    return store;
}

// A case's dip, from the store or worked out and kept.
DipProfile StoredDipOf(const PassbandCase& c, double across)
{
    return Store().Obtain(KeyOf(c, across), [&] { return DipOf(c, across); });
}

// The dips of many requests: each request's case, the distinct ones (the first of each kind)
// worked out on every core, but for those the store holds.
std::vector<DipProfile> DipsOf(const Crystal& crystal, const std::vector<GlitchRequest>& requests, const Beam& beam)
{
    std::vector<PassbandCase> cases(requests.size());
    ParallelFor(requests.size(), [&](std::size_t i) {
        const GlitchRequest& r = requests[i];
        cases[i] = DescribePassband(crystal, *r.frame, r.x, r.psi, r.keV, beam);
    }, 16);
    std::map<std::vector<long long>, std::size_t> first;
    std::vector<std::size_t> of(requests.size());
    std::vector<const std::vector<long long>*> keys(requests.size(), nullptr);  // of the first of each kind
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto [at, added] = first.emplace(KeyOf(cases[i], beam.across), i);
        if (added) keys[i] = &at->first;
        of[i] = at->second;
    }
    std::vector<DipProfile> dips(requests.size());
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (keys[i] != nullptr && !Store().Find(*keys[i], &dips[i])) missing.push_back(i);
    }
    ParallelFor(missing.size(), [&](std::size_t k) { dips[missing[k]] = DipOf(cases[missing[k]], beam.across); }, 1);
    for (const std::size_t i : missing) Store().Keep(*keys[i], dips[i]);
    for (std::size_t i = 0; i < dips.size(); ++i) {
        if (of[i] != i) dips[i] = dips[of[i]];
    }
    for (std::size_t i = 0; i < dips.size(); ++i) dips[i] = AsSeenBy(std::move(dips[i]), cases[i], requests[i].x);
    return dips;
}

}  // namespace

void ForgetStoredDips() { Store().Forget(); }

std::vector<GlitchShape> ShapesOfGlitches(const Crystal& crystal, const std::vector<GlitchRequest>& requests, const Beam& beam)
{
    std::vector<DipProfile> dips = DipsOf(crystal, requests, beam);
    std::vector<GlitchShape> shapes(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const GlitchRequest& r = requests[i];
        shapes[i] = ShapeAlongScan(std::move(dips[i]), ScanRateOf(*r.frame, crystal.lattice(), r.x, r.psi, r.keV));
    }
    return shapes;
}

DipEstimate EstimateDip(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam,
                        Sampling sampling)
{
    const PassbandCase c = DescribePassband(crystal, frame, x, psi, keV, beam);
    // Kept too: the reflections of one circle, whose lines a fit weighs one by one, share it. Only
    // for the very same case (to the bit): an estimate taken from an alike one would carry the
    // last bits of whichever came first into the weights a fit ranks its lines by.
    std::vector<long long> key = KeyOf(c, beam.across, true);
    key.insert(key.end(), {-1, sampling.tail, sampling.band, sampling.resonance, sampling.atResonances});
    const DipProfile dip = AsSeenBy(Store().Obtain(key, [&] {
        return LossMap(c, sampling).Dip(std::fabs(c.alongRate) * c.along, std::fabs(c.acrossRate) * beam.across, kEstimateBins);
    }), c, x);
    return {dip.depth, dip.peak};
}

GlitchShape ShapeOfGlitch(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    const PassbandCase c = DescribePassband(crystal, frame, x, psi, keV, beam);
    return ShapeAlongScan(AsSeenBy(StoredDipOf(c, beam.across), c, x), ScanRateOf(frame, crystal.lattice(), x, psi, keV));
}

namespace {

// The event's dip as psi turns the beam about G at `keV`: the deepest share taken and the full
// width at half depth in degrees. The deviation alpha_c(psi) is taken from the beam's vector itself
// over the azimuths whose deviations the profile covers.
Measured DipInAzimuth(const DipProfile& dip, const ScanFrame& frame, const Vec3& x, double psi, double keV)
{
    if (dip.samples.empty() || !(dip.high > dip.low)) return {0.0, 0.0, psi};
    const double lambda = kHcKeVAngstrom / keV, across = frame.beam * BeamAcrossAt(frame, lambda);
    const auto alpha = [&](double degrees) {
        const double r = Radians(degrees);
        const Vec3 k0 = (-frame.length / 2.0) * frame.along + across * (std::cos(r) * frame.e2 + std::sin(r) * frame.e3);
        return lambda * lambda * (2.0 * Dot(k0, x) + Dot(x, x));
    };
    // The azimuths to sample: where the quadratic model of alpha_c about psi stays inside the
    // profile, with a margin.
    const double radians = Radians(psi), perDegree = kRadiansPerDegree;
    const Vec3 turning = (across * perDegree) * (-std::sin(radians) * frame.e2 + std::cos(radians) * frame.e3);
    const Vec3 bending = (-across * perDegree * perDegree) * (std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3);
    const double rate = 2.0 * lambda * lambda * Dot(turning, x), curvature = 2.0 * lambda * lambda * Dot(bending, x);
    const double at = alpha(psi);
    const double span = std::max(std::fabs(dip.start - at), std::fabs(End(dip) - at));
    double reach = 180.0;
    if (rate != 0.0) reach = std::min(reach, span / std::fabs(rate));
    if (curvature != 0.0) reach = std::min(reach, std::sqrt(2.0 * span / std::fabs(curvature)));
    reach = std::min(180.0, 1.5 * reach);
    if (!(reach > 0.0)) return {0.0, 0.0, psi};
    // Sampled over the reach, then again over the dip itself, four widths about its deepest.
    constexpr int kSamples = 513;
    // A forbidden primary's Umweg peak is measured as a dip would be.
    const double sign = dip.umweg ? -1.0 : 1.0, shallowest = dip.umweg ? 1e-300 : 5e-7;
    std::vector<double> depth(kSamples), azimuth(kSamples);
    const auto sample = [&](double from, double to) {
        for (int k = 0; k < kSamples; ++k) {
            azimuth[static_cast<std::size_t>(k)] = from + (to - from) * k / (kSamples - 1);
            depth[static_cast<std::size_t>(k)] = sign * dip.At(alpha(azimuth[static_cast<std::size_t>(k)]));
        }
        return MeasureSamples(depth, azimuth, shallowest);
    };
    Measured m = sample(psi - reach, psi + reach);
    if (m.width > 0.0) m = sample(m.peak - 2.0 * m.width, m.peak + 2.0 * m.width);
    if (dip.umweg) m.depth = 0.0;
    return m;
}

}  // namespace

double EventWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    return DipsInAzimuth(crystal, {{&frame, x, psi, keV}}, beam).front().widthDeg;
}

void ShapeEvent(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, Event* event)
{
    const AzimuthDip dip = DipsInAzimuth(crystal, {{&frame, event->x, event->psi, keV}}, beam).front();
    event->depth = dip.depth;
    event->widthDeg = dip.widthDeg;
}

std::vector<AzimuthDip> DipsInAzimuth(const Crystal& crystal, const std::vector<GlitchRequest>& requests, const Beam& beam)
{
    const std::vector<DipProfile> dips = DipsOf(crystal, requests, beam);
    std::vector<AzimuthDip> found(requests.size());
    ParallelFor(requests.size(), [&](std::size_t i) {
        const GlitchRequest& r = requests[i];
        const Measured m = DipInAzimuth(dips[i], *r.frame, crystal.lattice().Reciprocal(r.x), r.psi, r.keV);
        found[i] = {m.depth, m.width};
    }, 64);
    return found;
}

void SetEventWidths(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, std::vector<Event>* events)
{
    std::vector<GlitchRequest> requests;
    requests.reserve(events->size());
    for (const Event& e : *events) requests.push_back({&frame, e.x, e.psi, keV});
    const std::vector<AzimuthDip> dips = DipsInAzimuth(crystal, requests, beam);
    for (std::size_t i = 0; i < events->size(); ++i) (*events)[i].depth = dips[i].depth, (*events)[i].widthDeg = dips[i].widthDeg;
}
