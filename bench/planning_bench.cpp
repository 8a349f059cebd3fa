// Figures of the planning engine: the compute time of each planning answer, tables formatted into
// /dev/null, as Google Benchmark reports them. Targets on the development machine (2 cores):
// each under 50 ms for the cubic options, under 100 ms for the crystals of CIF files, under 10 s
// for each run of the large cells of CIF files.
//
//   cmake --build build --target kelto_bench && ./build/bench/kelto_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "crystal/shipped_crystals.h"
#include "large_cells.h"
#include "scan/events.h"
#include "dynamics/glitch_depth.h"
#include "fit/glitch_fit.h"
#include "fit/readback_scale.h"
#include "glitches/spectrum.h"
#include "glitches/glitches.h"
#include "planning/tables.h"
#include "setup/units.h"
#include "setup/factor_file.h"

namespace {

CubicCrystal Silicon()
{
    InputStruct record{};
    std::strcpy(record.factorFile, KELTO_TABLE);
    std::strcpy(record.symbol, "Si");
    ReadFactors(&record);
    return CubicCrystal(4, 5.431, record.f0Coef, "SI");
}

std::FILE* Null()
{
    static std::FILE* null = std::fopen("/dev/null", "w");
    return null;
}

// Events of silicon 0 0 2 at 8.048 keV, band 0.02 angstrom, over the full circle, with their table.
void EventsOfSilicon002(benchmark::State& state)
{
    const CubicCrystal silicon = Silicon();
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {0, 0, 2});
    const Band band{kHcKeVAngstrom / 8.048, 0.02};
    const TableSubject subject{silicon.name(), {0, 0, 2}, &frame, {-180, 180}};
    for (auto _ : state) {
        ForgetStoredDips();
        const std::vector<Event> events = FindEvents(silicon, frame, band, {-180, 180});
        WriteEventsTable(Null(), subject, band, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, events);
        state.counters["events"] = static_cast<double>(events.size());
    }
}
BENCHMARK(EventsOfSilicon002)->Unit(benchmark::kMillisecond);

// The glitch map of a silicon 1 1 1 monochromator over the full circle from 5 to 30 keV.
void GlitchMapOfSilicon111(benchmark::State& state)
{
    const CubicCrystal silicon = Silicon();
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    const TableSubject subject{silicon.name(), {1, 1, 1}, &frame, {-180, 180}};
    for (auto _ : state) {
        ForgetStoredDips();
        const std::vector<GlitchLine> lines = GlitchMap(silicon, frame, {-180, 180}, 5, 30);
        WriteGlitchMap(Null(), subject, 5, 30, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, lines);
        state.counters["lines"] = static_cast<double>(lines.size());
    }
}
BENCHMARK(GlitchMapOfSilicon111)->Unit(benchmark::kMillisecond);

// The glitch spectrum of a silicon 2 2 0 monochromator at psi 15 from 5 to 30 keV with every
// glitch's width and depth (a crystal of a CIF: f' and f'' at each energy), with its table; the
// target is 20 ms.
void GlitchSpectrumWithDepthsOfSilicon220(benchmark::State& state)
{
    std::string notice;
    const std::unique_ptr<CifCrystal> silicon = CifCrystal::Read(ShippedCrystalPath("Si"), &notice);
    const ScanFrame frame = MatrixFrame(silicon->lattice(), {2, 2, 0});
    const TableSubject subject{silicon->name(), {2, 2, 0}, &frame, {-180, 180}};
    const Beam beam{Polarisation::kSigma, 10e-6, 0.0, {}};
    const GlitchBeam described{"sigma", 10e-6 * 180 / 3.141592653589793, 0.0, std::nullopt, 1};
    for (auto _ : state) {
        ForgetStoredDips();
        std::vector<Glitch> glitches = FindGlitchesWithHarmonics(*silicon, frame, 15, 5, 30, 1);
        ShapeGlitches(*silicon, frame, 15, 5, 30, beam, &glitches);
        WriteGlitchTable(Null(), subject, 15, 5, 30, described, glitches);
        state.counters["glitches"] = static_cast<double>(glitches.size());
    }
}
BENCHMARK(GlitchSpectrumWithDepthsOfSilicon220)->Unit(benchmark::kMillisecond);

