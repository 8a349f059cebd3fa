#include "fit/second_crystal_fit.h"

#include <algorithm>
#include <cmath>
#include <optional>

std::vector<DipSearch> DipsLeftUnpaired(const std::vector<DipSearch>& scans, const GlitchFit& first)
{
    std::vector<DipSearch> left = scans;
    for (std::size_t s = 0; s < left.size(); ++s) {
        left[s].dips.clear();
        if (s >= first.scans.size() || !first.scans[s].used) continue;
        const ScanMatch& scan = first.scans[s];
        const double offsetKeV = std::isfinite(scan.offsetError) ? scan.offsetEV / 1000.0 : 0.0;
        for (const DipMatch& d : scan.dips) {
            if (d.matched) continue;
            MeasuredDip dip = d.dip;
            dip.energy = first.calibrated ? first.scale.Photon(dip.energy) : dip.energy - offsetKeV;
            left[s].dips.push_back(dip);
        }
    }
    return left;
}

GlitchFit FitSecondCrystal(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans,
                           const GlitchFit& first, FitRequest request)
{
    if (!first.found) {
        GlitchFit none;
        none.why = "the first crystal has no significant fit, so nothing says which dips are the second's";
        return none;
    }
    // The offsets are the first's; the second may move by what they are uncertain by, and by a
    // step of the coarsest scan, where the dips' centres are placed no finer.
    double spread = 0.0;
    for (const ScanMatch& scan : first.scans) {
        if (scan.used && std::isfinite(scan.offsetError)) spread = std::max(spread, 3.0 * scan.offsetError);
    }
    for (const DipSearch& scan : scans) spread = std::max(spread, scan.stepEV);
    request.widestOffsetEV = std::min(request.widestOffsetEV, spread);
    request.oneOffset = true;
    request.calibrate = false;  // the dips are photon energies already, by the first's calibration
    request.window = PsiWindow{-180.0, 180.0};
    return FitGlitches(crystal, frame, DipsLeftUnpaired(scans, first), request);
}

std::vector<PairedDip> DipsOfBothCrystals(const GlitchFit& first, const GlitchFit* second)
{
    std::vector<PairedDip> rows;
    for (std::size_t s = 0; s < first.scans.size(); ++s) {
        // The second fit took the dips the first left, in their order, on the first's energy scale.
        const std::vector<DipMatch>* left =
            second != nullptr && second->found && s < second->scans.size() && second->scans[s].used ? &second->scans[s].dips : nullptr;
        const double offsetKeV = std::isfinite(first.scans[s].offsetError) ? first.scans[s].offsetEV / 1000.0 : 0.0;
        std::size_t next = 0;
        for (const DipMatch& d : first.scans[s].dips) {
            PairedDip row{d.dip, static_cast<int>(s + 1), d.matched ? 1 : 0, d};
            if (!d.matched && left != nullptr && next < left->size()) {
                const DipMatch& other = (*left)[next++];
                if (other.matched) {
                    row.crystal = 2, row.match = other;
                    row.match.dip = d.dip;
                    row.match.predictedKeV = first.calibrated ? first.scale.Read(other.predictedKeV) : other.predictedKeV + offsetKeV;
                }
            }
            rows.push_back(row);
        }
    }
    return rows;
}

namespace {

// A best fit that is significant and no fit only because another azimuth fits as well.
bool OnlyTied(const GlitchFit& fit)
{
    return !fit.found && fit.candidate && !fit.exact && fit.p <= fit.significance && !std::isfinite(fit.beyondOffsetEV) &&
           !fit.ties.empty();
}

}  // namespace

PairFit FitTwoCrystals(const Crystal& crystal, const ScanFrame& frame, const std::vector<DipSearch>& scans,
                       const FitRequest& request, std::optional<double> secondNominal)
{
    PairFit pair{FitGlitches(crystal, frame, scans, request), {}};
    const bool tied = OnlyTied(pair.first);
    GlitchFit first = pair.first;
    if (tied) first.found = true;  // which dips are the second's is asked of the best candidate
    FitRequest second = request;
    second.nominalPsi = secondNominal;
    pair.second = FitSecondCrystal(crystal, frame, scans, first, second);
    if (!tied || !pair.second.found) return pair;
    const double within = 5.0 * (pair.first.psiError + pair.second.psiError);
    const auto resolves = [&](const FitTie& tie) {
        return std::any_of(pair.second.equivalents.begin(), pair.second.equivalents.end(),
                           [&](double psi) { return std::fabs(std::remainder(psi - tie.psi, 360.0)) <= within; });
    };
    std::vector<FitTie>& ties = pair.first.ties;
    ties.erase(std::remove_if(ties.begin(), ties.end(), resolves), ties.end());
    pair.tieResolved = ties.empty();
    if (pair.tieResolved) pair.first.found = true, pair.first.why.clear();
    return pair;
}
