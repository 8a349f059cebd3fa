#include "io/run_error.h"

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

int ReportRunError(const RunError& error)
{
    const std::string message = error.what();
    std::fputs(message.c_str(), error.channel() == RunError::Channel::kOutput ? stdout : stderr);
    if (error.closingLine()) std::fputs("Program QOR exits with error \n", stdout);
    return error.status();
}
