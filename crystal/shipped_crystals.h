// What comes with kelto: the coefficient table and the crystals (CIF files, each named by its file
// name without ".cif"), in share/kelto of the installation or data/ of the source tree.
#pragma once

#include <string>
#include <vector>

// share/kelto beside the installed program (bin/../share/kelto), else data/ of the source tree;
// a host that knows where it is installed (the Python module) may name the folder instead.
std::string ShippedDataFolder();
void UseShippedDataFolder(const std::string& folder);

// The coefficient table that comes with kelto.
std::string ShippedTable();

// The folder of the crystals.
std::string ShippedCrystalFolder();

// Their names, sorted without regard to case.
std::vector<std::string> ShippedCrystalNames();

// The file of the crystal `name` (any case). Throws CrystalFileError naming the crystals there are.
std::string ShippedCrystalPath(const std::string& name);
