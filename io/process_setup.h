// What the process arranges before it talks to anyone: standard descriptors that exist, write
// failures that are reported rather than fatal signals, and interrupts that clean up.
#pragma once

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that no file the run
// creates can take the place of standard input, output or error. False when that failed.
bool OpenClosedStandardDescriptors();

// A closed pipe (SIGPIPE) or the file-size limit (SIGXFSZ) would end the process without a word;
// ignored, they make the write fail with EPIPE or EFBIG, which the writers report.
void IgnoreWriteSignals();

// On an interrupt (SIGINT, SIGTERM, SIGHUP, SIGQUIT): takes a progress line off standard error, calls
// `cleanup` (which must be async-signal-safe) and ends the process with the conventional status 128 +
// the signal number; a signal ignored when the process started stays ignored. With `outcome`
// (async-signal-safe too), it first says so on standard error, once `cleanup` is done: "kelto:
// stopped by SIGINT; " and what `outcome` says the run left.
void EndOnInterrupt(void (*cleanup)(), const char* (*outcome)() = nullptr);
