// The calibrated fit's significance at its rate: dips with no relation to the crystal (silicon
// 1 1 1's scattered at random over 5 to 20 keV, germanium's) fit a significant calibration no more
// often than the threshold says. Tens of calibrated fits with their trials: labelled slow.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fit/glitch_fit.h"
#include "planning_cases.h"
#include "synthetic_dips.h"

namespace {

TEST(CalibrationRates, UnrelatedDipsFitACalibrationAtMostAtTheThreshold)
{
    const CubicCrystal silicon = TableCrystal(4, 5.431, "Si"), germanium = TableCrystal(4, 5.658, "Ge");
    const ScanFrame si111 = MatrixFrame(silicon.lattice(), {1, 1, 1});
    FitRequest request;
    request.beam.beam.across = 2e-5;
    request.significance = 0.05;
    request.calibrate = true;
    int fits = 0, found = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const double psi = -180.0 + 17.3 * seed;
        DipSearch dips;
        if (seed % 2 == 0) {
            dips = SyntheticDips(germanium, MatrixFrame(germanium.lattice(), {1, 1, 1}), {psi, 5.0, 20.0, 0.0, 0.2, seed, 0.03});
        } else {
            dips = SyntheticDips(silicon, si111, {psi, 5.0, 20.0, 0.0, 0.2, seed, 0.03});
            std::mt19937 random(seed);
            std::uniform_real_distribution<double> anywhere(5.0, 20.0);
            for (MeasuredDip& dip : dips.dips) dip.energy = anywhere(random);
            std::sort(dips.dips.begin(), dips.dips.end(), [](const MeasuredDip& a, const MeasuredDip& b) { return a.energy < b.energy; });
        }
        const GlitchFit fit = FitGlitches(silicon, si111, {dips}, request);
        ++fits;
        found += fit.found;
    }
    // At most 1 in 20 by chance; more than 3 of 20 happens to a valid p less than 2 % of the time.
    EXPECT_LE(found, 3) << "of " << fits;
}

}  // namespace
