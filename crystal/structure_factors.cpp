#include "crystal/structure_factors.h"

#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "crystal/cif_atom.h"
#include "setup/units.h"

namespace {

// Tables beyond this size would cost more to fill and hold than the sines they save.
constexpr double kLargestTables = 256.0 * 1024 * 1024;
// The group sums kept for all energies, and the structure factors kept by reflection and energy.
constexpr double kLargestSums = 128.0 * 1024 * 1024;
constexpr double kLargestFactors = 128.0 * 1024 * 1024;
// The energies whose f' and f'' are kept: an events table asks for those of one energy from every
// event's width.
constexpr std::size_t kEnergiesKept = 4;

// The radius of the limiting sphere at `keV`, 2 / lambda (1/angstrom).
double LimitingRadiusAt(double keV) { return 2.0 * keV / kHcKeVAngstrom; }

}  // namespace

// f0, f' and f'' of the elements at one energy.
struct EnergyScattering {
    struct Element {
        const gemmi::IT92<double>::Coef* f0;
        std::complex<double> anomalous;
    };
    double keV;
    std::vector<Element> elements;
    double largest = 0.0;  // |F(0 0 0)|
};

class CachedScattering : public Scattering {
public:
    CachedScattering(const StructureFactors& crystal, std::shared_ptr<const EnergyScattering> energy)
        : crystal_(crystal), energy_(std::move(energy))
    {
    }

    std::complex<double> F(Miller m) const override
    {
        const StructureFactors::Unphased f = Made(m);
        return TwentyFourthTurn(f.phase) * f.F;
    }

    bool Allows(Miller m) const override { return Modulus(m) > 0.0; }

    double Modulus(Miller m) const override
    {
        // The phase of the class has modulus 1: left out, it spares a product and its rounding.
        const double modulus = std::abs(Made(m).F);
        return !IsZero(m) && modulus >= kForbiddenShare * energy_->largest ? modulus : 0.0;
    }

    // The sums over the groups of (f0(s) + f' + i f'') exp(-B s^2) S_g, with S_g and with their
    // conjugates (the structure factors of a class's representative and of its mate).
    static void Sums(const StructureFactors& crystal, const EnergyScattering& energy, double s2, const std::complex<double>* sums,
                     std::complex<double>* plain, std::complex<double>* conjugated)
    {
        // A crystal has few elements: their f0 on the stack.
        constexpr std::size_t kFew = 16;
        const std::size_t count = energy.elements.size();
        double few[kFew];
        std::vector<double> many(count > kFew ? count : 0);
        double* f0 = count > kFew ? many.data() : few;
        for (std::size_t e = 0; e < count; ++e) f0[e] = energy.elements[e].f0->calculate_sf(s2);
        *plain = *conjugated = 0.0;
        for (std::size_t g = 0; g < crystal.groups_.size(); ++g) {
            const StructureFactors::Group& group = crystal.groups_[g];
            const auto species = static_cast<std::size_t>(group.species);
            // exp(-B 0) is 1: F(0 0 0), made at every energy, spares a cell of many B their exponentials.
            const std::complex<double> factor =
                (f0[species] + energy.elements[species].anomalous) * (s2 == 0.0 ? 1.0 : std::exp(-group.b * s2));
            *plain += factor * sums[g];
            *conjugated += factor * std::conj(sums[g]);
        }
    }

private:
    // F of `m` before its phase; made with that of -m, which shares its sums, and both kept.
    StructureFactors::Unphased Made(Miller m) const
    {
        const double keV = energy_->keV;
        if (const std::optional<StructureFactors::Unphased> kept = crystal_.factors_.Find(m, keV)) return *kept;
        const ReflectionClass c = crystal_.classes_.Of(m);
        const Vec3 x = crystal_.lattice_.Reciprocal(m);
        std::complex<double> plain, conjugated;
        Sums(crystal_, *energy_, Dot(x, x) / 4.0, crystal_.GroupSums(c.representative)->data(), &plain, &conjugated);
        const StructureFactors::Unphased made{c.mate ? conjugated : plain, c.phase};
        crystal_.factors_.Keep(m, made, keV);
        const Miller opposite{-m.h, -m.k, -m.l};
        const ReflectionClass mate = crystal_.classes_.Of(opposite);
        if (mate.representative == c.representative) crystal_.factors_.Keep(opposite, {mate.mate ? conjugated : plain, mate.phase}, keV);
        return made;
    }

    const StructureFactors& crystal_;
    std::shared_ptr<const EnergyScattering> energy_;
};