// The full-circle fit of the azimuth and energy offset to a measured I0 scan of the same
// monochromator from 4.5 to 27 keV (made at psi 15 with a 4 eV offset, a point every 0.5 eV), its
// dips found, with the trials of its significance; the target is 1 s.
void FitOfSilicon220Scan(benchmark::State& state)
{
    std::string notice;
    const std::unique_ptr<CifCrystal> silicon = CifCrystal::Read(ShippedCrystalPath("Si"), &notice);
    const ScanFrame frame = MatrixFrame(silicon->lattice(), {2, 2, 0});
    const Beam beam{Polarisation::kSigma, 10e-6, 0.0, {}};
    std::vector<Glitch> glitches = FindGlitchesWithHarmonics(*silicon, frame, 15, 4.5, 27, 1);
    ShapeGlitches(*silicon, frame, 15, 4.5, 27, beam, &glitches);
    std::vector<ScanPoint> scan;
    for (const SpectrumPoint& p : PredictSpectrum(glitches, 4.5, 27, OrderShares(), 45001)) scan.push_back({p.energy + 0.004, p.i0});
    FitRequest request;
    request.beam.beam = beam;
    for (auto _ : state) {
        ForgetStoredDips();
        const GlitchFit fit = FitGlitches(*silicon, frame, {FindDips(scan, 4.5, 27)}, request);
        state.counters["dips"] = static_cast<double>(fit.matched + fit.unmatched);
        state.counters["psi"] = fit.psi;
        state.counters["trials"] = fit.trials;
    }
}
BENCHMARK(FitOfSilicon220Scan)->Unit(benchmark::kMillisecond);

// The calibration of a silicon 1 1 1 monochromator from one scan 15 keV wide: its I0 from 5 to
// 20 keV (made at psi 20.3, a point every 0.5 eV) against the readback of an angle offset of
// 0.003 degree and d_ref / d = 1 + 5e-5, psi, delta and the ratio fitted over the full circle with
// the trials of its significance; the target is a few seconds on two cores.
void CalibrationOfSilicon111Scan(benchmark::State& state)
{
    std::string notice;
    const std::unique_ptr<CifCrystal> silicon = CifCrystal::Read(ShippedCrystalPath("Si"), &notice);
    const ScanFrame frame = MatrixFrame(silicon->lattice(), {1, 1, 1});
    const Beam beam{Polarisation::kSigma, 10e-6, 0.0, {}};
    std::vector<Glitch> glitches = FindGlitchesWithHarmonics(*silicon, frame, 20.3, 4.95, 20.05, 1);
    ShapeGlitches(*silicon, frame, 20.3, 4.95, 20.05, beam, &glitches);
    const ReadbackScale readback{1.0 / frame.length, 0.003, 1.0 + 5e-5};
    std::vector<ScanPoint> scan;
    for (const SpectrumPoint& p : PredictSpectrum(glitches, 4.95, 20.05, OrderShares(), 30201)) scan.push_back({readback.Read(p.energy), p.i0});
    FitRequest request;
    request.beam.beam = beam;
    request.calibrate = true;
    for (auto _ : state) {
        ForgetStoredDips();
        const GlitchFit fit = FitGlitches(*silicon, frame, {FindDips(scan, 5, 20)}, request);
        state.counters["dips"] = static_cast<double>(fit.matched + fit.unmatched);
        state.counters["matched"] = fit.matched;
        state.counters["delta"] = fit.scale.angleOffsetDeg;
        state.counters["trials"] = fit.trials;
    }
}
BENCHMARK(CalibrationOfSilicon111Scan)->Unit(benchmark::kMillisecond);

// The dips of a scan of ten million points (a point every 2 meV from 5 to 25 keV, a sloping noisy
// I0 with a dip every 50 eV); the target is a few seconds.
void DipsOfTenMillionPoints(benchmark::State& state)
{
    std::vector<ScanPoint> scan;
    std::uint64_t noise = 12345;
    for (int i = 0; i < 10000000; ++i) {
        const double e = 5.0 + i * 2e-6;
        noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
        const double dip = std::fmod(e, 0.05) < 0.001 ? 0.2 : 0.0;
        scan.push_back({e, (1000.0 + 10.0 * e) * (1.0 - dip) * (1.0 + 0.002 * (static_cast<double>(noise >> 11) * 0x1.0p-53 - 0.5))});
    }
    for (auto _ : state) {
        ForgetStoredDips();
        const DipSearch search = FindDips(scan, 5.0, 25.0);
        state.counters["dips"] = static_cast<double>(search.dips.size());
    }
}
BENCHMARK(DipsOfTenMillionPoints)->Unit(benchmark::kMillisecond);

