#pragma once

// The program's fatal exit: prints the error line on standard output and ends with `code`.
[[noreturn]] void ExitQOR(int code);

// Ends the run with `status`. Every early end of the program goes through here, so that a host
// that drives the program's routines in-process (a fuzzing harness) can intercept it.
[[noreturn]] void EndProcess(int status);

// Replaces how EndProcess ends the run; the handler must not return (it may throw). nullptr
// restores the default, which flushes every stream and exits the process.
using EndProcessHandler = void (*)(int status);
void SetEndProcessHandler(EndProcessHandler handler);
