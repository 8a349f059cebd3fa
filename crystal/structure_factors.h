// The structure factors of a unit cell's atoms at any photon energy,
//   F(h, E) = sum over the atoms of occupancy (f0(s) + f'(E) + i f''(E)) exp(-B s^2) exp(2 pi i h . x),
// computed so that large cells stay quick: atoms of one element and one B share f and exp(-B s^2),
// so F = sum over those groups of their factor times S_g(h), the sum of occupancy exp(2 pi i h . x)
// over the group's atoms. The S_g, which hold all the work that grows with the atoms, do not depend
// on the energy: they are made once for each set of reflections the space group makes equivalent
// (crystal/reflection_classes.h) and kept for every energy. At each energy F is made once for each
// reflection (with that of its Friedel mate, from the same sums), however often an event, a glitch
// or a width asks for it.
#pragma once

#include <complex>
#include <memory>
#include <mutex>
#include <vector>

#include "crystal/atom_phases.h"
#include "crystal/crystal.h"
#include "crystal/reflection_cache.h"
#include "crystal/reflection_classes.h"

namespace gemmi {
struct Op;
}  // namespace gemmi

struct CifAtom;
struct EnergyScattering;

class StructureFactors {
public:
    // `ops` must map the atoms onto themselves (they are the operations the atoms were expanded with).
    StructureFactors(const Lattice& lattice, const std::vector<CifAtom>& atoms, const std::vector<gemmi::Op>& ops);
    ~StructureFactors();

    // The scattering at `keV`. Safe to call from several threads at once.
    std::unique_ptr<Scattering> At(double keV) const;
    // True when every element's sum of occupancy exp(2 pi i h . x) vanishes: whatever the energy the
    // reflection scatters nothing.
    bool Extinct(Miller m) const;

private:
    friend class CachedScattering;

    using Sums = std::shared_ptr<const std::vector<std::complex<double>>>;
    // S_g(h) of every group for the representative of a class, from the cache or made (and kept).
    Sums GroupSums(Miller representative) const;
    // The tables reaching every reflection inside the limiting sphere at `keV`, widened on first need.
    std::shared_ptr<const AtomPhases> PhasesFor(double keV) const;
    std::shared_ptr<const EnergyScattering> EnergyAt(double keV) const;

    struct Group {
        int species;       // index into elements_
        double b;          // square angstrom
        double occupancy;  // its atoms' occupancies summed, S_g(0 0 0)
    };

    Lattice lattice_;
    std::vector<int> elements_;  // the distinct atomic numbers
    std::vector<Group> groups_;
    std::vector<AtomPosition> positions_;  // the atoms group by group
    std::vector<std::size_t> bounds_;      // group g's atoms from bounds_[g] to bounds_[g + 1]
    std::vector<double> occupancy_;        // in the same order
    double weight_ = 0.0;                  // all occupancies summed
    ReflectionClasses classes_;
    ReflectionCache<Sums> sums_;
    // A structure factor at an energy before the phase of its class: F(h) = exp(2 pi i phase / 24) F.
    struct Unphased {
        std::complex<double> F;
        int phase;
    };
    ReflectionCache<Unphased> factors_;  // by reflection and energy

    mutable std::mutex phasesLock_;
    mutable std::shared_ptr<const AtomPhases> phases_;
    mutable std::mutex energiesLock_;
    mutable std::vector<std::shared_ptr<const EnergyScattering>> energies_;  // the latest last
};
