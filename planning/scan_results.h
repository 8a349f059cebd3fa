// The results a planning request asks for, computed the same way for the command line and for
// Python: the reflections found, then each one's width and depth for the request's beam.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "glitches/glitches.h"
#include "planning/scan_setting.h"
#include "scan/events.h"

// Told how many were found, before their widths and depths are worked out (for a progress line).
using FoundCount = std::function<void(std::size_t)>;

// The multiple-beam events of the band inside the window, with their widths and depths for the
// beam at the band's centre.
std::vector<Event> ShapedEvents(const ScanSetting& scan, const Band& band, const PsiWindow& window, const FoundCount& found = {});

// The glitches at the azimuth psi (degrees, taken within -180 to 180: psi and psi + 360 give the
// same) from eMin to eMax keV with the harmonics up to `harmonics`, with their widths and depths;
// `kept`, when given, holds the fundamental's reflections surveyed once (GlitchReflections) for
// spectra at many azimuths.
std::vector<Glitch> ShapedGlitches(const ScanSetting& scan, double psi, double eMin, double eMax, int harmonics,
                                   const std::vector<SphereReflection>* kept = nullptr, const FoundCount& found = {});

// The glitch lines of the window from eMin to eMax keV, with their depths.
std::vector<GlitchLine> ShapedGlitchMap(const ScanSetting& scan, const PsiWindow& window, double eMin, double eMax,
                                        const FoundCount& found = {});
