#include "planning/fit_run.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "io/run_error.h"

namespace {

// A sentence of the command line begins with a capital; Python's messages name the argument as it is.
std::string Capitalised(std::string text, const RequestNames& names)
{
    if (names.options && !text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

DipSearch DipsInRange(const std::vector<ScanPoint>& points, double eMin, double eMax, const std::string& named,
                      const OtherUnit& other, const RequestNames& names)
{
    if (points.empty()) {
        throw RunError::Refusal(Printed("%s holds no point with a positive finite energy and a finite intensity\n",
                                        Capitalised(named, names).c_str()));
    }
    const auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                                 [](const ScanPoint& a, const ScanPoint& b) { return a.energy < b.energy; });
    if (!(high->energy >= eMin && low->energy <= eMax)) {
        const bool fits = high->energy * other.factor >= eMin && low->energy * other.factor <= eMax;
        throw RunError::Refusal(Printed("No point of %s lies from %g to %g keV (%s): its energies run from %g to %g keV%s\n",
                                        named.c_str(), eMin, eMax, names.energies, low->energy, high->energy, fits ? other.hint : ""));
    }
    try {
        return FindDips(points, eMin, eMax);
    } catch (const std::domain_error& e) {
        throw RunError::Refusal(Printed("%s cannot be read as an I0 from %g to %g keV: %s; give I0 itself, or its change in "
                                        "percent\n", Capitalised(named, names).c_str(), eMin, eMax, e.what()));
    }
}

FitOutcome FitScans(const ScanSetting& scan, const std::vector<DipSearch>& dips, FitRequest request,
                    const SecondFitRequest& second)
{
    request.beam.beam = scan.beam;
    FitOutcome outcome;
    if (second.fit) {
        PairFit pair = FitTwoCrystals(*scan.crystal, scan.frame, dips, request, second.nominalPsi);
        outcome.fit = std::move(pair.first);
        outcome.second = std::move(pair.second);
        outcome.tieResolved = pair.tieResolved;
    } else {
        outcome.fit = FitGlitches(*scan.crystal, scan.frame, dips, request);
    }
    outcome.spread = EstimateSpread(*scan.crystal, scan.frame, outcome.fit, dips, request);
    return outcome;
}
