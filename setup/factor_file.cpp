#include "setup/factor_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "setup/exit_qor.h"

namespace {

constexpr int kHeaderLines = 4;
constexpr int kLineBuffer = 256;
constexpr int kKeyBuffer = 8;  // keys of at most 7 characters

// Reads the key word of the next record. A word longer than the key buffer is consumed whole and
// reported as too long, so that it can never match and its numbers are read as that record's.
bool ReadKey(std::FILE* file, char (&key)[kKeyBuffer], bool* tooLong)
{
    *tooLong = false;
    if (std::fscanf(file, " %7s", key) != 1) return false;
    int next = std::getc(file);
    if (next == EOF) return true;
    if (!std::isspace(next)) {
        *tooLong = true;
        std::fscanf(file, "%*s");
        return true;
    }
    std::ungetc(next, file);
    return true;
}

}  // namespace

char* StrUpper(char* text)
{
    for (char* c = text; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return text;
}

int ReadFParam(InputStruct* record)
{
    std::FILE* file = std::fopen(record->factorFile, "r");
    // A folder opens for reading on some systems but holds no text to read.
    struct stat info {};
    if (file != nullptr && (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
        std::fclose(file);
        file = nullptr;
    }
    if (file == nullptr) {
        std::printf("File with f0 data (%s) doesn't exist\n", record->factorFile);
        ExitQOR(1);
    }

    char line[kLineBuffer];
    for (int i = 0; i < kHeaderLines; ++i) {
        if (std::fgets(line, sizeof line, file) == nullptr) break;
    }

    int comparison = 1;
    for (;;) {
        char key[kKeyBuffer] = {};
        bool keyTooLong = false;
        float* f = record->f0Coef;
        if (ReadKey(file, key, &keyTooLong)) {
            std::fscanf(file, "   %f %f %f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4],
                        &f[5], &f[6], &f[7], &f[8]);
        }
        // A read error ends the scan just as the end of the file does.
        if (std::feof(file) || std::ferror(file)) break;
        StrUpper(key);
        StrUpper(record->symbol);
        comparison = keyTooLong ? 1 : std::strcmp(key, record->symbol);
        if (comparison == 0) break;
    }
    std::fclose(file);
    return comparison;
}

void ReadFactors(InputStruct* record)
{
    if (ReadFParam(record) != 0) {
        std::printf("Symbol %s not found\n", record->symbol);
        ExitQOR(1);
    }
}
