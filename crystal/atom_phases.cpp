#include "crystal/atom_phases.h"

#include <numbers>

AtomPhases::AtomPhases(const std::vector<AtomPosition>& atoms, const int reach[3]) : reach_{reach[0], reach[1], reach[2]}
{
    offset_.reserve(atoms.size() * 3);
    table_.reserve(atoms.size() * static_cast<std::size_t>(2 * (reach[0] + reach[1] + reach[2]) + 3));
    for (const AtomPosition& a : atoms) {
        const double along[3] = {a.x, a.y, a.z};
        for (int axis = 0; axis < 3; ++axis) {
            offset_.push_back(table_.size());
            // Each entry from its own angle: no error builds up along the table.
            for (int n = -reach[axis]; n <= reach[axis]; ++n) table_.push_back(std::polar(1.0, 2.0 * std::numbers::pi * n * along[axis]));
        }
    }
}

double AtomPhases::Bytes(std::size_t atoms, const int reach[3])
{
    return static_cast<double>(atoms) * (2.0 * (reach[0] + reach[1] + reach[2]) + 3.0) * sizeof(std::complex<double>);
}