// The azimuths at which the same monochromator gives a clean 8 to 12 keV.
void CleanEnergiesOfSilicon111(benchmark::State& state)
{
    const CubicCrystal silicon = Silicon();
    const ScanFrame frame = MatrixFrame(silicon.lattice(), {1, 1, 1});
    for (auto _ : state) {
        ForgetStoredDips();
        const CleanWindows found = CleanEnergyWindows(silicon, frame, {-180, 180}, 8, 12, {false, 0.01}, 0, Beam{}, 0.5);
        benchmark::DoNotOptimize(found.leastBad.data());
    }
}
BENCHMARK(CleanEnergiesOfSilicon111)->Unit(benchmark::kMillisecond);

// A cubic cell of edge `a` angstrom in P 1 with `atoms` atoms (oxygen and silicon, B 0.5) on a
// jittered grid, so that no two come close: the worst case of a large cell, without symmetry.
std::unique_ptr<CifCrystal> LargeCell(double a, int atoms)
{
    std::string text = "data_large\n_cell_length_a " + std::to_string(a) + "\n_cell_length_b " + std::to_string(a) +
                       "\n_cell_length_c " + std::to_string(a) +
                       "\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                       "_symmetry_space_group_name_H-M 'P 1'\nloop_\n_atom_site_label\n_atom_site_type_symbol\n"
                       "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_B_iso_or_equiv\n";
    int side = 1;
    while (side * side * side < atoms) ++side;
    unsigned state = 12345;
    const auto jitter = [&] {
        state = state * 1103515245u + 12345u;
        return (static_cast<double>((state >> 8) % 1000) / 1000.0 - 0.5) * 0.4;
    };
    for (int i = 0; i < atoms; ++i) {
        const int gx = i % side, gy = (i / side) % side, gz = i / (side * side);
        char row[160];
        std::snprintf(row, sizeof row, "%s%d %s %.6f %.6f %.6f 0.5\n", i % 3 == 0 ? "Si" : "O", i, i % 3 == 0 ? "Si" : "O",
                      (gx + 0.5 + jitter()) / side, (gy + 0.5 + jitter()) / side, (gz + 0.5 + jitter()) / side);
        text += row;
    }
    std::string notice;
    return CifCrystal::Parse(text, "large cell", &notice);
}

// Events of a large cell at 8 keV, band 1.4e-4 relative, over the full circle; the targets are
// 1 s for a 30 angstrom cell of 1000 atoms and for a 60 angstrom cell of 100 atoms.
void EventsOfLargeCell(benchmark::State& state, double a, int atoms)
{
    const std::unique_ptr<CifCrystal> crystal = LargeCell(a, atoms);
    const ScanFrame frame = MatrixFrame(crystal->lattice(), {0, 0, 4});
    const double lambda = kHcKeVAngstrom / 8.0;
    const Band band{lambda, 1.4e-4 * lambda};
    for (auto _ : state) {
        ForgetStoredDips();
        const std::vector<Event> events = FindEvents(*crystal, frame, band, {-180, 180});
        state.counters["events"] = static_cast<double>(events.size());
    }
}
BENCHMARK_CAPTURE(EventsOfLargeCell, a30_1000atoms, 30.0, 1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(EventsOfLargeCell, a60_100atoms, 60.0, 100)->Unit(benchmark::kMillisecond)->Iterations(1);

std::unique_ptr<CifCrystal> Shipped(const char* name)
{
    std::string notice;
    return CifCrystal::Read(ShippedCrystalPath(name), &notice);
}

// Events of a shipped crystal at 8.048 keV, band 0.02 angstrom, over the full circle.
void EventsOfCifCrystal(benchmark::State& state, const char* name, Miller primary)
{
    const std::unique_ptr<CifCrystal> crystal = Shipped(name);
    const ScanFrame frame = MatrixFrame(crystal->lattice(), primary);
    const Band band{kHcKeVAngstrom / 8.048, 0.02};
    const TableSubject subject{crystal->name(), primary, &frame, {-180, 180}};
    for (auto _ : state) {
        ForgetStoredDips();
        const std::vector<Event> events = FindEvents(*crystal, frame, band, {-180, 180});
        WriteEventsTable(Null(), subject, band, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, events);
        state.counters["events"] = static_cast<double>(events.size());
    }
}
BENCHMARK_CAPTURE(EventsOfCifCrystal, sapphire_006, "sapphire", Miller{0, 0, 6})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EventsOfCifCrystal, GaAs_002, "GaAs", Miller{0, 0, 2})->Unit(benchmark::kMillisecond);

