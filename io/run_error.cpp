#include "io/run_error.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

std::string Printed(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return std::string(text.data(), text.size() - 1);
}

std::string PowerOfTen(double exponent)
{
    double whole = std::floor(exponent) + 0.0;  // never -0
    double mantissa = std::pow(10.0, exponent - whole);
    if (Printed("%.3g", mantissa) == "10") mantissa = 1.0, whole += 1.0;  // 9.9996e+899 rounds to 1e+900
    return Printed("%.3ge%+03.0f", mantissa, whole);
}

int ReportRunError(const RunError& error, bool fromOptions)
{
    std::FILE* console = error.channel() == RunError::Channel::kOutput && !fromOptions ? stdout : stderr;
    std::fputs(error.what(), console);
    // The dialogue's closing line belongs to the dialogue; a run from options ends with its message.
    if (error.closingLine() && !fromOptions) std::fputs("Program QOR exits with error \n", stdout);
    return error.status();
}
