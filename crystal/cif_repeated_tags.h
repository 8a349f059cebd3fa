// Tags given more than once in a data block. Where the meaning stays clear (a tag kelto does not
// read, the same value again, or all but one value empty) the block keeps one value, or none of a
// tag it does not need, and a notice says so; a tag that makes the crystal (the cell, the symmetry,
// the atom sites) given with two different values, or twice in loops, refuses the file.
#pragma once

#include <string>
#include <vector>

#include "crystal/cif_document.h"

// Leaves every tag of `block` at most once among its single items; throws CrystalFileError naming
// `source` and both lines.
void SettleRepeatedTags(CifBlock& block, const std::string& source, std::vector<std::string>* notices);
