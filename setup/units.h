// The physical constants and unit conversions of the double-precision calculations (the checks of
// a run's answers, the crystals, the planning engine, the command line and the Python module),
// each with its source. The survey of the four files does not use them: its pi values
// (3.1415927f, 3.14159265, 180 / 3.1415926, 57.2958) are part of the numbers its files hold, and
// stay with the steps that write them.
#pragma once

#include <numbers>

// hc in keV angstrom (CODATA 2018: h c = 1.239841984...e-6 eV m, h and c exact): a photon of
// energy E keV has the wavelength hc / E angstrom.
inline constexpr double kHcKeVAngstrom = 12.398419843320026;

// The classical electron radius r_e in angstrom (CODATA 2018: 2.8179403262e-15 m).
inline constexpr double kElectronRadiusAngstrom = 2.8179403262e-5;

// One degree in radians, and one radian in degrees.
inline constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
inline constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// The same conversions rounded as (x pi) / 180 and (x 180) / pi. They can differ from
// x * kRadiansPerDegree in the last bit; each calculation keeps the rounding its tables were
// made with.
constexpr double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }
constexpr double Degrees(double radians) { return radians * 180.0 / std::numbers::pi; }
