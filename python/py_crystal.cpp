#include "py_crystal.h"

#include <cmath>
#include <stdexcept>

#include "glitches/glitches.h"
#include "io/run_error.h"

namespace kelto_python {

TypedUnits PyCrystal::Typed(std::optional<double> keV, std::optional<double> lambda, const char* energyName) const
{
    TypedUnits typed;
    typed.latticeA = typedA_, typed.latticeName = "a";
    typed.keV = keV && std::isfinite(*keV) ? *keV : 0.0, typed.energyName = energyName;
    typed.lambda = lambda && std::isfinite(*lambda) ? *lambda : 0.0, typed.wavelengthName = "wavelength";
    return typed;
}

ScanSetting PyCrystal::Scan(const Indices& primary, const std::optional<Indices>& reference, const BeamRequest& beam) const
{
    const Miller g = ToMiller(primary);
    if (IsZero(g)) Refuse("The primary reflection 0 0 0 has no reflection frame");
    try {
        return SetUpScan(*crystal_, g, reference ? std::optional<Miller>(ToMiller(*reference)) : std::nullopt, beam, kArgumentNames);
    } catch (const std::invalid_argument& e) {
        Refuse(std::string("reference: ") + e.what());
    } catch (const RunError& error) {
        Refuse(Message(error));
    }
}

std::shared_ptr<const std::vector<SphereReflection>> PyCrystal::GlitchSphere(const ScanFrame& frame, double eMax) const
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

void WarnOfForbidden(const ScanSetting& scan, double keV, int harmonics)
{
    for (const std::string& notice : ForbiddenNotices(scan, keV, harmonics, keV)) Warn(notice);
}

ScanSetting EnergyScan(const PyCrystal& self, const Indices& primary, const std::optional<Indices>& reference, const BeamRequest& beam,
                       double eMin, double eMax, int harmonics)
{
    const ScanSetting scan = self.Scan(primary, reference, beam);
    CheckEnergyScan(scan, eMin, eMax, harmonics);
    return scan;
}

void CheckEnergyScan(const ScanSetting& scan, double eMin, double eMax, int harmonics)
{
    try {
        RefuseUnreachableRange(scan.frame, eMin, eMax, "");
    } catch (const RunError& error) {
        Refuse(Message(error));
    }
    WarnOfForbidden(scan, eMax, harmonics);
}

py::value_error EnergyScanRefusal(const PyCrystal& self, const Range& energies, const py::value_error& refusal)
{
    return py::value_error(LedByUnitHints(self.Typed(std::get<1>(energies), std::nullopt, "energies"), refusal.what()));
}

}  // namespace kelto_python
