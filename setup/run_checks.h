// The checks of a run's answers that the dialogue's reading cannot make on its own.
#pragma once

#include "setup/answer_source.h"
#include "setup/input_struct.h"

// Refuses, before any file is created, a run that has no meaningful geometry: the primary
// reflection 0 0 0 (it has no reflection frame), a lattice parameter or wavelength that is not
// a positive finite number, or a primary reflection that cannot diffract at the wavelength
// (sin theta above 1). Throws RunError::Refusal with the reason, naming the options the answers
// came from, if they came from options.
void RefuseUnusableRun(const InputStruct* record, const AnswerSource& answers);
