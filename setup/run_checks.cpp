#include "setup/run_checks.h"

#include <cmath>
#include <cstdio>

#include "io/run_error.h"
#include "setup/units.h"

namespace {

bool IsPositiveFinite(float value) { return std::isfinite(value) && value > 0.0f; }

double SquaredLength(int index) { return static_cast<double>(index) * static_cast<double>(index); }

}  // namespace

void RefuseUnusableRun(const InputStruct* record, const AnswerSource& answers)
{
    if (record->primaryH == 0 && record->primaryK == 0 && record->primaryL == 0) {
        throw RunError::Refusal(
            Printed("The primary reflection 0 0 0%s has no reflection frame\n", answers.Note(AnswerOption::kPrimary).c_str()));
    }
    if (!IsPositiveFinite(record->latticeA)) {
        throw RunError::Refusal(Printed("The lattice parameter a%s must be a positive finite number, not %f\n",
                                        answers.Note(AnswerOption::kLattice).c_str(), static_cast<double>(record->latticeA)));
    }
    if (!IsPositiveFinite(record->lambda)) {
        throw RunError::Refusal(Printed("The wavelength lambda%s must be a positive finite number, not %f\n",
                                        answers.Note(AnswerOption::kWavelength).c_str(), static_cast<double>(record->lambda)));
    }
    // sin(theta) of the primary reflection = sqrt(H^2 + K^2 + L^2) lambda / 2a may not exceed 1.
    const double length = std::sqrt(SquaredLength(record->primaryH) + SquaredLength(record->primaryK) +
                                    SquaredLength(record->primaryL));
    const double twoA = 2.0 * static_cast<double>(record->latticeA);
    if (length * static_cast<double>(record->lambda) / twoA > 1.0) {
        std::string message = Printed("The primary reflection %d %d %d%s cannot diffract at the wavelength %f angstrom%s: "
                                      "the longest wavelength at which it can is %f angstrom",
                                      record->primaryH, record->primaryK, record->primaryL, answers.Note(AnswerOption::kPrimary).c_str(),
                                      static_cast<double>(record->lambda), answers.Note(AnswerOption::kWavelength).c_str(), twoA / length);
        if (answers.WavelengthFromEnergy()) message += Printed(" (%f keV)", kHcKeVAngstrom * length / twoA);
        throw RunError::Refusal(message + "\n");
    }
}
