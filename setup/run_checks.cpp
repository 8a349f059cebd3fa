#include "setup/run_checks.h"

#include <cmath>
#include <cstdio>

#include "setup/answer_source.h"
#include "setup/exit_qor.h"

namespace {

bool IsPositiveFinite(float value) { return std::isfinite(value) && value > 0.0f; }

double SquaredLength(int index) { return static_cast<double>(index) * static_cast<double>(index); }

}  // namespace

void RefuseUnusableRun(const InputStruct* record)
{
    if (record->primaryH == 0 && record->primaryK == 0 && record->primaryL == 0) {
        std::printf("The primary reflection 0 0 0%s has no reflection frame\n", OptionNote(AnswerOption::kPrimary));
        ExitQOR(1);
    }
    if (!IsPositiveFinite(record->latticeA)) {
        std::printf("The lattice parameter a%s must be a positive finite number, not %f\n",
                    OptionNote(AnswerOption::kLattice), static_cast<double>(record->latticeA));
        ExitQOR(1);
    }
    if (!IsPositiveFinite(record->lambda)) {
        std::printf("The wavelength lambda%s must be a positive finite number, not %f\n",
                    OptionNote(AnswerOption::kWavelength), static_cast<double>(record->lambda));
        ExitQOR(1);
    }
    // sin(theta) of the primary reflection = sqrt(H^2 + K^2 + L^2) lambda / 2a may not exceed 1.
    const double length = std::sqrt(SquaredLength(record->primaryH) + SquaredLength(record->primaryK) +
                                    SquaredLength(record->primaryL));
    const double twoA = 2.0 * static_cast<double>(record->latticeA);
    if (length * static_cast<double>(record->lambda) / twoA > 1.0) {
        std::printf("The primary reflection %d %d %d%s cannot diffract at the wavelength %f angstrom%s: "
                    "the longest wavelength at which it can is %f angstrom",
                    record->primaryH, record->primaryK, record->primaryL, OptionNote(AnswerOption::kPrimary),
                    static_cast<double>(record->lambda), OptionNote(AnswerOption::kWavelength), twoA / length);
        if (WavelengthFromEnergy()) std::printf(" (%f keV)", kHcKeVAngstrom * length / twoA);
        std::printf("\n");
        ExitQOR(1);
    }
}
