// The run's progress line on standard error, for long runs at a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

// Shows progress when standard error is a terminal and the echo of the run (`echo`) does not
// already fill that terminal: `phase` ("survey", "intersections") at `done` of `total` steps, and
// the bytes the files of `files` have taken so far; a `total` of 0 says that nothing is written
// yet ("counting reflection families"). Nothing appears during the first second of the run;
// afterwards the line is redrawn at most five times a second. Cheap enough to call for every step.
class ProgressLine {
public:
    void Start(std::FILE* const* files, int fileCount, bool echo);
    void Report(const char* phase, std::int64_t done, std::int64_t total);
    void End();  // clears the line

private:
    using Clock = std::chrono::steady_clock;
    bool shown_ = false;
    bool active_ = false;
    std::FILE* const* files_ = nullptr;
    int fileCount_ = 0;
    Clock::time_point next_;
};
