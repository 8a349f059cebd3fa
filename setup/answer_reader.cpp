#include "setup/answer_reader.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// True once an answer has been read and its line end not yet consumed.
bool g_midLine = false;

// True when a character can be taken from standard input without blocking: either the stdio
// buffer still holds some, or the descriptor reports data (or end of file).
bool InputReadyWithoutWaiting()
{
#ifdef __GLIBC__
    if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;
#endif
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0;
}

}  // namespace

void ResetAnswerReader() { g_midLine = false; }

void FlushStandardInput()
{
    if (g_midLine) {
        while (InputReadyWithoutWaiting()) {
            int c = std::getc(stdin);
            if (c == EOF || c == '\n') break;
        }
        g_midLine = false;
    }
    if (::isatty(STDIN_FILENO)) {
        __fpurge(stdin);
        ::tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

bool ReadIntAnswer(int* value)
{
    std::fflush(stdout);
    // "%d" takes leading white space, an optional sign and decimal digits. The digits are
    // gathered here so that a value outside the 32-bit range is refused instead of overflowing;
    // the text that is accepted, and where the read stops, are those of "%d".
    int c = std::getc(stdin);
    while (c != EOF && std::isspace(c)) c = std::getc(stdin);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = (c == '-');
        c = std::getc(stdin);
    }
    if (c == EOF || !std::isdigit(c)) {
        if (c != EOF) std::ungetc(c, stdin);
        return false;
    }
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    while (c != EOF && std::isdigit(c)) {
        if (!tooLarge) {
            magnitude = magnitude * 10 + (c - '0');
            if (magnitude > std::int64_t{INT_MAX} + 1) tooLarge = true;
        }
        c = std::getc(stdin);
    }
    if (c != EOF) std::ungetc(c, stdin);
    g_midLine = true;
    std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (tooLarge || signedValue > INT_MAX || signedValue < INT_MIN) return false;
    *value = static_cast<int>(signedValue);
    return true;
}

bool ReadFloatAnswer(float* value)
{
    std::fflush(stdout);
    float read = 0.0f;
    if (std::scanf("%f", &read) != 1) return false;
    g_midLine = true;
    *value = read;
    return true;
}

bool ReadWordAnswer(char* word, std::size_t capacity)
{
    std::fflush(stdout);
    // Read one character more than fits, so that a word that would not fit is recognised as such
    // and refused rather than cut short.
    std::vector<char> buffer(capacity + 1, '\0');
    char format[32];
    std::snprintf(format, sizeof format, "%%%zus", capacity);
    if (std::scanf(format, buffer.data()) != 1) return false;
    g_midLine = true;
    std::size_t length = std::strlen(buffer.data());
    if (length >= capacity) return false;
    std::memcpy(word, buffer.data(), length + 1);
    return true;
}
