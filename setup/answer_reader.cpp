#include "setup/answer_reader.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A word longer than this is no answer to any question; it is read to its end all the same.
constexpr std::size_t kLongestWord = std::size_t{1} << 20;

// Where the reading of standard input stands, kept at namespace scope: standard input is the
// process's one stream, read through its one stdio buffer, so where its reading stands is the
// process's too.
bool g_midLine = false;  // an answer has been read and its line end not yet consumed
bool g_atStart = true;   // no answer read yet: a byte-order mark may precede the first

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

// Skips a UTF-8 byte-order mark at the very start of the input. Anything else that starts with
// its first byte is no valid answer: false.
bool SkipByteOrderMark()
{
    g_atStart = false;
    const int first = std::getc(stdin);
    if (first != 0xEF) {
        if (first != EOF) std::ungetc(first, stdin);
        return true;
    }
    return std::getc(stdin) == 0xBB && std::getc(stdin) == 0xBF;
}

// The next word of standard input; false at the end of input, or when the word is too long to
// be any answer. The white space after the word is left unread.
bool ReadWord(std::string* word)
{
    std::fflush(stdout);
    if (g_atStart && !SkipByteOrderMark()) return false;
    int c = std::getc(stdin);
    while (c != EOF && std::isspace(c)) c = std::getc(stdin);
    if (c == EOF) return false;
    word->clear();
    std::size_t length = 0;
    for (; c != EOF && !std::isspace(c); c = std::getc(stdin), ++length) {
        if (length < kLongestWord) word->push_back(static_cast<char>(c));
    }
    if (c != EOF) std::ungetc(c, stdin);
    g_midLine = true;
    return length <= kLongestWord;
}

}  // namespace

void FlushStandardInput()
{
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (g_midLine) {
        while (!terminal || InputReadyWithoutWaiting()) {
            const int c = std::getc(stdin);
            if (c == EOF || c == '\n') break;
        }
        g_midLine = false;
    }
    if (terminal) {
        __fpurge(stdin);
        ::tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

bool ParseIntAnswer(const std::string& text, int* value)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    if (i == text.size()) return false;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > std::int64_t{INT_MAX} + 1) return false;
    }
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX || signedValue < INT_MIN) return false;
    *value = static_cast<int>(signedValue);
    return true;
}

bool ParseFloatAnswer(const std::string& text, float* value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
        std::memchr(text.data(), '\0', text.size()) != nullptr) {
        return false;
    }
    char* end = nullptr;
    const float read = std::strtof(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    *value = read;
    return true;
}

bool ReadIntAnswer(int* value)
{
    std::string word;
    return ReadWord(&word) && ParseIntAnswer(word, value);
}

bool ReadFloatAnswer(float* value)
{
    std::string word;
    return ReadWord(&word) && ParseFloatAnswer(word, value);
}

bool ReadWordAnswer(char* word, std::size_t capacity)
{
    std::string read;
    if (!ReadWord(&read) || read.size() >= capacity) return false;
    std::memcpy(word, read.c_str(), read.size() + 1);
    return true;
}
