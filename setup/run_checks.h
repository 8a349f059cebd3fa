#pragma once

#include "setup/input_struct.h"

// Refuses, before any file is created, a run that has no meaningful geometry: the primary
// reflection 0 0 0 (it has no reflection frame), a lattice parameter or wavelength that is not
// a positive finite number, or a primary reflection that cannot diffract at the wavelength
// (sin theta above 1). Prints the reason and ends through ExitQOR.
void RefuseUnusableRun(const InputStruct* record);
