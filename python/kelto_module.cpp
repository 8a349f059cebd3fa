// kelto from Python: the planning engine of the program (the same library, no second copy of any
// calculation) as a module for notebooks and scripts. Results are NumPy structured arrays with the
// column names and units of the program's CSV tables; nothing here writes a file or ends the
// process, and the calculations run with the GIL released, stopped by an interrupt.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

#include "cli/run_limits.h"
#include "cli/run_parts.h"
#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "crystal/shipped_crystals.h"
#include "io/run_error.h"
#include "numpy_tables.h"
#include "windows/clean_windows.h"
#include "scan/events.h"
#include "planning/forbidden_primary.h"
#include "fit/beam_spread.h"
#include "fit/glitch_fit.h"
#include "dynamics/glitch_depth.h"
#include "scan/cancellation.h"
#include "glitches/glitches.h"
#include "scan/harmonic_orders.h"
#include "planning/request_checks.h"
#include "glitches/spectrum.h"
#include "setup/factor_file.h"
#include "setup/units.h"

namespace py = pybind11;
using kelto_python::Column;
using kelto_python::StructuredArray;

namespace {

using Indices = std::tuple<int, int, int>;
using Range = std::tuple<double, double>;

Miller ToMiller(const Indices& hkl) { return Miller{std::get<0>(hkl), std::get<1>(hkl), std::get<2>(hkl)}; }

[[noreturn]] void Refuse(const std::string& message) { throw py::value_error(message); }

// A text argument as the library takes it: each C call after this would cut one holding a NUL
// there, and read another file, symbol or crystal than the one given.
const std::string& WithoutNul(const std::string& text, const char* what)
{
    if (text.find('\0') != std::string::npos) Refuse(std::string(what) + " must not hold a NUL character");
    return text;
}

// A file the user named, which must be there and readable before it is read.
void RequireFile(const std::string& path, const char* what)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, std::string(what) + " " + path + " does not exist").ptr());
        throw py::error_already_set();
    }
    if (!std::filesystem::is_regular_file(path, error)) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(EINVAL, std::string(what) + " " + path + " is not a regular file").ptr());
        throw py::error_already_set();
    }
}

// The program's message of a refusal, without its line end.
std::string Message(const std::exception& error)
{
    std::string text = error.what();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

PsiWindow Window(const Range& psi)
{
    const PsiWindow window{std::get<0>(psi), std::get<1>(psi)};
    if (!(window.min < window.max && window.max - window.min <= kWidestPsiWindow && AzimuthWithinBound(window.min) &&
          AzimuthWithinBound(window.max))) {
        Refuse("psi must be (MIN, MAX) with MIN below MAX, at most 3600 degrees apart, each from -3600 to 3600");
    }
    return window;
}

// An azimuth of a scan, as --at-psi takes it.
void RequireAzimuth(double psi, const char* what)
{
    if (!AzimuthWithinBound(psi)) Refuse(std::string(what) + " must be a number of degrees from -3600 to 3600");
}

// Runs `work` (which touches no Python object) on a thread of its own with the GIL released, while
// this thread looks for signals every 50 ms: an interrupt (Ctrl-C, a notebook's "interrupt kernel")
// cancels the calculation, whose loops stop at their next poll, and raises KeyboardInterrupt
// with nothing half-made left behind.
template <typename Work>
auto Interruptible(Work&& work) -> decltype(work())
{
    using Result = decltype(work());
    std::atomic<bool> cancel{false};
    std::packaged_task<Result()> task([&] {
        const CancellationScope scope(&cancel);
        return work();
    });
    std::future<Result> done = task.get_future();
    bool interrupted = false;
    {
        py::gil_scoped_release released;
        std::thread worker;
        try {
            worker = std::thread(std::move(task));
        } catch (const std::system_error&) {  // no thread to be had: the work is done here, uninterrupted
            task();
        }
        while (worker.joinable() && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            const py::gil_scoped_acquire held;
            if (PyErr_CheckSignals() != 0) {
                interrupted = true;
                cancel = true;
                break;
            }
        }
        if (worker.joinable()) worker.join();
    }
    if (interrupted) throw py::error_already_set();  // the KeyboardInterrupt (or the handler's exception)
    return done.get();
}

Range Energies(const Range& energies)
{
    const auto [eMin, eMax] = energies;
    if (!(eMin > 0.0 && eMin < eMax && std::isfinite(eMax))) Refuse("energies must be (EMIN, EMAX) with 0 < EMIN < EMAX, in keV");
    return energies;
}

void RequireFraction(double fraction)
{
    if (!(fraction >= 0.0 && fraction < 1.0)) Refuse("fraction must be from 0 to below 1");
}

void RequireDivergence(double divergence)
{
    if (!(divergence >= 0.0 && divergence <= 90.0)) Refuse("divergence must be a number of degrees from 0 to 90");
}

// A refusal led by the hints of the arguments that look like unit mistakes ("energy takes keV: is
// 8000 in eV (8 keV)? The run would need ..."): eV typed for keV shows in a refusal of some other
// check, and the hint is what the caller acts on. Unchanged where nothing looks mistaken.
std::string LedByUnitHints(const TypedUnits& typed, const std::string& refusal)
{
    std::string hints = UnitHints(typed);
    // One question after another ("; " parts them where they end a message), and the argument's
    // name as Python spells it (lower case), even where the program capitalises a sentence's start.
    if (hints.rfind("; ", 0) == 0) hints.erase(0, 2);
    for (std::size_t at = hints.find("; "); at != std::string::npos; at = hints.find("; ", at)) hints.replace(at, 2, " ");
    while (!hints.empty() && hints.back() == ' ') hints.pop_back();
    if (hints.empty()) return refusal;
    hints[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(hints[0])));
    return hints + " " + refusal;
}

class PyCrystal {
public:
    // typedA: the lattice parameter a as the caller gave it (angstrom), 0 for a crystal of a file.
    explicit PyCrystal(std::shared_ptr<const Crystal> crystal, double typedA = 0.0) : crystal_(std::move(crystal)), typedA_(typedA) {}

    const Crystal& crystal() const { return *crystal_; }

    // The arguments of a call that a unit mistake would show in, named as the call names them:
    // an energy in keV (energy, or the top of energies), a wavelength in angstrom, and a.
    TypedUnits Typed(std::optional<double> keV, std::optional<double> lambda, const char* energyName) const
    {
        TypedUnits typed;
        typed.latticeA = typedA_, typed.latticeName = "a";
        typed.keV = keV && std::isfinite(*keV) ? *keV : 0.0, typed.energyName = energyName;
        typed.lambda = lambda && std::isfinite(*lambda) ? *lambda : 0.0, typed.wavelengthName = "wavelength";
        return typed;
    }

    ScanFrame Frame(const Indices& primary, const std::optional<Indices>& reference) const
    {
        const Miller g = ToMiller(primary);
        if (IsZero(g)) Refuse("The primary reflection 0 0 0 has no reflection frame");
        try {
            return reference ? ReferenceFrame(crystal_->lattice(), g, ToMiller(*reference)) : MatrixFrame(crystal_->lattice(), g);
        } catch (const std::invalid_argument& e) {
            Refuse(std::string("reference: ") + e.what());
        }
    }

