#include "glitches/glitches.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>

#include "dynamics/glitch_depth.h"
#include "dynamics/passband.h"
#include "scan/harmonic_orders.h"
#include "scan/parallel_for.h"
#include "scan/sphere_reflections.h"
#include "setup/units.h"

namespace {

// An azimuth typed at an azimuth -/+ 90 of a reflection on the sphere at every energy is taken as
// that azimuth within this tolerance (degrees).
constexpr double kSameAzimuth = 1e-9;

// psi - centre brought into (-180, 180].
double Offset(double psi, double centre)
{
    const double d = std::fmod(psi - centre, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

struct Strengths {
    bool allowed;  // false: the structure forbids X, which is then no glitch
    double F, couplingF;
};

// The structure factors of X and its coupling reflection at the energy of the glitch.
Strengths StrengthsAt(const Crystal& crystal, const SphereReflection& r, double keV)
{
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    const double F = scattering->Modulus(r.x);
    if (F == 0.0) return {false, 0.0, 0.0};
    return {true, F, scattering->Modulus(r.coupling)};
}

template <typename Row>
void SetRelativeStrengths(std::vector<Row>& rows)
{
    double strongest = 0.0;
    for (const Row& row : rows) strongest = std::max(strongest, row.strength);
    for (Row& row : rows) row.relativeStrength = strongest > 0.0 ? row.strength / strongest : 0.0;
}

}  // namespace

namespace {

// The glitch of one reflection at the azimuth, when it has one in the range.
void AddGlitch(const Crystal& crystal, const ScanFrame& frame, const SphereReflection& r, double psi, double eMin,
               double eMax, std::vector<Glitch>* glitches)
{
    const double cutoff = CutoffEnergy(frame);
    double keV = 0.0;
    bool always = false;
    if (r.Always()) {
        const bool onIt = std::fabs(Offset(psi, r.azimuth - 90.0)) < kSameAzimuth ||
                          std::fabs(Offset(psi, r.azimuth + 90.0)) < kSameAzimuth;
        if (onIt) {
            if (cutoff > eMax) return;
            keV = std::max(eMin, cutoff);
            always = true;
        } else {
            // At the cut-off energy the beam runs back along G (k_perp = 0): X is on the sphere
            // there at every azimuth.
            if (!(cutoff >= eMin && cutoff <= eMax)) return;
            keV = cutoff;
        }
    } else {
        const double d = Offset(psi, r.centre);
        if (!(std::fabs(d) < 90.0)) return;  // X is not on the sphere at this azimuth at any energy
        const double across = r.spread / std::cos(Radians(d));
        keV = kHcKeVAngstrom * std::sqrt(frame.length * frame.length / 4.0 + across * across);
        if (!(keV >= eMin && keV <= eMax)) return;
    }
    // Whether the structure forbids X is asked only of the few reflections the geometry keeps.
    if (crystal.Extinct(r.x)) return;
    const Strengths s = StrengthsAt(crystal, r, keV);
    if (!s.allowed) return;
    glitches->push_back(Glitch{keV, kHcKeVAngstrom / keV, r.x, r.coupling, s.F, s.couplingF, s.F * s.couplingF, 0.0, always});
}

std::vector<Glitch> Ranked(std::vector<Glitch> glitches)
{
    SetRelativeStrengths(glitches);
    std::sort(glitches.begin(), glitches.end(), [](const Glitch& a, const Glitch& b) {
        return std::tie(a.energy, a.x.h, a.x.k, a.x.l) < std::tie(b.energy, b.x.h, b.x.k, b.x.l);
    });
    return glitches;
}

}  // namespace

std::vector<Glitch> FindGlitches(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax)
{
    // The slices of index space on every core: each glitch's structure factors are its own.
    const double radius = LimitingRadius(kHcKeVAngstrom / eMax);
    const int reach = SliceReach(crystal.lattice(), radius);
    std::vector<std::vector<Glitch>> slices(static_cast<std::size_t>(2 * reach + 1));
    ParallelFor(slices.size(), [&](std::size_t slice) {
        ForEachReflectionInSlice(crystal.lattice(), frame, radius, static_cast<int>(slice) - reach, [&](const SphereReflection& r) {
            AddGlitch(crystal, frame, r, psi, eMin, eMax, &slices[slice]);
        });
    }, 1);
    std::vector<Glitch> glitches;
    for (const std::vector<Glitch>& slice : slices) glitches.insert(glitches.end(), slice.begin(), slice.end());
    return Ranked(std::move(glitches));
}

std::vector<Glitch> FindGlitchesWithHarmonics(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin,
                                              double eMax, int harmonics)
{
    std::vector<Glitch> glitches = FindGlitches(crystal, frame, psi, eMin, eMax);
    for (int n = 2; n <= harmonics; ++n) {
        if (!HarmonicPasses(crystal, frame, n, eMax)) continue;
        const ScanFrame harmonic = HarmonicFrame(frame, n);
        for (Glitch g : FindGlitches(crystal, harmonic, psi, n * eMin, n * eMax)) {
            g.energy /= n;
            g.wavelength = kHcKeVAngstrom / g.energy;
            g.order = n;
            glitches.push_back(g);
        }
    }
    SetRelativeStrengths(glitches);
    std::stable_sort(glitches.begin(), glitches.end(), [](const Glitch& a, const Glitch& b) {
        return std::tie(a.energy, a.order, a.x.h, a.x.k, a.x.l) < std::tie(b.energy, b.order, b.x.h, b.x.k, b.x.l);
    });
    return glitches;
}

namespace {

// Marks the glitches that share one dip: X and the reflections of its circle through O and G (and,
// for a beam without spread across G's plane, their mirror images in the plane of G and the beam)
// listed beside it (the same order, the same energy). Each names the next of them by MillerBefore,
// the last the first, so that the rows of a dip name one another in a ring (two name each other).
void MarkSharedDips(const Crystal& crystal, const ScanFrame& frame, double psi, const Beam& beam, std::vector<Glitch>* glitches)
{
    std::map<std::tuple<int, int, int, int>, std::size_t> at;
    for (std::size_t i = 0; i < glitches->size(); ++i) {
        const Glitch& g = (*glitches)[i];
        at.emplace(std::make_tuple(g.order, g.x.h, g.x.k, g.x.l), i);
    }
    for (Glitch& g : *glitches) {
        std::vector<Miller> sharing{g.x};
        for (const Miller y : SharedMembers(crystal, HarmonicFrame(frame, g.order), g.x, psi, RaysInOnePlane(beam))) {
            const auto found = at.find(std::make_tuple(g.order, y.h, y.k, y.l));
            if (found != at.end() && std::fabs((*glitches)[found->second].energy - g.energy) <= 1e-9 * g.energy) sharing.push_back(y);
        }
        if (sharing.size() < 2) continue;
        std::sort(sharing.begin(), sharing.end(), MillerBefore);
        const std::size_t mine = static_cast<std::size_t>(std::find(sharing.begin(), sharing.end(), g.x) - sharing.begin());
        g.sharesDip = true;
        g.partner = sharing[(mine + 1) % sharing.size()];
        g.dipAtPartner = mine > 0;
    }
}

}  // namespace

void ShapeGlitches(const Crystal& crystal, const ScanFrame& frame, double psi, double eMin, double eMax, const Beam& beam,
                   std::vector<Glitch>* glitches)
{
    // The harmonic n G's frame for each order met.
    int highest = 1;
    for (const Glitch& g : *glitches) highest = std::max(highest, g.order);
    std::vector<ScanFrame> frames;
    for (int n = 1; n <= highest; ++n) frames.push_back(HarmonicFrame(frame, n));
    std::vector<GlitchRequest> requests;
    for (const Glitch& g : *glitches) requests.push_back({&frames[static_cast<std::size_t>(g.order - 1)], g.x, psi, g.order * g.energy});
    std::vector<GlitchShape> shapes = ShapesOfGlitches(crystal, requests, beam);
    for (std::size_t i = 0; i < glitches->size(); ++i) {
        Glitch& g = (*glitches)[i];
        GlitchShape& shape = shapes[i];
        if (g.always) {
            // On the sphere at every energy: the share at X's condition, over the whole range.
            shape.rate = 0.0;
            shape.depth = std::max(0.0, shape.dip.At(0.0));
            shape.offsetEV = 0.0;
        }
        // Along the scan of the listed energy E the harmonic's energy moves n times as fast.
        shape.rate *= g.order;
        shape.offsetEV /= g.order;
        g.depth = shape.depth;
        g.rise = shape.dip.Rise();
        g.widthEV = g.always || !std::isfinite(shape.widthEV) ? (eMax - eMin) * 1000.0 : shape.widthEV / g.order;
        shape.widthEV = g.widthEV;
        g.shape = std::move(shape);
    }
    MarkSharedDips(crystal, frame, psi, beam, glitches);
}

std::vector<SphereReflection> GlitchReflections(const Crystal& crystal, const ScanFrame& frame, double eMax)
{
    std::vector<SphereReflection> reflections;
    ForEachReflectionWithin(crystal.lattice(), frame, LimitingRadius(kHcKeVAngstrom / eMax), [&](const SphereReflection& r) {
        if (!crystal.Extinct(r.x)) reflections.push_back(r);
    });
    return reflections;
}

std::vector<Glitch> FindGlitchesAmong(const Crystal& crystal, const ScanFrame& frame,
                                      const std::vector<SphereReflection>& reflections, double psi, double eMin, double eMax)
{
    std::vector<Glitch> glitches;
    const double radius = LimitingRadius(kHcKeVAngstrom / eMax);
    for (const SphereReflection& r : reflections) {
        const Vec3 x = crystal.lattice().Reciprocal(r.x);
        if (Dot(x, x) <= radius * radius) AddGlitch(crystal, frame, r, psi, eMin, eMax, &glitches);
    }
    return Ranked(std::move(glitches));
}

namespace {

// The lines of every reflection reaching into the window, strengths not yet relative.
std::vector<GlitchLine> LinesInside(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window,
                                    double eMin, double eMax)
{
    const double cutoff = CutoffEnergy(frame);
    struct Candidate {
        GlitchLine line;  // from and to as offsets from the centre
        double keV;       // where its strength is taken
        std::vector<double> centres;
        Strengths strengths;
    };
    std::vector<Candidate> candidates;
    if (cutoff > eMax) return {};
    ForEachReflectionWithin(crystal.lattice(), frame, LimitingRadius(kHcKeVAngstrom / eMax), [&](const SphereReflection& r) {
        if (crystal.Extinct(r.x)) return;
        Candidate c{};
        GlitchLine& line = c.line;
        line.x = r.x;
        line.coupling = r.coupling;
        line.cutoffEnergy = cutoff;
        if (r.Always()) {
            line.always = true;
            line.topEnergy = cutoff;
            c.keV = std::max(eMin, cutoff);
            for (double side : {-90.0, 90.0}) ForEachTurn(r.azimuth + side, window, [&](double at) { c.centres.push_back(at); });
        } else {
            line.topEnergy = kHcKeVAngstrom / r.TopWavelength(frame);
            if (line.topEnergy > eMax) return;
            const double reach = r.HalfWidth(frame, kHcKeVAngstrom / eMax);
            line.lowEnergyHalfWidth = line.topEnergy >= eMin ? 0.0 : r.HalfWidth(frame, kHcKeVAngstrom / eMin);
            c.keV = std::max(eMin, line.topEnergy);
            // The turns whose stretch centre -/+ reach overlaps the window.
            ForEachTurn(r.centre, PsiWindow{window.min - reach, window.max + reach}, [&](double at) {
                const bool lowSide = at - line.lowEnergyHalfWidth > window.min && at - reach < window.max;
                const bool highSide = at + reach > window.min && at + line.lowEnergyHalfWidth < window.max;
                if (lowSide || highSide) c.centres.push_back(at);
            });
            line.from = -reach;
            line.to = reach;
        }
        if (!c.centres.empty()) candidates.push_back(std::move(c));
    });
    // Each line's structure factors at its own energy: the costly part, spread over the cores.
    ParallelFor(candidates.size(), [&](std::size_t i) {
        Candidate& c = candidates[i];
        SphereReflection r{};
        r.x = c.line.x, r.coupling = c.line.coupling;
        c.strengths = StrengthsAt(crystal, r, c.keV);
    });
    std::vector<GlitchLine> lines;
    for (const Candidate& c : candidates) {
        if (!c.strengths.allowed) continue;
        GlitchLine line = c.line;
        line.F = c.strengths.F, line.couplingF = c.strengths.couplingF, line.strength = line.F * line.couplingF;
        for (double at : c.centres) {
            GlitchLine placed = line;
            placed.centre = at;
            placed.from = at + line.from;
            placed.to = at + line.to;
            lines.push_back(placed);
        }
    }
    return lines;
}

}  // namespace

const char* LineKindWord(const GlitchLine& line)
{
    if (line.crystal == 2) return line.always ? "everywhere" : "level";
    return line.always ? "always" : "line";
}

std::vector<GlitchLine> GlitchMap(const Crystal& crystal, const ScanFrame& frame, const PsiWindow& window, double eMin,
                                  double eMax)
{
    std::vector<GlitchLine> lines = LinesInside(crystal, frame, window, eMin, eMax);
    SetRelativeStrengths(lines);
    std::sort(lines.begin(), lines.end(), [](const GlitchLine& a, const GlitchLine& b) {
        return std::tie(a.centre, a.x.h, a.x.k, a.x.l) < std::tie(b.centre, b.x.h, b.x.k, b.x.l);
    });
    // The lines of X's circle through O and G are the same curve E(psi), at the same centre: their
    // dip is counted at the first of them.
    std::map<std::tuple<int, int, int>, std::vector<std::size_t>> of;
    for (std::size_t i = 0; i < lines.size(); ++i) of[std::make_tuple(lines[i].x.h, lines[i].x.k, lines[i].x.l)].push_back(i);
    for (GlitchLine& line : lines) {
        for (const Miller y : CircleMembers(crystal, frame.primary, line.x)) {
            if (!MillerBefore(y, line.x)) continue;
            const auto found = of.find(std::make_tuple(y.h, y.k, y.l));
            if (found == of.end()) continue;
            for (const std::size_t j : found->second) {
                if (std::fabs(lines[j].centre - line.centre) < 1e-6) line.dipAtPartner = true;
            }
        }
    }
    return lines;
}
