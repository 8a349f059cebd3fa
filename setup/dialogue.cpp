#include "setup/dialogue.h"

#include <cstdio>

#include "setup/answer_reader.h"
#include "io/run_error.h"

namespace {

// An answer that could not be read ends the run before any file exists: the field would
// otherwise hold no defined value.
[[noreturn]] void RefuseAnswer(const char* what)
{
    throw RunError::Refusal(Printed("\nNo valid answer for %s\n", what));
}

void AskInt(const char* prompt, const char* what, int* field)
{
    std::printf("%s", prompt);
    if (!ReadIntAnswer(field)) RefuseAnswer(what);
}

void AskFloat(const char* prompt, const char* what, float* field)
{
    std::printf("%s", prompt);
    if (!ReadFloatAnswer(field)) RefuseAnswer(what);
}

template <std::size_t N>
void AskWord(const char* prompt, const char* what, char (&field)[N])
{
    std::printf("%s", prompt);
    if (!ReadWordAnswer(field, N)) RefuseAnswer(what);
}

}  // namespace

void FillInputStruct(InputStruct* record)
{
    FlushStandardInput();
    PrintStructureMenu();
    GetStructureInput(record);
    GetUserParameters(record);
}

void PrintStructureMenu()
{
    std::printf("structure 1 :Simple Cubic.\n");
    std::printf("structure 2 :Body Centered Cubic.\n");
    std::printf("structure 3 :Face Centered Cubic\n");
    std::printf("structure 4 :Diamond (or ZincBlend) structure.\n");
    std::printf("structure 5 :Exit.\n");
}

void GetStructureInput(InputStruct* record)
{
    FlushStandardInput();
    AskInt("\n Enter the number corresponding to your crystal structure:",
           "the crystal structure number", &record->structure);
    if (record->structure == 5) throw RunError(1, "", RunError::Channel::kOutput, false);  // the menu's exit
    if (record->structure < 1 || record->structure > 4) {
        throw RunError::Refusal(Printed("\nThe crystal structure must be 1, 2, 3 or 4 (5 exits), not %d\n", record->structure));
    }
}

void GetUserParameters(InputStruct* record)
{
    FlushStandardInput();
    AskWord(" Enter the file containing atomic scattering coefficients: ",
            "the scattering-coefficient file name (one word of at most 379 characters)",
            record->factorFile);
    AskFloat(" Enter the lattice parameter a,in angstrom:", "the lattice parameter a",
             &record->latticeA);
    AskInt(" Enter the maximum value for Miller index H:", "the maximum Miller index H",
           &record->hMax);
    AskInt(" Enter the maximum value for Miller index K:", "the maximum Miller index K",
           &record->kMax);
    AskInt(" Enter the maximum value for Miller index L:", "the maximum Miller index L",
           &record->lMax);
    AskFloat(" Enter the wavelength lambda,in angstrom:", "the wavelength lambda",
             &record->lambda);
    AskWord(" Enter the crystal symbol: ", "the crystal symbol (one word of at most 79 characters)",
            record->symbol);
    AskFloat(" Enter the minimum value of psi angle ,in degrees:", "the minimum psi angle",
             &record->psiMin);
    AskFloat(" Enter the maximum value of psi angle ,in degrees:", "the maximum psi angle",
             &record->psiMax);
    AskInt(" Enter the Miller index H of the chosen primary reflection:",
           "the Miller index H of the primary reflection", &record->primaryH);
    AskInt(" Enter the Miller index K of the chosen primary reflection:",
           "the Miller index K of the primary reflection", &record->primaryK);
    AskInt(" Enter the Miller index L of the chosen primary reflection:",
           "the Miller index L of the primary reflection", &record->primaryL);
    AskFloat(" Enter the delta lambda of Ewald's sphere:", "the delta lambda of Ewald's sphere",
             &record->deltaLambda);
}
