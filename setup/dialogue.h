// The console dialogue that fills the run-parameters record: the structure menu and fourteen prompts.
#pragma once

#include "setup/input_struct.h"

void FillInputStruct(InputStruct* record);
void PrintStructureMenu();
void GetStructureInput(InputStruct* record);
void GetUserParameters(InputStruct* record);
