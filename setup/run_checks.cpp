#include "setup/run_checks.h"

#include <cmath>
#include <cstdio>

#include "setup/exit_qor.h"

namespace {

bool IsPositiveFinite(float value) { return std::isfinite(value) && value > 0.0f; }

}  // namespace

void RefuseUnusableRun(const InputStruct* record)
{
    if (record->primaryH == 0 && record->primaryK == 0 && record->primaryL == 0) {
        std::printf("The primary reflection 0 0 0 has no reflection frame\n");
        ExitQOR(1);
    }
    if (!IsPositiveFinite(record->latticeA)) {
        std::printf("The lattice parameter a must be a positive finite number, not %f\n",
                    static_cast<double>(record->latticeA));
        ExitQOR(1);
    }
    if (!IsPositiveFinite(record->lambda)) {
        std::printf("The wavelength lambda must be a positive finite number, not %f\n",
                    static_cast<double>(record->lambda));
        ExitQOR(1);
    }
}