    // Refuses a calculation too large for the memory or too long, as the program does: `part`
    // (cli/run_parts.h) weighs it.
    template <typename Part>
    void RequireRoom(Part&& part) const
    {
        try {
            RefuseRunaway({part(*crystal_)}, "");
        } catch (const RunError& error) {
            Refuse(Message(error));
        }
    }

    void RequireReachable(const ScanFrame& frame, double eMin, double eMax) const
    {
        const double cutoff = CutoffEnergy(frame);
        if (eMax >= cutoff) return;
        Refuse(Printed("No reflection can reach the Ewald sphere from %f to %f keV: the primary reflection %d %d %d diffracts "
                       "only above %f keV", eMin, eMax, frame.primary.h, frame.primary.k, frame.primary.l, cutoff));
    }

    // The reflections of the glitch spectra of the last primary, reference and highest energy asked
    // for, kept so that spectra at many azimuths survey the sphere once.
    std::shared_ptr<const std::vector<SphereReflection>> GlitchSphere(const ScanFrame& frame, double eMax) const
    {
        std::lock_guard lock(mutex_);
        const auto key = std::make_tuple(frame.primary.h, frame.primary.k, frame.primary.l, frame.reference.has_value(),
                                         frame.reference.value_or(Miller{}).h, frame.reference.value_or(Miller{}).k,
                                         frame.reference.value_or(Miller{}).l, eMax);
        if (!sphere_ || key != sphereKey_) {
            sphere_ = std::make_shared<const std::vector<SphereReflection>>(GlitchReflections(*crystal_, frame, eMax));
            sphereKey_ = key;
        }
        return sphere_;
    }

private:
    std::shared_ptr<const Crystal> crystal_;
    double typedA_;
    mutable std::mutex mutex_;
    mutable std::shared_ptr<const std::vector<SphereReflection>> sphere_;
    mutable std::tuple<int, int, int, bool, int, int, int, double> sphereKey_{};
};

// The refusal of an energy scan over `energies`, led by a hint where its highest energy looks like
// one in eV.
py::value_error EnergyScanRefusal(const PyCrystal& self, const Range& energies, const py::value_error& refusal)
{
    return py::value_error(LedByUnitHints(self.Typed(std::get<1>(energies), std::nullopt, "energies"), refusal.what()));
}

std::shared_ptr<PyCrystal> Cubic(const py::object& structure, double a, const std::string& symbol, const std::optional<std::string>& table)
{
    int type = 0;
    if (py::isinstance<py::int_>(structure)) {
        try {
            type = structure.cast<int>();
        } catch (const py::cast_error&) {  // beyond an int: no structure either
            type = 0;
        }
    } else {
        std::string word = WithoutNul(py::str(structure), "structure");
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const char* names[] = {"sc", "bcc", "fcc", "diamond"};
        for (int i = 0; i < 4; ++i) type = word == names[i] ? i + 1 : type;
    }
    if (type < 1 || type > 4) Refuse("structure must be 'sc', 'bcc', 'fcc', 'diamond' or 1 to 4");
    if (!(a > 0.0 && std::isfinite(a))) Refuse(Printed("The lattice parameter a must be a positive finite number, not %f", a));
    WithoutNul(symbol, "symbol");
    const std::string path = WithoutNul(table.value_or(ShippedTable()), "table");
    InputStruct record{};
    if (path.size() >= sizeof record.factorFile || symbol.empty() || symbol.size() >= sizeof record.symbol) {
        Refuse("the table's name may hold at most 379 characters and the symbol 1 to 79");
    }
    RequireFile(path, "The coefficient table");
    std::strcpy(record.factorFile, path.c_str());
    std::strcpy(record.symbol, symbol.c_str());
    try {
        ReadFactors(&record);
    } catch (const RunError& error) {
        Refuse(Message(error));
    }
    try {
        return std::make_shared<PyCrystal>(std::make_shared<CubicCrystal>(type, a, record.f0Coef, record.symbol), a);
    } catch (const std::invalid_argument& e) {  // a cell beyond the doubles
        Refuse(Printed("The lattice parameter a %g makes no cell: %s", a, e.what()));
    }
}

std::shared_ptr<PyCrystal> FromCif(const std::string& path)
{
    RequireFile(WithoutNul(path, "path"), "The CIF file");
    std::string notice;
    try {
        std::shared_ptr<const Crystal> crystal = CifCrystal::Read(path, &notice);
        if (!notice.empty()) PyErr_WarnEx(PyExc_UserWarning, notice.c_str(), 1);
        return std::make_shared<PyCrystal>(std::move(crystal));
    } catch (const CrystalFileError& error) {
        Refuse(Message(error));
    }
}

std::shared_ptr<PyCrystal> Shipped(const std::string& name)
{
    try {
        return FromCif(ShippedCrystalPath(WithoutNul(name, "name")));
    } catch (const CrystalFileError& error) {
        Refuse(Message(error));
    }
}

// The columns every event, glitch and glitch line has: the reflection on the sphere, its coupling
// reflection and their strengths.
struct PairColumns {
    std::vector<int> h, k, l, ch, ck, cl;
    std::vector<double> F, couplingF, strength, relative;

    template <typename Pair>
    void Add(const Pair& p)
    {
        h.push_back(p.x.h), k.push_back(p.x.k), l.push_back(p.x.l);
        ch.push_back(p.coupling.h), ck.push_back(p.coupling.k), cl.push_back(p.coupling.l);
        F.push_back(p.F), couplingF.push_back(p.couplingF), strength.push_back(p.strength), relative.push_back(p.relativeStrength);
    }
    // The leading columns, these, then the trailing ones.
    std::vector<Column> Around(std::vector<Column> leading, std::vector<Column> trailing) const
    {
        leading.insert(leading.end(), {{"h", h}, {"k", k}, {"l", l}, {"coupling_h", ch}, {"coupling_k", ck}, {"coupling_l", cl},
                                       {"F", F}, {"F_coupling", couplingF}, {"strength", strength}, {"relative_strength", relative}});
        leading.insert(leading.end(), trailing.begin(), trailing.end());
        return leading;
    }
};

py::object EventsArray(const std::vector<Event>& events)
{
    std::vector<double> psi, low, high, width, depth;
    std::vector<std::string> direction;
    PairColumns pairs;
    for (const Event& e : events) {
        psi.push_back(e.psi), low.push_back(e.psiMin), high.push_back(e.psiMax);
        pairs.Add(e);
        direction.push_back(PassageWord(e.passage));
        width.push_back(std::isfinite(e.widthDeg) ? e.widthDeg : 360.0);
        depth.push_back(e.depth);
    }
    return StructuredArray(pairs.Around({{"psi", psi}, {"psi_min", low}, {"psi_max", high}},
                                        {{"direction", direction}, {"width_deg", width}, {"depth", depth}}));
}

py::object GlitchArray(const std::vector<Glitch>& glitches)
{
    std::vector<double> energy, wavelength, width, depth;
    std::vector<int> order;
    std::vector<std::string> kind;
    PairColumns pairs;
    for (const Glitch& g : glitches) {
        energy.push_back(g.energy), wavelength.push_back(g.wavelength);
        pairs.Add(g);
        kind.push_back(g.always ? "always" : "glitch");
        width.push_back(g.widthEV), depth.push_back(g.depth), order.push_back(g.order);
    }
    return StructuredArray(pairs.Around({{"energy_keV", energy}, {"wavelength", wavelength}},
                                        {{"kind", kind}, {"width_eV", width}, {"depth", depth}, {"order", order}}));
}

