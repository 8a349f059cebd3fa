#include "glitches/order_shares.h"

#include <algorithm>
#include <stdexcept>

OrderShares::OrderShares(std::vector<double> shares) : rows_{std::move(shares)}
{
    if (rows_.front().empty()) throw std::invalid_argument("no order's share");
}

OrderShares::OrderShares(std::vector<double> energies, std::vector<std::vector<double>> rows)
    : energies_(std::move(energies)), rows_(std::move(rows))
{
    if (energies_.empty() || energies_.size() != rows_.size()) throw std::invalid_argument("a share table needs a row for each setting");
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (rows_[r].empty() || rows_[r].size() != rows_.front().size()) throw std::invalid_argument("rows of shares of unequal length");
        if (r > 0 && !(energies_[r] > energies_[r - 1])) throw std::invalid_argument("settings of a share table not rising");
    }
}

void OrderShares::At(double keV, std::vector<double>* shares) const
{
    if (energies_.empty() || !(keV > energies_.front())) {
        *shares = rows_.front();
        return;
    }
    if (!(keV < energies_.back())) {
        *shares = rows_.back();
        return;
    }
    const std::size_t above = static_cast<std::size_t>(std::upper_bound(energies_.begin(), energies_.end(), keV) - energies_.begin());
    const std::size_t below = above - 1;
    const double t = (keV - energies_[below]) / (energies_[above] - energies_[below]);
    shares->resize(rows_.front().size());
    for (std::size_t n = 0; n < shares->size(); ++n) (*shares)[n] = rows_[below][n] + t * (rows_[above][n] - rows_[below][n]);
}

std::vector<double> OrderShares::At(double keV) const
{
    std::vector<double> shares;
    At(keV, &shares);
    return shares;
}

bool OrderShares::Carries(int order) const
{
    if (order < 1 || order > static_cast<int>(Orders())) return false;
    return std::any_of(rows_.begin(), rows_.end(), [order](const std::vector<double>& row) { return row[static_cast<std::size_t>(order - 1)] > 0.0; });
}
