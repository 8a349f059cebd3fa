// The run's progress line on standard error, for long runs at a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

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

// The progress of a planning run on `stream` (standard error), when `show`: the phase the run is in
// ("glitch map: the lines from 5 to 80 keV"), the share of it done where one is known, and the
// seconds since the line was made. The planning engine says nothing while it works, so a thread of
// the line's own draws it: nothing appears during the first `quiet` stretch, then the line is
// redrawn every `every` until End, which clears it. Without `show` no thread is started and nothing
// is ever written. Phase and Share may be called from any thread.
class PhaseLine {
public:
    using Clock = std::chrono::steady_clock;
    explicit PhaseLine(bool show, std::FILE* stream = stderr, Clock::duration quiet = std::chrono::seconds(1),
                       Clock::duration every = std::chrono::milliseconds(200));
    ~PhaseLine();
    PhaseLine(const PhaseLine&) = delete;
    PhaseLine& operator=(const PhaseLine&) = delete;

    // A new phase, whose share is not known (yet).
    void Phase(std::string name);
    // `done` of `total` steps of the phase are done.
    void Share(std::int64_t done, std::int64_t total);
    // Takes the line off the screen before the caller writes a line of its own to the same terminal;
    // it is drawn again, below, at its next turn.
    void Clear();
    void End();

private:
    void Run();
    void Draw();  // with mutex_ held

    std::FILE* stream_;
    Clock::duration quiet_, every_;
    Clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool shown_ = false;
    std::string phase_;
    std::atomic<std::int64_t> done_{0}, total_{0};
    std::thread thread_;
};

// True when standard error is a terminal, where progress lines go.
bool StandardErrorIsTerminal();

// For the interrupt handler (async-signal-safe): takes a progress line off standard error, if one
// stands there; true when it did.
bool EraseProgressLineOnSignal();
