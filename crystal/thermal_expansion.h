// The lattice parameter of a shipped crystal at a temperature, from a published thermal expansion,
// so that a cooled monochromator's crystal (liquid nitrogen, about 80-120 K) or a warm one has its
// own d-spacings: silicon, germanium and diamond, the monochromators' crystals.
#pragma once

#include <stdexcept>
#include <string>

// A temperature that kelto cannot set the lattice for: a crystal without a known law, or a
// temperature outside the one it covers. The message names the crystals or the range.
class TemperatureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The thermal expansion of one crystal: its lowest and highest temperature (kelvin), the source
// named for messages and the README, and the temperature of the shipped CIF's cell.
struct ThermalExpansion {
    const char* crystal;  // the shipped crystal's name
    double lowestK, highestK;
    double shippedK;      // the temperature of the shipped cell
    const char* source;
};

// The law of the shipped crystal `name` (any case). Throws TemperatureError naming the crystals
// there are laws for.
const ThermalExpansion& ThermalExpansionOf(const std::string& name);

// a(kelvin) / a(shipped cell's temperature) for the shipped crystal `name`: the factor its cell
// is scaled by. Throws TemperatureError for a crystal without a law or a temperature outside its
// range (or not finite).
double LatticeRatioAt(const std::string& name, double kelvin);

// Silicon's linear thermal expansion coefficient alpha (1/K) below 120 K, from the NIST Cryogenic
// Technologies Group's fit (silicon's cell there is that law's integral).
double SiliconCryogenicAlpha(double kelvin);
