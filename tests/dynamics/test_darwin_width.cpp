// The Darwin widths of two-beam dynamical diffraction against an independent, widely used
// implementation (xraydb's darwin_width, run here by Debian's python3), and the limits where the
// formula would divide by zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dynamics/darwin_width.h"
#include "dynamics/passband.h"
#include "dynamics/thick_crystal.h"
#include "glitch_energies.h"
#include "glitches/glitches.h"
#include "planning_cases.h"

namespace {

struct Case {
    const char* element;
    double a;
    Miller x;
    double keV;
    char polarisation;  // 's' or 'p', as the reference names them
};

// The case as a trace names it.
std::string Named(const Case& c)
{
    return std::string(c.element) + " " + std::to_string(c.x.h) + std::to_string(c.x.k) + std::to_string(c.x.l) + " at " +
           std::to_string(c.keV) + " keV, " + c.polarisation;
}

// Runs `print` after w = xraydb.darwin_width(...) of every case (it prints two numbers) and reads
// the pairs, or nothing when the reference cannot run.
std::vector<std::pair<double, double>> Reference(const std::vector<Case>& cases,
                                                 const char* print = "print(repr(w.theta_width), repr(w.energy_width))")
{
    std::string script = "import numpy, xraydb\n";
    for (const Case& c : cases) {
        std::ostringstream line;
        line.precision(17);
        line << "w = xraydb.darwin_width(" << c.keV * 1000 << ", '" << c.element << "', (" << c.x.h << "," << c.x.k << ","
             << c.x.l << "), a=" << c.a << ", polarization='" << c.polarisation << "')\n"
             << print << "\n";
        script += line.str();
    }
    const std::string path = ::testing::TempDir() + "/darwin_reference.py";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return {};
    std::fputs(script.c_str(), file);
    std::fclose(file);
    std::FILE* pipe = ::popen(("/usr/bin/python3 '" + path + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return {};
    std::vector<std::pair<double, double>> widths;
    double angle = 0, energy = 0;
    while (std::fscanf(pipe, "%lf %lf", &angle, &energy) == 2) widths.push_back({angle, energy});
    ::pclose(pipe);
    return widths;
}

}  // namespace

// The two-beam Darwin-Prins curve of the thick-crystal solution against the reference's curve:
// the same integrated reflectivity over the reference's stretch of angles (it spans -1.5 to 3.5
// times the refraction shift theta_offset; its peaks, from another treatment of absorption, are
// not compared, nor pi, whose chi_0 the reference scales by the polarisation factor too).
TEST(DarwinWidth, ThickCrystalCurveAgreesWithTheReference)
{
    std::vector<Case> cases;
    for (const Miller x : {Miller{1, 1, 1}, Miller{2, 2, 0}, Miller{4, 0, 0}}) {
        for (const double keV : {8.0, 17.0}) cases.push_back({"Si", 5.4309, x, keV, 's'});
    }
    cases.push_back({"Ge", 5.6578, {1, 1, 1}, 8.0, 's'});
    const std::vector<std::pair<double, double>> reference =
        Reference(cases, "print(repr(abs(numpy.trapz(w.intensity, w.dtheta))), repr(w.theta_offset))");
    if (reference.size() != cases.size()) GTEST_SKIP() << "xraydb is not installed for /usr/bin/python3 (tools/install-deps python3-xraydb)";
    const std::unique_ptr<CifCrystal> silicon = DiamondInP1("Si", 5.4309), germanium = DiamondInP1("Ge", 5.6578);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(Named(c));
        const CifCrystal& crystal = c.element[0] == 'S' ? *silicon : *germanium;
        const ScanFrame frame = MatrixFrame(crystal.lattice(), c.x);
        Beam beam;
        beam.polarisation = c.polarisation == 's' ? Polarisation::kSigma : Polarisation::kPi;
        BeamSet two = DescribePassband(crystal, frame, {1, 1, 1}, 0.0, c.keV, beam).first;
        two.count = 2;
        ThickCrystal solver(two);
        // The angle theta - theta_G over the reference's stretch, alpha_G = -2 (theta - theta_G) sin 2 theta_G.
        const double sin2 = std::sin(2.0 * std::asin(12.398419843320026 * Length(frame.G) / (2.0 * c.keV)));
        const double offset = reference[i].second, from = -1.5 * offset, to = 3.5 * offset;
        const int p = c.polarisation == 's' ? 0 : 1, steps = 2000;
        double integral = 0.0;
        for (int k = 0; k <= steps; ++k) {
            const double angle = from + (to - from) * k / steps;
            integral += (k == 0 || k == steps ? 0.5 : 1.0) * solver.Reflect(-2.0 * angle * sin2, 0.0).Power(p, 1) * (to - from) / steps;
        }
        EXPECT_NEAR(integral / reference[i].first, 1.0, 0.03) << integral << " rad against " << reference[i].first;
    }
}

// Where the formula would divide by zero, the widths stay finite: a grazing exit narrows them to
// 0, a beam that does not enter is reflected by nothing, and at back-scattering the angular width
// is 2 sqrt(C |chi|) and the energy width C |chi| E.
TEST(DarwinWidth, FiniteWhereTheFormulaDividesByZero)
{
    const std::unique_ptr<CifCrystal> silicon = DiamondInP1("Si", 5.4309);
    const DarwinWidth symmetric = DarwinWidthOf(*silicon, {2, 2, 0}, 12.0, 1.0);
    const double backscatter = 12.398419843320026 * std::sqrt(48.0) / (2 * 5.4309);  // 4 4 4 at theta_B = 90 degrees
    const DarwinWidth back = DarwinWidthOf(*silicon, {4, 4, 4}, backscatter, 0.5);
    const struct { const char* what; DarwinWidth w; double angle, energy; } cases[] = {
        {"grazing exit", DarwinWidthOf(*silicon, {2, 2, 0}, 12.0, 1.0, 0.3, 0.0), 0.0, 0.0},
        {"beam below the surface", DarwinWidthOf(*silicon, {2, 2, 0}, 12.0, 1.0, -0.1, -0.3), 0.0, 0.0},
        {"b = -1/4: twice as wide", DarwinWidthOf(*silicon, {2, 2, 0}, 12.0, 1.0, 0.1, -0.4), 2 * symmetric.angle, 2 * symmetric.energy},
        {"back-scattering", back, 2 * std::sqrt(std::abs(back.chi)), std::abs(back.chi) * backscatter * 1000},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(c.w.angle, c.angle, 1e-9 * (1 + c.angle)) << c.what;
        EXPECT_NEAR(c.w.energy, c.energy, 1e-6 * (1 + c.energy)) << c.what;
    }
    EXPECT_TRUE(std::isnan(DarwinWidthOf(*silicon, {1, 1, 1}, 1.0, 1.0).angle));  // 1 keV: 1 1 1 cannot diffract
}

// A glitch's energy width is the stretch of the scan over which X's deviation from its Bragg
// condition, computed here from the beam's vector itself, stays within its total-reflection range;
// near X's back-scattering too, where its angle is no longer linear in the energy.
TEST(DarwinWidth, GlitchWidthFromTheExactGeometry)
{
    const std::unique_ptr<CifCrystal> silicon = DiamondInP1("Si", 5.4309);
    const Lattice& lattice = silicon->lattice();
    const double hc = 12.398419843320026, psi = 15.0;
    int nearBack = 0;
    for (const ScanFrame& frame : {MatrixFrame(lattice, {2, 2, 0}), ReferenceFrame(lattice, {1, 1, 1}, {1, -1, 0})}) {
        int checked = 0;
        for (const Glitch& g : FindGlitches(*silicon, frame, psi, 5.0, 30.0)) {
            if (g.always || checked == 40) continue;
            ++checked;
            const Vec3 x = lattice.Reciprocal(g.x);
            nearBack += Length(x) * hc / (2.0 * g.energy) > 0.99;  // theta_X above 82 degrees
            // (|k0 + X|^2 - |k0|^2) / |k0|^2 at E (eV), the primary at its Bragg angle.
            const auto deviation = [&](double eV) {
                const Vec3 k0 = ewald::IncidentBeam(frame, psi, hc * 1000.0 / eV), kh = k0 + x;
                return (Dot(kh, kh) - Dot(k0, k0)) / Dot(k0, k0);
            };
            const double range = DarwinWidthOf(*silicon, g.x, g.energy, 1.0).deviation;
            // Where the deviation reaches -/+ half the range, by bisection around the glitch.
            const auto reach = [&](double target) {
                double low = g.energy * 1000.0 - 50.0, high = g.energy * 1000.0 + 50.0;
                const bool rising = deviation(high) > deviation(low);
                for (int i = 0; i < 200; ++i) {
                    const double mid = (low + high) / 2.0;
                    ((deviation(mid) < target) == rising ? low : high) = mid;
                }
                return (low + high) / 2.0;
            };
            const double exact = std::fabs(reach(range / 2.0) - reach(-range / 2.0));
            const double width = GlitchEnergyWidth(range, DeviationRate(frame, lattice, g.x, psi, g.energy));
            EXPECT_NEAR(width / exact, 1.0, 1e-3) << g.x.h << " " << g.x.k << " " << g.x.l << " at " << g.energy << " keV: " << width
                                                  << " eV against " << exact;
        }
        EXPECT_EQ(checked, 40);
    }
    EXPECT_GT(nearBack, 0);
}
