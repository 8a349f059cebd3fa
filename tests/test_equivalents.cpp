// Symmetry equivalents of a reflection family: the order in which they are visited and their
// number, observed through the reflection table. With the primary (1 2 5), parallel to none of
// the families below, and a very short wavelength, every equivalent writes at least one row.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "geometry/equivalents.h"
#include "run_record.h"

namespace {

using Hkl = std::array<int, 3>;

constexpr float kIntensity = 1234.5678f;

// Each permutation with the signs (+,+,+), (+,+,-), (+,-,+), ..., (-,-,-); zeros are not negated.
std::vector<Hkl> WithSigns(const std::vector<Hkl>& permutations)
{
    std::vector<Hkl> out;
    for (const Hkl& p : permutations)
        for (int s = 0; s < 8; ++s)
            if (!((s & 4) && p[0] == 0) && !((s & 2) && p[1] == 0) && !((s & 1) && p[2] == 0))
                out.push_back({s & 4 ? -p[0] : p[0], s & 2 ? -p[1] : p[1], s & 1 ? -p[2] : p[2]});
    return out;
}

// The reflections visited for the family, one entry per visit, into an emptied curve table. The
// rows of one visit differ from one another: a visit begins with a new reflection or with a repeat
// of the first row of the current one.
std::vector<Hkl> Visits(const Hkl& family)
{
    ClearCurveTable();
    InputStruct record = RunRecord(5.431f, 0.005f, 1, 2, 5);
    std::FILE *dat = std::tmpfile(), *mac = std::tmpfile();
    testing::internal::CaptureStdout();  // the curve echo lines
    const auto [h, k, l] = family;
    PrintAllPermutations(dat, mac, &record, h, k, l, 14.0f, 50.0f, kIntensity);
    testing::internal::GetCapturedStdout();
    std::rewind(dat);
    std::vector<Hkl> visits;
    std::string first;
    char line[256];
    for (Hkl r{}; std::fgets(line, sizeof line, dat) &&
                  std::sscanf(line, "%d %d %d", &r[0], &r[1], &r[2]) == 3;) {
        if (visits.empty() || visits.back() != r) first = line;
        if (first == line) visits.push_back(r);
    }
    std::fclose(dat); std::fclose(mac);
    return visits;
}

TEST(Equivalents, VisitsEquivalentsInPermutationThenSignOrder)
{
    const std::vector<std::pair<Hkl, std::vector<Hkl>>> cases = {
        {{1, 1, 1}, WithSigns({{1, 1, 1}})},
        {{2, 0, 0}, WithSigns({{2, 0, 0}, {0, 0, 2}, {0, 2, 0}})},
        {{2, 2, 0}, WithSigns({{2, 2, 0}, {2, 0, 2}, {0, 2, 2}})},
        {{2, 1, 0}, WithSigns({{2, 1, 0}, {2, 0, 1}, {1, 0, 2}, {1, 2, 0}, {0, 1, 2}, {0, 2, 1}})},
        {{3, 2, 1}, WithSigns({{3, 2, 1}, {3, 1, 2}, {2, 1, 3}, {2, 3, 1}, {1, 2, 3}, {1, 3, 2}})},
        {{1, 2, 1}, WithSigns({{1, 2, 1}, {2, 1, 1}, {1, 1, 2}})},  // h = l
        {{3, 1, 1}, WithSigns({{3, 1, 1}, {1, 1, 3}, {1, 3, 1}})},  // k = l
    };
    for (const auto& [family, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "family " << family[0] << family[1] << family[2]);
        EXPECT_EQ(Visits(family), expected);
    }
}

// One form each: hhh, h00, hh0, hk0, hkk, hhl, hkl. Every row carries the family's intensity.
TEST(Equivalents, DistinctVisitsEqualTheMultiplicityOfTheForm)
{
    const std::pair<Hkl, std::size_t> cases[] = {{{4, 4, 4}, 8},  {{5, 0, 0}, 6},  {{3, 3, 0}, 12},
                                                  {{4, 2, 0}, 24}, {{3, 1, 1}, 24}, {{2, 2, 1}, 24},
                                                  {{5, 3, 1}, 48}};
    for (const auto& [family, multiplicity] : cases) {
        SCOPED_TRACE(testing::Message() << "family " << family[0] << family[1] << family[2]);
        const std::vector<Hkl> visits = Visits(family);
        EXPECT_EQ(visits.size(), multiplicity);
        EXPECT_EQ(std::set<Hkl>(visits.begin(), visits.end()).size(), multiplicity);
        for (int i = 0; i < cpi; ++i) EXPECT_EQ(calispe_param[i].intensity, double{kIntensity});
    }
}

}  // namespace
