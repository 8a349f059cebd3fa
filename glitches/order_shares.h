// Each order's share of the beam's photons against the monochromator's setting (the fundamental's
// energy): the same shares everywhere, or a table of them at rising settings, linear between the
// rows (an undulator's harmonics grow and fade across a scan of its gap, a mirror's cut-off takes
// the higher orders above some energy).
#pragma once

#include <cstddef>
#include <vector>

class OrderShares {
public:
    // The same shares at every setting: shares[n - 1] for order n, the fundamental's first.
    OrderShares(std::vector<double> shares = {1.0});  // NOLINT: a plain list of shares is the usual case
    // Rows at strictly rising settings (keV), each with a share for every order. Throws
    // std::invalid_argument when the rows are not that.
    OrderShares(std::vector<double> energies, std::vector<std::vector<double>> rows);

    std::size_t Orders() const { return rows_.front().size(); }
    bool Varies() const { return !energies_.empty(); }
    // The shares at the setting `keV`: interpolated between the rows, the end rows' beyond them.
    void At(double keV, std::vector<double>* shares) const;
    std::vector<double> At(double keV) const;
    // Whether order n carries photons at some setting.
    bool Carries(int order) const;

private:
    std::vector<double> energies_;            // empty: one row for every setting
    std::vector<std::vector<double>> rows_;
};
