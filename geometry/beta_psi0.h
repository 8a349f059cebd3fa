// psi0 (the azimuth of a reflection's component across the primary reflection) and beta (the
// half-distance between the two azimuths at which it is excited together with the primary).
#pragma once

#include "geometry/psi_solution.h"
#include "setup/input_struct.h"

// psi0 and beta of the reflection, then its psi solutions at both psi0 representatives, handed
// to `sink`; nothing for a reflection on the line of the primary or one that obtains no beta.
void CalculBetaPsi0(InputStruct* record, int h, int k, int l, PsiSolutionSink& sink);
void CalculPsi0(float y, float z, InputStruct* record);
void CalculBeta(float x, float y, float z, InputStruct* record);
