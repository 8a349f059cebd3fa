// The wording of a run's refusals is the run's own: the options that gave its answers are named
// only when they came from options, the energy only when the wavelength was given as one, and
// whatever ran before it in the same process (a host such as the Python module, or these tests)
// changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/run_error.h"
#include "setup/answer_source.h"
#include "setup/factor_file.h"
#include "setup/run_checks.h"

namespace {

// Silicon's lattice parameter with the primary reflection 0 0 4 at 12 angstrom: it cannot diffract
// beyond 2a / 4 = 2.7155 angstrom.
InputStruct BeyondItsCutoff()
{
    InputStruct record{};
    record.latticeA = 5.431f, record.lambda = 12.0f;
    record.primaryL = 4;
    return record;
}

std::string RunChecks(const InputStruct& record, const AnswerSource& answers)
{
    try {
        RefuseUnusableRun(&record, answers);
    } catch (const RunError& refusal) {
        return refusal.what();
    }
    return "(accepted)";
}

std::string Factors(const char* table, const char* symbol, const AnswerSource& answers)
{
    InputStruct record{};
    std::strcpy(record.factorFile, table);
    std::strcpy(record.symbol, symbol);
    try {
        ReadFactors(&record, answers);
    } catch (const RunError& refusal) {
        return refusal.what();
    }
    return "(read)";
}

}  // namespace

TEST(AnswerWording, EachRunNamesTheOptionsOfItsOwnAnswers)
{
    const InputStruct record = BeyondItsCutoff();
    const std::string byEnergy = "The primary reflection 0 0 4 (--primary) cannot diffract at the wavelength 12.000000 angstrom "
                                 "(--energy): the longest wavelength at which it can is 2.715500 angstrom (4.565796 keV)\n";
    const std::string byWavelength = "The primary reflection 0 0 4 (--primary) cannot diffract at the wavelength 12.000000 "
                                     "angstrom (--wavelength): the longest wavelength at which it can is 2.715500 angstrom\n";
    const std::string byDialogue = "The primary reflection 0 0 4 cannot diffract at the wavelength 12.000000 angstrom: the "
                                   "longest wavelength at which it can is 2.715500 angstrom\n";
    // Runs of either kind one after the other, each worded as its own answers were given.
    EXPECT_EQ(RunChecks(record, AnswerSource::Options("--energy")), byEnergy);
    EXPECT_EQ(RunChecks(record, AnswerSource()), byDialogue);
    EXPECT_EQ(RunChecks(record, AnswerSource::Options("--wavelength")), byWavelength);
    EXPECT_EQ(RunChecks(record, AnswerSource::Options("--energy")), byEnergy);
    EXPECT_EQ(RunChecks(record, AnswerSource()), byDialogue);

    InputStruct flat = record;
    flat.latticeA = -1.0f;
    EXPECT_EQ(RunChecks(flat, AnswerSource::Options("--energies")),
              "The lattice parameter a (--lattice) must be a positive finite number, not -1.000000\n");
    EXPECT_EQ(RunChecks(flat, AnswerSource()), "The lattice parameter a must be a positive finite number, not -1.000000\n");
}

TEST(AnswerWording, TheCoefficientTableNamesTheOptionsOfItsRun)
{
    const char* table = KELTO_SOURCE_DIR "/data/f0_it1992.txt";
    EXPECT_EQ(Factors(table, "XX", AnswerSource::Options("--wavelength")), "Symbol XX not found (--symbol)\n");
    EXPECT_EQ(Factors(table, "XX", AnswerSource()), "Symbol XX not found\n");
    EXPECT_EQ(Factors(table, "si", AnswerSource::Options("--energy")), "(read)");
    EXPECT_EQ(Factors("/nonexistent/f0_it1992.txt", "Si", AnswerSource::Options("--energy")),
              "File with f0 data (/nonexistent/f0_it1992.txt) doesn't exist (--table)\n");
    EXPECT_EQ(Factors("/nonexistent/f0_it1992.txt", "Si", AnswerSource()),
              "File with f0 data (/nonexistent/f0_it1992.txt) doesn't exist\n");
}
