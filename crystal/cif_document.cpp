#include "crystal/cif_document.h"

#include <gemmi/cif.hpp>
#include <gemmi/cifdoc.hpp>
#include <gemmi/numb.hpp>

#include "crystal/cif_foreign_characters.h"
#include "crystal/cif_run_on_value.h"
#include "crystal/crystal_file_error.h"

namespace cif = gemmi::cif;

const CifItem* CifBlock::Item(const std::string& tag) const
{
    const std::string lower = gemmi::to_lower(tag);
    for (const CifItem& item : items) {
        if (item.tag == lower) return &item;
    }
    return nullptr;
}

const CifLoop* CifBlock::Loop(const std::string& tag, int* column) const
{
    const std::string lower = gemmi::to_lower(tag);
    for (const CifLoop& loop : loops) {
        for (std::size_t i = 0; i < loop.tags.size(); ++i) {
            if (loop.tags[i] == lower) {
                *column = static_cast<int>(i);
                return &loop;
            }
        }
    }
    *column = -1;
    return nullptr;
}

namespace {

// Each item whose value runs on after a blank costs one more parse of the text: past this many the
// text is taken for what it is, no CIF.
constexpr int kMostRunOnValues = 100;

}  // namespace

std::vector<CifBlock> ReadCifBlocks(const std::string& text, const std::string& source, std::vector<std::string>* notices)
{
    std::string repaired = text;
    QuoteForeignCharacters(repaired, source, notices);
    cif::Document document;
    for (int repairs = 0;; ++repairs) {
        document = cif::Document();
        document.source = source;
        try {
            // gemmi's reading without its refusal of repeated tags: the reader settles those itself.
            tao::pegtl::memory_input<> in(repaired.data(), repaired.size(), source);
            cif::parse_input(document, in);
            cif::check_for_missing_values(document);
            break;
        } catch (const tao::pegtl::parse_error& e) {
            RunOnValue value;
            std::size_t line = 0;
            if (!e.positions().empty() && repairs < kMostRunOnValues) {
                line = e.positions().front().line;
                value = QuoteRunOnValue(repaired, line, e.positions().front().column);
            }
            if (value.tag.empty()) throw CrystalFileError(std::string(e.what()) + " (is it a CIF file?)");
            notices->push_back(source + ":" + std::to_string(line) + ": the value of " + value.tag +
                               " runs on after a blank without quotes: kelto reads it as '" + value.value + "'");
        } catch (const std::exception& e) {
            throw CrystalFileError(std::string(e.what()) + " (is it a CIF file?)");
        }
    }
    std::vector<CifBlock> blocks;
    for (const cif::Block& b : document.blocks) {
        CifBlock block;
        block.name = b.name;
        for (const cif::Item& item : b.items) {
            if (item.type == cif::ItemType::Pair) {
                block.items.push_back({gemmi::to_lower(item.pair[0]), item.pair[1], item.line_number});
            } else if (item.type == cif::ItemType::Loop) {
                CifLoop loop;
                loop.line = item.line_number;
                for (const std::string& tag : item.loop.tags) loop.tags.push_back(gemmi::to_lower(tag));
                const std::size_t width = loop.tags.size();
                for (std::size_t row = 0; width > 0 && row < item.loop.length(); ++row) {
                    std::vector<std::string> values;
                    for (std::size_t column = 0; column < width; ++column) {
                        values.push_back(item.loop.val(row, column));
                    }
                    loop.rows.push_back(std::move(values));
                }
                block.loops.push_back(std::move(loop));
            }
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

double CifNumber(const std::string& value) { return cif::as_number(value); }

bool CifNull(const std::string& value) { return cif::is_null(value); }

std::string CifString(const std::string& value) { return cif::as_string(value); }
