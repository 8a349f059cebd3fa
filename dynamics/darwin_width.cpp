#include "dynamics/darwin_width.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "setup/units.h"

double PolarisationFactor(double sigmaShare, double braggAngle)
{
    return sigmaShare + (1.0 - sigmaShare) * std::fabs(std::cos(2.0 * braggAngle));
}

double SigmaShare(const Vec3& polarisation, const Vec3& incident, const Vec3& x)
{
    const Vec3 normal = Cross(incident, x);
    const double length = Length(normal);
    // X along the beam has no plane of its own: every direction across the beam is sigma to it.
    if (!(length > 0.0)) return 1.0;
    const double along = Dot(polarisation, normal) / length;
    return along * along;
}

DarwinWidth DarwinWidthOf(const Crystal& crystal, Miller x, double keV, double sigmaShare, double gamma0, double gammaH)
{
    return DarwinWidthOf(crystal.lattice(), *crystal.At(keV), x, keV, sigmaShare, gamma0, gammaH);
}

DarwinWidth DarwinWidthOf(const Lattice& lattice, const Scattering& scattering, Miller x, double keV, double sigmaShare,
                          double gamma0, double gammaH)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    DarwinWidth w{kNaN, {kNaN, kNaN}, kNaN, kNaN, kNaN, kNaN};
    const double lambda = kHcKeVAngstrom / keV;
    double sine = lambda * Length(lattice.Reciprocal(x)) / 2.0;
    // A reflection met at back-scattering may come out a rounding error beyond it.
    if (sine > 1.0 && sine < 1.0 + 1e-12) sine = 1.0;
    if (!(sine > 0.0 && sine <= 1.0)) return w;
    w.braggAngle = std::asin(sine);
    const double scale = -kElectronRadiusAngstrom * lambda * lambda / (std::numbers::pi * lattice.Volume());
    w.chi = scale * scattering.F(x);
    const std::complex<double> chiOpposite = scale * scattering.F(Miller{-x.h, -x.k, -x.l});
    w.polarisationFactor = PolarisationFactor(sigmaShare, w.braggAngle);
    if (!(gamma0 > 0.0)) {
        w.angle = w.energy = w.deviation = 0.0;
        return w;
    }
    // 1 / sqrt(|b|) = sqrt(|gamma_h| / gamma_0): no division by gamma_h, which a grazing exit makes 0.
    const double asymmetry = std::sqrt(std::fabs(gammaH) / gamma0);
    const double coupling = w.polarisationFactor * std::sqrt(std::abs(w.chi * chiOpposite));
    // Towards back-scattering (sin 2 theta -> 0) the angular width tends to 2 sqrt(C |chi|), and
    // the energy width C |chi| / sin^2 theta (= the angular one x E / tan theta) stays finite.
    w.angle = asymmetry * std::min(2.0 * coupling / std::sin(2.0 * w.braggAngle), 2.0 * std::sqrt(coupling));
    w.energy = asymmetry * coupling / (sine * sine) * keV * 1000.0;
    w.deviation = 4.0 * asymmetry * coupling;
    return w;
}

double DeviationRate(const ScanFrame& frame, const Lattice& lattice, Miller x, double psi, double keV)
{
    const double inverse = keV / kHcKeVAngstrom, across = frame.BeamAcross(1.0 / inverse);
    const double radians = Radians(psi);
    const Vec3 u = std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3;
    // d|k_perp|/dE with E in eV: |k_perp|^2 = (E / hc)^2 - |G|^2 / 4.
    const double acrossRate = inverse / (kHcKeVAngstrom * 1000.0) / across;
    return 2.0 * frame.beam * acrossRate * Dot(u, lattice.Reciprocal(x)) / (inverse * inverse);
}

double GlitchEnergyWidth(double deviation, double deviationRate) { return deviation / std::fabs(deviationRate); }
