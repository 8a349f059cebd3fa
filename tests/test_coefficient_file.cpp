// Lookup of the scattering-factor coefficients of the crystal symbol in the coefficient file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "setup/factor_file.h"
#include "setup/input_struct.h"

namespace {

namespace fs = std::filesystem;
using Coefs = std::array<float, 9>;

const std::string kHeader = "f0 table\nfour-Gaussian coefficients\nfor tests\nkey a1 b1 ...\n";
const Coefs kGe = {1, 2, 3, 4, 5, 6, 7, 8, 9};
const Coefs kSi = {6.2915f, 2.4386f, 3.0353f, 32.3337f, 1.9891f, 0.6785f, 1.5410f, 81.6937f, 1.1407f};
const Coefs kZz = {11, 12, 13, 14, 15, 16, 17, 18, 19};

std::string Numbers(const Coefs& c, const std::string& sep = " ")
{
    std::string out;
    for (float v : c) out += (out.empty() ? "" : sep) + std::to_string(v);
    return out;
}

class CoefficientFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(::testing::TempDir()) / "kelto_f0" / info->test_suite_name() / info->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& content)
    {
        const std::string path = (dir_ / "f0.txt").string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path dir_;
};

// Record with factorFile and symbol set and f0Coef holding a sentinel.
InputStruct Record(const std::string& path, const std::string& symbol)
{
    InputStruct r{};
    std::snprintf(r.factorFile, sizeof r.factorFile, "%s", path.c_str());
    std::snprintf(r.symbol, sizeof r.symbol, "%s", symbol.c_str());
    for (float& v : r.f0Coef) v = -99.0f;
    return r;
}

// Looks `symbol` up; `want` null means that no record may match.
void ExpectLookup(const std::string& path, const std::string& symbol, const Coefs* want)
{
    SCOPED_TRACE("symbol " + symbol);
    InputStruct r = Record(path, symbol);
    const int result = ReadFParam(&r);
    if (want == nullptr) {
        EXPECT_NE(result, 0);
        return;
    }
    ASSERT_EQ(result, 0);
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(r.f0Coef[i], (*want)[i]) << "coefficient " << i;
}

// The fatal messages go to standard output; send them to standard error for the death matcher.
void ReadFactorsToStderr(InputStruct* r)
{
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    ReadFactors(r);
}

TEST_F(CoefficientFile, KeyMatchesWhateverTheCaseFirstRecordWins)
{
    const std::string path = Write(kHeader + "gE " + Numbers(kZz) + "\nGe " + Numbers(kGe) +
                                   "\nSI " + Numbers(kSi) + "\n");
    ExpectLookup(path, "ge", &kZz);
    ExpectLookup(path, "Si", &kSi);
    InputStruct r = Record(path, "ge");
    ReadFParam(&r);
    EXPECT_STREQ(r.symbol, "GE");
}

TEST_F(CoefficientFile, LastRecordNeedsTrailingWhiteSpace)
{
    for (const std::string tail : {"", "\n", " ", "\t\n\n"}) {
        SCOPED_TRACE(testing::PrintToString(tail));
        const std::string body = kHeader + "Ge " + Numbers(kGe) + "\nSi " + Numbers(kSi);
        ExpectLookup(Write(body + tail), "si", tail.empty() ? nullptr : &kSi);
    }
    InputStruct r = Record(Write(kHeader + "Ge " + Numbers(kGe) + "\nSi " + Numbers(kSi)), "si");
    EXPECT_EXIT(ReadFactorsToStderr(&r), ::testing::ExitedWithCode(1),
                "Symbol SI not found\nProgram QOR exits with error");
}

TEST_F(CoefficientFile, MissingFileEndsTheRun)
{
    InputStruct r = Record((dir_ / "absent.txt").string(), "si");
    EXPECT_EXIT(ReadFactorsToStderr(&r), ::testing::ExitedWithCode(1),
                "File with f0 data \\(.*absent\\.txt\\) doesn't exist\nProgram QOR exits with error");
}