StructureFactors::StructureFactors(const Lattice& lattice, const std::vector<CifAtom>& atoms, const std::vector<gemmi::Op>& ops)
    : lattice_(lattice), classes_(ops), sums_(kLargestSums, 0.0), factors_(kLargestFactors, sizeof(std::complex<double>) + sizeof(int))
{
    std::vector<int> groupOf;
    for (const CifAtom& a : atoms) {
        auto found = std::find(elements_.begin(), elements_.end(), a.element);
        if (found == elements_.end()) found = elements_.insert(elements_.end(), a.element);
        const int species = static_cast<int>(found - elements_.begin());
        auto group = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.species == species && g.b == a.b; });
        if (group == groups_.end()) group = groups_.insert(groups_.end(), Group{species, a.b, 0.0});
        groupOf.push_back(static_cast<int>(group - groups_.begin()));
    }
    // The atoms group by group, each group's in the order of the cell.
    std::vector<std::size_t> order(atoms.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return groupOf[i] < groupOf[j]; });
    bounds_.assign(groups_.size() + 1, 0);
    for (std::size_t at = 0; at < order.size(); ++at) {
        const CifAtom& a = atoms[order[at]];
        const auto g = static_cast<std::size_t>(groupOf[order[at]]);
        bounds_[g + 1] = at + 1;
        groups_[g].occupancy += a.occupancy;
        positions_.push_back({a.x, a.y, a.z});
        occupancy_.push_back(a.occupancy);
        weight_ += a.occupancy;
    }
    // Each kept set of sums holds one complex number for each group.
    sums_.Limit(kLargestSums, static_cast<double>(groups_.size() * sizeof(std::complex<double>) + 64));
}

StructureFactors::~StructureFactors() = default;

StructureFactors::Sums StructureFactors::GroupSums(Miller representative) const
{
    if (std::optional<Sums> kept = sums_.Find(representative)) return *kept;
    std::shared_ptr<const AtomPhases> phases;
    {
        const std::lock_guard<std::mutex> held(phasesLock_);
        phases = phases_;
    }
    auto sums = std::make_shared<std::vector<std::complex<double>>>(groups_.size());
    if (phases && phases->Covers(representative)) {
        phases->Sums(representative, bounds_, occupancy_.data(), sums->data());
    } else {
        PhaseSums(representative, positions_, bounds_, occupancy_.data(), sums->data());
    }
    sums_.Keep(representative, sums);
    return sums;
}

std::shared_ptr<const AtomPhases> StructureFactors::PhasesFor(double keV) const
{
    double bounds[3] = {0.0, 0.0, 0.0};
    lattice_.IndexBounds(LimitingRadiusAt(keV), bounds);
    int reach[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!(bounds[axis] < 100000.0)) return nullptr;
        reach[axis] = static_cast<int>(bounds[axis]) + 1;
    }
    const std::lock_guard<std::mutex> held(phasesLock_);
    if (phases_ && phases_->Reaches(reach)) return phases_;
    if (phases_) {
        for (int axis = 0; axis < 3; ++axis) reach[axis] = std::max(reach[axis], phases_->reach()[axis]);
    }
    if (!(AtomPhases::Bytes(positions_.size(), reach) <= kLargestTables)) return phases_;
    phases_ = std::make_shared<const AtomPhases>(positions_, reach);
    return phases_;
}

std::shared_ptr<const EnergyScattering> StructureFactors::EnergyAt(double keV) const
{
    {
        const std::lock_guard<std::mutex> held(energiesLock_);
        const auto found = std::find_if(energies_.begin(), energies_.end(), [&](const auto& e) { return e->keV == keV; });
        if (found != energies_.end()) {
            std::shared_ptr<const EnergyScattering> energy = *found;
            energies_.erase(found);
            energies_.push_back(energy);
            return energy;
        }
    }
    auto energy = std::make_shared<EnergyScattering>();
    energy->keV = keV;
    for (int z : elements_) {
        double fpp = 0.0;
        const double fp = gemmi::cromer_liberman(z, keV * 1000.0, &fpp);
        energy->elements.push_back({&gemmi::IT92<double>::get(static_cast<gemmi::El>(z)), {fp, fpp}});
    }
    PhasesFor(keV);  // every reflection inside the energy's sphere within the tables
    std::vector<std::complex<double>> occupancies;
    for (const Group& g : groups_) occupancies.emplace_back(g.occupancy, 0.0);
    std::complex<double> zero, conjugated;
    CachedScattering::Sums(*this, *energy, 0.0, occupancies.data(), &zero, &conjugated);
    energy->largest = std::abs(zero);
    const std::lock_guard<std::mutex> held(energiesLock_);
    energies_.push_back(energy);
    if (energies_.size() > kEnergiesKept) energies_.erase(energies_.begin());
    return energy;
}

std::unique_ptr<Scattering> StructureFactors::At(double keV) const
{
    return std::make_unique<CachedScattering>(*this, EnergyAt(keV));
}

bool StructureFactors::Extinct(Miller m) const
{
    // F = sum over elements of f(s, E) S_element, S = sum over its atoms of occupancy exp(2 pi i h.x):
    // the structure forbids the reflection when every S vanishes, whatever f is.
    if (IsZero(m)) return true;
    const Sums sums = GroupSums(classes_.Of(m).representative);
    std::vector<std::complex<double>> species(elements_.size());
    for (std::size_t g = 0; g < groups_.size(); ++g) species[static_cast<std::size_t>(groups_[g].species)] += (*sums)[g];
    return std::all_of(species.begin(), species.end(), [&](std::complex<double> s) { return std::abs(s) < 1e-9 * weight_; });
}
