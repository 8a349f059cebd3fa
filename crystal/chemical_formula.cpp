#include "crystal/chemical_formula.h"

#include <gemmi/elem.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

std::optional<std::vector<std::pair<int, double>>> FormulaSum(const std::string& text)
{
    std::vector<std::pair<int, double>> formula;
    const auto is = [&](std::size_t i, int (*test)(int)) { return i < text.size() && test(static_cast<unsigned char>(text[i])) != 0; };
    for (std::size_t i = 0; i < text.size();) {
        if (is(i, std::isspace)) {
            ++i;
            continue;
        }
        if (!is(i, std::isupper)) return std::nullopt;
        const std::size_t letters = is(i + 1, std::islower) ? 2 : 1;
        const gemmi::El element = gemmi::find_element(text.substr(i, letters).c_str());
        if (element == gemmi::El::X) return std::nullopt;
        i += letters;
        double count = 1.0;
        if (is(i, std::isdigit) || (i < text.size() && text[i] == '.')) {
            char* end = nullptr;
            count = std::strtod(text.c_str() + i, &end);
            i = static_cast<std::size_t>(end - text.c_str());
            if (!(std::isfinite(count) && count > 0.0)) return std::nullopt;
        }
        const int z = gemmi::Element(element).atomic_number();
        const auto same = std::find_if(formula.begin(), formula.end(), [&](const auto& e) { return e.first == z; });
        if (same != formula.end()) {
            same->second += count;
        } else {
            formula.emplace_back(z, count);
        }
    }
    if (formula.empty()) return std::nullopt;
    return formula;
}
