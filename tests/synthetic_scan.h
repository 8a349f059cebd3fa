// A measured I0 scan made in the test: the glitches of the Ewald construction at psi
// (tests/glitch_energies.h), each with the depth model's profile (a circle's reflections' one
// dip once), taken from a flat I0 sampled
// every `stepEV` from eMin to eMax, the energies read `offsetEV` high and the intensities with a
// normal error of `noise` (a share of I0).
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dynamics/glitch_depth.h"
#include "dynamics/passband.h"
#include "glitch_energies.h"
#include "io/scan_file.h"

struct ScanRecipe {
    double psi;
    double eMin, eMax;  // keV
    double offsetEV = 0.0;
    double noise = 0.003;
    double stepEV = 1.0;
    unsigned seed = 1;
};

// Whether X's dip at `keV` and psi is one that a reflection sharing it (its circle's through O and
// G, and for a beam without spread across G's plane their mirror images in the beam's plane) listed
// before it (MillerBefore) among `glitches` (each with x and its energy) makes: one dip, taken once.
template <typename Listed>
bool SharesAnEarlierDip(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam,
                        const std::vector<Listed>& glitches)
{
    const std::vector<Miller> circle = SharedMembers(crystal, frame, x, psi, RaysInOnePlane(beam));
    return std::any_of(glitches.begin(), glitches.end(), [&](const Listed& h) {
        const double energy = [&] {
            if constexpr (requires { h.keV; }) return h.keV; else return h.energy;
        }();
        return MillerBefore(h.x, x) && std::fabs(energy - keV) < 1e-9 * keV && std::find(circle.begin(), circle.end(), h.x) != circle.end();
    });
}

inline std::vector<ScanPoint> SyntheticScan(const Crystal& crystal, const ScanFrame& frame, const ScanRecipe& recipe,
                                            const Beam& beam = {})
{
    struct Profile {
        double eV;  // the glitch's energy
        GlitchShape shape;
    };
    std::vector<Profile> profiles;
    const std::vector<ewald::TrueGlitch> glitches = ewald::Glitches(crystal, frame, recipe.psi, recipe.eMin - 0.05, recipe.eMax + 0.05);
    for (const ewald::TrueGlitch& g : glitches) {
        if (SharesAnEarlierDip(crystal, frame, g.x, recipe.psi, g.keV, beam, glitches)) continue;
        GlitchShape shape = ShapeOfGlitch(crystal, frame, g.x, recipe.psi, g.keV, beam);
        if (shape.depth > 1e-4) profiles.push_back({g.keV * 1000.0, std::move(shape)});
    }
    std::mt19937_64 random(recipe.seed);
    std::normal_distribution<double> error(0.0, recipe.noise);
    std::vector<ScanPoint> scan;
    for (double eV = recipe.eMin * 1000.0; eV <= recipe.eMax * 1000.0 + 1e-9; eV += recipe.stepEV) {
        double i0 = 1.0;
        for (const Profile& p : profiles) {
            const double from = eV - recipe.offsetEV - p.eV;
            if (std::fabs(from) < p.shape.Reach()) i0 -= p.shape.At(from);
        }
        scan.push_back({eV / 1000.0, i0 * (1.0 + error(random))});
    }
    return scan;
}