// The glitch map of GaAs 0 0 2 over the full circle from 5 to 30 keV: every line's structure
// factors with f' and f'' at its own energy.
void GlitchMapOfGaAs002(benchmark::State& state)
{
    const std::unique_ptr<CifCrystal> crystal = Shipped("GaAs");
    const ScanFrame frame = MatrixFrame(crystal->lattice(), {0, 0, 2});
    const TableSubject subject{crystal->name(), {0, 0, 2}, &frame, {-180, 180}};
    for (auto _ : state) {
        ForgetStoredDips();
        const std::vector<GlitchLine> lines = GlitchMap(*crystal, frame, {-180, 180}, 5, 30);
        WriteGlitchMap(Null(), subject, 5, 30, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, lines);
        state.counters["lines"] = static_cast<double>(lines.size());
    }
}
BENCHMARK(GlitchMapOfGaAs002)->Unit(benchmark::kMillisecond);

// The large cells of CIF files as they are found: a 45 angstrom cell of F -4 3 m with 7296 atoms
// (76 sites of 96 atoms) and a P 1 cell of 4608 atoms, each atom of its own B (bench/large_cells.h).
// Each is read from its text, then its events at 8.048 keV (band 0.02 angstrom, primary 0 0 4)
// with every event's width and depth, and its glitch spectrum at psi 15 from 5 to 12 keV with
// every glitch's width and depth, tables formatted into /dev/null: the target is 10 s for each
// file's run.
const std::string& LargeCellText(bool cubic)
{
    static const std::string texts[2] = {large_cells::TriclinicCell(), large_cells::CubicCell()};
    return texts[cubic ? 1 : 0];
}

// A large cell read from its text (generated before the clock starts), with the frame of its
// primary 0 0 4.
struct LargeCifCell {
    explicit LargeCifCell(bool cubic)
        : crystal(CifCrystal::Parse(LargeCellText(cubic), "large cell", &notice)), frame(MatrixFrame(crystal->lattice(), {0, 0, 4})),
          subject{crystal->name(), {0, 0, 4}, &frame, {-180, 180}}
    {
    }
    std::string notice;
    std::unique_ptr<CifCrystal> crystal;
    ScanFrame frame;
    TableSubject subject;
};

void ReadLargeCifCell(benchmark::State& state, bool cubic)
{
    LargeCellText(cubic);
    for (auto _ : state) state.counters["atoms"] = static_cast<double>(LargeCifCell(cubic).crystal->atoms().size());
}
BENCHMARK_CAPTURE(ReadLargeCifCell, cubic_7296atoms, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(ReadLargeCifCell, p1_4608atoms, false)->Unit(benchmark::kMillisecond)->Iterations(1);

void EventsWithWidthsOfLargeCifCell(benchmark::State& state, bool cubic)
{
    const LargeCifCell cell(cubic);
    const Band band{kHcKeVAngstrom / 8.048, 0.02};
    for (auto _ : state) {
        ForgetStoredDips();
        std::vector<Event> events = FindEvents(*cell.crystal, cell.frame, band, {-180, 180});
        SetEventWidths(*cell.crystal, cell.frame, 8.048, Beam{}, &events);
        WriteEventsTable(Null(), cell.subject, band, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, events);
        state.counters["events"] = static_cast<double>(events.size());
    }
}
BENCHMARK_CAPTURE(EventsWithWidthsOfLargeCifCell, cubic_7296atoms, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(EventsWithWidthsOfLargeCifCell, p1_4608atoms, false)->Unit(benchmark::kMillisecond)->Iterations(1);

void GlitchSpectrumOfLargeCifCell(benchmark::State& state, bool cubic)
{
    const LargeCifCell cell(cubic);
    for (auto _ : state) {
        ForgetStoredDips();
        std::vector<Glitch> glitches = FindGlitchesWithHarmonics(*cell.crystal, cell.frame, 15, 5, 12, 1);
        ShapeGlitches(*cell.crystal, cell.frame, 15, 5, 12, Beam{}, &glitches);
        WriteGlitchTable(Null(), cell.subject, 15, 5, 12, GlitchBeam{"sigma", 0.0, 0.0, std::nullopt, 1}, glitches);
        state.counters["glitches"] = static_cast<double>(glitches.size());
    }
}
BENCHMARK_CAPTURE(GlitchSpectrumOfLargeCifCell, cubic_7296atoms, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(GlitchSpectrumOfLargeCifCell, p1_4608atoms, false)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
