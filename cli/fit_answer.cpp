#include "cli/fit_answer.h"

#include <algorithm>
#include <cmath>

#include "io/run_error.h"
#include "setup/units.h"

std::string DipsNamed(const PlanOptions& plan)
{
    if (plan.fitScanFiles.size() == 1) {
        return Printed("the dips of %s from %g to %g keV", plan.fitScanFiles.front().c_str(), plan.energyMin, plan.energyMax);
    }
    return Printed("the dips of %zu scans", plan.fitScanFiles.size());
}

namespace {

// "psi 12.8579 degrees (8 of 8 dips, rms 0.071 eV)", and the others after it.
std::string TiesNamed(const GlitchFit& fit)
{
    const int dips = fit.matched + fit.unmatched;
    std::string named;
    for (const FitTie& tie : fit.ties) {
        named += Printed("%spsi %.4f degrees (%d of %d dips, rms %.3f eV)", named.empty() ? "" : ", ", tie.psi, tie.matched, dips,
                         tie.rmsEV);
    }
    return named;
}

}  // namespace

std::string FitAnswer(const GlitchFit& fit, const PlanOptions& plan)
{
    const bool one = fit.scans.size() == 1;
    const ScanMatch& first = fit.scans.front();
    std::string answer;
    const std::string trials = fit.asGood == 0 ? Printed("p = %.3g (none of %d trials of unrelated dips fit as well)", fit.p, fit.trials)
                                               : Printed("p = %.3g (%d of %d trials of unrelated dips fit as well)", fit.p, fit.asGood,
                                                         fit.trials);
    const std::string offset = fit.calibrated ? std::string(", calibrated")
                               : one || plan.fitOneOffset ? Printed(", energy offset %+.2f +/- %.2f eV (measured minus predicted)",
                                                                  first.offsetEV, first.offsetError)
                                                        : std::string();
    const std::string paired = one ? Printed("%d of %zu dips within %.1f eV of a predicted glitch, %d unmatched", fit.matched,
                                             first.dips.size(), first.toleranceEV, fit.unmatched)
                                   : Printed("%d of %d dips of %zu scans within their tolerance of a predicted glitch", fit.matched,
                                             fit.matched + fit.unmatched, fit.scans.size());
    if (fit.found) {
        answer = Printed("kelto: fitted psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s\n", fit.psi, fit.psiError, offset.c_str(),
                         paired.c_str(), fit.rmsEV, trials.c_str());
    } else if (fit.p > fit.significance) {
        answer = Printed("kelto: No significant fit to %s: at best psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s: above "
                         "--significance %g, chance fits as well\n", DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(),
                         paired.c_str(), fit.rmsEV, trials.c_str(), fit.significance);
    } else if (fit.exact) {
        answer = Printed("kelto: No significant fit to %s: at best psi %.4f +/- %.4f degrees%s: %s; %s, but psi and the offsets fit "
                         "so few pairs exactly wherever lines of their spacings meet: more dips are needed\n",
                         DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), trials.c_str());
    } else if (std::isfinite(fit.beyondOffsetEV)) {
        answer = Printed("kelto: No fit to %s within --max-offset: at best psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s\n",
                         DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), fit.rmsEV, trials.c_str());
    } else {
        answer = Printed("kelto: No single fit to %s: psi %.4f +/- %.4f degrees%s: %s, rms %.3f eV; %s; but %s, no image of it by "
                         "the crystal's symmetry, fit%s as well: the scans cannot tell them apart; --at-psi near one of them takes "
                         "it\n", DipsNamed(plan).c_str(), fit.psi, fit.psiError, offset.c_str(), paired.c_str(), fit.rmsEV,
                         trials.c_str(), TiesNamed(fit).c_str(), fit.ties.size() == 1 ? "s" : "");
    }
    if (fit.found && fit.calibrated) {
        answer += Printed("kelto: angle offset %+.5f +/- %.5f degrees, d-spacing ratio %.6f +/- %.6f, their correlation %+.2f (d of the "
                          "primary reflection %.6f angstrom); rms %.3f eV over %d dips calibrated, %.3f eV over %d with energy offsets\n",
                          fit.scale.angleOffsetDeg, fit.angleOffsetError, fit.scale.dRatio, fit.dRatioError, fit.correlation,
                          fit.scale.dSpacing, fit.rmsEV, fit.matched, fit.rmsBefore, fit.matchedBefore);
    }
    if (fit.found && std::isfinite(fit.stepLimitedEV)) {
        answer += Printed("kelto: the scan's points lie %.3g eV apart: where they fall moves the paired dips' centres by +/- %.2f eV, "
                          "more than the residuals scatter, and that sets psi's error\n", fit.stepLimitedEV, fit.placingEV);
    }
    if (fit.found && fit.nominalTook) {
        answer += Printed("kelto: %s, no image of psi %.4f by the crystal's symmetry, fit%s as well; the one nearest --at-psi is "
                          "taken\n", TiesNamed(fit).c_str(), fit.psi, fit.ties.size() == 1 ? "s" : "");
    }
    for (std::size_t i = 0; i < fit.scans.size() && !one; ++i) {
        const ScanMatch& scan = fit.scans[i];
        const char* name = plan.fitScanFiles[i].c_str();
        if (!scan.used) {
            answer += Printed("kelto:   %s: left out, %s\n", name, scan.why.c_str());
        } else if (!std::isfinite(scan.offsetError)) {
            answer += Printed("kelto:   %s (%g to %g keV): none of its %zu dips pairs with a predicted glitch within %.1f eV\n", name,
                              scan.eMin, scan.eMax, scan.dips.size(), scan.toleranceEV);
        } else if (fit.calibrated) {
            answer += Printed("kelto:   %s (%g to %g keV): shift %+.2f +/- %.2f eV at its widest (readback minus photon energy), %d "
                              "of %zu dips within %.1f eV\n", name, scan.eMin, scan.eMax, scan.offsetEV, scan.offsetError, scan.matched,
                              scan.dips.size(), scan.toleranceEV);
        } else if (plan.fitOneOffset) {
            answer += Printed("kelto:   %s (%g to %g keV): %d of %zu dips within %.1f eV\n", name, scan.eMin, scan.eMax, scan.matched,
                              scan.dips.size(), scan.toleranceEV);
        } else {
            answer += Printed("kelto:   %s (%g to %g keV): energy offset %+.2f +/- %.2f eV, %d of %zu dips within %.1f eV\n", name,
                              scan.eMin, scan.eMax, scan.offsetEV, scan.offsetError, scan.matched, scan.dips.size(), scan.toleranceEV);
        }
    }
    if (fit.found && fit.equivalents.size() > 1) {
        std::string list;
        for (const double psi : fit.equivalents) {
            if (std::fabs(psi - fit.psi) > 1e-9) list += Printed("%s%.4f", list.empty() ? "" : ", ", psi);
        }
        const bool single = fit.equivalents.size() == 2;
        answer += Printed("kelto: psi %s degrees fit%s as well: the crystal's symmetry gives %s the same spectrum%s\n", list.c_str(),
                          single ? "s" : "", single ? "it" : "them",
                          plan.fitNominalPsi ? "; the one nearest --at-psi is taken" : "; give --at-psi to take the one nearest it");
    }
    // A best fit pressed against the bound of the offsets hints at a larger offset the search left out.
    const auto atTheBound = std::find_if(fit.scans.begin(), fit.scans.end(), [&](const ScanMatch& scan) {
        return scan.used && std::isfinite(scan.offsetError) && std::fabs(scan.offsetEV) + scan.toleranceEV >= plan.widestOffsetEV;
    });
    if (!fit.found && !std::isfinite(fit.beyondOffsetEV) && atTheBound != fit.scans.end()) {
        answer += Printed("kelto: the %s %+.2f eV lies within %.1f eV of --max-offset %g: a larger one may fit; raise "
                          "--max-offset to look further\n", fit.calibrated ? "shift of the readback" : "energy offset",
                          atTheBound->offsetEV, atTheBound->toleranceEV, plan.widestOffsetEV);
    }
    if (std::isfinite(fit.beyondOffsetEV)) {
        answer += Printed("kelto: at psi %.4f degrees %s of %+.1f eV, beyond --max-offset %g, fits better and "
                          "significantly: raise --max-offset to take it\n", fit.beyondPsi,
                          plan.fitCalibrate ? "a shift of the readback" : "an energy offset", fit.beyondOffsetEV, plan.widestOffsetEV);
    }
    return answer;
}

