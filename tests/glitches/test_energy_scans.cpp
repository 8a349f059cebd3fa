// Energy scans with the primary reflection in its Bragg position: the glitch spectrum at one
// azimuth against the Ewald-sphere model of the test, the glitch map against the spectrum, and the
// azimuths of a clean energy range against the spectra at those azimuths.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <set>
#include <tuple>
#include <vector>

#include "csv_table.h"
#include "io/run_error.h"
#include "scan/cancellation.h"
#include "windows/clean_windows.h"
#include "dynamics/glitch_depth.h"
#include "glitches/glitches.h"
#include "glitches/line_profile.h"
#include "scan/parallel_for.h"
#include "planning/tables.h"
#include "planning_cases.h"
#include "run_record.h"
#include "setup/units.h"

namespace {

struct SpectrumCase { CubicScan scan; double psi, eMin, eMax; };

const SpectrumCase kSpectra[] = {
    {{4, 5.431, "Si", {1, 1, 1}}, 10, 5, 30},
    {{4, 5.431, "Si", {3, 1, 1}}, -37, 3.7, 20},  // from below the cut-off of 3 1 1 (3.786 keV)
    {{1, 3.359, "Po", {2, 2, 2}, true, {1, -1, 0}}, 0, 4, 25},  // 2 2 0 at psi 0 at every energy
};

double Wavelength(double keV) { return kHcKeVAngstrom / keV; }

}  // namespace

// Each glitch is X on the sphere at its energy; and X is listed exactly when the sphere passes
// over it between EMIN and EMAX (at fixed psi the excess is monotonic in the energy).
TEST(GlitchSpectrum, EveryReflectionTheSpherePassesOnce)
{
    for (const SpectrumCase& c : kSpectra) {
        SCOPED_TRACE(c.scan.Name());
        const CubicCrystal crystal = TableCrystal(c.scan.structure, c.scan.a, c.scan.symbol);
        const ewald::Scan model = c.scan.Model();
        const std::vector<Glitch> glitches = FindGlitches(crystal, c.scan.Frame(crystal), c.psi, c.eMin, c.eMax);
        ASSERT_FALSE(glitches.empty());
        std::set<std::tuple<int, int, int>> listed;
        int always = 0;
        const double ec = kHcKeVAngstrom * std::sqrt(ewald::Dot(model.g, model.g)) / 2;  // the cut-off energy of G
        const Miller& g0 = c.scan.primary;
        // X with |X|^2 = X.G is on the sphere at the cut-off energy whatever psi: the beam runs back along G.
        const auto onSphereAtCutoff = [&](Miller m) {
            return m.h * m.h + m.k * m.k + m.l * m.l == m.h * g0.h + m.k * g0.k + m.l * g0.l && ec >= c.eMin && ec <= c.eMax;
        };
        for (const Glitch& g : glitches) {
            EXPECT_TRUE(listed.insert({g.x.h, g.x.k, g.x.l}).second);
            EXPECT_FALSE(g.x == c.scan.primary || IsZero(g.coupling) || IsZero(g.x));
            EXPECT_TRUE(g.energy >= c.eMin && g.energy <= c.eMax && g.wavelength == Wavelength(g.energy));
            if (g.always) {  // at every energy, listed from the lowest at which G diffracts
                ++always;
                for (double keV : {c.eMax, (g.energy + c.eMax) / 2}) {
                    EXPECT_NEAR(model.Excess(Vector(g.x), c.psi, Wavelength(keV)), 0.0, c.scan.ExcessTolerance());
                }
            } else if (onSphereAtCutoff(g.x)) {
                EXPECT_NEAR(g.energy, ec, 1e-12 * ec);
            } else {
                EXPECT_NEAR(model.Excess(Vector(g.x), c.psi, g.wavelength), 0.0, c.scan.ExcessTolerance());
            }
        }
        EXPECT_EQ(always, c.scan.withReference ? 2 : 0);  // 2 2 0 and its mate 0 0 2 - 2 2 0 = -2 -2 2
        const double cutoff = std::max(c.eMin, ec * 1.000001);
        const int reach = static_cast<int>(2 * c.scan.a * c.eMax / kHcKeVAngstrom) + 1;
        std::size_t expected = 0;
        for (int h = -reach; h <= reach; ++h) {
            for (int k = -reach; k <= reach; ++k) {
                for (int l = -reach; l <= reach; ++l) {
                    const Miller m{h, k, l};
                    if (Parallel(m, c.scan.primary) || !crystal.At(10.0)->Allows(m)) continue;
                    const double low = model.Excess(Vector(m), c.psi, Wavelength(cutoff));
                    const double high = model.Excess(Vector(m), c.psi, Wavelength(c.eMax));
                    const bool passes = (low > 0) != (high > 0) || std::fabs(low) < 1e-9 || onSphereAtCutoff(m);
                    expected += passes;
                    EXPECT_EQ(listed.count({h, k, l}), passes ? 1u : 0u) << h << " " << k << " " << l;
                }
            }
        }
        EXPECT_EQ(expected, glitches.size());
    }
}

