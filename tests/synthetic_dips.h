// A measured scan's dips made in the test from the Ewald construction's glitch energies
// (tests/glitch_energies.h), not from the fit's own lines.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <tuple>

#include "dynamics/glitch_depth.h"
#include "fit/measured_dips.h"
#include "fit/sampled_dip.h"
#include "glitch_energies.h"
#include "scan/symmetric_azimuths.h"
#include "setup/units.h"

// A measured scan's dips: the glitches of the Ewald construction at psi deeper than `deepest`
// (their depth the depth model's, a few hundredths for most), each where a scan's dip search
// finds the model's dip (refraction moves it a fraction of an eV off the Ewald energy), moved by the offset and
// by a normal error of `sigmaEV`; dips less than two steps apart are one, the deeper. Energies in keV.
// With a monochromator's readback (`readback`: its angle offset and d-spacing ratio, for the
// reflection of d-spacing dSpacing), the dips lie at the readback of their photon energy.
struct Readback {
    double dSpacing = 0.0, angleOffsetDeg = 0.0, dRatio = 1.0;
};
struct Synthetic {
    double psi, eMin, eMax, offsetEV = 0.0, sigmaEV = 0.2;
    unsigned seed = 1;
    double deepest = 0.015, stepEV = 0.5;
    Readback readback = {};
};

// E_read = hc / (2 d_ref sin(theta + delta)) of photons E = hc / (2 d sin theta), written out here
// apart from the fit's own scale.
inline double ReadBack(const Readback& r, double keV)
{
    if (!(r.dSpacing > 0.0)) return keV;
    const double theta = std::asin(kHcKeVAngstrom / (2.0 * r.dSpacing * keV));
    return kHcKeVAngstrom / (2.0 * r.dSpacing * r.dRatio * std::sin(theta + r.angleOffsetDeg * std::numbers::pi / 180.0));
}

// The glitch's shape, worked out once for the scans made at several seeds.
inline const GlitchShape& ShapeMadeOnce(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam)
{
    static std::map<std::tuple<std::string, double, double, double, double, int, int, int, double, double>, GlitchShape> made;
    const auto key = std::make_tuple(crystal.name(), frame.along.x, frame.along.y, frame.along.z, frame.e2.x, x.h, x.k, x.l, psi, keV);
    const auto found = made.find(key);
    if (found != made.end()) return found->second;
    return made.emplace(key, ShapeOfGlitch(crystal, frame, x, psi, keV, beam)).first->second;
}

inline DipSearch SyntheticDips(const Crystal& crystal, const ScanFrame& frame, const Synthetic& s)
{
    Beam beam;
    beam.across = 2e-5;
    std::mt19937 random(s.seed);
    std::normal_distribution<double> error(0.0, s.sigmaEV);
    DipSearch search;
    search.points = static_cast<int>((s.eMax - s.eMin) * 1000.0 / s.stepEV);
    search.from = s.eMin, search.to = s.eMax, search.stepEV = s.stepEV;
    for (const ewald::TrueGlitch& g : ewald::Glitches(crystal, frame, s.psi, s.eMin, s.eMax)) {
        const GlitchShape& shape = ShapeMadeOnce(crystal, frame, g.x, s.psi, g.keV, beam);
        if (!(shape.depth >= s.deepest)) continue;
        // Where the scan's own dip search puts it (beside a rise of I0, off its deepest point).
        const SampledDip sampled = SampleDip(shape, s.stepEV);
        const double centreEV = sampled.found ? sampled.centreEV : shape.offsetEV;
        const MeasuredDip dip{ReadBack(s.readback, g.keV + centreEV / 1000.0) + (s.offsetEV + error(random)) / 1000.0, shape.depth, 1.0};
        if (!search.dips.empty() && (dip.energy - search.dips.back().energy) * 1000.0 < 2.0 * s.stepEV) {
            if (dip.depth > search.dips.back().depth) search.dips.back() = dip;
            continue;
        }
        search.dips.push_back(dip);
    }
    return search;
}

// The distance from psi to the nearest azimuth with the spectrum of `truth`.
inline double DistanceToTruth(const Crystal& crystal, const ScanFrame& frame, double psi, double truth)
{
    double nearest = 360.0;
    for (const double at : SymmetricAzimuths(AzimuthSymmetries(crystal, frame, 30.0), truth, {-180.0, 180.0})) {
        nearest = std::min(nearest, std::fabs(std::remainder(psi - at, 360.0)));
    }
    return nearest;
}