// The beam of the glitches' widths and depths from the keyword arguments, as the options give it;
// a surface the primary reflection's beams would meet from inside is refused.
Beam GlitchBeamOf(const Crystal& crystal, const ScanFrame& frame, const std::string& polarisation, const Range& divergence,
                  const std::optional<Indices>& surface)
{
    Beam beam;
    if (polarisation == "sigma") {
        beam.polarisation = Polarisation::kSigma;
    } else if (polarisation == "pi") {
        beam.polarisation = Polarisation::kPi;
    } else if (polarisation == "unpolarised" || polarisation == "unpolarized") {
        beam.polarisation = Polarisation::kUnpolarised;
    } else {
        Refuse("polarisation must be 'sigma', 'pi' or 'unpolarised'");
    }
    const auto [across, along] = divergence;
    if (!(across >= 0.0 && across <= 90.0 && along >= 0.0 && along <= 90.0)) {
        Refuse("divergence must be (ACROSS, ALONG), degrees from 0 to 90");
    }
    beam.across = Radians(across), beam.along = Radians(along);
    if (surface) {
        const Miller m = ToMiller(*surface);
        if (IsZero(m)) Refuse("surface must be a direction, not 0 0 0");
        const std::string problem = SurfaceSideProblem(crystal.lattice(), frame.primary, m);
        if (!problem.empty()) Refuse(Printed("surface %d %d %d ", m.h, m.k, m.l) + problem);
        beam.surface = crystal.lattice().Reciprocal(m);
    }
    return beam;
}

// A word the caller may spell the British or the American way (polarisation, polarization).
using Spelling = std::optional<std::string>;

// The beam's polarisation, given by either spelling (not both); 'sigma' where neither is given.
std::string OnePolarisation(const Spelling& polarisation, const Spelling& polarization)
{
    if (polarisation && polarization) Refuse("polarisation and polarization are one: give one of them");
    const Spelling& given = polarisation ? polarisation : polarization;
    return given ? WithoutNul(*given, polarisation ? "polarisation" : "polarization") : std::string("sigma");
}

// The azimuth of an energy scan, given as psi or as at_psi (the program's --at-psi), not both.
double OneAzimuth(std::optional<double> psi, std::optional<double> atPsi)
{
    if (psi && atPsi) Refuse("psi and at_psi are one: give one of them");
    if (!psi && !atPsi) Refuse("psi, the azimuth of the scan in degrees (at_psi is the same), is required");
    return psi ? *psi : *atPsi;
}

// A UserWarning, as the program's notices on standard error; an exception where the caller's
// warning filter makes it one.
void Warn(const std::string& notice)
{
    if (PyErr_WarnEx(PyExc_UserWarning, notice.c_str(), 1) < 0) throw py::error_already_set();
}

// The notices of a scan before it computes: a forbidden primary reflection at `keV`, and each
// forbidden harmonic up to `harmonics`.
void WarnOfForbidden(const Crystal& crystal, const ScanFrame& frame, double keV, int harmonics = 1)
{
    const std::string notice = ForbiddenPrimaryNotice(crystal, frame.primary, keV);
    if (!notice.empty()) Warn(notice);
    for (const int n : OrdersOfHarmonics(crystal, frame, std::clamp(harmonics, 1, 9), keV).forbidden) {
        Warn(OrderReflections(frame, {n}) + " is forbidden: no " + OrdinalWord(n) + "-order glitches");
    }
}

// The frame of psi and the beam of the widths and depths of an energy scan from EMIN to EMAX keV,
// from the arguments every energy scan takes; a scan is refused where the primary reflection
// cannot diffract in the range (each caller weighs its own size).
struct EnergyScan {
    ScanFrame frame;
    Beam beam;
};

// How the monochromator is built, as --monochromator names it.
Monochromator MonochromatorOf(const std::string& word)
{
    if (word == "single") return Monochromator::kSingle;
    if (word == "double") return Monochromator::kDouble;
    if (word == "channel-cut") return Monochromator::kChannelCut;
    Refuse("monochromator must be 'single', 'double' or 'channel-cut'");
}

EnergyScan EnergyScanOf(const PyCrystal& self, const Indices& primary, const std::optional<Indices>& reference,
                        const std::string& polarisation, const Range& divergence, const std::optional<Indices>& surface,
                        double eMin, double eMax, int harmonics = 1, const std::string& monochromator = "single")
{
    const ScanFrame frame = self.Frame(primary, reference);
    EnergyScan scan{frame, GlitchBeamOf(self.crystal(), frame, polarisation, divergence, surface)};
    scan.beam.monochromator = MonochromatorOf(WithoutNul(monochromator, "monochromator"));
    self.RequireReachable(scan.frame, eMin, eMax);
    WarnOfForbidden(self.crystal(), scan.frame, eMax, harmonics);
    return scan;
}

py::object MapArray(const std::vector<GlitchLine>& lines)
{
    std::vector<double> centre, from, to, top, cutoff, depth;
    std::vector<std::string> kind;
    PairColumns pairs;
    for (const GlitchLine& g : lines) {
        centre.push_back(g.centre), from.push_back(g.from), to.push_back(g.to);
        pairs.Add(g);
        top.push_back(g.topEnergy), cutoff.push_back(g.cutoffEnergy), kind.push_back(g.always ? "always" : "line");
        depth.push_back(g.depth);
    }
    return StructuredArray(pairs.Around({{"psi_centre", centre}, {"psi_from", from}, {"psi_to", to}},
                                        {{"energy_top_keV", top}, {"energy_cutoff_keV", cutoff}, {"kind", kind}, {"depth", depth}}));
}

// The clean windows, or the least bad stretches when there is none, as rows of the windows table.
py::object WindowArray(const CleanWindows& found, const char* search)
{
    std::vector<double> start, end, width, largest;
    std::vector<int> clean, h, k, l;
    std::vector<std::string> searches;
    const auto add = [&](const AzimuthInterval& w, bool isClean, double worst, Miller x) {
        start.push_back(w.start), end.push_back(w.end), width.push_back(w.Width()), searches.push_back(search);
        clean.push_back(isClean ? 1 : 0), largest.push_back(worst), h.push_back(x.h), k.push_back(x.k), l.push_back(x.l);
    };
    for (const AzimuthInterval& w : found.windows) add(w, true, 0.0, Miller{0, 0, 0});
    for (const LeastBadStretch& s : found.leastBad) add(s.stretch, false, s.largest, s.x);
    return StructuredArray({{"search", searches}, {"psi_start", start}, {"psi_end", end}, {"width", width}, {"clean", clean},
                            {"largest", largest}, {"h", h}, {"k", k}, {"l", l}});
}

