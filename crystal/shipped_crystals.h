// The crystals that come with kelto: CIF files in share/kelto/crystals of the installation, or
// data/crystals of the source tree, each named by its file name without ".cif".
#pragma once

#include <string>
#include <vector>

// The folder that holds them.
std::string ShippedCrystalFolder();

// Their names, sorted without regard to case.
std::vector<std::string> ShippedCrystalNames();

// The file of the crystal `name` (any case). Throws CrystalFileError naming the crystals there are.
std::string ShippedCrystalPath(const std::string& name);
