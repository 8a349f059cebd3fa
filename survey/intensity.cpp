#include "survey/intensity.h"

#include <cmath>

void CalculIntensity(float theta, InputStruct* record, int h, int k, int l)
{
    const int m = Multiplicity(h, k, l);
    const float twoTheta = theta + theta;
    double c2 = std::cos(static_cast<double>(twoTheta));
    c2 = c2 * c2;
    double s2 = std::sin(static_cast<double>(theta));
    s2 = s2 * s2;
    const double cosTheta = std::cos(static_cast<double>(theta));
    // (1 + cos^2 2theta) / (2 sin^2 theta cos theta)
    const double lp = (c2 + 1.0) / (s2 * cosTheta + s2 * cosTheta);
    const double f = record->structureFactor;
    record->intensity = (static_cast<double>(m) * lp) * (f * f);
}

int Multiplicity(int h, int k, int l)
{
    if (h == k && k == l) return 8;                               // hhh
    if (h != k && k != l && h != l && l != 0) return 48;          // hkl
    if (h != 0 && k == 0 && l == 0) return 6;                     // h00
    if (h == k && 0 < l && l < k) return 24;                      // hhl
    if (h == k && l == 0) return 12;                              // hh0
    if (h != k && k != 0 && l == 0) return 24;                    // hk0
    if (h != k && k != 0 && k == l) return 24;                    // hkk
    return 0;
}
