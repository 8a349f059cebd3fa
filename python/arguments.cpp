#include "arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "io/run_error.h"
#include "planning/request_checks.h"
#include "scan/harmonic_orders.h"

namespace kelto_python {

void Refuse(const std::string& message) { throw py::value_error(message); }

std::string Message(const std::exception& error)
{
    std::string text = error.what();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

const std::string& WithoutNul(const std::string& text, const char* what)
{
    if (text.find('\0') != std::string::npos) Refuse(std::string(what) + " must not hold a NUL character");
    return text;
}

void RequireFile(const std::string& path, const char* what)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        PyErr_SetObject(PyExc_FileNotFoundError, py::make_tuple(ENOENT, std::string(what) + " " + path + " does not exist").ptr());
        throw py::error_already_set();
    }
    if (!std::filesystem::is_regular_file(path, error)) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(EINVAL, std::string(what) + " " + path + " is not a regular file").ptr());
        throw py::error_already_set();
    }
}

PsiWindow Window(const Range& psi)
{
    const PsiWindow window{std::get<0>(psi), std::get<1>(psi)};
    if (!(window.min < window.max && window.max - window.min <= kWidestPsiWindow && AzimuthWithinBound(window.min) &&
          AzimuthWithinBound(window.max))) {
        Refuse("psi must be (MIN, MAX) with MIN below MAX, at most 3600 degrees apart, each from -3600 to 3600");
    }
    return window;
}

void RequireAzimuth(double psi, const char* what)
{
    if (!AzimuthWithinBound(psi)) Refuse(std::string(what) + " must be a number of degrees from -3600 to 3600");
}

Range Energies(const Range& energies)
{
    const auto [eMin, eMax] = energies;
    if (!(eMin > 0.0 && eMin < eMax && std::isfinite(eMax))) Refuse("energies must be (EMIN, EMAX) with 0 < EMIN < EMAX, in keV");
    return energies;
}

void RequireFraction(double fraction)
{
    if (!(fraction >= 0.0 && fraction < 1.0)) Refuse("fraction must be from 0 to below 1");
}

void RequireDivergence(double divergence)
{
    if (!(divergence >= 0.0 && divergence <= 90.0)) Refuse("divergence must be a number of degrees from 0 to 90");
}

void RequireHarmonics(int harmonics)
{
    if (!(harmonics >= 1 && harmonics <= 9)) Refuse("harmonics must be a whole number from 1 to 9");
}

std::string OnePolarisation(const Spelling& polarisation, const Spelling& polarization)
{
    if (polarisation && polarization) Refuse("polarisation and polarization are one: give one of them");
    const Spelling& given = polarisation ? polarisation : polarization;
    return given ? WithoutNul(*given, polarisation ? "polarisation" : "polarization") : std::string("sigma");
}

double OneAzimuth(std::optional<double> psi, std::optional<double> atPsi)
{
    if (psi && atPsi) Refuse("psi and at_psi are one: give one of them");
    if (!psi && !atPsi) Refuse("psi, the azimuth of the scan in degrees (at_psi is the same), is required");
    return psi ? *psi : *atPsi;
}

BeamRequest BeamOf(const std::string& polarisation, const Range& divergence, const std::optional<Indices>& surface,
                   const std::string& monochromator)
{
    BeamRequest beam;
    if (polarisation == "sigma") {
        beam.polarisation = Polarisation::kSigma;
    } else if (polarisation == "pi") {
        beam.polarisation = Polarisation::kPi;
    } else if (polarisation == "unpolarised" || polarisation == "unpolarized") {
        beam.polarisation = Polarisation::kUnpolarised;
    } else {
        Refuse("polarisation must be 'sigma', 'pi' or 'unpolarised'");
    }
    const auto [across, along] = divergence;
    if (!(across >= 0.0 && across <= 90.0 && along >= 0.0 && along <= 90.0)) {
        Refuse("divergence must be (ACROSS, ALONG), degrees from 0 to 90");
    }
    beam.acrossDegrees = across, beam.alongDegrees = along;
    if (surface) {
        beam.surface = ToMiller(*surface);
        if (IsZero(*beam.surface)) Refuse("surface must be a direction, not 0 0 0");
    }
    const std::string& word = WithoutNul(monochromator, "monochromator");
    if (word == "single") {
        beam.monochromator = Monochromator::kSingle;
    } else if (word == "double") {
        beam.monochromator = Monochromator::kDouble;
    } else if (word == "channel-cut") {
        beam.monochromator = Monochromator::kChannelCut;
    } else {
        Refuse("monochromator must be 'single', 'double' or 'channel-cut'");
    }
    return beam;
}

std::string LedByUnitHints(const TypedUnits& typed, const std::string& refusal)
{
    std::string hints = UnitHints(typed);
    // One question after another ("; " parts them where they end a message), and the argument's
    // name as Python spells it (lower case), even where the program capitalises a sentence's start.
    if (hints.rfind("; ", 0) == 0) hints.erase(0, 2);
    for (std::size_t at = hints.find("; "); at != std::string::npos; at = hints.find("; ", at)) hints.replace(at, 2, " ");
    while (!hints.empty() && hints.back() == ' ') hints.pop_back();
    if (hints.empty()) return refusal;
    hints[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(hints[0])));
    return hints + " " + refusal;
}

void Warn(const std::string& notice)
{
    if (PyErr_WarnEx(PyExc_UserWarning, notice.c_str(), 1) < 0) throw py::error_already_set();
}

}  // namespace kelto_python

namespace kelto_python {

OrderShares ContentOf(const ScanSetting& scan, int harmonics, double eMin, double eMax, const ContentArgument& given)
{
    const auto check = [&](const std::vector<double>& shares) {
        for (const double c : shares) {
            if (!(c >= 0.0 && c <= 1.0)) Refuse("harmonic_content shares must lie from 0 to 1");
        }
    };
    GivenShares shares;
    bool tooMany = false;
    if (const auto* list = std::get_if<std::vector<double>>(&given)) {
        check(*list);
        shares.shares = *list;
        tooMany = list->size() >= static_cast<std::size_t>(harmonics);
    } else {
        const auto& rows = std::get<std::vector<std::vector<double>>>(given);
        for (const std::vector<double>& row : rows) {
            if (row.size() < 2) Refuse("harmonic_content rows must give a setting in keV and its shares");
            const std::vector<double> row_shares(row.begin() + 1, row.end());
            check(row_shares);
            tooMany = tooMany || row_shares.size() >= static_cast<std::size_t>(harmonics);
            shares.rows.push_back({row.front(), row_shares});
        }
    }
    try {
        if (tooMany) throw SharesMismatch{0, {}, {}};
        if (!shares.rows.empty() &&
            (shares.rows.size() < 2 || !(shares.rows.front().energy <= eMin && shares.rows.back().energy >= eMax))) {
            Refuse(Printed("harmonic_content rows must be two or more and cover the energies %g to %g keV", eMin, eMax));
        }
        return SharesOfOrders(scan, harmonics, eMax, shares);
    } catch (const SharesMismatch&) {
        const std::vector<int> passing = OrdersOfHarmonics(*scan.crystal, scan.frame, harmonics, eMax).passing;
        Refuse(Printed("harmonic_content must give one share for every harmonic or one for each order that passes (%s), or one "
                       "for each order with 0 for a forbidden one",
                       passing.empty() ? "none" : OrderReflections(scan.frame, passing).c_str()));
    } catch (const std::invalid_argument& e) {
        Refuse(Printed("harmonic_content rows: %s", e.what()));
    }
}

}  // namespace kelto_python
