#include "setup/factor_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "setup/answer_source.h"
#include "io/run_error.h"

namespace {

constexpr int kHeaderLines = 4;
constexpr std::size_t kKeyCapacity = 7;
// Longer words are never keys or numbers; only this much of them is kept for messages.
constexpr std::size_t kWordCapacity = 64;

// The words of the file, one at a time, with the line each stands on.
class WordReader {
public:
    explicit WordReader(std::FILE* file) : file_(file) {}

    void SkipLines(int count)
    {
        for (int c = 0; count > 0 && (c = std::getc(file_)) != EOF;) {
            if (c == '\n') {
                ++line_;
                --count;
            }
        }
    }

    // The next word, false at the end of the file (or on a read error, which ends it too).
    bool Next(std::string* word, std::size_t* length)
    {
        int c = std::getc(file_);
        for (; c != EOF && std::isspace(c); c = std::getc(file_)) {
            if (c == '\n') ++line_;
        }
        if (c == EOF) return false;
        word->clear();
        *length = 0;
        for (; c != EOF && !std::isspace(c); c = std::getc(file_), ++*length) {
            if (word->size() < kWordCapacity) word->push_back(static_cast<char>(c));
        }
        if (c != EOF) std::ungetc(c, file_);
        return true;
    }

    long Line() const { return line_; }

private:
    std::FILE* file_;
    long line_ = 1;
};

// A whole word that is a finite decimal number, as single precision.
bool ParseNumber(const std::string& word, std::size_t length, float* value)
{
    if (length != word.size() || word.empty() || word.find('\0') != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtof(word.c_str(), &end);
    return end == word.c_str() + word.size() && std::isfinite(*value);
}

bool KeyMatches(std::string key, std::size_t length, const std::string& upperKey)
{
    if (length > kKeyCapacity) return false;
    StrUpper(key.data());
    return key.size() == length && std::strlen(key.c_str()) == length && key == upperKey;
}

// Refuses a coefficient file that open() or what follows it failed on with `error`: a name that
// leads nowhere does not exist; any other failure (no permission, no descriptor left, a folder)
// says why, so that the user does not look for a file that is there.
[[noreturn]] void RefuseUnopened(const char* name, int error, const AnswerSource& answers)
{
    if (error == ENOENT || error == ENOTDIR) {
        throw RunError::Refusal(
            Printed("File with f0 data (%s) doesn't exist%s\n", name, answers.Note(AnswerOption::kTable).c_str()));
    }
    throw RunError::Refusal(Printed("File with f0 data (%s) cannot be opened%s: %s\n", name,
                                    answers.Note(AnswerOption::kTable).c_str(),
                                    std::strerror(error)));
}

// Opens the coefficient file for reading, refusing what is not a regular file before reading a
// byte: a fifo or a device could block or never end.
std::FILE* OpenCoefficientFile(const char* name, const AnswerSource& answers)
{
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) RefuseUnopened(name, errno, answers);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        RefuseUnopened(name, error, answers);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        RefuseUnopened(name, EISDIR, answers);  // open() takes a folder for reading; reading it fails
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw RunError::Refusal(Printed("File with f0 data (%s) is not a regular file%s\n", name,
                                        answers.Note(AnswerOption::kTable).c_str()));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "r");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        RefuseUnopened(name, error, answers);
    }
    return file;
}

}  // namespace

char* StrUpper(char* text)
{
    for (char* c = text; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return text;
}

CoefficientLookup FindCoefficientRecord(std::FILE* file, const std::string& upperKey)
{
    WordReader words(file);
    words.SkipLines(kHeaderLines);
    CoefficientLookup lookup;
    std::string word;
    std::size_t length = 0;
    bool haveWord = words.Next(&word, &length);
    while (haveWord) {
        lookup.compared = true;
        const bool match = KeyMatches(word, length, upperKey);
        lookup.keyLine = words.Line();
        lookup.numbers = 0;
        float numbers[9];
        // The numbers of the record; a word that is not one becomes the next key.
        while ((haveWord = words.Next(&word, &length)) && lookup.numbers < 9 &&
               ParseNumber(word, length, &numbers[lookup.numbers])) {
            lookup.lastLine = words.Line();
            ++lookup.numbers;
            if (lookup.numbers == 9) {
                haveWord = words.Next(&word, &length);
                break;
            }
        }
        if (!match) continue;
        if (lookup.numbers < 9) {
            lookup.result = CoefficientLookup::kIncomplete;
            lookup.stopper = haveWord ? word : std::string();
            return lookup;
        }
        std::memcpy(lookup.coefficients, numbers, sizeof numbers);
        lookup.result = CoefficientLookup::kFound;
        return lookup;
    }
    return lookup;
}

int ReadFParam(InputStruct* record, const AnswerSource& answers)
{
    std::FILE* file = OpenCoefficientFile(record->factorFile, answers);
    char upper[sizeof record->symbol];
    std::memcpy(upper, record->symbol, sizeof upper);
    const CoefficientLookup lookup = FindCoefficientRecord(file, StrUpper(upper));
    std::fclose(file);
    // The symbol is kept in upper case once a record has been compared with it.
    if (lookup.compared) StrUpper(record->symbol);
    if (lookup.result == CoefficientLookup::kIncomplete) {
        const std::string reason = lookup.stopper.empty() ? Printed("the file ends after %d\n", lookup.numbers)
                                                           : Printed("\"%s\" is not a number\n", lookup.stopper.c_str());
        throw RunError::Refusal(Printed("The record %s%s on line %ld of %s does not hold nine numbers: ", record->symbol,
                                        answers.Note(AnswerOption::kSymbol).c_str(), lookup.keyLine, record->factorFile) + reason);
    }
    if (lookup.result != CoefficientLookup::kFound) return 1;
    std::memcpy(record->f0Coef, lookup.coefficients, sizeof lookup.coefficients);
    return 0;
}

void ReadFactors(InputStruct* record, const AnswerSource& answers)
{
    if (ReadFParam(record, answers) != 0) {
        throw RunError::Refusal(Printed("Symbol %s not found%s\n", record->symbol, answers.Note(AnswerOption::kSymbol).c_str()));
    }
}
