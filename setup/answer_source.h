// Where the answers of a run came from: the dialogue, or command-line options. A message about an
// answer names the option when there is one, so that the user of a script knows what to mend.
#pragma once

// hc in keV angstrom (CODATA 2018): a photon of energy E keV has the wavelength hc / E angstrom.
inline constexpr double kHcKeVAngstrom = 12.398419843320026;

enum class AnswerOption { kTable, kLattice, kWavelength, kSymbol, kPrimary };

// From now on, messages name the options; `wavelengthOption` is the one that gave the wavelength
// (--wavelength, or --energy or --energies, which give it as an energy).
void NameOptionsInMessages(const char* wavelengthOption);

// " (--table)" and the like for answers given as options; "" for the dialogue's answers.
const char* OptionNote(AnswerOption answer);

// True when the wavelength was given as an energy (messages then give energies too).
bool WavelengthFromEnergy();
