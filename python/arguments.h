// The module's arguments as the planning requests take them: the checks every method shares, each
// refusal a ValueError worded as the program words it, and a long calculation that an interrupt
// stops.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <variant>
#include <vector>

#include "crystal/vec3.h"
#include "io/run_error.h"
#include "planning/run_limits.h"
#include "planning/scan_setting.h"
#include "scan/azimuths.h"
#include "scan/cancellation.h"

namespace kelto_python {

namespace py = pybind11;

using Indices = std::tuple<int, int, int>;
using Range = std::tuple<double, double>;
// A word the caller may spell the British or the American way (polarisation, polarization).
using Spelling = std::optional<std::string>;
// One spread (across G's plane) or two (across, along).
using Divergence = std::variant<double, Range>;

inline Miller ToMiller(const Indices& hkl) { return Miller{std::get<0>(hkl), std::get<1>(hkl), std::get<2>(hkl)}; }

[[noreturn]] void Refuse(const std::string& message);

// The program's message of a refusal, without its line end.
std::string Message(const std::exception& error);

// A text argument as the library takes it: each C call after this would cut one holding a NUL
// there, and read another file, symbol or crystal than the one given.
const std::string& WithoutNul(const std::string& text, const char* what);

// A file the user named, which must be there and readable before it is read (FileNotFoundError,
// OSError).
void RequireFile(const std::string& path, const char* what);

// psi = (MIN, MAX): MIN below MAX, at most ten turns apart, each within ten turns.
PsiWindow Window(const Range& psi);
// An azimuth of a scan, as --at-psi takes it.
void RequireAzimuth(double psi, const char* what);
// energies = (EMIN, EMAX) keV, 0 < EMIN < EMAX.
Range Energies(const Range& energies);
void RequireFraction(double fraction);
void RequireDivergence(double divergence);
// harmonics from 1 to 9.
void RequireHarmonics(int harmonics);

// The beam's polarisation, given by either spelling (not both); 'sigma' where neither is given.
std::string OnePolarisation(const Spelling& polarisation, const Spelling& polarization);
// The azimuth of an energy scan, given as psi or as at_psi (the program's --at-psi), not both.
double OneAzimuth(std::optional<double> psi, std::optional<double> atPsi);

// The beam of the widths and depths from the keyword arguments, as the options give it.
BeamRequest BeamOf(const std::string& polarisation, const Range& divergence, const std::optional<Indices>& surface,
                   const std::string& monochromator = "single");

// A refusal led by the hints of the arguments that look like unit mistakes ("energy takes keV: is
// 8000 in eV (8 keV)? The run would need ..."): eV typed for keV shows in a refusal of some other
// check, and the hint is what the caller acts on. Unchanged where nothing looks mistaken.
std::string LedByUnitHints(const TypedUnits& typed, const std::string& refusal);

// A UserWarning, as the program's notices on standard error; an exception where the caller's
// warning filter makes it one.
void Warn(const std::string& notice);

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

}  // namespace kelto_python

namespace kelto_python {

// harmonic_content: shares ([C] or [C2, ...]) or rows of a setting (keV) and its shares.
using ContentArgument = std::variant<std::vector<double>, std::vector<std::vector<double>>>;

// Each order's share of the photons, the fundamental's 1 first, as --harmonic-content: one share
// for every harmonic or one for each order the structure lets through (0.01 each unless given), or
// rows of a setting (keV) and its shares, linear between them and covering EMIN to EMAX.
OrderShares ContentOf(const ScanSetting& scan, int harmonics, double eMin, double eMax, const ContentArgument& given);

}  // namespace kelto_python
