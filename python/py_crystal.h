// A crystal as the module holds it: the library's crystal, the lattice parameter as the caller typed
// it (for the hints of unit mistakes), and the reflections of the last glitch spectra surveyed, kept
// for spectra at many azimuths. Sets up each request's scan through the planning requests.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "arguments.h"
#include "crystal/crystal.h"
#include "planning/run_limits.h"
#include "planning/scan_setting.h"
#include "scan/sphere_reflections.h"

namespace kelto_python {

class PyCrystal {
public:
    // typedA: the lattice parameter a as the caller gave it (angstrom), 0 for a crystal of a file.
    explicit PyCrystal(std::shared_ptr<const Crystal> crystal, double typedA = 0.0) : crystal_(std::move(crystal)), typedA_(typedA) {}

    const Crystal& crystal() const { return *crystal_; }

    // The arguments of a call that a unit mistake would show in, named as the call names them:
    // an energy in keV (energy, or the top of energies), a wavelength in angstrom, and a.
    TypedUnits Typed(std::optional<double> keV, std::optional<double> lambda, const char* energyName) const;

    // The scan about `primary` counted from `reference` with the beam, refused as the program refuses it.
    ScanSetting Scan(const Indices& primary, const std::optional<Indices>& reference, const BeamRequest& beam) const;

    // Refuses a calculation too large for the memory or too long, as the program does: `part`
    // (planning/run_parts.h) weighs it.
    template <typename Part>
    void RequireRoom(Part&& part) const
    {
        try {
            RefuseRunaway({part(*crystal_)}, "");
        } catch (const RunError& error) {
            Refuse(Message(error));
        }
    }

    // The reflections of the glitch spectra of the last primary, reference and highest energy asked
    // for, kept so that spectra at many azimuths survey the sphere once.
    std::shared_ptr<const std::vector<SphereReflection>> GlitchSphere(const ScanFrame& frame, double eMax) const;

private:
    std::shared_ptr<const Crystal> crystal_;
    double typedA_;
    mutable std::mutex mutex_;
    mutable std::shared_ptr<const std::vector<SphereReflection>> sphere_;
    mutable std::tuple<int, int, int, bool, int, int, int, double> sphereKey_{};
};

// An energy scan's setting from EMIN to EMAX keV: refused where the primary reflection cannot
// diffract in the range, with a UserWarning for a forbidden primary or harmonic (each caller weighs
// its own size).
ScanSetting EnergyScan(const PyCrystal& self, const Indices& primary, const std::optional<Indices>& reference, const BeamRequest& beam,
                       double eMin, double eMax, int harmonics = 1);
// The same checks and warnings for a scan already set up.
void CheckEnergyScan(const ScanSetting& scan, double eMin, double eMax, int harmonics);

// The notices of a scan before it computes, as UserWarnings: a forbidden primary reflection at
// `keV`, and each forbidden harmonic up to `harmonics`.
void WarnOfForbidden(const ScanSetting& scan, double keV, int harmonics = 1);

// The refusal of an energy scan over `energies`, led by a hint where its highest energy looks like
// one in eV.
py::value_error EnergyScanRefusal(const PyCrystal& self, const Range& energies, const py::value_error& refusal);

}  // namespace kelto_python