std::string SecondFitAnswer(const GlitchFit& second, const GlitchFit& first, bool tieResolved)
{
    if (!second.candidate) return "kelto: second crystal: no fit: " + second.why + "\n";
    const int left = second.matched + second.unmatched;
    const std::string trials = Printed("p = %.3g (%d of %d trials of unrelated dips fit as well)", second.p, second.asGood, second.trials);
    const std::string best = Printed("psi %.4f +/- %.4f degrees: %d of the %d dips the first crystal leaves paired with its glitches, "
                                     "rms %.3f eV; %s", second.psi, second.psiError, second.matched, left, second.rmsEV, trials.c_str());
    std::string answer;
    if (second.found) {
        answer = "kelto: second crystal: fitted " + best + "\n";
    } else if (second.p > second.significance) {
        answer = Printed("kelto: second crystal: no significant fit: at best %s: above --significance %g\n", best.c_str(),
                         second.significance);
    } else if (!second.ties.empty() && !second.nominalTook) {
        answer = Printed("kelto: second crystal: no single fit: %s; but %s fit%s as well; --second-psi near one of them takes it\n",
                         best.c_str(), TiesNamed(second).c_str(), second.ties.size() == 1 ? "s" : "");
    } else {
        answer = Printed("kelto: second crystal: no significant fit: at best %s (%s)\n", best.c_str(), second.why.c_str());
    }
    if (second.found && second.equivalents.size() > 1) {
        std::string list;
        for (const double psi : second.equivalents) {
            if (std::fabs(psi - second.psi) > 1e-9) list += Printed("%s%.4f", list.empty() ? "" : ", ", psi);
        }
        answer += Printed("kelto: second crystal: psi %s degrees fit%s as well (the crystal's symmetry)%s\n", list.c_str(),
                          second.equivalents.size() == 2 ? "s" : "", "; --second-psi takes the one nearest it");
    }
    if (tieResolved) {
        answer += Printed("kelto: psi %.4f and %.4f each fit the scans as well as the other as one crystal; as two, each pairs the "
                          "dips the other leaves: the first crystal is at %.4f, the second at %.4f\n", first.psi, second.psi,
                          first.psi, second.psi);
    }
    return answer;
}

std::string SpreadAnswer(const SpreadEstimate& spread, const GlitchFit& fit, const PlanOptions& plan)
{
    if (!spread.found) return Printed("kelto: no estimate of the beam's spread from the dip widths: %s\n", spread.why.c_str());
    const double degrees = spread.across / kRadiansPerDegree, high = spread.high / kRadiansPerDegree;
    if (!(spread.low > 0.0)) {
        return Printed("kelto: the widths of %d dips do not fix the beam's spread across the primary's scattering plane: any up "
                       "to %.6f degrees (%.3g microradian) fits them as well as none (a finer scan resolves narrower dips)\n",
                       spread.dips, high, spread.high * 1e6);
    }
    const std::string along = plan.beam.alongDegrees > 0.0 ? Printed(",%.6f", plan.beam.alongDegrees) : std::string();
    return Printed("kelto: the widths of %d dips fit a beam spread of %.6f degrees (%.3g microradian, %.3g to %.3g) across the "
                   "primary's scattering plane, within a factor %.2f: predict with --at-psi %.4f --divergence %.6f%s\n",
                   spread.dips, degrees, spread.across * 1e6, spread.low * 1e6, spread.high * 1e6, spread.factor, fit.psi, degrees,
                   along.c_str());
}
