// A predicted glitch's profile measured as the dip search measures a scan: narrow dips, and
// profiles whose far field ends before the search has seen enough scan on either side.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/sampled_dip.h"

namespace {

// A Lorentzian dip of full width `widthEV` and the given depth, centred 0.2 eV from the glitch's
// energy, its profile (one sample a fiftieth of its width, rate 1 per eV) reaching `reachEV` on
// either side.
GlitchShape Lorentzian(double depth, double widthEV, double reachEV)
{
    GlitchShape shape;
    shape.depth = depth, shape.widthEV = widthEV, shape.rate = 1.0, shape.offsetEV = 0.2;
    const double half = widthEV / 2.0, step = widthEV / 50.0;
    shape.dip.start = -reachEV, shape.dip.step = step;
    for (double at = -reachEV; at <= reachEV; at += step) {
        const double t = (at - shape.offsetEV) / half;
        shape.dip.samples.push_back(depth / (1.0 + t * t));
    }
    shape.dip.depth = depth, shape.dip.peak = shape.offsetEV;
    return shape;
}

TEST(SampledDip, NarrowDipsAndShortProfilesAreMeasured)
{
    const struct {
        const char* what;
        double widthEV, reachEV, stepEV;
    } cases[] = {
        // Twenty widths are less than the scan the search weighs a point against.
        {"narrow", 0.3, 40.0, 0.1},
        // The profile ends 5 eV out (its loss map's reach), sooner than the search's sides.
        {"short profile", 0.7, 5.0, 0.1},
        {"wide, coarse steps", 3.0, 100.0, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SampledDip sampled = SampleDip(Lorentzian(0.02, c.widthEV, c.reachEV), c.stepEV);
        EXPECT_TRUE(sampled.found);
        EXPECT_NEAR(sampled.widthEV, c.widthEV, 0.15 * c.widthEV + 0.5 * c.stepEV);
        EXPECT_NEAR(sampled.centreEV, 0.2, 0.5 * c.stepEV);
    }
}

}  // namespace
