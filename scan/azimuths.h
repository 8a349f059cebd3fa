// Azimuth windows and the clean stretches between occupied azimuths.
#pragma once

#include <cmath>
#include <vector>

// The widest psi window a planning search covers: ten turns.
inline constexpr double kWidestPsiWindow = 3600.0;

// An azimuth window, degrees, both ends excluded; but a window of a full circle or more holds its
// upper end, so that an azimuth at the seam is listed once.
struct PsiWindow {
    double min, max;
    bool Contains(double psi) const { return min < psi && (psi < max || (psi == max && FullCircle())); }
    // At least one whole turn: its two ends are the same azimuth.
    bool FullCircle() const { return max - min >= 360.0; }
};

// psi brought into (-180, 180] before any trigonometry: an azimuth a whole number of turns away
// (370 for 10) then gives the same answers to the last digit. The remainder and the turn added or
// taken are exact.
inline double WithinOneTurn(double psi)
{
    const double d = std::fmod(psi, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

struct AzimuthInterval {
    double start, end;  // start <= end; end may pass the window's end across the seam of a full circle
    double Width() const { return end - start; }
};

// Calls visit(psi + 360 m) for every turn m that puts psi inside the window. The turns are
// counted, not stepped, so that azimuths too large for a step of 360 cannot loop for ever.
template <typename Visit>
void ForEachTurn(double psi, const PsiWindow& window, Visit&& visit)
{
    const double first = std::ceil((window.min - psi) / 360.0);
    const double turns = std::floor((window.max - psi) / 360.0) - first;
    if (!(turns >= 0.0 && turns <= kWidestPsiWindow / 360.0 + 4.0)) return;
    for (int i = 0; i <= static_cast<int>(turns); ++i) {
        const double at = psi + 360.0 * (first + i);
        if (window.Contains(at)) visit(at);
    }
}

// The stretches of the window that no interval of `occupied` touches, at least `width` wide, by
// start. When the window spans a full circle the occupied intervals are taken modulo 360 and the
// stretch that runs over the seam is one window, starting inside the window and ending past its
// end; a circle with nothing occupied is one window of 360 degrees.
std::vector<AzimuthInterval> FreeStretches(std::vector<AzimuthInterval> occupied, const PsiWindow& window, double width);
