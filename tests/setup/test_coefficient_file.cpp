// Lookup of the scattering-factor coefficients of the crystal symbol in the coefficient file:
// which record is found, with which numbers, or why none is. Refusals are among the dialogue's.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "setup/factor_file.h"

namespace {

using Coefs = std::array<float, 9>;
using Result = CoefficientLookup::Result;

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

CoefficientLookup Lookup(const std::string& body, const std::string& upperKey)
{
    std::FILE* file = std::tmpfile();
    std::fwrite(body.data(), 1, body.size(), file), std::rewind(file);
    const CoefficientLookup lookup = FindCoefficientRecord(file, upperKey);
    std::fclose(file);
    return lookup;
}

TEST(CoefficientFile, RecordsOfEveryLayout)
{
    const std::string ge = "Ge " + Numbers(kGe), si = "Si " + Numbers(kSi), zz = "Zz " + Numbers(kZz);
    const std::string twice = kHeader + "gE " + Numbers(kZz) + "\n" + ge + "\nSI " + Numbers(kSi) + "\n";
    const std::string split =
        kHeader + "Ge\n" + Numbers(kGe, "\n") + "\n  Si\t" + Numbers(kSi, " \t ") + "\n" + zz + "\n";
    const std::string oneLine = kHeader + ge + " " + si + " " + zz;  // and no line end at the end
    // Two header lines only: the four line reads also take the Ge and Si records.
    const std::string shortHeader = "f0 table\nkey a1 b1 ...\n" + ge + "\n" + si + "\n" + zz + "\n";
    // A key of more than seven characters never matches; the numbers after it stay its own.
    const std::string longKeys = kHeader + "Siliconx " + Numbers(kGe) + "\nNi " + Numbers(kZz) +
                                 "\nSilicon " + Numbers(kSi) + "\n";
    // A header line of any length is one line: the column line "... c" is not a record.
    const std::string longHeader = std::string(300, 'x') + "\n2\n3\nkey a1 b1 a2 b2 a3 b3 a4 b4 c\n" + si;
    // A word that is not a number ends its record and is read as the next key.
    const std::string resync = kHeader + "Ge 1 2 " + zz + "\n" + si + "\n";
    const struct { std::string body, key; Result result; const Coefs* want; long line; std::string stopper; } cases[] = {
        {twice, "GE", Result::kFound, &kZz, 5, ""}, {twice, "SI", Result::kFound, &kSi, 7, ""},
        {split, "GE", Result::kFound, &kGe, 5, ""}, {split, "SI", Result::kFound, &kSi, 15, ""},
        {oneLine, "ZZ", Result::kFound, &kZz, 5, ""},
        {shortHeader, "GE", Result::kNotFound, nullptr, 0, ""}, {shortHeader, "ZZ", Result::kFound, &kZz, 5, ""},
        {longKeys, "NI", Result::kFound, &kZz, 6, ""}, {longKeys, "SILICON", Result::kFound, &kSi, 7, ""},
        {longKeys, "SILICONX", Result::kNotFound, nullptr, 0, ""},
        {longHeader, "C", Result::kNotFound, nullptr, 0, ""}, {longHeader, "SI", Result::kFound, &kSi, 5, ""},
        {resync, "ZZ", Result::kFound, &kZz, 5, ""}, {resync, "SI", Result::kFound, &kSi, 6, ""},
        {resync, "GE", Result::kIncomplete, nullptr, 5, "Zz"},
        {kHeader + "Si 6,2915 2.4386 3.0353\n", "SI", Result::kIncomplete, nullptr, 5, "6,2915"},
        {kHeader + "Si 1 2 3 4 5 6 7 8 inf\n", "SI", Result::kIncomplete, nullptr, 5, "inf"},
        {kHeader + ge + "\nSi 1 2", "SI", Result::kIncomplete, nullptr, 6, ""}, {kHeader, "SI", Result::kNotFound, nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " in:\n" + c.body.substr(0, 400));
        const CoefficientLookup lookup = Lookup(c.body, c.key);
        ASSERT_EQ(lookup.result, c.result);
        if (c.result == Result::kNotFound) continue;
        EXPECT_EQ(lookup.keyLine, c.line);
        EXPECT_EQ(lookup.stopper, c.stopper);
        for (int i = 0; c.want != nullptr && i < 9; ++i) EXPECT_EQ(lookup.coefficients[i], (*c.want)[i]) << i;
    }
}

}  // namespace
