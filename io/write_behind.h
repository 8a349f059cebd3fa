// A stream whose bytes a writer thread hands to the file while the caller formats the next ones.
// Two buffers take turns: the caller fills one while the thread writes the other, so the order is
// kept and the memory bounded. It is an ordinary FILE*: the writers, the error checks and the
// messages that name a stream stay as they are.
#pragma once

#include <cstdio>

// A stream writing to `fd` (which it closes with the stream). A failed write of the thread makes
// the caller's next write to the stream fail with the same errno.
std::FILE* OpenWriteBehind(int fd);

// Waits until every byte handed to `stream` is written; false (errno set) when a write failed.
// For the run's console, which is drained rather than closed.
bool DrainWriteBehind(std::FILE* stream);

// The bytes the file behind `stream` has taken so far (for an ordinary stream, its position).
long long WrittenBytes(std::FILE* stream);

// Makes standard output, unless it is a terminal, a write-behind stream on descriptor 1 from now
// until the process ends (the bytes are drained when it exits): the survey's echo lines are many.
void WriteConsoleBehind();