// The map's lines, drawn from their columns as the table's header says, pass through the spectrum
// at every azimuth: the same reflections at the same energies.
TEST(GlitchMap, LinesPassThroughTheSpectra)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const std::vector<GlitchLine> lines = GlitchMap(silicon, frame, {-180, 180}, 6, 14);
    for (double psi : {-179.5, -61.0, 0.0, 10.0, 33.3, 179.9}) {
        std::multiset<std::tuple<int, int, int, long long>> fromLines, fromSpectrum;
        for (const GlitchLine& g : lines) {
            const double c = std::cos((psi - g.centre) * std::numbers::pi / 180);
            if (g.always || !(c > 0)) continue;
            const double ec2 = g.cutoffEnergy * g.cutoffEnergy;
            const double e = std::sqrt(ec2 + (g.topEnergy * g.topEnergy - ec2) / (c * c));
            if (e >= 6 && e <= 14 && psi >= g.from && psi <= g.to) fromLines.insert({g.x.h, g.x.k, g.x.l, std::llround(e * 1e6)});
        }
        for (const Glitch& g : FindGlitches(silicon, frame, psi, 6, 14)) {
            fromSpectrum.insert({g.x.h, g.x.k, g.x.l, std::llround(g.energy * 1e6)});
        }
        EXPECT_EQ(fromLines, fromSpectrum) << psi;
    }
}

// A line's depth is the deepest of its glitch inside the range, wherever along the line that is:
// the glitch spectra at the line's top (where that lies inside) and where it leaves the range, not
// at a top below the range.
TEST(GlitchMap, DepthIsTheDeepestInsideTheRange)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const Beam beam{Polarisation::kPi, 20e-6, 0.0, {}};
    std::vector<GlitchLine> lines = GlitchMap(silicon, frame, {0, 60}, 6, 14);
    SetLineDepths(silicon, frame, 6, 14, beam, &lines);
    // The line's own glitch at psi, at its energy there: E^2 = Ec^2 + (Et^2 - Ec^2) / cos^2(psi - centre).
    const auto depthAt = [&](const GlitchLine& line, double psi) {
        const double c = std::cos((psi - line.centre) * kRadiansPerDegree), ec2 = line.cutoffEnergy * line.cutoffEnergy;
        const double keV = std::sqrt(ec2 + (line.topEnergy * line.topEnergy - ec2) / (c * c));
        return ShapeOfGlitch(silicon, frame, line.x, psi, keV, beam).depth;
    };
    int below = 0, inside = 0;
    for (const GlitchLine& line : lines) {
        if (line.always || line.centre < 0 || line.centre > 60 || !(line.depth > 1e-3)) continue;
        if ((line.topEnergy >= 6 ? inside : below) == 5) continue;
        SCOPED_TRACE(testing::Message() << line.x.h << " " << line.x.k << " " << line.x.l);
        const double end = std::max(depthAt(line, line.from), depthAt(line, line.to));
        const double low = line.topEnergy >= 6 ? depthAt(line, line.centre)
                                               : std::max(depthAt(line, line.centre - line.lowEnergyHalfWidth),
                                                          depthAt(line, line.centre + line.lowEnergyHalfWidth));
        EXPECT_NEAR(line.depth, std::max(end, low), 0.01 * line.depth);
        ++(line.topEnergy >= 6 ? inside : below);
    }
    EXPECT_EQ(inside, 5);
    EXPECT_EQ(below, 5);
    // Every line of a wide map has a depth, those met at back-scattering and at the cut-off too.
    std::vector<GlitchLine> all = GlitchMap(silicon, frame, {-180, 180}, 1, 30);
    SetLineDepths(silicon, frame, 1, 30, beam, &all);
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](const GlitchLine& l) { return l.depth >= 0 && l.depth <= 1; }));
}

