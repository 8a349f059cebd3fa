// Whether a space group's operations map a cell's lattice onto itself, and, where they do not, the
// settings of the same group that do: with two axes exchanged (a monoclinic group's unique axis, a
// tetragonal or hexagonal main axis put on the axis the cell has), on rhombohedral instead of
// hexagonal axes or back, or in the primitive cell of a centred lattice (a 60-degree cell of an F
// group).
#pragma once

#include <gemmi/symmetry.hpp>

#include <string>
#include <vector>

#include "crystal/lattice.h"

// A cell has a group's symmetry when every rotation R keeps its metric G: R^T G R = G, to this
// share of the longest axis squared (a file rounds its cell's lengths and angles).
inline constexpr double kMetricTolerance = 1e-3;

bool CellHasSymmetry(const Lattice& lattice, const std::vector<gemmi::Op>& ops);

// One setting of a group: its operations in the cell's axes, those of its second origin choice
// where the group has one that is still open, its name in gemmi's tables ("" where they lack it),
// and how it differs from the setting named ("", "with the axes a and b exchanged", "on
// rhombohedral axes", "in the primitive cell of its F lattice").
struct GroupSetting {
    std::vector<gemmi::Op> ops;
    std::vector<gemmi::Op> secondOrigin;
    std::string name;
    std::string change;
};

// The settings derived from `given`: with each two axes exchanged, on the other axes of an R group,
// in the primitive cell of a centred lattice; named after gemmi's tables where they are there.
std::vector<GroupSetting> DerivedSettings(const GroupSetting& given);

// Those of `candidates` that the cell has, each once.
std::vector<GroupSetting> SettingsTheCellHas(const Lattice& lattice, const std::vector<GroupSetting>& candidates);

// "'A'", "'A' and 'B'", "'A', 'B' and 'C'": the settings' names for a message.
std::string SettingNames(const std::vector<GroupSetting>& settings);
