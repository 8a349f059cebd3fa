#include "scan/events.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "scan/parallel_for.h"
#include "scan/sphere_reflections.h"
#include "setup/units.h"

const char* PassageWord(Passage passage)
{
    switch (passage) {
        case Passage::kIn: return "in";
        case Passage::kOut: return "out";
        case Passage::kTop: return "top";
        case Passage::kAlways: return "always";
    }
    return "";
}

namespace {

// An event at its first azimuth, before the turns of the window are taken.
struct Crossing {
    double psi, psiMin, psiMax;
    Passage passage;
};

// The events of one reflection, at psi within one turn of its curve's centre.
std::vector<Crossing> CrossingsOf(const SphereReflection& r, const ScanFrame& frame, const Band& band)
{
    if (r.Always()) return {{r.azimuth - 90.0, r.azimuth - 90.0, r.azimuth - 90.0, Passage::kAlways},
                            {r.azimuth + 90.0, r.azimuth + 90.0, r.azimuth + 90.0, Passage::kAlways}};
    const double lower = band.lambda - band.width / 2.0;
    const double upper = band.lambda + band.width / 2.0;
    const double outer = r.HalfWidth(frame, lower);  // the band's short edge: the widest reach
    if (std::isnan(outer)) return {};                // the curve stays below the band
    const double atLambda = r.HalfWidth(frame, band.lambda);
    const double inner = r.HalfWidth(frame, upper);  // NaN when the top lies inside the band
    if (!(atLambda > 0.0)) {
        return {{r.centre, r.centre - outer, r.centre + outer, Passage::kTop}};
    }
    // X enters the sphere where beam * sin(psi - azimuth) > 0; psi - azimuth is +/- beta, or
    // 180 -/+ beta when the centre lies opposite X's azimuth.
    const int side = (r.centre == r.azimuth ? 1 : -1) * frame.beam;
    std::vector<Crossing> crossings;
    for (int sign : {-1, 1}) {
        const double psi = r.centre + sign * atLambda;
        double from = r.centre + sign * outer;
        double to = std::isnan(inner) ? r.centre - sign * outer : r.centre + sign * inner;
        if (from > to) std::swap(from, to);
        crossings.push_back({psi, from, to, sign * side > 0 ? Passage::kIn : Passage::kOut});
    }
    return crossings;
}

// Events kept in fixed chunks, so that a list of millions grows without being copied.
class EventChunks {
public:
    void Add(const Event& e)
    {
        if (chunks_.empty() || chunks_.back().size() == kChunk) {
            chunks_.emplace_back();
            chunks_.back().reserve(kChunk);
        }
        chunks_.back().push_back(e);
    }
    std::size_t Size() const { return chunks_.empty() ? 0 : (chunks_.size() - 1) * kChunk + chunks_.back().size(); }
    template <typename Visit>
    void ForEach(Visit&& visit) const
    {
        for (const std::vector<Event>& chunk : chunks_) {
            for (const Event& e : chunk) visit(e);
        }
    }

private:
    static constexpr std::size_t kChunk = 8192;
    std::vector<std::vector<Event>> chunks_;
};

// Every event of the reflections with psi inside the window, strengths not yet relative, one list
// for each slice of index space: the slices are surveyed on every core.
std::vector<EventChunks> EventsInside(const Crystal& crystal, const ScanFrame& frame, const Band& band,
                                      const PsiWindow& window)
{
    const double keV = kHcKeVAngstrom / band.lambda;
    const double shortest = band.lambda - band.width / 2.0;
    // Every X that reaches the band lies inside the limiting sphere of its short edge.
    const double radius = shortest > 0.0 ? LimitingRadius(shortest) : LimitingRadius(band.lambda);
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    const int reach = SliceReach(crystal.lattice(), radius);
    std::vector<EventChunks> slices(static_cast<std::size_t>(2 * reach + 1));
    ParallelFor(slices.size(), [&](std::size_t slice) {
        EventChunks& events = slices[slice];
        const int h = static_cast<int>(slice) - reach;
        ForEachReflectionInSlice(crystal.lattice(), frame, radius, h, [&](const SphereReflection& r) {
            const std::vector<Crossing> crossings = CrossingsOf(r, frame, band);
            if (crossings.empty()) return;
            const double F = scattering->Modulus(r.x);
            if (F == 0.0) return;  // the structure forbids X
            const double couplingF = scattering->Modulus(r.coupling);
            for (const Crossing& c : crossings) {
                ForEachTurn(c.psi, window, [&](double psi) {
                    const double shift = psi - c.psi;
                    events.Add(Event{psi, c.psiMin + shift, c.psiMax + shift, r.x, r.coupling, F, couplingF, F * couplingF,
                                     0.0, c.passage});
                });
            }
        });
    }, 1);
    return slices;
}

// The events of the slices by psi, then h, k, l, with their strengths relative to the strongest:
// their keys are sorted, and each event is copied once.
std::vector<Event> Ranked(const std::vector<EventChunks>& slices)
{
    struct Key {
        double psi;
        Miller x;
        const Event* event;
    };
    std::vector<Key> keys;
    std::size_t total = 0;
    for (const EventChunks& slice : slices) total += slice.Size();
    keys.reserve(total);
    double strongest = 0.0;
    for (const EventChunks& slice : slices) {
        slice.ForEach([&](const Event& e) {
            keys.push_back({e.psi, e.x, &e});
            strongest = std::max(strongest, e.strength);
        });
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return std::tie(a.psi, a.x.h, a.x.k, a.x.l) < std::tie(b.psi, b.x.h, b.x.k, b.x.l);
    });
    std::vector<Event> events;
    events.reserve(keys.size());
    for (const Key& k : keys) {
        events.push_back(*k.event);
        events.back().relativeStrength = strongest > 0.0 ? events.back().strength / strongest : 0.0;
    }
    return events;
}

}  // namespace

std::vector<Event> FindEvents(const Crystal& crystal, const ScanFrame& frame, const Band& band, const PsiWindow& window)
{
    return Ranked(EventsInside(crystal, frame, band, window));
}
