// The planning results as the user reads them: the events and glitch tables (CSV, one header
// row, plain numbers) and the clean azimuth windows on the console.
#pragma once

#include <cstdio>
#include <vector>

#include "planning/events.h"
#include "planning/glitches.h"

void WriteEventsTable(std::FILE* file, const std::vector<Event>& events);
void WriteGlitchTable(std::FILE* file, const std::vector<Glitch>& glitches);
void PrintCleanWindows(std::FILE* console, const std::vector<AzimuthWindow>& windows, double width,
                       double fraction);
