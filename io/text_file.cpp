#include "io/text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "io/run_error.h"

std::string ReadTextFile(const std::string& path, const char* what, std::size_t largest, const char* notOne)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RunError::Refusal(Printed("The %s %s cannot be opened: %s\n", what, path.c_str(), std::strerror(errno)));
    std::string text;
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (text.size() > largest) {
            throw RunError::Refusal(Printed("The %s %s is larger than %zu MiB: %s\n", what, path.c_str(), largest >> 20, notOne));
        }
    }
    if (file.bad()) throw RunError::Refusal(Printed("The %s %s cannot be read\n", what, path.c_str()));
    return text;
}
