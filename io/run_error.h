// How a run that cannot go on ends. Library code throws RunError; only main (or a host that
// calls the library: a test, a fuzzer, the Python module) decides what becomes of it.
#pragma once

#include <stdexcept>
#include <string>

class RunError : public std::runtime_error {
public:
    enum class Channel { kOutput, kError };  // standard output or standard error

    // `message` (with its own line ends) for `channel`, and the exit status.
    RunError(int status, const std::string& message, Channel channel, bool closingLine)
        : std::runtime_error(message), status_(status), channel_(channel), closingLine_(closingLine) {}

    // A refused run: the message on standard output, followed by the closing line, status 1.
    static RunError Refusal(const std::string& message) { return RunError(1, message, Channel::kOutput, true); }

    int status() const { return status_; }
    Channel channel() const { return channel_; }
    // True when "Program QOR exits with error \n" follows the message on standard output.
    bool closingLine() const { return closingLine_; }

private:
    int status_;
    Channel channel_;
    bool closingLine_;
};

// Text as std::printf writes it for `format`.
std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

// 10 to the power `exponent` (finite) as "%.3g" writes a number: "1e+900", "6.05e-312". The text
// stays finite for quantities no double holds, so that a message can name them.
std::string PowerOfTen(double exponent);

// Writes the error as the program reports it: its message on its channel, then, in the dialogue,
// the closing line; returns its status. A run from options (`fromOptions`) writes the message to
// standard error, without the closing line.
int ReportRunError(const RunError& error, bool fromOptions = false);
