// Symmetry equivalents of a reflection family: the order in which they are visited and their
// number. The visits are observed through the reflection table: with the primary reflection
// (1 2 5), which none of the families below is parallel to, and a very short wavelength, every
// equivalent obtains a beta near 90 degrees and writes at least one row.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "geometry/beta_psi0.h"
#include "geometry/equivalents.h"
#include "output/curve_table.h"
#include "run_record.h"
#include "setup/user_matrix.h"

namespace {

using Hkl = std::array<int, 3>;

constexpr float kIntensity = 1234.5678f;

// The sign patterns (+,+,+), (+,+,-), (+,-,+), ..., (-,-,-) applied to each permutation in turn.
std::vector<Hkl> WithAllSigns(const std::vector<Hkl>& permutations)
{
    std::vector<Hkl> out;
    for (const Hkl& p : permutations)
        for (int sh : {1, -1})
            for (int sk : {1, -1})
                for (int sl : {1, -1}) out.push_back({sh * p[0], sk * p[1], sl * p[2]});
    return out;
}

class EquivalentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearCurveTable();
        record_ = RunRecord(5.431f, 0.005f, 1, 2, 5);
    }

    // The reflections visited for the family (h, k, l), one entry per visit.
    std::vector<Hkl> Visits(int h, int k, int l)
    {
        std::FILE* dat = std::tmpfile();
        testing::internal::CaptureStdout();  // the curve echo lines
        PrintAllPermutations(dat, mac_, &record_, h, k, l, 14.0f, 50.0f, kIntensity);
        std::rewind(dat);
        std::vector<std::pair<Hkl, int>> runs;  // consecutive rows of one reflection
        char line[256];
        for (Hkl r{}; std::fgets(line, sizeof line, dat);) {
            if (std::sscanf(line, "%d %d %d", &r[0], &r[1], &r[2]) != 3) continue;
            if (runs.empty() || runs.back().first != r) runs.push_back({r, 0});
            ++runs.back().second;
        }
        // A reflection visited twice in a row repeats its rows: count them per visit.
        std::vector<Hkl> visits;
        for (const auto& [r, rows] : runs) {
            const int perVisit = RowsOfOneVisit(r);
            visits.insert(visits.end(), perVisit > 0 ? rows / perVisit : 1, r);
            if (perVisit > 0 && rows % perVisit != 0) visits.push_back(r);  // a broken repetition
        }
        testing::internal::GetCapturedStdout();
        std::fclose(dat);
        return visits;
    }

    int RowsOfOneVisit(const Hkl& r)
    {
        const int saved = cpi;
        std::FILE* dat = std::tmpfile();
        CalculBetaPsi0(dat, mac_, &record_, r[0], r[1], r[2], 14.0f, 50.0f, kIntensity);
        std::fclose(dat);
        const int rows = cpi - saved;
        cpi = saved;
        return rows;
    }

    void TearDown() override { std::fclose(mac_); }

    InputStruct record_{};
    std::FILE* mac_ = std::tmpfile();
};

struct OrderCase { Hkl family; std::vector<Hkl> expected; };

TEST_F(EquivalentsTest, VisitsEquivalentsInPermutationThenSignOrder)
{
    const std::vector<OrderCase> cases = {
        {{1, 1, 1}, {{1, 1, 1}, {1, 1, -1}, {1, -1, 1}, {1, -1, -1},
                     {-1, 1, 1}, {-1, 1, -1}, {-1, -1, 1}, {-1, -1, -1}}},
        {{2, 0, 0}, {{2, 0, 0}, {-2, 0, 0}, {0, 0, 2}, {0, 0, -2}, {0, 2, 0}, {0, -2, 0}}},
        {{2, 2, 0}, {{2, 2, 0}, {2, -2, 0}, {-2, 2, 0}, {-2, -2, 0}, {2, 0, 2}, {2, 0, -2},
                     {-2, 0, 2}, {-2, 0, -2}, {0, 2, 2}, {0, 2, -2}, {0, -2, 2}, {0, -2, -2}}},
        {{2, 1, 0}, {{2, 1, 0}, {2, -1, 0}, {-2, 1, 0}, {-2, -1, 0}, {2, 0, 1}, {2, 0, -1},
                     {-2, 0, 1}, {-2, 0, -1}, {1, 0, 2}, {1, 0, -2}, {-1, 0, 2}, {-1, 0, -2},
                     {1, 2, 0}, {1, -2, 0}, {-1, 2, 0}, {-1, -2, 0}, {0, 1, 2}, {0, 1, -2},
                     {0, -1, 2}, {0, -1, -2}, {0, 2, 1}, {0, 2, -1}, {0, -2, 1}, {0, -2, -1}}},
        // hkl: (h,k,l), (h,l,k), (k,l,h), (k,h,l), (l,k,h), (l,h,k); the first eight visits are
        // the sign variants of (3,2,1), the last eight those of (1,3,2).
        {{3, 2, 1}, WithAllSigns({{3, 2, 1}, {3, 1, 2}, {2, 1, 3}, {2, 3, 1}, {1, 2, 3}, {1, 3, 2}})},
        // h = l with k different: (h,k,h), (k,h,h), (h,h,k).
        {{1, 2, 1}, WithAllSigns({{1, 2, 1}, {2, 1, 1}, {1, 1, 2}})},
        // hkk: (h,k,k), (k,k,h), (k,h,k).
        {{3, 1, 1}, WithAllSigns({{3, 1, 1}, {1, 1, 3}, {1, 3, 1}})},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family[0] << c.family[1] << c.family[2]);
        EXPECT_EQ(Visits(c.family[0], c.family[1], c.family[2]), c.expected);
    }
}

TEST_F(EquivalentsTest, DistinctVisitsEqualTheMultiplicityOfTheForm)
{
    struct Case { Hkl family; std::size_t multiplicity; };
    const Case cases[] = {{{1, 1, 1}, 8},  {{4, 4, 4}, 8},  {{2, 0, 0}, 6},  {{5, 0, 0}, 6},
                          {{2, 2, 0}, 12}, {{3, 3, 0}, 12}, {{2, 1, 0}, 24}, {{4, 2, 0}, 24},
                          {{3, 1, 1}, 24}, {{2, 2, 1}, 24}, {{3, 2, 1}, 48}, {{5, 3, 1}, 48}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family[0] << c.family[1] << c.family[2]);
        const std::vector<Hkl> visits = Visits(c.family[0], c.family[1], c.family[2]);
        const std::set<Hkl> distinct(visits.begin(), visits.end());
        EXPECT_EQ(visits.size(), c.multiplicity);
        EXPECT_EQ(distinct.size(), c.multiplicity);
    }
}

TEST_F(EquivalentsTest, EveryEquivalentCarriesTheIntensityOfItsFamily)
{
    Visits(5, 3, 1);
    ASSERT_GE(cpi, 48);
    for (int i = 0; i < cpi; ++i) EXPECT_EQ(calispe_param[i].intensity, double{kIntensity}) << i;
}

}  // namespace