TEST_F(CoefficientFile, LineLayoutOfRecordsDoesNotMatter)
{
    const std::string layouts[] = {
        "Ge " + Numbers(kGe) + "\nSi " + Numbers(kSi) + "\nZz " + Numbers(kZz) + "\n",
        "Ge\n" + Numbers(kGe, "\n") + "\n  Si\t" + Numbers(kSi, " \t ") + "\nZz " + Numbers(kZz) + "\n",
        "Ge " + Numbers(kGe) + " Si " + Numbers(kSi) + " Zz " + Numbers(kZz) + "\n",
    };
    for (const std::string& body : layouts) {
        SCOPED_TRACE(body);
        const std::string path = Write(kHeader + body);
        ExpectLookup(path, "Ge", &kGe);
        ExpectLookup(path, "si", &kSi);
        ExpectLookup(path, "ZZ", &kZz);
    }
}

TEST_F(CoefficientFile, ShortHeaderSwallowsRecords)
{
    // Two header lines: the four line reads also take the Ge and Si records.
    const std::string path = Write("f0 table\nkey a1 b1 ...\nGe " + Numbers(kGe) + "\nSi " +
                                   Numbers(kSi) + "\nZz " + Numbers(kZz) + "\n");
    ExpectLookup(path, "ge", nullptr);
    ExpectLookup(path, "si", nullptr);
    ExpectLookup(path, "zz", &kZz);

    // A file that ends within the header compares nothing: the symbol stays as typed.
    InputStruct none = Record(Write("f0 table\nGe " + Numbers(kGe) + "\n"), "ge");
    EXPECT_NE(ReadFParam(&none), 0);
    EXPECT_STREQ(none.symbol, "ge");
}

TEST_F(CoefficientFile, KeysAndSymbolsLongerThanSevenNeverMatch)
{
    const std::string path = Write(kHeader + "Siliconx " + Numbers(kGe) + "\nSi " + Numbers(kSi) +
                                   "\nSilicon " + Numbers(kZz) + "\n");
    ExpectLookup(path, "si", &kSi);  // the numbers of the long key are consumed with it
    ExpectLookup(path, "silicon", &kZz);
    ExpectLookup(path, "siliconx", nullptr);
    ExpectLookup(path, "siliconxyz", nullptr);
}

TEST_F(CoefficientFile, NonNumericTokenBecomesTheNextKey)
{
    // The read of Ge stops at "Zz"; Zz is then read as a key followed by nine numbers.
    const std::string path = Write(kHeader + "Ge 1 2 Zz " + Numbers(kZz) + "\nSi " + Numbers(kSi) + "\n");
    ExpectLookup(path, "zz", &kZz);
    ExpectLookup(path, "si", &kSi);
    InputStruct ge = Record(path, "ge");
    EXPECT_EQ(ReadFParam(&ge), 0);
    EXPECT_EQ(ge.f0Coef[0], 1.0f);
    EXPECT_EQ(ge.f0Coef[1], 2.0f);
}

TEST_F(CoefficientFile, ShippedTable)
{
    const std::string path = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
    InputStruct si = Record(path, "si");
    ASSERT_EQ(ReadFParam(&si), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(si.f0Coef[i], kSi[i]) << "coefficient " << i;

    // Ions, valence states and a lower-case element; a1 as listed in the table.
    const struct { const char* symbol; float a1; } keys[] = {
        {"Fe3+", 11.1764f}, {"O1-", 4.1916f}, {"Cval", 2.26069f}, {"cu", 13.338f}};
    for (const auto& k : keys) {
        InputStruct r = Record(path, k.symbol);
        EXPECT_EQ(ReadFParam(&r), 0) << k.symbol;
        EXPECT_EQ(r.f0Coef[0], k.a1) << k.symbol;
    }
}

}  // namespace
