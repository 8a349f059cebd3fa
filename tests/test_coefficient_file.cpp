// Lookup of the scattering-factor coefficients of the crystal symbol in the coefficient file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>

#include "setup/factor_file.h"
#include "setup/input_struct.h"

namespace {

using Coefs = std::array<float, 9>;

const std::string kHeader = "f0 table\nfour-Gaussian coefficients\nfor tests\nkey a1 b1 ...\n";
const Coefs kGe = {1, 2, 3, 4, 5, 6, 7, 8, 9};
const Coefs kSi = {6.2915f, 2.4386f, 3.0353f, 32.3337f, 1.9891f,
                   0.6785f, 1.5410f, 81.6937f, 1.1407f};
const Coefs kZz = {11, 12, 13, 14, 15, 16, 17, 18, 19};
const Coefs kCut = {1, 2, -99, -99, -99, -99, -99, -99, -99};  // two read, the rest as before

std::string Numbers(const Coefs& c, const std::string& sep = " ")
{
    std::string out;
    for (float v : c) out += (out.empty() ? "" : sep) + std::to_string(v);
    return out;
}

// Writes a coefficient file named after the running test.
std::string Write(const std::string& content)
{
    const std::string path = ::testing::TempDir() + "kelto_f0_" +
                             testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// A record with factorFile and symbol set and f0Coef holding -99.
InputStruct Record(const std::string& path, const std::string& symbol)
{
    InputStruct r{};
    std::snprintf(r.factorFile, sizeof r.factorFile, "%s", path.c_str());
    std::snprintf(r.symbol, sizeof r.symbol, "%s", symbol.c_str());
    for (float& v : r.f0Coef) v = -99.0f;
    return r;
}

// Looks `symbol` up; a null `want` means that no record may match. A match upper-cases the symbol.
InputStruct ExpectLookup(const std::string& path, std::string symbol, const Coefs* want)
{
    SCOPED_TRACE("symbol " + symbol);
    InputStruct r = Record(path, symbol);
    const int result = ReadFParam(&r);
    EXPECT_EQ(result == 0, want != nullptr);
    if (result != 0 || want == nullptr) return r;
    for (char& ch : symbol) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(r.symbol, symbol);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(r.f0Coef[i], (*want)[i]) << "coefficient " << i;
    return r;
}

TEST(CoefficientFile, LookupsInFilesOfEveryLayout)
{
    const std::string ge = "Ge " + Numbers(kGe), si = "Si " + Numbers(kSi), zz = "Zz " + Numbers(kZz);
    const std::string twice = kHeader + "gE " + Numbers(kZz) + "\n" + ge + "\nSI " + Numbers(kSi) + "\n";
    const std::string split =
        kHeader + "Ge\n" + Numbers(kGe, "\n") + "\n  Si\t" + Numbers(kSi, " \t ") + "\n" + zz + "\n";
    const std::string oneLine = kHeader + ge + " " + si + " " + zz + "\n";
    // Two header lines only: the four line reads also take the Ge and Si records.
    const std::string shortHeader = "f0 table\nkey a1 b1 ...\n" + ge + "\n" + si + "\n" + zz + "\n";
    // Keys of more than seven characters never match; their numbers go with them.
    const std::string longKeys =
        kHeader + "Siliconx " + Numbers(kGe) + "\n" + si + "\nSilicon " + Numbers(kZz) + "\n";
    // The read of Ge stops at "Zz", which is then read as a key followed by nine numbers.
    const std::string resync = kHeader + "Ge 1 2 " + zz + "\n" + si + "\n";
    const struct { std::string body, symbol; const Coefs* want; } cases[] = {
        {twice, "ge", &kZz}, {twice, "Si", &kSi},  // whatever the case; the first record wins
        {kHeader + ge + "\n" + si + "\n", "si", &kSi},  // the last record needs a line end after it
        {split, "ge", &kGe}, {split, "zz", &kZz}, {oneLine, "si", &kSi}, {oneLine, "ZZ", &kZz},
        {shortHeader, "ge", nullptr}, {shortHeader, "si", nullptr}, {shortHeader, "zz", &kZz},
        {longKeys, "si", &kSi}, {longKeys, "silicon", &kZz}, {longKeys, "siliconx", nullptr},
        {longKeys, "siliconxyz", nullptr},
        {resync, "ge", &kCut}, {resync, "zz", &kZz}, {resync, "si", &kSi},
    };
    for (const auto& c : cases) ExpectLookup(Write(c.body), c.symbol, c.want);

    // A file that ends within the header compares nothing: the symbol stays as typed.
    EXPECT_STREQ(ExpectLookup(Write("f0 table\n" + ge + "\n"), "ge", nullptr).symbol, "ge");
}

// The fatal messages go to standard output; send them to standard error for the death matcher.
void ReadFactorsToStderr(InputStruct r)
{
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    ReadFactors(&r);
}

TEST(CoefficientFile, SymbolNotFoundAndMissingFileEndTheRun)
{
    const InputStruct unended = Record(Write(kHeader + "Ge " + Numbers(kGe) + "\nSi " + Numbers(kSi)),
                                       "si");
    EXPECT_EXIT(ReadFactorsToStderr(unended), ::testing::ExitedWithCode(1),
                "Symbol SI not found\nProgram QOR exits with error");
    const InputStruct absent = Record(::testing::TempDir() + "kelto_no_folder/absent.txt", "si");
    EXPECT_EXIT(ReadFactorsToStderr(absent), ::testing::ExitedWithCode(1),
                "File with f0 data \\(.*absent\\.txt\\) doesn't exist\nProgram QOR exits with error");
}

TEST(CoefficientFile, ShippedTable)
{
    const std::string path = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
    ExpectLookup(path, "si", &kSi);
    // Ions and valence states; a1 as listed in the table.
    for (auto [symbol, a1] : {std::pair{"Fe3+", 11.1764f}, {"O1-", 4.1916f}, {"Cval", 2.26069f}}) {
        InputStruct r = Record(path, symbol);
        EXPECT_TRUE(ReadFParam(&r) == 0 && r.f0Coef[0] == a1) << symbol;
    }
}

}  // namespace