// The glitch map's table holds every line once, in the map's order, with its own numbers.
TEST(GlitchMap, TheTableHoldsEveryLine)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    std::vector<GlitchLine> lines = GlitchMap(silicon, frame, {0, 60}, 6, 14);
    SetLineDepths(silicon, frame, 6, 14, Beam{Polarisation::kSigma, 20e-6, 0.0, {}}, &lines);
    ASSERT_GT(lines.size(), 10u);
    std::FILE* file = std::tmpfile();
    WriteGlitchMap(file, TableSubject{"SI", {1, 1, 1}, &frame, {0, 60}}, 6, 14, GlitchBeam{"pi", 0.001, 0.0, std::nullopt, 1}, lines);
    const std::vector<CsvRow> rows = CsvRows(ReadStream(file));
    std::fclose(file);
    ASSERT_EQ(rows.size(), lines.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const GlitchLine& g = lines[i];
        EXPECT_EQ(rows[i].Text("h") + " " + rows[i].Text("k") + " " + rows[i].Text("l"), Printed("%d %d %d", g.x.h, g.x.k, g.x.l)) << i;
        EXPECT_NEAR(rows[i].Number("psi_centre"), g.centre, 1e-6) << i;
        EXPECT_NEAR(rows[i].Number("energy_top_keV"), g.topEnergy, 1e-6) << i;
        EXPECT_NEAR(rows[i].Number("depth"), g.depth, 1e-6) << i;
        EXPECT_EQ(rows[i].Text("kind"), g.always ? "always" : "line") << i;
    }
}

// Inside every clean window no strong glitch lies in the energy range or within half its width of
// it; just beyond its ends one does, its centre outside the range but its half-depth edge in it
// (to the 5 meV to which widths read off sampled dips agree): a line takes the azimuths its
// glitch's own width reaches. The widths along the scan come from the glitch spectra at those
// azimuths, not from the line's width in azimuth.
TEST(GlitchMap, CleanEnergyWindowsHoldNoStrongGlitch)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const double eMin = 8, eMax = 8.1, fraction = 0.05;
    const Beam beam{Polarisation::kSigma, 0.0, 0.0, {}};
    double strongest = 0;
    for (const GlitchLine& g : GlitchMap(silicon, frame, {-180, 180}, eMin, eMax)) strongest = std::max(strongest, g.strength);
    const CleanWindows found = CleanEnergyWindows(silicon, frame, {-180, 180}, eMin, eMax, {false, fraction}, 0, beam, 0.5);
    ASSERT_GT(found.windows.size(), 3u);
    EXPECT_TRUE(found.leastBad.empty());
    // Of the strong glitches at psi, the least margin (eV) by which one keeps its half-depth edge out
    // of the range, and whether that one's centre lies outside the range.
    const auto margin = [&](double psi) {
        std::vector<Glitch> glitches = FindGlitches(silicon, frame, psi, eMin - 0.01, eMax + 0.01);
        ShapeGlitches(silicon, frame, psi, eMin - 0.01, eMax + 0.01, beam, &glitches);
        std::pair<double, bool> least{1e9, false};
        for (const Glitch& g : glitches) {
            if (!(g.strength > fraction * strongest)) continue;
            const double outside = 1000 * std::max({eMin - g.energy, g.energy - eMax, 0.0});
            if (outside - g.widthEV / 2 < least.first) least = {outside - g.widthEV / 2, outside > 0};
        }
        return least;
    };
    for (const AzimuthInterval& w : found.windows) {
        EXPECT_GE(w.Width(), 0.5);
        for (double t = 0.05; t < 1; t += 0.1) EXPECT_GT(margin(w.start + t * w.Width()).first, 0) << w.start << " " << t;
        for (const double beyond : {w.start - 1e-7, w.end + 1e-7}) {
            const auto [least, outside] = margin(beyond);
            EXPECT_TRUE(least <= 5e-3 && outside) << w.start << " to " << w.end << ": " << beyond << " " << least;
        }
    }
}

