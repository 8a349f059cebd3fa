// A crystal as the planning engine sees it: a lattice and its scattering at a photon energy.
#pragma once

#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "crystal/lattice.h"
#include "crystal/point_group.h"

// What a crystal scatters at one photon energy: the structure factor F(h, k, l) in electrons, and
// whether the structure forbids a reflection (it then scatters nothing at any energy).
class Scattering {
public:
    virtual ~Scattering() = default;
    virtual std::complex<double> F(Miller m) const = 0;
    virtual bool Allows(Miller m) const = 0;
    // |F|, or 0 for a reflection the structure forbids.
    virtual double Modulus(Miller m) const { return Allows(m) ? std::abs(F(m)) : 0.0; }
};

class Crystal {
public:
    explicit Crystal(Lattice lattice, std::string name) : lattice_(lattice), name_(std::move(name)) {}
    virtual ~Crystal() = default;

    const Lattice& lattice() const { return lattice_; }
    // What the crystal is called in titles and table headers ("SI", "GaAs").
    const std::string& name() const { return name_; }

    // The crystal's scattering at `keV`. Safe to call from several threads at once.
    virtual std::unique_ptr<Scattering> At(double keV) const = 0;
    // True when the structure's symmetry forbids the reflection, whatever the energy: a cheap test
    // that spares the scattering factors of reflections that never scatter.
    virtual bool Extinct(Miller m) const = 0;
    // The rotations of the crystal's point group on Miller indices, the identity among them.
    virtual std::vector<MillerRotation> PointGroup() const = 0;

private:
    Lattice lattice_;
    std::string name_;
};
