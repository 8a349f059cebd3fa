// What the parts of the CIF reader share: the data block being read with the file's name for
// messages, and the tags whose values make the crystal.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "crystal/cif_document.h"
#include "crystal/crystal_file_error.h"

struct CifReader {
    std::string source;
    const CifBlock* block;

    // "<source>:<line>: " (no line when it is not positive).
    std::string At(int line) const
    {
        std::string at = source;
        if (line > 0) at.append(":").append(std::to_string(line));
        return at.append(": ");
    }

    [[noreturn]] void Fail(const std::string& what, int line = -1) const { throw CrystalFileError(At(line) + what); }

    // A number of the block's single items, such as _cell_length_a; the file is refused without it.
    double Number(const std::string& tag) const
    {
        const CifItem* item = block->Item(tag);
        if (item == nullptr) Fail("no " + tag + " (the cell must be given)");
        const double value = CifNumber(item->value);
        if (!std::isfinite(value)) Fail(tag + " is '" + item->value + "', not a number", item->line);
        return value;
    }
};

// The tags the reader takes the crystal from, in the order it tries them.
inline constexpr const char* kCellTags[] = {"_cell_length_a",   "_cell_length_b",  "_cell_length_c",
                                            "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
inline constexpr const char* kOperationTags[] = {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"};
// Magnetic CIF: the operations with their time reversal, and the (anti)centring translations.
inline constexpr const char* kMagneticOperationTags[] = {"_space_group_symop_magn_operation.xyz",
                                                         "_space_group_symop.magn_operation_xyz"};
inline constexpr const char* kMagneticCentringTags[] = {"_space_group_symop_magn_centering.xyz",
                                                        "_space_group_symop.magn_centering_xyz"};
inline constexpr const char* kHallTags[] = {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"};
inline constexpr const char* kNameTags[] = {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"};
inline constexpr const char* kNumberTags[] = {"_space_group_IT_number", "_symmetry_Int_Tables_number"};
inline constexpr std::string_view kAtomSitePrefix = "_atom_site_";
// Read only as evidence for an origin choice the file leaves open.
inline constexpr const char* kFormulaUnitsTag = "_cell_formula_units_Z";
inline constexpr const char* kFormulaTag = "_chemical_formula_sum";
// Present in the files of the Inorganic Crystal Structure Database, which write '.' for a coordinate of 0.
inline constexpr const char* kIcsdCodeTag = "_database_code_ICSD";
