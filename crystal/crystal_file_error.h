// A crystal file that cannot be a crystal: the message names the file and the tag or line.
#pragma once

#include <stdexcept>

class CrystalFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
