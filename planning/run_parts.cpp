#include "planning/run_parts.h"

#include "io/run_error.h"
#include "planning/run_size.h"
#include "glitches/spectrum.h"
#include "scan/sphere_reflections.h"
#include "setup/units.h"

namespace {

// Refuses a limiting sphere at `shortest` (angstrom) whose reflections no double counts.
void RefuseBeyondTheDoubles(const Crystal& crystal, double shortest)
{
    EstimatePlanning(crystal.lattice(), LimitingRadius(shortest));
}

// "narrow --energies" or "lower --harmonics or narrow --energies".
std::string EnergyAdvice(int harmonics, const RequestNames& names)
{
    return harmonics > 1 ? Printed("lower %s or narrow %s", names.harmonics, names.energies) : Printed("narrow %s", names.energies);
}

// " of 3 harmonic orders" or "".
std::string Orders(int harmonics) { return harmonics > 1 ? Printed(" of %d harmonic orders", harmonics) : std::string(); }

RunPart Part(const std::string& path, const RunSize& size, std::string what, std::string advice)
{
    return {path, size.bytes, size.memory, std::move(what), std::move(advice), size.visits};
}

}  // namespace

RunPart EventsPart(const Crystal& crystal, const ScanFrame& frame, double lambda, double windowWidth, const RequestNames& names,
                   const std::string& path)
{
    const double reflections = EstimatePlanning(crystal.lattice(), LimitingRadius(lambda)).reflections;
    const RunSize size = EventsSize(crystal, frame, lambda, windowWidth);
    return Part(path, size,
                Printed("the limiting sphere of %s at %f angstrom holds about %.3g reflections", crystal.name().c_str(), lambda,
                        reflections),
                Printed("about %.3g events at %g keV over %g degrees of psi; lower the energy or narrow %s", size.rows,
                        kHcKeVAngstrom / lambda, windowWidth, names.psi));
}

RunPart GlitchesPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const RequestNames& names, const std::string& path)
{
    RefuseBeyondTheDoubles(crystal, kHcKeVAngstrom / (harmonics * eMax));
    const RunSize size = GlitchesSize(crystal, frame, eMin, eMax, harmonics, keptSphere);
    return Part(path, size,
                Printed("about %.3g glitches%s of %s from %g to %g keV", size.rows, Orders(harmonics).c_str(), crystal.name().c_str(),
                        eMin, eMax),
                EnergyAdvice(harmonics, names));
}

RunPart SpectrumPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const RequestNames& names, const std::string& path)
{
    RefuseBeyondTheDoubles(crystal, kHcKeVAngstrom / (harmonics * eMax));
    const RunSize glitches = GlitchesSize(crystal, frame, eMin, eMax, harmonics, keptSphere);
    const RunSize size = SpectrumSize(glitches);
    return Part(path, size,
                Printed("about %.3g energies of the predicted spectrum, %d around each of about %.3g glitches%s of %s from %g "
                        "to %g keV", size.rows, kSpectrumPointsPerDip, glitches.rows, Orders(harmonics).c_str(), crystal.name().c_str(), eMin, eMax),
                EnergyAdvice(harmonics, names));
}

RunPart ComputedSpectrumPart(const std::string& path, double bytes, std::size_t energies, double eMin, double eMax, int harmonics,
                             const RequestNames& names)
{
    return {path, bytes, 0.0, Printed("predicted spectrum of %zu energies from %g to %g keV", energies, eMin, eMax),
            EnergyAdvice(harmonics, names), 0.0};
}

RunPart GlitchMapPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, double windowWidth,
                      const RequestNames& names, const std::string& path)
{
    RefuseBeyondTheDoubles(crystal, kHcKeVAngstrom / eMax);
    const RunSize size = GlitchMapSize(crystal, frame, eMax, windowWidth);
    return Part(path, size,
                Printed("about %.3g glitch lines of %s from %g to %g keV over %g degrees of psi", size.rows, crystal.name().c_str(),
                        eMin, eMax, windowWidth),
                Printed("lower the top of %s or narrow %s", names.energies, names.psi));
}

RunPart FitPart(const Crystal& crystal, const ScanFrame& frame, double eMax, int harmonics, const RequestNames& names,
                const std::string& path)
{
    RefuseBeyondTheDoubles(crystal, kHcKeVAngstrom / (harmonics * eMax));
    const RunSize size = FitSize(crystal, frame, eMax, harmonics);
    return Part(path, size,
                Printed("the glitch lines%s of %s up to %g keV that the fit matches", Orders(harmonics).c_str(), crystal.name().c_str(),
                        eMax),
                harmonics > 1 ? Printed("lower %s or the top of %s", names.harmonics, names.energies)
                              : Printed("lower the top of %s", names.energies));
}
