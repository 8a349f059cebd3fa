#include "planning/run_size.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>

#include "scan/events.h"
#include "glitches/glitches.h"
#include "scan/harmonic_orders.h"
#include "glitches/spectrum.h"
#include "scan/sphere_reflections.h"
#include "setup/units.h"

namespace {

constexpr double kPi = std::numbers::pi;
// What the process holds before any reflection: code, the crystal, the scattering tables.
constexpr double kBaseMemory = 16.0 * 1024 * 1024;
// Bytes per row of each table as written, and of its first lines (measured on silicon and GaAs).
constexpr double kEventRowBytes = 103.0, kGlitchRowBytes = 111.0, kLineRowBytes = 114.0;
constexpr double kHeaderBytes = 1024.0;
// Points the share of scattering reflections is sampled on: a few per cent of spread.
constexpr int kSamples = 1024;

// The share of the reflections in the ball of `radius` (1/angstrom) about `centre` that scatter
// at `keV`: points drawn evenly in the ball, each taken to the lattice point whose cell holds it,
// so that every reflection is as likely as another. 1 where no reflection was drawn.
double ScatteringShare(const Crystal& crystal, const Vec3& centre, double radius, double keV)
{
    const Lattice& lattice = crystal.lattice();
    const Vec3 axes[3] = {lattice.Direct(1, 0, 0), lattice.Direct(0, 1, 0), lattice.Direct(0, 0, 1)};
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    std::mt19937 random(39);  // the same draw every run: the same estimate
    std::uniform_real_distribution<double> even(-1.0, 1.0);
    int drawn = 0, scatters = 0;
    for (int i = 0; i < kSamples; ++i) {
        const Vec3 u{even(random), even(random), even(random)};
        if (Dot(u, u) > 1.0) continue;
        const Vec3 p = centre + radius * u;
        int index[3];
        bool inRange = true;
        for (int a = 0; a < 3; ++a) {
            const double value = std::round(Dot(p, axes[a]));
            inRange = inRange && std::fabs(value) < 1e9;
            index[a] = inRange ? static_cast<int>(value) : 0;
        }
        const Miller m{index[0], index[1], index[2]};
        if (!inRange || IsZero(m)) continue;
        ++drawn;
        if (!crystal.Extinct(m) && scattering->Modulus(m) > 0.0) ++scatters;
    }
    return drawn == 0 ? 1.0 : static_cast<double>(scatters) / drawn;
}

// The scattering reflections in a volume of reciprocal space (1/angstrom^3) sampled about
// `centre` within `radius`.
double Reflections(const Crystal& crystal, double volume, const Vec3& centre, double radius, double keV)
{
    return volume * crystal.lattice().Volume() * ScatteringShare(crystal, centre, radius, keV);
}

// The lattice points of the limiting sphere at wave number k (1/angstrom), each looked at once.
double LimitingSpherePoints(const Crystal& crystal, double k) { return 4.0 / 3.0 * kPi * std::pow(2.0 * k, 3) * crystal.lattice().Volume(); }

// The torus swept by the Ewald sphere of radius k turning about G, with multiplicity (Pappus).
double TorusVolume(const ScanFrame& frame, double k)
{
    const double across = frame.BeamAcross(1.0 / k);
    return 2.0 * kPi * kPi * (across > 0.0 ? across : 0.0) * k * k;
}

// The turns of a window of lines: its own and the reach of a line's ends into it.
double LineTurns(double windowWidth) { return (windowWidth + 90.0) / 360.0; }

// Whether the harmonic n G passes photons at n eMax (the fundamental always does).
bool Passes(const Crystal& crystal, const ScanFrame& frame, int n, double eMax)
{
    const ScanFrame harmonic = HarmonicFrame(frame, n);
    return n == 1 || (!crystal.Extinct(harmonic.primary) && crystal.At(n * eMax)->Modulus(harmonic.primary) > 0.0);
}

}  // namespace