// What counts against a clean window: fraction= of the strongest, or with max_depth= the depth,
// as the program takes FRACTION and --max-depth; not both.
CleanThreshold ThresholdOf(const std::optional<double>& fraction, const std::optional<double>& maxDepth)
{
    if (fraction && maxDepth) Refuse("give fraction or max_depth, not both: they are two thresholds");
    if (maxDepth) {
        if (!(*maxDepth > 0.0 && *maxDepth < 1.0)) Refuse("max_depth must be a share of I0 above 0 and below 1");
        return {true, *maxDepth};
    }
    RequireFraction(fraction.value_or(0.01));
    return {false, fraction.value_or(0.01)};
}

py::object Events(const PyCrystal& self, const Indices& primary, std::optional<double> energy, std::optional<double> wavelength,
                  std::optional<double> band, std::optional<double> relativeBand, const Range& psi,
                  const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                  const std::optional<Indices>& surface)
try {
    if (energy.has_value() == wavelength.has_value()) Refuse("give either energy (keV) or wavelength (angstrom)");
    const double lambda = wavelength ? *wavelength : kHcKeVAngstrom / *energy;
    if (!(lambda > 0.0 && std::isfinite(lambda))) Refuse(Printed("The wavelength lambda must be a positive finite number, not %f", lambda));
    if (band && relativeBand) Refuse("give band (angstrom) or relative_band (a share of the wavelength), not both");
    if (!band && !relativeBand) {
        Refuse("band, the full width of the wavelength band in angstrom, or relative_band, that width as a share of the "
               "wavelength, is required");
    }
    if (relativeBand) {
        // As --relative-band: delta lambda = R lambda, in double precision.
        if (!(*relativeBand > 0.0 && *relativeBand < 2.0)) {
            Refuse("relative_band must be a share of the wavelength above 0 and below 2 (delta lambda = relative_band lambda)");
        }
        band = *relativeBand * lambda;
    }
    if (!(*band > 0.0 && std::isfinite(*band) && lambda - *band / 2.0 > 0.0)) {
        Refuse("band must be a positive number of angstrom, below twice the wavelength");
    }
    const PsiWindow window = Window(psi);
    const ScanFrame frame = self.Frame(primary, reference);
    if (!(lambda <= frame.CutoffWavelength())) {
        Refuse(Printed("The primary reflection %d %d %d cannot diffract at the wavelength %f angstrom: the longest wavelength at "
                       "which it can is %f angstrom (%f keV)", frame.primary.h, frame.primary.k, frame.primary.l, lambda,
                       frame.CutoffWavelength(), CutoffEnergy(frame)));
    }
    WarnOfForbidden(self.crystal(), frame, kHcKeVAngstrom / lambda);
    self.RequireRoom([&](const Crystal& crystal) {
        return EventsPart(crystal, frame, lambda - *band / 2.0, window.max - window.min, kArgumentNames, "");
    });
    const Beam beam = GlitchBeamOf(self.crystal(), frame, OnePolarisation(polarisation, polarization), divergence, surface);
    return EventsArray(Interruptible([&] {
        std::vector<Event> events = FindEvents(self.crystal(), frame, {lambda, *band}, window);
        SetEventWidths(self.crystal(), frame, kHcKeVAngstrom / lambda, beam, &events);
        return events;
    }));
} catch (const py::value_error& refusal) {
    throw py::value_error(LedByUnitHints(self.Typed(energy, wavelength, "energy"), refusal.what()));
}

// The glitches of an energy scan at psi with their widths and depths, from the arguments that
// glitches() and spectrum() share; the sphere's survey is kept for the fundamental alone.
std::vector<Glitch> ShapedGlitches(const PyCrystal& self, const Indices& primary, double psi, double eMin, double eMax,
                                   const std::optional<Indices>& reference, const std::string& polarisation,
                                   const Range& divergence, const std::optional<Indices>& surface, int harmonics, bool spectrum,
                                   const std::string& monochromator)
{
    if (!std::isfinite(psi)) Refuse("psi must be a finite number of degrees");
    RequireAzimuth(psi, "psi");
    if (!(harmonics >= 1 && harmonics <= 9)) Refuse("harmonics must be a whole number from 1 to 9");
    const EnergyScan scan = EnergyScanOf(self, primary, reference, polarisation, divergence, surface, eMin, eMax, harmonics, monochromator);
    self.RequireRoom([&](const Crystal& crystal) {
        return (spectrum ? SpectrumPart : GlitchesPart)(crystal, scan.frame, eMin, eMax, harmonics, harmonics == 1, kArgumentNames, "");
    });
    return Interruptible([&] {
        std::vector<Glitch> glitches =
            harmonics == 1 ? FindGlitchesAmong(self.crystal(), scan.frame, *self.GlitchSphere(scan.frame, eMax), psi, eMin, eMax)
                           : FindGlitchesWithHarmonics(self.crystal(), scan.frame, psi, eMin, eMax, harmonics);
        ShapeGlitches(self.crystal(), scan.frame, psi, eMin, eMax, scan.beam, &glitches);
        return glitches;
    });
}

py::object Glitches(const PyCrystal& self, const Indices& primary, std::optional<double> psi, const Range& energies,
                    std::optional<double> atPsi, const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                    const std::optional<Indices>& surface, int harmonics, const std::string& monochromator)
