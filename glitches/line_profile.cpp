#include "glitches/line_profile.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "glitches/spectrum.h"
#include "setup/units.h"

namespace {

// How far (degrees) from its centre a line has risen to `keV`: E^2 = Ec^2 + (Et^2 - Ec^2) / cos^2.
double ReachAt(const GlitchLine& line, double keV)
{
    const double top = line.topEnergy * line.topEnergy - line.cutoffEnergy * line.cutoffEnergy;
    const double here = keV * keV - line.cutoffEnergy * line.cutoffEnergy;
    if (!(here > top)) return 0.0;
    return std::acos(std::sqrt(top / here)) / kRadiansPerDegree;
}

// The energies of one side of a line, from `low` up to eMax.
std::vector<double> Energies(double low, double eMax)
{
    std::vector<double> energies;
    for (int k = 0; k < kLineSamples; ++k) energies.push_back(low + (eMax - low) * k / (kLineSamples - 1));
    return energies;
}

// The points of a line's stretches, by azimuth.
std::vector<std::vector<std::pair<double, double>>> Points(const GlitchLine& line, double eMin, double eMax)
{
    std::vector<std::vector<std::pair<double, double>>> stretches;
    if (line.always) {
        std::vector<std::pair<double, double>> points;
        for (const double keV : Energies(std::max(eMin, line.cutoffEnergy), eMax)) points.push_back({line.centre, keV});
        stretches.push_back(points);
        return stretches;
    }
    if (line.lowEnergyHalfWidth > 0.0) {  // two stretches, from eMax down to eMin and back up
        std::vector<std::pair<double, double>> left, right;
        const std::vector<double> energies = Energies(eMin, eMax);
        for (auto e = energies.rbegin(); e != energies.rend(); ++e) left.push_back({line.centre - ReachAt(line, *e), *e});
        for (const double keV : energies) right.push_back({line.centre + ReachAt(line, keV), keV});
        stretches.push_back(left), stretches.push_back(right);
        return stretches;
    }
    std::vector<std::pair<double, double>> points;
    const std::vector<double> energies = Energies(line.topEnergy, eMax);
    for (auto e = energies.rbegin(); e != energies.rend() - 1; ++e) points.push_back({line.centre - ReachAt(line, *e), *e});
    for (const double keV : energies) points.push_back({line.centre + ReachAt(line, keV), keV});
    stretches.push_back(points);
    return stretches;
}

// The point of a line's stretches of the lowest energy: its top, or where it first meets EMIN.
std::pair<std::size_t, std::size_t> LowestPoint(const std::vector<std::vector<std::pair<double, double>>>& stretches)
{
    std::pair<std::size_t, std::size_t> lowest{0, 0};
    for (std::size_t s = 0; s < stretches.size(); ++s) {
        for (std::size_t k = 0; k < stretches[s].size(); ++k) {
            if (stretches[s][k].second < stretches[lowest.first][lowest.second].second) lowest = {s, k};
        }
    }
    return lowest;
}

}  // namespace

std::vector<LineProfile> LineProfiles(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, const Beam& beam,
                                      const std::vector<GlitchLine>& lines, double screen)
{
    std::vector<std::vector<std::vector<std::pair<double, double>>>> points;
    for (const GlitchLine& line : lines) points.push_back(Points(line, eMin, eMax));
    // With a screen, each line's glitch at its lowest point first; the lines no deeper there than
    // the screen keep that depth and width all along.
    std::vector<AzimuthDip> low(lines.size(), AzimuthDip{INFINITY, 0.0});
    if (screen > 0.0) {
        std::vector<GlitchRequest> requests;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto [s, k] = LowestPoint(points[i]);
            requests.push_back({&frame, lines[i].x, points[i][s][k].first, points[i][s][k].second});
        }
        low = DipsInAzimuth(crystal, requests, beam);
    }
    const auto whole = [&](std::size_t i) { return !(low[i].depth <= screen); };
    std::vector<GlitchRequest> requests;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!whole(i)) continue;
        for (const auto& stretch : points[i]) {
            for (const auto& [psi, keV] : stretch) requests.push_back({&frame, lines[i].x, psi, keV});
        }
    }
    const std::vector<AzimuthDip> dips = DipsInAzimuth(crystal, requests, beam);
    std::vector<LineProfile> profiles(lines.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (const auto& stretch : points[i]) {
            std::vector<LineSample> samples;
            for (const auto& [psi, keV] : stretch) {
                const AzimuthDip dip = whole(i) ? dips[next++] : low[i];
                samples.push_back({psi, keV, dip.depth, dip.depth, dip.widthDeg});
            }
            profiles[i].stretches.push_back(std::move(samples));
        }
    }
    // Lines of one geometry (the same centre, top and cut-off, to a billionth: met together all
    // along) take their dips together as the spectrum takes them.
    const auto rounded = [](double value) { return std::llround(value * 1e9); };
    std::map<std::tuple<long long, long long, long long, bool>, std::vector<std::size_t>> alike;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        alike[{rounded(lines[i].centre), rounded(lines[i].topEnergy), rounded(lines[i].cutoffEnergy), lines[i].always}].push_back(i);
    }
    for (const auto& [geometry, members] : alike) {
        if (members.size() < 2) continue;
        for (std::size_t s = 0; s < profiles[members.front()].stretches.size(); ++s) {
            for (std::size_t k = 0; k < profiles[members.front()].stretches[s].size(); ++k) {
                double left = 1.0, width = 0.0;
                for (const std::size_t j : members) {
                    left = LeftAfter(left, profiles[j].stretches[s][k].depth);
                    width = std::max(width, profiles[j].stretches[s][k].widthDeg);
                }
                for (const std::size_t j : members) {
                    profiles[j].stretches[s][k].together = 1.0 - left, profiles[j].stretches[s][k].widthDeg = width;
                }
            }
        }
    }
    for (LineProfile& p : profiles) {
        for (const std::vector<LineSample>& stretch : p.stretches) {
            for (const LineSample& s : stretch) p.deepest = std::max(p.deepest, s.depth);
        }
    }
    return profiles;
}

void SetLineDepths(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, const Beam& beam,
                   std::vector<GlitchLine>* lines)
{
    const std::vector<LineProfile> profiles = LineProfiles(crystal, frame, eMin, eMax, beam, *lines);
    for (std::size_t i = 0; i < lines->size(); ++i) (*lines)[i].depth = profiles[i].deepest;
}