RunSize EventsSize(const Crystal& crystal, const ScanFrame& frame, double lambda, double windowWidth)
{
    const double k = 1.0 / lambda;
    RunSize size;
    size.rows = 2.0 * windowWidth / 360.0 *
                Reflections(crystal, TorusVolume(frame, k), Vec3{0, 0, 0}, 2.0 * k, kHcKeVAngstrom / lambda);
    size.bytes = kHeaderBytes + size.rows * kEventRowBytes;
    size.memory = kBaseMemory + size.rows * 3.0 * sizeof(Event);
    size.visits = LimitingSpherePoints(crystal, k);
    return size;
}

RunSize GlitchesSize(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere)
{
    RunSize size;
    double sphere = 0.0;
    for (int n = 1; n <= harmonics; ++n) {
        if (!Passes(crystal, frame, n, eMax)) continue;
        const double k1 = n * eMin / kHcKeVAngstrom, k2 = n * eMax / kHcKeVAngstrom;
        // The largest of the scan's spheres, through 0 and n G.
        const double across = HarmonicFrame(frame, n).BeamAcross(1.0 / k2);
        const Vec3 centre = (n / 2.0) * frame.G - (across > 0.0 ? across : 0.0) * frame.e2;
        size.rows += Reflections(crystal, 4.0 / 3.0 * kPi * (k2 * k2 * k2 - k1 * k1 * k1), centre, k2, n * eMax);
        size.visits += LimitingSpherePoints(crystal, k2);
        if (n == 1 && keptSphere) sphere = LimitingSpherePoints(crystal, k2) * ScatteringShare(crystal, Vec3{0, 0, 0}, 2.0 * k2, eMax);
    }
    size.bytes = kHeaderBytes + size.rows * kGlitchRowBytes;
    size.memory = kBaseMemory + size.rows * 2.0 * sizeof(Glitch) + sphere * 1.5 * sizeof(SphereReflection);
    return size;
}

RunSize SpectrumSize(const RunSize& glitches)
{
    RunSize size;
    size.rows = kSpectrumEvenPoints + kSpectrumPointsPerDip * glitches.rows;
    // Only the glitches that take something get their points, and which those are only their
    // depths tell (a third of them, or all, as the orders and energies go): the table's bytes are
    // weighed exactly once it is computed, before it is written (SpectrumTableBytes).
    size.bytes = 0.0;
    size.memory = glitches.memory + size.rows * 4.0 * sizeof(double);
    size.visits = glitches.visits;
    return size;
}

RunSize GlitchMapSize(const Crystal& crystal, const ScanFrame& frame, double eMax, double windowWidth)
{
    const double k = eMax / kHcKeVAngstrom;
    RunSize size;
    size.rows = LineTurns(windowWidth) * Reflections(crystal, TorusVolume(frame, k), Vec3{0, 0, 0}, 2.0 * k, eMax);
    size.bytes = kHeaderBytes + size.rows * kLineRowBytes;
    // Each line is a candidate first, with its turns and strengths, then a row.
    size.memory = kBaseMemory + size.rows * (2.0 * sizeof(GlitchLine) + 64.0);
    size.visits = LimitingSpherePoints(crystal, k);
    return size;
}

RunSize FitSize(const Crystal& crystal, const ScanFrame& frame, double eMax, int harmonics)
{
    RunSize size;
    double sphere = 0.0, lines = 0.0;
    for (int n = 1; n <= harmonics; ++n) {
        if (!Passes(crystal, frame, n, eMax)) continue;
        const double k = n * eMax / kHcKeVAngstrom;
        const double share = ScatteringShare(crystal, Vec3{0, 0, 0}, 2.0 * k, n * eMax);
        // Every scattering reflection of the order's limiting sphere is held while its lines are drawn.
        sphere = std::max(sphere, LimitingSpherePoints(crystal, k) * share);
        lines += TorusVolume(HarmonicFrame(frame, n), k) * crystal.lattice().Volume() * share;
        size.visits += LimitingSpherePoints(crystal, k);
    }
    size.rows = 0.0;  // a row for each dip of the scan: a few
    size.bytes = kSmallTableBytes;
    size.memory = kBaseMemory + sphere * 1.5 * sizeof(SphereReflection) + lines * 2.0 * sizeof(SphereReflection);
    return size;
}