try {
    const auto [eMin, eMax] = Energies(energies);
    return GlitchArray(ShapedGlitches(self, primary, OneAzimuth(psi, atPsi), eMin, eMax, reference,
                                      OnePolarisation(polarisation, polarization), divergence, surface, harmonics, false, monochromator));
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

// Each order's share of the photons, the fundamental's 1 first, as --harmonic-content: one share
// for every harmonic or one for each order the structure lets through (0.01 each unless given), or
// rows of a setting (keV) and its shares, linear between them and covering EMIN to EMAX.
using GivenShares = std::variant<std::vector<double>, std::vector<std::vector<double>>>;
OrderShares HarmonicContent(const Crystal& crystal, const ScanFrame& frame, int harmonics, double eMin, double eMax,
                            const GivenShares& given)
{
    const HarmonicOrders orders = OrdersOfHarmonics(crystal, frame, std::clamp(harmonics, 1, 9), eMax);
    const auto content = [&](const std::vector<double>& shares) {
        for (const double c : shares) {
            if (!(c >= 0.0 && c <= 1.0)) Refuse("harmonic_content shares must lie from 0 to 1");
        }
        std::vector<double> all = HarmonicContent(orders, std::clamp(harmonics, 1, 9), shares);
        if (all.empty() || shares.size() >= static_cast<std::size_t>(std::max(harmonics, 1))) {
            Refuse(Printed("harmonic_content must give one share for every harmonic or one for each order that passes (%s)",
                           orders.passing.empty() ? "none" : OrderReflections(frame, orders.passing).c_str()));
        }
        return all;
    };
    if (const auto* shares = std::get_if<std::vector<double>>(&given)) return content(*shares);
    const auto& rows = std::get<std::vector<std::vector<double>>>(given);
    std::vector<double> energies;
    std::vector<std::vector<double>> table;
    for (const std::vector<double>& row : rows) {
        if (row.size() < 2) Refuse("harmonic_content rows must give a setting in keV and its shares");
        energies.push_back(row.front());
        table.push_back(content({row.begin() + 1, row.end()}));
    }
    if (rows.size() < 2 || !(energies.front() <= eMin && energies.back() >= eMax)) {
        Refuse(Printed("harmonic_content rows must be two or more and cover the energies %g to %g keV", eMin, eMax));
    }
    try {
        return OrderShares(energies, table);
    } catch (const std::invalid_argument& e) {
        Refuse(Printed("harmonic_content rows: %s", e.what()));
    }
}

py::object Spectrum(const PyCrystal& self, const Indices& primary, std::optional<double> psi, const Range& energies,
                    std::optional<double> atPsi, const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                    const std::optional<Indices>& surface, int harmonics, const GivenShares& harmonicContent,
                    const std::string& monochromator)
try {
    const auto [eMin, eMax] = Energies(energies);
    const OrderShares content = HarmonicContent(self.crystal(), self.Frame(primary, reference), harmonics, eMin, eMax, harmonicContent);
    const std::vector<Glitch> glitches = ShapedGlitches(self, primary, OneAzimuth(psi, atPsi), eMin, eMax, reference,
                                                        OnePolarisation(polarisation, polarization), divergence, surface, harmonics, true,
                                                        monochromator);
    const std::vector<SpectrumPoint> spectrum = Interruptible([&] { return PredictSpectrum(glitches, eMin, eMax, content); });
    std::vector<double> energy, i0;
    for (const SpectrumPoint& p : spectrum) energy.push_back(p.energy), i0.push_back(p.i0);
    return StructuredArray({{"energy_keV", energy}, {"i0", i0}});
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

py::object GlitchLines(const PyCrystal& self, const Indices& primary, const Range& energies, const Range& psi,
                       const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                       const std::optional<Indices>& surface, const std::string& monochromator)
try {
    const auto [eMin, eMax] = Energies(energies);
    const PsiWindow window = Window(psi);
    const EnergyScan scan = EnergyScanOf(self, primary, reference, OnePolarisation(polarisation, polarization), divergence, surface, eMin, eMax,
                                         1, monochromator);
    self.RequireRoom([&](const Crystal& crystal) {
        return GlitchMapPart(crystal, scan.frame, eMin, eMax, window.max - window.min, kArgumentNames, "");
    });
    return MapArray(Interruptible([&] {
        std::vector<GlitchLine> lines = GlitchMap(self.crystal(), scan.frame, window, eMin, eMax);
        SetLineDepths(self.crystal(), scan.frame, eMin, scan.beam, &lines);
        return lines;
    }));
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

using Divergence = std::variant<double, Range>;

// One scan's points or several scans': a sequence of numbers, or a sequence of such sequences.
using ScanValues = std::variant<std::vector<double>, std::vector<std::vector<double>>>;

std::vector<std::vector<double>> Scans(const ScanValues& values)
{
    if (const auto* one = std::get_if<std::vector<double>>(&values)) return {*one};
    return std::get<std::vector<std::vector<double>>>(values);
}

// The dips of one scan inside the range; a scan none of whose points lie in it, or whose
// intensities are no I0, is refused with what it holds (and the unit it looks to be in).
DipSearch DipsOfScan(const std::vector<double>& energy, const std::vector<double>& intensity, double eMin, double eMax,
                     const std::string& name)
{
    std::vector<ScanPoint> points;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (std::size_t i = 0; i < energy.size(); ++i) {
        if (!(std::isfinite(energy[i]) && energy[i] > 0.0 && std::isfinite(intensity[i]))) continue;
        points.push_back({energy[i], intensity[i]});
        low = std::min(low, energy[i]), high = std::max(high, energy[i]);
    }
    if (points.empty()) Refuse(name + " holds no point with a positive finite energy and a finite intensity");
    if (!(high >= eMin && low <= eMax)) {
        const bool inEV = high * 0.001 >= eMin && low * 0.001 <= eMax;
        Refuse(Printed("No point of %s lies from %g to %g keV (energies): its energies run from %g to %g%s", name.c_str(), eMin, eMax,
                       low, high, inEV ? "; are they in eV? Give keV (eV times 0.001)" : ""));
    }
    try {
        return FindDips(points, eMin, eMax);
    } catch (const std::domain_error& e) {
        Refuse(Printed("%s cannot be read as an I0 from %g to %g keV: %s; give I0 itself, or its change in percent", name.c_str(),
                       eMin, eMax, e.what()));
    }
}

// The rows of --fit-table for the dips of the scans.
py::object DipRows(const GlitchFit& fit)
{
    std::vector<double> dipEnergy, depth, width, predicted, residual, lineDepth;
    std::vector<int> matched, h, k, l, order, scan;
    for (std::size_t s = 0; s < fit.scans.size(); ++s) {
        for (const DipMatch& d : fit.scans[s].dips) {
            dipEnergy.push_back(d.dip.energy), depth.push_back(d.dip.depth), width.push_back(d.dip.widthEV);
            matched.push_back(d.matched ? 1 : 0), h.push_back(d.x.h), k.push_back(d.x.k), l.push_back(d.x.l), order.push_back(d.order);
            predicted.push_back(d.matched ? d.predictedKeV : std::nan(""));
            residual.push_back(d.matched ? d.residualEV : std::nan(""));
            lineDepth.push_back(d.matched ? d.lineDepth : std::nan(""));
            scan.push_back(static_cast<int>(s + 1));
        }
    }
    return StructuredArray({{"energy_keV", dipEnergy}, {"depth", depth}, {"width_eV", width}, {"matched", matched}, {"h", h},
                            {"k", k}, {"l", l}, {"order", order}, {"predicted_keV", predicted}, {"residual_eV", residual},
                            {"line_depth", lineDepth}, {"scan", scan}});
}

// The azimuth and energy offsets fitted to measured scans given as their energies (keV) and
// intensities, as kelto --fit-glitches: a dict of the fit, its significance and the table of its dips.
py::object FitScan(const PyCrystal& self, const Indices& primary, const ScanValues& energyValues, const ScanValues& intensityValues,
                   const Range& energies, const Range& psi, std::optional<double> atPsi, std::optional<double> nominal,
                   const std::optional<Indices>& reference, const Spelling& polarisation, const Spelling& polarization, const Range& divergence,
                   const std::optional<Indices>& surface, int harmonics, const GivenShares& harmonicContent,
                   double maxOffset, const std::string& offsets, double significance, const std::string& monochromator)
try {
    const auto [eMin, eMax] = Energies(energies);
    const std::vector<std::vector<double>> energy = Scans(energyValues), intensity = Scans(intensityValues);
    if (energy.empty()) Refuse("energy must hold a scan");
    if (energy.size() != intensity.size()) Refuse("energy and intensity must hold as many scans");
    for (std::size_t s = 0; s < energy.size(); ++s) {
        if (energy[s].size() != intensity[s].size()) Refuse("energy and intensity must be of one length");
    }
    if (!(harmonics >= 1 && harmonics <= 9)) Refuse("harmonics must be a whole number from 1 to 9");
    if (!(maxOffset >= 0.0 && maxOffset <= 500.0)) Refuse("max_offset must be a number of eV from 0 to 500");
    if (atPsi && nominal) Refuse("at_psi and nominal are one: give one of them");
    const std::optional<double> aim = atPsi ? atPsi : nominal;
    if (aim && !std::isfinite(*aim)) Refuse("at_psi must be a finite number of degrees");
    if (aim) RequireAzimuth(*aim, atPsi ? "at_psi" : "nominal");
    if (offsets != "each" && offsets != "one") Refuse("offsets must be 'each' or 'one'");
    if (!(significance >= kSmallestSignificance && significance <= kLargestSignificance)) {
        Refuse(Printed("significance must be a probability from %g to %g", kSmallestSignificance, kLargestSignificance));
    }
    FitRequest request;
    request.window = Window(psi);
    request.beam.harmonics = harmonics;
    request.nominalPsi = aim;
    request.widestOffsetEV = maxOffset;
    request.oneOffset = offsets == "one";
    request.significance = significance;
    const EnergyScan scan = EnergyScanOf(self, primary, reference, OnePolarisation(polarisation, polarization), divergence, surface,
                                         eMin, eMax, harmonics, monochromator);
    self.RequireRoom([&](const Crystal& crystal) { return FitPart(crystal, scan.frame, eMax, harmonics, kArgumentNames, ""); });
    request.beam.beam = scan.beam;
    request.beam.content = HarmonicContent(self.crystal(), scan.frame, harmonics, eMin, eMax, harmonicContent);
    std::vector<DipSearch> searches;
    for (std::size_t s = 0; s < energy.size(); ++s) {
        searches.push_back(DipsOfScan(energy[s], intensity[s], eMin, eMax, energy.size() == 1 ? "the scan" : Printed("scan %zu", s + 1)));
    }
    const GlitchFit fit = Interruptible([&] { return FitGlitches(self.crystal(), scan.frame, searches, request); });
    const SpreadEstimate spread = Interruptible([&] { return EstimateSpread(self.crystal(), scan.frame, fit, searches, request); });
    const double nan = std::nan("");
    py::list scans;
    for (std::size_t s = 0; s < fit.scans.size(); ++s) {
        const ScanMatch& m = fit.scans[s];
        py::dict d;
        d["used"] = m.used, d["why"] = m.why;
        d["energies"] = py::make_tuple(m.eMin, m.eMax);
        d["offset_eV"] = fit.candidate && m.used ? m.offsetEV : nan, d["offset_error_eV"] = fit.candidate && m.used ? m.offsetError : nan;
        d["matched"] = m.matched, d["unmatched"] = m.unmatched, d["tolerance_eV"] = m.toleranceEV;
        d["percent_change"] = searches[s].percentChange;
        scans.append(d);
    }
    py::dict result;
    result["found"] = fit.found;
    result["significant"] = fit.found;
    result["why"] = fit.why;
    result["psi"] = fit.psi, result["psi_error"] = fit.psiError;
    const ScanMatch& first = fit.scans.front();
    result["offset_eV"] = fit.candidate && first.used ? first.offsetEV : nan;
    result["offset_error_eV"] = fit.candidate && first.used ? first.offsetError : nan;
    result["rms_eV"] = fit.candidate ? fit.rmsEV : nan, result["tolerance_eV"] = first.toleranceEV;
    result["matched"] = fit.matched, result["unmatched"] = fit.unmatched;
    result["p"] = fit.p, result["trials"] = fit.trials, result["as_good"] = fit.asGood, result["threshold"] = fit.significance;
    result["equivalents"] = fit.equivalents;
    result["beyond_offset_eV"] = fit.beyondOffsetEV, result["beyond_psi"] = fit.beyondPsi;
    // The beam's spread across from the dips' widths, in degrees as --divergence takes it.
    const double degree = kRadiansPerDegree;
    result["divergence_across"] = spread.found && spread.low > 0.0 ? spread.across / degree : nan;
    result["divergence_range"] = spread.found ? py::make_tuple(spread.low / degree, spread.high / degree) : py::make_tuple(nan, nan);
    result["divergence_why"] = spread.why;
    result["scans"] = scans;
    result["dips"] = DipRows(fit);
    return result;
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

py::object CleanEnergies(const PyCrystal& self, const Indices& primary, const Range& energies, const std::optional<double>& fraction,
                         const Range& psi, const Divergence& divergence, const std::optional<Indices>& reference,
                         const std::optional<double>& maxDepth, double minWidth, const Spelling& polarisation, const Spelling& polarization,
                         const std::optional<Indices>& surface, const std::string& monochromator)
try {
    const auto [eMin, eMax] = Energies(energies);
    // A line counts by its depth unless a fraction of the strongest is asked for.
    const CleanThreshold threshold = fraction || maxDepth ? ThresholdOf(fraction, maxDepth) : CleanThreshold{true, kDefaultMaxDepth};
    // One number is the spread across the primary's scattering plane, as --divergence ACROSS.
    const Range spreads = std::holds_alternative<double>(divergence) ? Range{std::get<double>(divergence), 0.0}
                                                                     : std::get<Range>(divergence);
    RequireDivergence(std::get<0>(spreads));
    if (!(minWidth >= 0.0 && std::isfinite(minWidth))) Refuse("min_width must be a finite number of degrees from 0 up");
    const PsiWindow window = Window(psi);
    const EnergyScan scan = EnergyScanOf(self, primary, reference, OnePolarisation(polarisation, polarization), spreads, surface, eMin, eMax,
                                         1, monochromator);
    self.RequireRoom([&](const Crystal& crystal) {
        return GlitchMapPart(crystal, scan.frame, eMin, eMax, window.max - window.min, kArgumentNames, "");
    });
    const CleanWindows found = Interruptible([&] {
        return CleanEnergyWindows(self.crystal(), scan.frame, window, eMin, eMax, threshold, std::get<0>(spreads), scan.beam,
                                  minWidth);
    });
    return WindowArray(found, "energies");
} catch (const py::value_error& refusal) {
    throw EnergyScanRefusal(self, energies, refusal);
}

// Whether a structured array has the column.
bool HasColumn(const py::object& array, const char* name)
{
    try {
        for (const py::handle field : array.attr("dtype").attr("names")) {
            if (py::str(field).cast<std::string>() == name) return true;
        }
    } catch (const py::error_already_set&) {
    }
    return false;
}

py::object EventWindows(const py::object& events, double width, const std::optional<double>& fraction, double divergence,
                        const Range& psi, const std::optional<double>& maxDepth)
{
    if (!(width > 0.0 && std::isfinite(width))) Refuse("width must be a positive number of degrees");
    const CleanThreshold threshold = ThresholdOf(fraction, maxDepth);
    RequireDivergence(divergence);
    const PsiWindow window = Window(psi);
    if (threshold.byDepth && !HasColumn(events, "depth")) {
        Refuse("max_depth needs the events' depth column, as Crystal.events gives it");
    }
    std::vector<Event> list;
    try {
        using Numbers = py::array_t<double, py::array::c_style | py::array::forcecast>;
        // A column of a structured array is a strided view: copied into numbers side by side. The
        // widths, depths and reflections may be missing from an array made by hand.
        const auto column = [&](const char* name) { return Numbers(events[py::str(name)]); };
        const auto optional = [&](const char* name, py::ssize_t rows) {
            return HasColumn(events, name) ? column(name) : Numbers(rows);
        };
        const Numbers psiColumn = column("psi"), low = column("psi_min"), high = column("psi_max"), strength = column("strength");
        const py::ssize_t rows = psiColumn.size();
        const Numbers widths = optional("width_deg", rows), depths = optional("depth", rows);
        const Numbers h = optional("h", rows), k = optional("k", rows), l = optional("l", rows);
        const bool named = HasColumn(events, "h"), shaped = HasColumn(events, "width_deg"), deep = HasColumn(events, "depth");
        for (py::ssize_t i = 0; i < rows; ++i) {
            Event e{};
            e.psi = psiColumn.at(i), e.psiMin = low.at(i), e.psiMax = high.at(i), e.strength = strength.at(i);
            e.widthDeg = shaped ? widths.at(i) : 0.0;
            e.depth = deep ? depths.at(i) : 0.0;
            if (named) e.x = Miller{int(h.at(i)), int(k.at(i)), int(l.at(i))};
            list.push_back(e);
        }
    } catch (const py::error_already_set&) {
        Refuse("events must be an array of events (with psi, psi_min, psi_max and strength), as Crystal.events gives");
    }
    const CleanWindows found = Interruptible([&] { return CleanEventWindows(list, window, width, threshold, divergence); });
    return WindowArray(found, "events");
}

// Where this module lies; an installed one (PREFIX/lib/python3.X/dist-packages) finds kelto's
// table and crystals in PREFIX/share/kelto.
void FindInstalledData()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FindInstalledData), &info) == 0 || info.dli_fname == nullptr) return;
    const std::filesystem::path share =
        std::filesystem::path(info.dli_fname).parent_path() / ".." / ".." / ".." / "share" / "kelto";
    std::error_code error;
    if (std::filesystem::is_regular_file(share / "f0_it1992.txt", error)) UseShippedDataFolder(share.lexically_normal().string());
}

}  // namespace

