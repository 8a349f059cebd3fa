// The composition a CIF states in _chemical_formula_sum, such as 'C12 H22 O11' or 'Na0.8 Co O2'.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Each element (atomic number) with its number in one formula unit, in the order written; an
// element written twice counts once with the sum. std::nullopt when the text is no such formula.
std::optional<std::vector<std::pair<int, double>>> FormulaSum(const std::string& text);
