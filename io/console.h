// The run's console: the echo lines on standard output, which --quiet turns off, and a progress
// line on standard error for long runs at a terminal.
#pragma once

#include <cstdint>
#include <cstdio>

void SetConsoleEcho(bool on);
bool ConsoleEcho();  // true unless turned off

// Shows progress when standard error is a terminal and the echo does not already fill that
// terminal: `phase` ("survey", "intersections") at `done` of `total` steps, and the bytes of
// `files` written so far. Nothing appears during the first second of the run; afterwards the
// line is redrawn at most five times a second. Cheap enough to call for every step.
void StartProgress(std::FILE* const* files, int fileCount);
void ReportProgress(const char* phase, std::int64_t done, std::int64_t total);
void EndProgress();  // clears the line