PYBIND11_MODULE(kelto, module)
{
    FindInstalledData();
    module.doc() = R"(Planning multiple-beam (Umweg, Renninger) scans and monochromator glitch spectra.

A Crystal (cubic of one element, from a CIF file, or one that comes with kelto) answers where the
multiple-beam events of an azimuthal scan lie (events), which energies glitch at an azimuth
(glitches), every reflection's glitch line E(psi) (glitch_map), and which azimuths keep an energy
range clean (clean_energies); clean_windows finds the azimuths free of strong events. Results are
NumPy structured arrays with the columns and units of kelto's CSV tables (angles in degrees,
energies in keV, wavelengths in angstrom, structure factors in electrons); pandas.DataFrame(result)
reads them. psi counts as in the program: with reference=(H, K, L) right-handed about the primary
reflection from that reciprocal-lattice vector to the incident beam, else in the frame of the
orientation matrix. Bad arguments raise ValueError with the program's messages, led by a hint
where an energy, wavelength or lattice parameter looks like one in another unit ("energy takes keV:
is 8000 in eV (8 keV)? ..."); files that cannot be read, OSError. Ctrl-C stops a long call within a
second with KeyboardInterrupt.)";

    module.attr("__version__") = KELTO_VERSION;

    py::class_<PyCrystal, std::shared_ptr<PyCrystal>>(module, "Crystal", "A crystal: its lattice and its structure factor at any photon energy.")
        .def_static("cubic", &Cubic, py::arg("structure"), py::arg("a"), py::arg("symbol"), py::arg("table") = py::none(),
                    R"(A cubic crystal of one element.

structure: 'sc', 'bcc', 'fcc' or 'diamond' (or 1 to 4); a: the lattice parameter in angstrom;
symbol: the element's key in the coefficient table (any case); table: the coefficient file
(default the one that comes with kelto). F is that of kelto's reflection table: f0 from the table,
the structure's factor and exp(-0.117 s^2); it does not depend on the energy.)")
        .def_static("from_cif", &FromCif, py::arg("path"),
                    R"(The crystal of a small-molecule CIF file: cell, space group, atom sites.

F sums occupancy (f0 + f' + i f'') exp(-B s^2) exp(2 pi i h.x) over the unit cell, f' and f''
(Cromer-Liberman) at the energy asked for. A CIF without displacement parameters is taken with
B = 0, with a UserWarning.)")
        .def_static("shipped", &Shipped, py::arg("name"), "A crystal that comes with kelto, by name (see shipped_crystals()).")
        .def_property_readonly("name", [](const PyCrystal& c) { return c.crystal().name(); }, "The crystal's name.")
        .def_property_readonly(
            "cell",
            [](const PyCrystal& c) {
                const Lattice& l = c.crystal().lattice();
                return std::make_tuple(l.a(), l.b(), l.c(), l.alpha(), l.beta(), l.gamma());
            },
            "The cell (a, b, c in angstrom, alpha, beta, gamma in degrees).")
        .def("__repr__", [](const PyCrystal& c) { return "<kelto.Crystal " + c.crystal().name() + ">"; })
        .def("events", &Events, py::arg("primary"), py::kw_only(), py::arg("energy") = py::none(),
             py::arg("wavelength") = py::none(), py::arg("band") = py::none(), py::arg("relative_band") = py::none(),
             py::arg("psi") = Range{-180.0, 180.0},
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(),
             R"(The multiple-beam events of an azimuthal scan about primary = (H, K, L).

Give energy (keV) or wavelength (angstrom), and band, the full width of the wavelength band in
angstrom, or relative_band, that width as a share of the wavelength (delta lambda = relative_band
lambda, as --relative-band). psi = (MIN, MAX) is the window (degrees). Columns: psi, psi_min, psi_max (the band
interval), h, k, l (the reflection on the sphere), coupling_h, coupling_k, coupling_l, F,
F_coupling, strength (|F(X)| |F(G - X)|), relative_strength, direction ('in', 'out', 'top',
'always'), width_deg (the azimuths the event takes for the beam, as for glitches(), degrees) and
depth (the share of the primary's beam X takes at the event's centre, 0 to 1), sorted by psi: the
rows of kelto --events.)")
        .def("glitches", &Glitches, py::arg("primary"), py::arg("psi") = py::none(), py::kw_only(), py::arg("energies"),
             py::arg("at_psi") = py::none(), py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("monochromator") = "single",
             R"(The glitch spectrum at the azimuth psi (degrees; at_psi is the same) from energies = (EMIN, EMAX) keV.

Columns: energy_keV, wavelength, h, k, l, coupling_h, coupling_k, coupling_l, F, F_coupling,
strength, relative_strength, kind ('glitch', or 'always' for a reflection on the sphere at every
energy at psi), width_eV, depth and order, sorted by energy: the rows of kelto --glitches. The
widths and depths are for the beam's polarisation (or polarization: 'sigma', the default, 'pi' or 'unpolarised', relative to
the primary's scattering plane), its divergence = (ACROSS, ALONG) in degrees and the crystal's
surface = (H, K, L) (None: a symmetric cut); harmonics = N adds the glitches of n G at n E up to N,
as --harmonics (a forbidden order, such as silicon's 2 2 2, is a UserWarning, as a forbidden primary
reflection is); monochromator = 'single' (the default), 'double' or 'channel-cut' as --monochromator. The sphere is surveyed once for spectra at many azimuths of one primary and range.)")
        .def("spectrum", &Spectrum, py::arg("primary"), py::arg("psi") = py::none(), py::kw_only(), py::arg("energies"),
             py::arg("at_psi") = py::none(), py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("harmonic_content") = GivenShares{std::vector<double>{}},
             py::arg("monochromator") = "single",
             R"(The predicted I0 of the energy scan at the azimuth psi (degrees; at_psi is the same) over energies = (EMIN, EMAX) keV.

Columns: energy_keV and i0, the output relative to what it would be without glitches: the rows of
kelto --spectrum. The beam as for glitches(); harmonic_content = [C] or [C2, ...] gives each
harmonic's share of the photons against 1 for the fundamental: one share for every harmonic, or
one for each order the structure allows (a forbidden order takes none; default 0.01 each); or rows
[[E, C...], ...] of a setting E (keV) and its shares, at rising E, linear between them, covering
energies (as --harmonic-content FILE).)")
        .def("fit_glitches", &FitScan, py::arg("primary"), py::arg("energy"), py::arg("intensity"), py::kw_only(),
             py::arg("energies"), py::arg("psi") = Range{-180.0, 180.0}, py::arg("at_psi") = py::none(), py::arg("nominal") = py::none(),
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("harmonics") = 1, py::arg("harmonic_content") = GivenShares{std::vector<double>{}},
             py::arg("max_offset") = 25.0, py::arg("offsets") = "each", py::arg("significance") = kDefaultSignificance, py::arg("monochromator") = "single",
             R"(The azimuth psi and energy offsets fitted to measured I0 scans, as kelto --fit-glitches.

energy (keV; multiply eV by 0.001) and intensity (any scale) are one scan's points in any order, or
lists of several scans' points, which are fitted with one psi (offsets='each' gives each its own
energy offset, 'one' one for all). Each scan's dips between energies = (EMIN, EMAX) keV, over the
energies of its own points, are matched to the predicted glitches over the window psi = (MIN, MAX);
at_psi (degrees; nominal is the same) takes the nearest of the azimuths the crystal's symmetry makes
equivalent; the beam and harmonics as for spectrum(); max_offset bounds the energy offsets (eV); a
fit is significant when trials of the dips moved out of reach of any match fit as well at most
with the probability significance (default 0.01). Returns a dict: found (significant, also as
significant), why (without a significant fit), psi and psi_error (degrees, one standard error; NaN
when nothing was refined), offset_eV and offset_error_eV (the first scan's, measured minus
predicted), rms_eV, tolerance_eV, matched, unmatched, p, trials, as_good, threshold, equivalents
(every azimuth of the window with psi's spectrum, psi among them), beyond_offset_eV and beyond_psi
(a better fit beyond max_offset, else NaN), scans (per scan: used, why, energies, offset_eV,
offset_error_eV, matched, unmatched, tolerance_eV, percent_change), divergence_across (degrees: the
beam's spread across the primary's scattering plane that the matched dips' widths call for, as
divergence= takes it; NaN when they do not fix it), divergence_range (LOW, HIGH degrees within one
standard error; LOW 0 when the widths only bound it, HIGH then the widest within two), divergence_why
(without an estimate: why not) and dips, the rows of
--fit-table: energy_keV, depth, width_eV, matched, h, k, l, order, predicted_keV, residual_eV,
line_depth (NaN where unmatched), scan (from 1).)")
        .def("glitch_map", &GlitchLines, py::arg("primary"), py::kw_only(), py::arg("energies"), py::arg("psi") = Range{-180.0, 180.0},
             py::arg("reference") = py::none(), py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(), py::arg("divergence") = Range{0.0, 0.0},
             py::arg("surface") = py::none(), py::arg("monochromator") = "single",
             R"(Every reflection's glitch line E(psi) inside energies = (EMIN, EMAX) keV over psi = (MIN, MAX).

One row per reflection and turn: psi_centre, psi_from, psi_to, h, k, l, the coupling reflection, F,
F_coupling, strength, relative_strength, energy_top_keV (Et), energy_cutoff_keV (Ec), kind and depth
(at the line's top, for the beam as in glitches()). A 'line' is E = sqrt(Ec^2 + (Et^2 - Ec^2) /
cos^2(psi - psi_centre)) from psi_from to psi_to: the rows of kelto --glitch-map.)")
        .def("clean_energies", &CleanEnergies, py::arg("primary"), py::kw_only(), py::arg("energies"), py::arg("fraction") = py::none(),
             py::arg("psi") = Range{-180.0, 180.0}, py::arg("divergence") = 0.0, py::arg("reference") = py::none(),
             py::arg("max_depth") = py::none(), py::arg("min_width") = 0.5, py::arg("polarisation") = py::none(), py::arg("polarization") = py::none(),
             py::arg("surface") = py::none(), py::arg("monochromator") = "single",
             R"(The azimuth windows of psi = (MIN, MAX), widest first, at least min_width degrees wide (default
0.5; 0 lists every stretch), over which no glitch line inside energies = (EMIN, EMAX) keV is
deeper at its top than max_depth (a share of I0 from 0 to 1, default 0.01), or, with fraction
instead, none above that fraction of the strongest (|F(X)| |F(G - X)|). Every line's stretch is widened at its
ends by half the width in azimuth of its glitch there for the beam (polarisation, divergence =
ACROSS or (ACROSS, ALONG) in degrees, surface, as in glitch_map()), or by ACROSS / 2 where wider.
Columns: search, psi_start, psi_end, width (degrees), clean (1), largest (0), h, k, l (0); when
no window is clean, the five least bad stretches instead, best first, with clean 0, the largest
relative strength (or depth) over each and h, k, l of the line that sets it: kelto
--clean-energies --windows.)")
        .def("structure_factor", [](const PyCrystal& c, int h, int k, int l, double energy) {
                 if (!(energy > 0.0 && std::isfinite(energy))) Refuse("energy must be a positive number of keV");
                 py::gil_scoped_release released;
                 return c.crystal().At(energy)->F(Miller{h, k, l});
             },
             py::arg("h"), py::arg("k"), py::arg("l"), py::arg("energy"), "F(h, k, l) in electrons at the photon energy (keV), a complex number.");

    module.def("shipped_crystals", &ShippedCrystalNames, "The names of the crystals that come with kelto.");
    module.def("data_folder", &ShippedDataFolder,
               "The folder of the coefficient table and the crystals that come with kelto (share/kelto of an installation).");
    module.def("clean_windows", &EventWindows, py::arg("events"), py::arg("width"), py::kw_only(), py::arg("fraction") = py::none(),
               py::arg("divergence") = 0.0, py::arg("psi") = Range{-180.0, 180.0}, py::arg("max_depth") = py::none(),
               R"(The azimuth windows of psi = (MIN, MAX), at least width degrees wide, that no event of the array
events (from Crystal.events) above fraction (default 0.01) of the strongest event inside psi, or
with max_depth (a share of I0 from 0 to 1, instead of fraction) no event deeper than that,
occupies with its band interval widened on each side by half its width_deg or by divergence / 2
(degrees), the larger, by start: kelto --clean. Over a full circle the events of that circle give
the program's windows; for a part of one, pass the events of psi widened by 360 degrees on each
side, so that the events outside whose azimuths reach in count as the program counts them.
Columns: search, psi_start, psi_end, width, clean, largest, h, k, l as for clean_energies(); when
no window is clean, the five least bad stretches.)");
}