// The harmonics: photons of n E that n G passes meet X on their own sphere, the one of n G at
// n E; silicon passes no second harmonic behind 1 1 1 (2 2 2 is forbidden), a third one behind it.
TEST(GlitchSpectrum, HarmonicsAreTheGlitchesOfNGAtNE)
{
    const CubicScan scan{4, 5.431, "Si", {1, 1, 1}, true, {1, -1, 0}};
    const CubicCrystal crystal = TableCrystal(scan.structure, scan.a, scan.symbol);
    const double psi = 10;
    const std::vector<Glitch> glitches = FindGlitchesWithHarmonics(crystal, scan.Frame(crystal), psi, 5, 10, 3);
    int counted[4] = {};
    for (std::size_t i = 0; i < glitches.size(); ++i) {
        const Glitch& g = glitches[i];
        ASSERT_TRUE(g.order >= 1 && g.order <= 3);
        ++counted[g.order];
        EXPECT_TRUE(g.energy >= 5 && g.energy <= 10 && (i == 0 || glitches[i - 1].energy <= g.energy));
        const ewald::Scan model = ewald::Scan::WithReference(scan.a, {g.order * 1.0, g.order * 1.0, g.order * 1.0}, {1, -1, 0});
        if (!g.always) {
            EXPECT_NEAR(model.Excess(Vector(g.x), psi, Wavelength(g.order * g.energy)), 0.0, scan.ExcessTolerance())
                << g.order << ": " << g.x.h << " " << g.x.k << " " << g.x.l;
        }
    }
    EXPECT_EQ(counted[2], 0);
    EXPECT_GT(counted[3], 0);
    EXPECT_EQ(counted[1], static_cast<int>(FindGlitches(crystal, scan.Frame(crystal), psi, 5, 10).size()));
}

// A calculation whose caller has set its cancellation flag stops with Cancelled, on the calling
// thread and on every thread ParallelFor starts; with the flag clear it runs to its end.
TEST(GlitchMap, CancelledCalculationsStop)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si");
    const ScanFrame frame = MatrixFrame(silicon.lattice(), Miller{1, 1, 1});
    std::atomic<bool> cancel{true};
    const CancellationScope scope(&cancel);
    std::vector<int> flagged(64, 0);
    const std::function<void()> calls[] = {
        [&] { GlitchMap(silicon, frame, PsiWindow{-180, 180}, 5, 30); },
        [&] { FindGlitchesWithHarmonics(silicon, frame, 10, 5, 30, 3); },
        // Each item of its own thread where the machine has several cores.
        [&] { ParallelFor(flagged.size(), [&](std::size_t i) { flagged[i] = CancellationFlag() == &cancel; }, 1); },
    };
    for (const auto& call : calls) EXPECT_THROW(call(), Cancelled);
    cancel = false;
    for (const auto& call : calls) EXPECT_NO_THROW(call());
    EXPECT_EQ(std::count(flagged.begin(), flagged.end(), 1), 64);
}
