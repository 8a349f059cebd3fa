// The orientation matrix of the primary reflection: its columns are the axes of the reflection
// frame (the first along the primary reflection, the other two across it) in the cubic axes.
#pragma once

#include "setup/input_struct.h"

void GetUserMatrix(InputStruct* record);
