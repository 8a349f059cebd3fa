// The grammar of kelto's command line: which options exist, how a value follows its option, and
// the help. Values are collected as typed; cli/option_translation turns them into a run.
#pragma once

#include <map>
#include <string>
#include <vector>

// A command line that cannot be a run: what is wrong, in one line.
struct UsageError {
    std::string what;
};

// The options given and their values, as typed.
class OptionWords {
public:
    bool Has(const std::string& name) const { return values_.count(name) > 0; }
    // The value, "" when the option was not given (the first, of an option given several times).
    const std::string& Value(const std::string& name) const;
    // Every value of an option that may be given several times, in order.
    const std::vector<std::string>& Values(const std::string& name) const;
    bool quiet = false;
    bool fitSecond = false;  // --fit-second

private:
    friend bool ReadOptionWords(int, const char* const*, OptionWords*);
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> repeated_;
};

// Reads the options into `words`. Returns false when --help or --version was asked for (and
// printed); throws UsageError for an unknown option, a stray word, a missing or empty value.
bool ReadOptionWords(int argc, const char* const* argv, OptionWords* words);
