#include "planning/scan_setting.h"

#include "io/run_error.h"
#include "planning/forbidden_primary.h"
#include "planning/request_checks.h"
#include "scan/harmonic_orders.h"
#include "setup/units.h"

ScanSetting SetUpScan(const Crystal& crystal, Miller primary, const std::optional<Miller>& reference, const BeamRequest& beam,
                      const RequestNames& names)
{
    const Lattice& lattice = crystal.lattice();
    ScanSetting scan{&crystal, reference ? ReferenceFrame(lattice, primary, *reference) : MatrixFrame(lattice, primary), Beam{}};
    scan.beam = Beam{beam.polarisation, beam.acrossDegrees * kRadiansPerDegree, beam.alongDegrees * kRadiansPerDegree, {},
                     beam.monochromator};
    if (beam.surface) {
        const Miller& m = *beam.surface;
        const std::string problem = SurfaceSideProblem(lattice, primary, m);
        if (!problem.empty()) {
            throw RunError::Refusal(names.options ? Printed("The surface normal %d %d %d (%s) %s\n", m.h, m.k, m.l, names.surface, problem.c_str())
                                                  : Printed("%s %d %d %d %s", names.surface, m.h, m.k, m.l, problem.c_str()));
        }
        scan.beam.surface = lattice.Reciprocal(m);
    }
    return scan;
}

void RefuseUnreachableRange(const ScanFrame& frame, double eMin, double eMax, const std::string& named)
{
    const double cutoff = CutoffEnergy(frame);
    if (eMax >= cutoff) return;
    const Miller& g = frame.primary;
    throw RunError::Refusal(Printed("No reflection can reach the Ewald sphere from %f to %f keV%s: the primary reflection %d %d %d "
                                    "diffracts only above %f keV\n", eMin, eMax, named.empty() ? "" : (" (" + named + ")").c_str(),
                                    g.h, g.k, g.l, cutoff));
}

std::vector<std::string> ForbiddenNotices(const ScanSetting& scan, double keV, int harmonics, double eMax)
{
    std::vector<std::string> notices;
    const std::string primary = ForbiddenPrimaryNotice(*scan.crystal, scan.frame.primary, keV);
    if (!primary.empty()) notices.push_back(primary);
    for (const int n : OrdersOfHarmonics(*scan.crystal, scan.frame, harmonics, eMax).forbidden) {
        notices.push_back(OrderReflections(scan.frame, {n}) + " is forbidden: no " + OrdinalWord(n) + "-order glitches");
    }
    return notices;
}

OrderShares SharesOfOrders(const ScanSetting& scan, int harmonics, double eMax, const GivenShares& given)
{
    const HarmonicOrders orders = OrdersOfHarmonics(*scan.crystal, scan.frame, harmonics, eMax);
    const auto content = [&](const std::vector<double>& shares, std::size_t row) {
        std::vector<double> all = HarmonicContent(orders, harmonics, shares);
        if (all.empty()) throw SharesMismatch{row, orders.passing, orders.forbidden};
        return all;
    };
    if (given.rows.empty()) return content(given.shares, 0);
    std::vector<double> energies;
    std::vector<std::vector<double>> rows;
    for (std::size_t i = 0; i < given.rows.size(); ++i) {
        energies.push_back(given.rows[i].energy);
        rows.push_back(content(given.rows[i].shares, i + 1));
    }
    return OrderShares(energies, rows);
}
